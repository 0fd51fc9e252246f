#include "cli_process.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tagsnip::fault {
namespace {

// Temporary files that an interrupted run of ours left are removed by the next run that may
// write in their folder, and said so once; whatever else carries such a name is not ours and
// stays: links, folders, other users' files.
TEST(Leftovers, OwnAreRemovedOnceAndOthersStay) {
    test::TempDir dir;
    test::TempDir output;
    const std::string tree = dir / "tree/";
    test::makeDirectory(tree);
    test::writeFile(dir / "victim.txt", "precious", 0644);
    const Mp3File song = makeMp3(tree + "song.mp3", Tags::v2, 20'000, 1);
    writeOriginal(song);
    const std::vector<std::string> own{"ID3_TEMP.$$$", "ID3_TEMP.$$$.4242-0", "PLAYLIST_TEMP.$$$"};
    for (const auto& name : own) {
        test::writeFile(tree + name, "half a copy", 0600);
    }
    ASSERT_EQ(symlink((dir / "victim.txt").c_str(), (tree + "ID3_TEMP.$$$.1-1").c_str()), 0);
    test::makeDirectory(tree + "ID3_TEMP.$$$.1-2");
    std::string others = "ID3_TEMP.$$$.1-1 ID3_TEMP.$$$.1-2 ";
    if (runningAsRoot()) {
        test::writeFile(tree + "ID3_TEMP.$$$.1-3", "someone else's", 0600);
        ASSERT_EQ(lchown((tree + "ID3_TEMP.$$$.1-3").c_str(), 4242, 4242), 0);
        others += "ID3_TEMP.$$$.1-3 ";
    }
    const std::string message = "Removed 3 temporary file(s) left by an interrupted run in " + tree;

    // A run that only reports may not write: it leaves them.
    const CliResult report = runCli({tree}, output.path());
    EXPECT_EQ(report.exitCode, 0) << report.err;
    EXPECT_EQ(linesContaining(report.err, {"Removed"}), 0) << report.err;
    EXPECT_EQ(test::listNames(tree), "ID3_TEMP.$$$ ID3_TEMP.$$$.1-1 ID3_TEMP.$$$.1-2 " +
                                         std::string(runningAsRoot() ? "ID3_TEMP.$$$.1-3 " : "") +
                                         "ID3_TEMP.$$$.4242-0 PLAYLIST_TEMP.$$$ song.mp3");

    const CliResult first = runCli({"-t1", "-t2", "-m", "-p", tree}, output.path());
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(linesContaining(first.err, {message}), 1) << first.err;
    EXPECT_EQ(test::listNames(tree), others + "song.mp3");
    EXPECT_EQ(contentOf(song), Content::stripped);
    EXPECT_EQ(test::readFile(dir / "victim.txt"), "precious");

    const CliResult second = runCli({"-t1", "-t2", "-m", "-p", tree}, output.path());
    EXPECT_EQ(second.exitCode, 0) << second.err;
    EXPECT_EQ(linesContaining(second.err, {"Removed"}), 0) << second.err;
    EXPECT_EQ(test::listNames(tree), others + "song.mp3");
}

}  // namespace
}  // namespace tagsnip::fault
