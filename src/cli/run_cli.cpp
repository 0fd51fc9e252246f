#include "run_cli.h"

#include "cli_host.h"
#include "cli_options.h"
#include "engine/line_escaping.h"
#include "exit_status.h"
#include "progress_line.h"
#include "restore_command.h"

#include "engine/cleaning_job.h"
#include "engine/file_system.h"
#include "engine/process_flags.h"
#include "engine/start_directory_store.h"
#include "playlist/playlist_files.h"
#include "undo/keeping_recorder.h"

#include <cstring>
#include <memory>

namespace tagsnip::cli {
namespace {

// When rows list the tag kinds, each kind adds the number of files listing it; then each
// format selected beside MP3 adds the number of its files met.
void writeTotal(std::ostream& out, const JobCounters& counts, const RunRequest& request) {
    out << "total mp3=" << counts.mp3Files << " id3v1=" << counts.id3v1Tags
        << " id3v2=" << counts.id3v2Tags << " m3u=" << counts.m3uPlaylists
        << " pls=" << counts.plsPlaylists;
    if (request.allTags || request.formats.beyondMp3()) {
        for (std::size_t i = 0; i < tagKindCount; ++i) {
            out << " +" << tagKindName(static_cast<TagKind>(i)) << '=' << counts.extraKindFiles[i];
        }
    }
    for (std::size_t i = 0; i < audioFormatCount; ++i) {
        const auto format = static_cast<AudioFormat>(i);
        if (format != AudioFormat::mp3 && request.formats.contains(format)) {
            out << " +" << audioFormatName(format) << '=' << counts.otherAudioFiles[i];
        }
    }
    out << (request.nullRecords ? '\0' : '\n');
}

// Refuses a keep folder inside the tree, or one that cannot be written, before any file is
// touched: nullptr and a message then.
std::unique_ptr<undo::KeepingRecorder> openRecorder(FileSystem& fileSystem,
                                                    const RunRequest& request,
                                                    std::string& message) {
    auto keeper = undo::RemovedBytesKeeper::open(fileSystem, request.keepDirectory,
                                                 request.directory, message);
    if (!keeper) {
        return nullptr;
    }
    return std::make_unique<undo::KeepingRecorder>(std::move(keeper), request.directory);
}

int run(const RunRequest& request, std::ostream& out, std::ostream& err,
        const CliEnvironment& environment) {
    FileSystem fileSystem;
    std::unique_ptr<undo::KeepingRecorder> recorder;
    if (!request.keepDirectory.empty()) {
        std::string message;
        recorder = openRecorder(fileSystem, request, message);
        if (!recorder) {
            err << escapeForLine(message) << '\n';
            return exitUsage;
        }
    }
    std::unique_ptr<ProgressLine> progress;
    if (environment.progressWidth > 0) {
        progress = std::make_unique<ProgressLine>(err, environment.progressWidth);
    }
    CliHost host(request, out, err, progress.get(), environment.interrupt);
    playlist::PlaylistFiles playlists(fileSystem, recorder.get());
    NoStartDirectoryStore store;
    ProcessFlags flags;
    CleaningJob job(host, fileSystem, playlists, store, flags, recorder.get());
    host.attach(job);

    const RunResult result = job.startClick();
    host.finish();
    if (result == RunResult::directoryRefused) {
        return exitUsage;
    }
    if (recorder) {
        out.flush();
        err << "Removed bytes kept in " << escapeForLine(recorder->runPath()) << '\n';
    }
    writeTotal(out, job.state().counters, request);
    out.flush();
    // Read after the total is out: a signal that came after the last file still says so.
    if (const int signal = host.stopSignal(); signal != 0) {
        return exitSignalBase + signal;
    }
    return job.state().fileErrors > 0 ? exitFileErrors : exitDone;
}

int runCommand(const CliCommand& command, std::ostream& out, std::ostream& err,
               const CliEnvironment& environment) {
    if (const auto* request = std::get_if<RunRequest>(&command)) {
        return run(*request, out, err, environment);
    }
    if (const auto* request = std::get_if<RestoreRequest>(&command)) {
        return restoreCommand(*request, out, err, environment.interrupt);
    }
    if (std::holds_alternative<HelpRequest>(command)) {
        out << cliUsageText;
        return exitDone;
    }
    if (std::holds_alternative<VersionRequest>(command)) {
        out << "tagsnip-cli " << TAGSNIP_VERSION << '\n';
        return exitDone;
    }
    err << "tagsnip-cli: " << escapeForLine(std::get<UsageError>(command).message) << '\n'
        << cliUsageText;
    return exitUsage;
}

}  // namespace

int runCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment) {
    const int status = runCommand(parseCliArguments(arguments), out, err, environment);
    // A report that did not arrive is a failure, whatever the run itself achieved.
    if (out.flush()) {
        return status;
    }
    err << "tagsnip-cli: write error on standard output";
    if (environment.outputError != nullptr && *environment.outputError != 0) {
        err << ": " << std::strerror(*environment.outputError);
    }
    err << '\n';
    err.flush();
    return exitOutputFailed;
}

}  // namespace tagsnip::cli
