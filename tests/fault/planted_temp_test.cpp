#include "cli_process.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tagsnip::fault {
namespace {

std::string linkTarget(const std::string& path) {
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer);
    return n < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(n));
}

timespec modifiedAt(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st.st_mtim;
}

bool operator==(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// What sits under the temporary name may be someone else's: a link to a victim outside the tree,
// to a directory, to nowhere, or a file left from before. None is followed, filled or replaced;
// only a regular file of our own with the mark of a killed run's leftover is removed.
TEST(PlantedTemporaryName, IsNeverWrittenThroughOrReplaced) {
    test::TempDir dir;
    test::TempDir output;
    test::makeDirectory(dir / "outside/");
    test::makeDirectory(dir / "outside/victim-dir/");
    test::writeFile(dir / "outside/victim.txt", "precious", 0644);
    const timespec victimTime = modifiedAt(dir / "outside/victim.txt");
    const std::vector<std::string> folders{"tree/", "tree/to-dir/", "tree/dangling/",
                                           "tree/leftover/"};
    for (const auto& folder : folders) {
        test::makeDirectory(dir / folder);
    }
    const std::string temp = "ID3_TEMP.$$$";
    ASSERT_EQ(symlink((dir / "outside/victim.txt").c_str(), (dir / ("tree/" + temp)).c_str()), 0);
    ASSERT_EQ(symlink("../../outside/victim-dir", (dir / ("tree/to-dir/" + temp)).c_str()), 0);
    ASSERT_EQ(symlink("../../outside/absent", (dir / ("tree/dangling/" + temp)).c_str()), 0);
    test::writeFile(dir / ("tree/leftover/" + temp), "left from before", 0600);
    const std::string mark = "tagsnip pid 1 started 0 run 0000000000000000";
    ASSERT_EQ(setxattr((dir / ("tree/leftover/" + temp)).c_str(), "user.tagsnip.temporary",
                       mark.data(), mark.size(), 0),
              0);

    std::vector<Mp3File> library;
    unsigned seed = 1;
    for (const auto& folder : folders) {
        library.push_back(makeMp3(dir / (folder + "a.mp3"), Tags::v2, 40'000, seed++));
        library.push_back(makeMp3(dir / (folder + "b.mp3"), Tags::both, 40'000, seed++, 900));
    }
    for (const auto& file : library) {
        writeOriginal(file);
    }

    const CliResult result = runCli({"-s", "-t1", "-t2", dir / "tree/"}, output.path());

    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.err, "Removed 1 temporary file(s) left by an interrupted run in " +
                              dir / "tree/leftover/\n");
    for (const auto& file : library) {
        EXPECT_EQ(contentOf(file), Content::stripped) << file.path;
    }
    EXPECT_EQ(test::readFile(dir / "outside/victim.txt"), "precious");
    EXPECT_EQ(test::modeOf(dir / "outside/victim.txt"), 0644u);
    EXPECT_TRUE(modifiedAt(dir / "outside/victim.txt") == victimTime);
    EXPECT_EQ(test::listNames(dir / "outside/"), "victim-dir victim.txt");
    EXPECT_EQ(test::listNames(dir / "outside/victim-dir/"), "");
    EXPECT_EQ(linkTarget(dir / ("tree/" + temp)), dir / "outside/victim.txt");
    EXPECT_EQ(linkTarget(dir / ("tree/to-dir/" + temp)), "../../outside/victim-dir");
    EXPECT_EQ(linkTarget(dir / ("tree/dangling/" + temp)), "../../outside/absent");
    // Our own leftover is the one thing under that name that goes.
    EXPECT_FALSE(test::exists(dir / ("tree/leftover/" + temp)));
    for (const auto& folder : folders) {
        const auto expected = folder == "tree/leftover/" ? std::vector<std::string>{}
                                                         : std::vector<std::string>{temp};
        EXPECT_EQ(strangers(dir / folder, library), expected) << folder;
    }
}

}  // namespace
}  // namespace tagsnip::fault
