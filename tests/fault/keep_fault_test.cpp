#include "cli_process.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>

namespace tagsnip::fault {
namespace {

std::vector<Mp3File> keptLibrary(const test::TempDir& dir, std::size_t padding) {
    test::makeDirectory(dir / "tree/");
    test::makeDirectory(dir / "tree/sub/");
    return {
        makeMp3(dir / "tree/a.mp3", Tags::both, 1 << 20, 1, padding, 0640),
        makeMp3(dir / "tree/b.mp3", Tags::v1, 1 << 20, 2),
        makeMp3(dir / "tree/c.mp3", Tags::v2, 1 << 20, 3, padding),
        makeMp3(dir / "tree/sub/d.mp3", Tags::v2Footer, 1 << 19, 4, padding, 0600),
        makeMp3(dir / "tree/sub/e.mp3", Tags::both, 1 << 19, 5, padding),
    };
}

// Removes the temporary names a killed run leaves in the tree, as the kill test allows.
void removeTemporaryNames(const test::TempDir& dir, const std::vector<Mp3File>& library) {
    for (const char* sub : {"tree/", "tree/sub/"}) {
        for (const auto& name : strangers(dir / sub, library)) {
            EXPECT_EQ(name.substr(0, 12), "ID3_TEMP.$$$") << name;
            unlink((dir / sub + name).c_str());
        }
    }
}

// Whatever moment the run dies at, a file that is stripped has its kept bytes on disk: the
// restore of that run brings every file back.
TEST(KeepRemoved, AKilledRunLeavesNoFileStrippedWithoutItsKeptBytes) {
    test::TempDir dir;
    test::TempDir output;
    const std::vector<Mp3File> library = keptLibrary(dir, 30'000);
    const char* roundsText = std::getenv("TAGSNIP_KILL_ROUNDS");
    const int rounds = roundsText != nullptr ? std::atoi(roundsText) / 3 + 1 : 50;
    std::mt19937 random(11);
    std::uniform_int_distribution<long> moment(1, 60'000);
    int stripped = 0;
    int original = 0;
    for (int round = 0; round < rounds; ++round) {
        for (const auto& file : library) {
            writeOriginal(file);
        }
        const std::string keep = dir / ("keep" + std::to_string(round));
        CliProcess process({"-s", "-t1", "-t2", "--keep-removed", keep, dir / "tree"},
                           output.path());
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        process.kill();
        process.wait();
        removeTemporaryNames(dir, library);
        for (const auto& file : library) {
            const Content content = contentOf(file);
            ASSERT_TRUE(content == Content::original || content == Content::stripped)
                << file.path << " round " << round;
            (content == Content::stripped ? stripped : original) += 1;
        }
        const std::string runs = test::listNames(keep);
        if (runs.empty()) {
            for (const auto& file : library) {
                ASSERT_EQ(contentOf(file), Content::original) << file.path << " round " << round;
            }
            continue;
        }
        const CliResult restore = runCli({"--restore", keep + "/" + runs}, output.path());
        EXPECT_TRUE(restore.exitCode == 0 || restore.exitCode == 2) << restore.err;
        removeTemporaryNames(dir, library);
        for (const auto& file : library) {
            ASSERT_EQ(contentOf(file), Content::original)
                << file.path << " round " << round << ": " << restore.err;
        }
    }
    std::cout << "[ kills    ] " << rounds << " rounds; files seen stripped " << stripped
              << ", original " << original << " before the restore\n";
    EXPECT_GT(stripped, 0);
}

TEST(KeepRemoved, AFullKeepDiskLeavesThoseFilesUnchangedAndReported) {
    test::TempDir dir;
    test::TempDir output;
    test::makeDirectory(dir / "keep");
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to mount a tmpfs of its own";
    }
    if (mount("tagsnip-test", (dir / "keep").c_str(), "tmpfs", 0, "size=256k,mode=0755") != 0) {
        GTEST_SKIP() << "mount failed: " << std::strerror(errno);
    }
    const std::vector<Mp3File> library = keptLibrary(dir, 150'000);
    for (const auto& file : library) {
        writeOriginal(file);
    }
    const CliResult run =
        runCli({"-s", "-t1", "-t2", "--keep-removed", dir / "keep", dir / "tree"}, output.path());
    EXPECT_EQ(run.exitCode, 1) << run.err;
    int refused = 0;
    for (const auto& file : library) {
        const Content content = contentOf(file);
        const int reported = linesContaining(run.err, {file.path, "could not keep the removed"});
        EXPECT_EQ(content == Content::original, reported == 1) << file.path << "\n" << run.err;
        refused += reported;
    }
    EXPECT_GT(refused, 0) << run.err;
    EXPECT_LT(refused, static_cast<int>(library.size())) << run.err;

    const CliResult restore =
        runCli({"--restore", dir / "keep/" + test::listNames(dir / "keep")}, output.path());
    EXPECT_EQ(restore.exitCode, 0) << restore.err;
    for (const auto& file : library) {
        EXPECT_EQ(contentOf(file), Content::original) << file.path;
    }
    umount2((dir / "keep").c_str(), MNT_DETACH);
}

}  // namespace
}  // namespace tagsnip::fault
