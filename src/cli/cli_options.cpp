#include "cli_options.h"

#include "engine/ascii_case.h"

#include <map>
#include <optional>
#include <sstream>

namespace tagsnip::cli {

const char* const cliUsageText =
    "Usage: tagsnip-cli [options] DIRECTORY\n"
    "Strip ID3v1 trailers and ID3v2 headers from the MP3 files in DIRECTORY and clean the\n"
    "metadata lines out of its M3U and PLS playlists. Every switch is off unless given, so\n"
    "without options the files are only examined and listed, and nothing is changed.\n"
    "\n"
    "  -s          include subdirectories\n"
    "  -t1         remove ID3v1 tags\n"
    "  -t2         remove ID3v2 tags\n"
    "  -a, --all-tags  remove every tag block (stacked and appended ID3v2, APE, Lyrics3,\n"
    "              extended ID3v1) in one pass; implies -t1 and -t2\n"
    "  --formats LIST\n"
    "              take the files of these audio formats, comma-separated: mp3, flac,\n"
    "              ogg (.ogg .oga .opus), aac (ADTS .aac), wav, aiff (.aif .aiff), or\n"
    "              all; default mp3. The format's own metadata always stays, and a\n"
    "              block goes only where the stream's own structure proves the cut\n"
    "  -i          ignore file attributes (also work on read-only files)\n"
    "  -l          list modified files only\n"
    "  -m          clean M3U playlists (\"#\" lines)\n"
    "  -p          clean PLS playlists (Title and Length entries)\n"
    "  -x, --one-file-system\n"
    "              do not enter folders on other mounts (bind mounts too)\n"
    "  -0, --null  end every record with NUL instead of a line break, the path unescaped\n"
    "  --keep-removed DIR\n"
    "              keep what the run removes in a new folder in DIR (made if missing;\n"
    "              it must lie outside DIRECTORY), so that --restore can put it back\n"
    "  --restore DIR/RUN\n"
    "              put back what the run kept in DIR/RUN removed, in every file that is\n"
    "              still as the run left it; takes no DIRECTORY and no other option but -0\n"
    "  -h, --help  show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Each listed file is one line on standard output: the ID3v1 mark, a TAB, the ID3v2\n"
    "mark, a TAB and the full path (X found, - absent, ? not examined). The last line is\n"
    "\"total mp3=N id3v1=N id3v2=N m3u=N pls=N\". Errors go to standard error.\n"
    "With -a, or a format other than mp3 selected, a third TAB-ended field before\n"
    "the path names the other kinds found\n"
    "(id3v2 for a stacked second one, id3v1, id3v1ext, ape, lyrics3, id3v2end; \"-\" none,\n"
    "\"?\" not examined), and the total adds \" +KIND=N\" for each, in that order: the\n"
    "number of files whose row lists it. Each format selected other than mp3 then\n"
    "adds \" +FORMAT=N\", in the order above: the number of its files met.\n"
    "--restore lists each file it put back in the same form (X: that tag was put back)\n"
    "and ends with \"total restored=N already=N not-restored=N\".\n"
    "In paths and errors a backslash is written \\\\, TAB \\t, line feed \\n, carriage\n"
    "return \\r, and any other control byte or byte that is not UTF-8 \\xHH.\n"
    "\n"
    "Exit status: 0 done, 1 at least one file could not be handled or restored, or standard\n"
    "output could not be written, 2 bad usage, directory not found or DIR refused, 128+N\n"
    "stopped by signal N (130 Ctrl+C, 129 SIGHUP, 143 SIGTERM) after the file at hand.\n";

namespace {

struct ParseState {
    RunRequest request;
    bool haveDirectory = false;
    // An option that only a run takes: --restore refuses it.
    bool runOption = false;
    bool restoring = false;
    std::string restore;
};

// The formats a comma-separated list names; "all" stands for every one. Returns the first name
// that is none of them.
std::optional<std::string> parseFormats(const std::string& list, FormatSet& formats) {
    formats = FormatSet{};
    std::istringstream items(list + ',');
    for (std::string item; std::getline(items, item, ',');) {
        const std::string name = lowerAscii(item);
        if (name == "all") {
            formats = FormatSet::all();
        } else if (const auto format = audioFormatNamed(name)) {
            formats.add(*format);
        } else {
            return item;
        }
    }
    return std::nullopt;
}

CliCommand finish(ParseState& state) {
    if (state.restoring) {
        if (state.haveDirectory || state.runOption) {
            return UsageError{"--restore takes no directory and no other option but -0"};
        }
        return RestoreRequest{state.restore, state.request.nullRecords};
    }
    if (!state.haveDirectory) {
        return UsageError{"no directory given"};
    }
    return state.request;
}

}  // namespace

CliCommand parseCliArguments(const std::vector<std::string>& arguments) {
    ParseState state;
    RunRequest& request = state.request;
    const std::map<std::string, bool SwitchStates::*> switchOptions = {
        {"-s", &SwitchStates::subdirectories}, {"-t1", &SwitchStates::remove1},
        {"-t2", &SwitchStates::remove2},       {"-i", &SwitchStates::ignoreattributes},
        {"-l", &SwitchStates::modonly},        {"-m", &SwitchStates::cleanM3U},
        {"-p", &SwitchStates::cleanPLS},
    };
    const std::map<std::string, std::string*> folderOptions = {
        {"--keep-removed", &request.keepDirectory}, {"--restore", &state.restore}};
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const bool isOption = !optionsEnded && argument.size() > 1 && argument.front() == '-';
        if (!isOption) {
            if (state.haveDirectory) {
                return UsageError{"more than one directory given"};
            }
            request.directory = argument;
            state.haveDirectory = true;
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            return HelpRequest{};
        } else if (argument == "--version") {
            return VersionRequest{};
        } else if (argument == "-0" || argument == "--null") {
            request.nullRecords = true;
        } else if (argument == "-x" || argument == "--one-file-system") {
            request.oneFileSystem = true;
            state.runOption = true;
        } else if (argument == "-a" || argument == "--all-tags") {
            request.allTags = true;
            request.switches.remove1 = true;
            request.switches.remove2 = true;
            state.runOption = true;
        } else if (argument == "--formats") {
            if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
                return UsageError{"option '--formats' needs a list of formats"};
            }
            if (const auto unknown = parseFormats(arguments[++i], request.formats)) {
                return UsageError{"unknown format '" + *unknown +
                                  "' in --formats (mp3, flac, ogg, aac, wav, aiff or all)"};
            }
            state.runOption = true;
        } else if (const auto found = switchOptions.find(argument); found != switchOptions.end()) {
            request.switches.*(found->second) = true;
            state.runOption = true;
        } else if (const auto folder = folderOptions.find(argument);
                   folder != folderOptions.end()) {
            if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
                return UsageError{"option '" + argument + "' needs a folder"};
            }
            *folder->second = arguments[++i];
            state.restoring = state.restoring || argument == "--restore";
            state.runOption = state.runOption || argument == "--keep-removed";
        } else {
            return UsageError{"unknown option '" + argument + "'"};
        }
    }
    return finish(state);
}

}  // namespace tagsnip::cli
