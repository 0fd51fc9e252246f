#include "cli/cli_options.h"
#include "cli/run_cli.h"
#include "fault/cli_process.h"
#include "support/mp3_bytes.h"
#include "support/temp_dir.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <sstream>

namespace tagsnip::cli {
namespace {

using test::id3v1Tag;
using test::id3v2Tag;
using test::mpegAudio;
using test::readFile;
using test::writeFile;

struct Identity {
    std::string bytes;
    mode_t mode;
    uid_t owner;
    std::string note;
    bool operator==(const Identity&) const = default;
};

std::string noteOf(const std::string& path) {
    char buffer[64];
    const ssize_t got = lgetxattr(path.c_str(), "user.note", buffer, sizeof buffer);
    return got < 0 ? "" : std::string(buffer, static_cast<std::size_t>(got));
}

Identity identityOf(const std::string& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return {readFile(path), status.st_mode & 07777, status.st_uid, noteOf(path)};
}

// Public: the restore scenarios act on the fixture from outside.
class KeepRestoreTest : public ::testing::Test {
public:
    KeepRestoreTest() {
        test::makeDirectory(dir / "tree");
        test::makeDirectory(dir / "tree/sub");
        writeFile(tree("both.mp3"), id3v2Tag(600) + mpegAudio(8, 1) + id3v1Tag(), 0640);
        writeFile(tree("trailer.mp3"), mpegAudio(8, 2) + id3v1Tag("cut in place"));
        writeFile(tree("read-only.mp3"), mpegAudio(8, 3) + id3v1Tag(), 0444);
        writeFile(tree("sub/header.mp3"), id3v2Tag(90) + mpegAudio(8, 4));
        writeFile(tree("bare.mp3"), mpegAudio(8, 5));
        writeFile(tree("car.m3u"), "#EXTM3U\n#EXTINF:3,A\nboth.mp3\n");
        writeFile(tree("car.pls"), "[playlist]\nFile1=both.mp3\nTitle1=A\nNumberOfEntries=1\n");
        // Without support for user attributes the test still checks bytes, owner and mode.
        (void)lsetxattr(tree("both.mp3").c_str(), "user.note", "kept", 4, 0);
        for (const char* name : names) {
            before[name] = identityOf(tree(name));
        }
    }

    std::string tree(const std::string& name) const { return dir / "tree/" + name; }

    int run(std::vector<std::string> arguments) {
        out.str("");
        err.str("");
        return runCli(arguments, out, err);
    }

    // Strips everything with its removed bytes kept; gives the run folder.
    std::string strip() {
        EXPECT_EQ(run({"-s", "-t1", "-t2", "-i", "-m", "-p", "--keep-removed", dir / "keep",
                       dir / "tree"}),
                  0)
            << err.str();
        const std::string run = dir / "keep/" + test::listNames(dir / "keep");
        EXPECT_NE(err.str().find("Removed bytes kept in " + run), std::string::npos) << err.str();
        return run;
    }

    std::vector<std::string> changedFiles() const {
        std::vector<std::string> changed;
        for (const char* name : names) {
            if (!test::exists(tree(name)) || identityOf(tree(name)) != before.at(name)) {
                changed.push_back(name);
            }
        }
        return changed;
    }

    static constexpr const char* names[] = {"both.mp3",       "trailer.mp3", "read-only.mp3",
                                            "sub/header.mp3", "bare.mp3",    "car.m3u",
                                            "car.pls"};
    test::TempDir dir;
    std::map<std::string, Identity> before;
    std::ostringstream out;
    std::ostringstream err;
};

struct Scenario {
    const char* name;
    std::function<void(KeepRestoreTest&)> afterStrip;
    int status;
    std::string total;
    std::vector<std::string> leftChanged;
    const char* message;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

class RestoreScenario : public KeepRestoreTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(RestoreScenario, PutsBackEveryFileAsTheRunLeftItAndReportsTheRest) {
    const Scenario& scenario = GetParam();
    const std::string runFolder = strip();
    EXPECT_EQ(changedFiles(), (std::vector<std::string>{"both.mp3", "trailer.mp3", "read-only.mp3",
                                                        "sub/header.mp3", "car.m3u", "car.pls"}));
    scenario.afterStrip(*this);

    EXPECT_EQ(run({"--restore", runFolder}), scenario.status) << err.str();
    EXPECT_NE(out.str().find("\ntotal " + scenario.total + "\n"), std::string::npos) << out.str();
    EXPECT_EQ(changedFiles(), scenario.leftChanged);
    EXPECT_NE(err.str().find(scenario.message), std::string::npos) << err.str();
    if (scenario.leftChanged.empty()) {
        EXPECT_NE(out.str().find("X\tX\t" + tree("both.mp3") + "\n"), std::string::npos);
        EXPECT_NE(out.str().find("-\tX\t" + tree("sub/header.mp3") + "\n"), std::string::npos);
    }

    // Once more: nothing changes, and what is back counts as restored.
    const std::vector<std::string> leftAfterFirst = changedFiles();
    EXPECT_EQ(run({"--restore", runFolder}), scenario.status);
    EXPECT_NE(out.str().rfind("total restored=0 ", 0), std::string::npos) << out.str();
    EXPECT_EQ(changedFiles(), leftAfterFirst);
}

INSTANTIATE_TEST_SUITE_P(
    KeepRestore, RestoreScenario,
    ::testing::Values(
        Scenario{
            "untouched", [](KeepRestoreTest&) {}, 0, "restored=6 already=0 not-restored=0", {}, ""},
        Scenario{"changedSince",
                 [](KeepRestoreTest& test) {
                     writeFile(test.tree("trailer.mp3"), readFile(test.tree("trailer.mp3")) + "x");
                 },
                 1,
                 "restored=5 already=0 not-restored=1",
                 {"trailer.mp3"},
                 "trailer.mp3 - changed since the run, left alone"},
        Scenario{"deleted",
                 [](KeepRestoreTest& test) { ::unlink(test.tree("sub/header.mp3").c_str()); },
                 1,
                 "restored=5 already=0 not-restored=1",
                 {"sub/header.mp3"},
                 "header.mp3 - not found"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeepRestoreTest, ASecondRestoreSaysSo) {
    const std::string runFolder = strip();
    ASSERT_EQ(run({"--restore", runFolder}), 0);
    EXPECT_EQ(run({"--restore", runFolder}), 0);
    EXPECT_EQ(out.str(), "total restored=0 already=6 not-restored=0\n");
    EXPECT_NE(err.str().find("already restored"), std::string::npos) << err.str();
}

// Refused before any file is touched, and no folder is made where it was refused.
TEST_F(KeepRestoreTest, AKeepFolderInsideTheTreeOrUnwritableStopsTheRunFirst) {
    writeFile(dir / "plain-file", "");
    test::makeDirectory(dir / "locked", 0555);
    // An unprivileged user's run on a tree of its own: only the keep folder's mode may stop it.
    const fault::Identity user = fault::unprivilegedIdentity();
    ::chmod(dir.path().c_str(), 0755);
    for (const char* name : {"", "sub"}) {
        ASSERT_EQ(::lchown(tree(name).c_str(), user.user, user.group), 0);
    }
    for (const char* name : names) {
        ASSERT_EQ(::lchown(tree(name).c_str(), user.user, user.group), 0);
        before[name] = identityOf(tree(name));
    }
    const std::map<std::string, std::string> refusals = {
        {tree("sub/new/keep"), "lies inside the folder being cleaned"},
        {tree(""), "lies inside the folder being cleaned"},
        {dir / "plain-file/keep", "cannot keep removed bytes there: Not a directory"},
        {dir / "locked", "cannot keep removed bytes there: Permission denied"},
    };
    for (const auto& [keep, message] : refusals) {
        const fault::CliResult result = fault::runCli(
            {"-s", "-t1", "-t2", "-m", "--keep-removed", keep, dir / "tree"}, dir.path(), user);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find(message), std::string::npos) << keep << ": " << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(changedFiles(), std::vector<std::string>{}) << keep;
    }
    EXPECT_EQ(test::listNames(dir / "tree/sub"), "header.mp3");
}

TEST(ParseKeepAndRestore, OptionsTakeAFolderAndRestoreStandsAlone) {
    const auto keep = parseCliArguments({"-t1", "--keep-removed", "/k", "/m"});
    EXPECT_EQ(std::get<RunRequest>(keep).keepDirectory, "/k");
    const auto restore = parseCliArguments({"-0", "--restore", "/k/run"});
    EXPECT_EQ(std::get<RestoreRequest>(restore).runDirectory, "/k/run");
    EXPECT_TRUE(std::get<RestoreRequest>(restore).nullRecords);
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"/m", "--keep-removed"},
                                               {"--restore"},
                                               {"--restore", "/k/run", "/m"},
                                               {"-t1", "--restore", "/k/run"},
                                               {"--keep-removed", "/k", "--restore", "/k/run"}}) {
        EXPECT_TRUE(std::holds_alternative<UsageError>(parseCliArguments(arguments)))
            << testing::PrintToString(arguments);
    }
}

}  // namespace
}  // namespace tagsnip::cli
