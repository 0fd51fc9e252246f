#include "cli/cli_options.h"
#include "cli/progress_line.h"
#include "cli/run_cli.h"
#include "support/mp3_bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <sstream>

namespace tagsnip::cli {
namespace {

using test::id3v1Tag;
using test::id3v2Tag;
using test::mpegAudio;
using test::readFile;
using test::writeFile;

TEST(ParseCliArguments, SwitchesAndDirectoryInAnyOrder) {
    const auto command = parseCliArguments({"-t2", "/music", "-s", "-p"});
    const auto* request = std::get_if<RunRequest>(&command);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->directory, "/music");
    EXPECT_TRUE(request->switches.subdirectories);
    EXPECT_TRUE(request->switches.remove2);
    EXPECT_TRUE(request->switches.cleanPLS);
    EXPECT_FALSE(request->switches.remove1);
    EXPECT_FALSE(request->switches.ignoreattributes);
    EXPECT_FALSE(request->switches.modonly);
    EXPECT_FALSE(request->switches.cleanM3U);
    EXPECT_FALSE(request->oneFileSystem);
    for (const char* option : {"-x", "--one-file-system"}) {
        const auto staying = parseCliArguments({option, "/music"});
        EXPECT_TRUE(std::get<RunRequest>(staying).oneFileSystem) << option;
    }
}

TEST(ParseCliArguments, DoubleDashEndsTheOptions) {
    const auto command = parseCliArguments({"-i", "--", "-odd name"});
    const auto* request = std::get_if<RunRequest>(&command);
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(request->directory, "-odd name");
    EXPECT_TRUE(request->switches.ignoreattributes);
}

TEST(ParseCliArguments, AllTagsImpliesBothRemovals) {
    struct Row {
        std::vector<std::string> arguments;
        bool allTags;
        bool remove1;
        bool remove2;
    };
    for (const Row& row : std::vector<Row>{{{"/m"}, false, false, false},
                                           {{"-a", "/m"}, true, true, true},
                                           {{"/m", "--all-tags"}, true, true, true},
                                           {{"-t1", "-a", "-t2", "/m"}, true, true, true},
                                           {{"--", "-a"}, false, false, false}}) {
        const auto command = parseCliArguments(row.arguments);
        const auto* request = std::get_if<RunRequest>(&command);
        ASSERT_NE(request, nullptr) << testing::PrintToString(row.arguments);
        EXPECT_EQ(request->allTags, row.allTags) << testing::PrintToString(row.arguments);
        EXPECT_EQ(request->switches.remove1, row.remove1) << testing::PrintToString(row.arguments);
        EXPECT_EQ(request->switches.remove2, row.remove2) << testing::PrintToString(row.arguments);
    }
}

TEST(ParseCliArguments, FormatsListNamesTheFormatsTaken) {
    const auto mp3 = FormatSet::only(AudioFormat::mp3);
    FormatSet flacAndOgg = FormatSet::only(AudioFormat::flac);
    flacAndOgg.add(AudioFormat::ogg);
    const std::vector<std::pair<std::vector<std::string>, FormatSet>> rows = {
        {{"/m"}, mp3},
        {{"--formats", "mp3", "/m"}, mp3},
        {{"--formats", "ogg,FLAC,ogg", "/m"}, flacAndOgg},
        {{"/m", "--formats", "flac,all"}, FormatSet::all()},
    };
    for (const auto& [arguments, formats] : rows) {
        const auto command = parseCliArguments(arguments);
        const auto* request = std::get_if<RunRequest>(&command);
        ASSERT_NE(request, nullptr) << testing::PrintToString(arguments);
        EXPECT_TRUE(request->formats == formats) << testing::PrintToString(arguments);
    }
    EXPECT_EQ(std::get<UsageError>(parseCliArguments({"--formats", "flac,mp4", "/m"})).message,
              "unknown format 'mp4' in --formats (mp3, flac, ogg, aac, wav, aiff or all)");
}

TEST(ParseCliArguments, BadUsageIsAnError) {
    const std::vector<std::vector<std::string>> badUsages = {
        {},
        {"-y", "/m"},
        {"-S", "/m"},
        {"/a", "/b"},
        {"-s"},
        {"-t3", "/m"},
        {"-A", "/m"},
        {"--all", "/m"},
        {"-a"},
        {"/m", "--formats"},
        {"--formats", "", "/m"},
        {"--formats", "mp3,", "/m"},
        {"--formats", "m4a", "/m"},
        {"--restore", "/k/r", "--formats", "all"}};
    for (const auto& arguments : badUsages) {
        EXPECT_TRUE(std::holds_alternative<UsageError>(parseCliArguments(arguments)))
            << testing::PrintToString(arguments);
    }
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parseCliArguments({"--help"})));
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parseCliArguments({"/m", "-h"})));
    EXPECT_TRUE(std::holds_alternative<VersionRequest>(parseCliArguments({"--version"})));
}

class RunCliTest : public ::testing::Test {
protected:
    int run(std::vector<std::string> arguments, const CliEnvironment& environment = {}) {
        out.str("");
        err.str("");
        return runCli(arguments, out, err, environment);
    }

    test::TempDir dir;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(RunCliTest, WithoutSwitchesItOnlyReports) {
    const std::string content = id3v2Tag(30) + mpegAudio(3) + id3v1Tag();
    writeFile(dir / "a.mp3", content);
    EXPECT_EQ(run({dir.path()}), 0);
    EXPECT_EQ(out.str(), "X\tX\t" + dir / "a.mp3" + "\ntotal mp3=1 id3v1=1 id3v2=1 m3u=0 pls=0\n");
    EXPECT_EQ(readFile(dir / "a.mp3"), content);
    EXPECT_EQ(err.str(), "");
}

TEST_F(RunCliTest, StripsTagsAndListsRowsInWalkOrder) {
    test::makeDirectory(dir / "sub");
    writeFile(dir / "sub/b.mp3", id3v2Tag(30) + mpegAudio(3));
    writeFile(dir / "a.mp3", mpegAudio(3) + id3v1Tag());
    writeFile(dir / "c.m3u", "#EXTM3U\nc.mp3\n");
    const std::string noSlash = dir.path().substr(0, dir.path().size() - 1);
    EXPECT_EQ(run({"-s", "-t1", "-t2", "-m", noSlash}), 0);
    EXPECT_EQ(out.str(), "X\t-\t" + dir / "a.mp3" + "\n-\t-\t" + dir / "c.m3u" + "\n-\tX\t" +
                             dir / "sub/b.mp3" + "\ntotal mp3=2 id3v1=1 id3v2=1 m3u=1 pls=0\n");
    EXPECT_EQ(readFile(dir / "a.mp3"), mpegAudio(3));
    EXPECT_EQ(readFile(dir / "sub/b.mp3"), mpegAudio(3));
}

TEST_F(RunCliTest, ModifiedOnlyListsChangedFiles) {
    writeFile(dir / "a.mp3", mpegAudio(3) + id3v1Tag());
    writeFile(dir / "b.mp3", mpegAudio(3));
    EXPECT_EQ(run({"-l", "-t1", dir.path()}), 0);
    EXPECT_EQ(out.str(), "X\t-\t" + dir / "a.mp3" + "\ntotal mp3=2 id3v1=1 id3v2=0 m3u=0 pls=0\n");
}

TEST_F(RunCliTest, FileErrorGivesStatusOneAndGoesToStandardError) {
    writeFile(dir / "damaged.mp3", id3v2Tag(400).substr(0, 200));
    writeFile(dir / "fine.mp3", id3v2Tag(30) + mpegAudio(3));
    EXPECT_EQ(run({"-t2", dir.path()}), 1);
    const std::string messages = err.str();
    EXPECT_NE(messages.find(dir / "damaged.mp3"), std::string::npos);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1);
    EXPECT_NE(out.str().find("total mp3=2 id3v1=0 id3v2=2"), std::string::npos);
}

TEST_F(RunCliTest, MissingDirectoryAndBadUsageGiveStatusTwo) {
    EXPECT_EQ(run({dir / "missing"}), 2);
    EXPECT_EQ(err.str(), "Directory " + dir / "missing/" + " not found or empty.\n");
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(run({"-q", dir.path()}), 2);
    EXPECT_EQ(err.str().rfind("tagsnip-cli: unknown option '-q'\nUsage: tagsnip-cli", 0), 0u);
    EXPECT_EQ(run({dir.path(), dir.path()}), 2);
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(out.str(), cliUsageText);
}

TEST_F(RunCliTest, InterruptFinishesTheFileAtHandAndStillPrintsTheTotal) {
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) {
        writeFile(dir / name, id3v2Tag(30) + mpegAudio(3));
    }
    volatile std::sig_atomic_t interrupt = SIGINT;
    CliEnvironment environment;
    environment.interrupt = &interrupt;
    EXPECT_EQ(run({"-t2", dir.path()}, environment), 130);
    EXPECT_EQ(out.str().substr(0, 4), "-\tX\t");
    EXPECT_NE(out.str().find("\ntotal mp3=1 id3v1=0 id3v2=1 m3u=0 pls=0\n"), std::string::npos);
}

TEST(ProgressLine, RedrawsInPlaceAtMostTenTimesASecondAndErasesItself) {
    std::ostringstream terminal;
    ProgressLine progress(terminal, 30);
    progress.update(1, "/music/");
    progress.update(2, "/music/a/");
    EXPECT_EQ(terminal.str(), "\r\033[K1 files  /music/");
    progress.erase();
    progress.erase();
    EXPECT_EQ(terminal.str(), "\r\033[K1 files  /music/\r\033[K");
    progress.update(3, "/a/very/long/folder/name/that/does/not/fit/");
    EXPECT_EQ(terminal.str().substr(terminal.str().rfind('K') + 1),
              "...er/name/that/does/not/fit/");
}

TEST(TagsnipCliProgram, RunsAsAProgramAndStopsOnInterrupt) {
    test::TempDir dir;
    writeFile(dir / "a.mp3", id3v2Tag(30) + mpegAudio(3) + id3v1Tag());
    const std::string command = std::string(TAGSNIP_CLI) + " -t1 -t2 '" + dir.path() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    const int status = pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(output, "X\tX\t" + dir / "a.mp3" + "\ntotal mp3=1 id3v1=1 id3v2=1 m3u=0 pls=0\n");
    EXPECT_EQ(readFile(dir / "a.mp3"), mpegAudio(3));
}

}  // namespace
}  // namespace tagsnip::cli
