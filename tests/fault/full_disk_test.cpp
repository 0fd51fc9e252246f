#include "cli_process.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace tagsnip::fault {
namespace {

// A small tmpfs of our own, so that a full disk is real and harms nothing else.
class TmpfsMount {
public:
    TmpfsMount(const std::string& path, const std::string& options) : m_path(path) {
        if (!runningAsRoot()) {
            m_problem = "not running as root";
        } else if (mount("tagsnip-test", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            m_problem = std::string("mount failed: ") + std::strerror(errno);
        }
    }
    ~TmpfsMount() {
        if (m_problem.empty()) {
            umount2(m_path.c_str(), MNT_DETACH);
        }
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    // Empty when the file system is mounted.
    const std::string& problem() const { return m_problem; }

private:
    std::string m_path;
    std::string m_problem;
};

TEST(FullDisk, CopiesThatDoNotFitLeaveOriginalsAndTheRunGoesOn) {
    test::TempDir dir;
    test::TempDir output;
    TmpfsMount disk(dir.path(), "size=4m,mode=0755");
    if (!disk.problem().empty()) {
        GTEST_SKIP() << "needs a tmpfs of its own (" << disk.problem() << ")";
    }
    const std::vector<Mp3File> library{
        makeMp3(dir / "big1.mp3", Tags::v2, 1'500'000, 1),
        makeMp3(dir / "big2.mp3", Tags::both, 1'500'000, 2, 4096, 0600),
        makeMp3(dir / "small.mp3", Tags::v2, 20'000, 3),
        makeMp3(dir / "trailer.mp3", Tags::v1, 100'000, 4),
    };
    for (const auto& file : library) {
        writeOriginal(file);
    }

    const CliResult result = runCli({"-t1", "-t2", dir.path()}, output.path());

    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(contentOf(library[0]), Content::original);
    EXPECT_EQ(contentOf(library[1]), Content::original);
    EXPECT_EQ(contentOf(library[2]), Content::stripped);
    EXPECT_EQ(contentOf(library[3]), Content::stripped);
    EXPECT_EQ(linesContaining(result.err, {library[0].path, "No space left on device"}), 1)
        << result.err;
    EXPECT_EQ(linesContaining(result.err, {library[1].path, "No space left on device"}), 1)
        << result.err;
    EXPECT_EQ(linesContaining(result.err, {""}), 2) << result.err;
    EXPECT_NE(result.out.find("total mp3=4 id3v1=2 id3v2=3 "), std::string::npos) << result.out;
    EXPECT_TRUE(strangers(dir.path(), library).empty());
}

TEST(FullDisk, NoInodeForTheTemporaryFileLeavesTheTagAndCutsTheTrailer) {
    test::TempDir dir;
    test::TempDir output;
    TmpfsMount disk(dir.path(), "size=4m,nr_inodes=8,mode=0755");
    if (!disk.problem().empty()) {
        GTEST_SKIP() << "needs a tmpfs of its own (" << disk.problem() << ")";
    }
    const std::vector<Mp3File> library{
        makeMp3(dir / "both.mp3", Tags::both, 50'000, 1),
        makeMp3(dir / "trailer.mp3", Tags::v1, 50'000, 2),
    };
    for (const auto& file : library) {
        writeOriginal(file);
    }
    // Use up the remaining inodes.
    for (int i = 0; i < 100; ++i) {
        const int fd = open((dir / ("filler" + std::to_string(i))).c_str(),
                            O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
        if (fd < 0) {
            ASSERT_EQ(errno, ENOSPC);
            break;
        }
        close(fd);
    }

    const CliResult result = runCli({"-t1", "-t2", dir.path()}, output.path());

    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(linesContaining(result.err,
                              {"Could not create " + dir.path() +
                               "ID3_TEMP.$$$ - No space left on device - ID3v2 Tag not removed!"}),
              1)
        << result.err;
    // The ID3v2 tag stays; the trailer goes as it does in place.
    const Mp3File& both = library[0];
    EXPECT_EQ(test::readFile(both.path), both.original.substr(0, both.original.size() - 128));
    EXPECT_EQ(contentOf(library[1]), Content::stripped);
}

}  // namespace
}  // namespace tagsnip::fault
