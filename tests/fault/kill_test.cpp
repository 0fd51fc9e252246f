#include "cli_process.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <thread>

namespace tagsnip::fault {
namespace {

int fromEnvironment(const char* name, int fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::atoi(value) : fallback;
}

std::vector<Mp3File> killLibrary(const test::TempDir& dir) {
    constexpr std::size_t size = 2 << 20;
    test::makeDirectory(dir / "tree/");
    test::makeDirectory(dir / "tree/sub/");
    return {
        makeMp3(dir / "tree/a.mp3", Tags::v2, size, 1),
        makeMp3(dir / "tree/b.mp3", Tags::both, size, 2, 200'000, 0600),
        makeMp3(dir / "tree/c.mp3", Tags::v1, size, 3),
        makeMp3(dir / "tree/d.mp3", Tags::v2Footer, size, 4, 4096, 0640),
        makeMp3(dir / "tree/e.mp3", Tags::none, size / 4, 5),
        makeMp3(dir / "tree/sub/f.mp3", Tags::both, size, 6),
        makeMp3(dir / "tree/sub/g.mp3", Tags::v2, size, 7, 60'000),
        makeMp3(dir / "tree/sub/h.mp3", Tags::both, size / 2, 8),
    };
}

std::vector<std::string> leftovers(const test::TempDir& dir, const std::vector<Mp3File>& library) {
    std::vector<std::string> found;
    for (const char* sub : {"tree/", "tree/sub/"}) {
        for (const auto& name : strangers(dir / sub, library)) {
            found.push_back(sub + name);
        }
    }
    return found;
}

// A leftover is harmless when it is a complete stripped copy of a file of its directory.
bool isCompleteCopy(const test::TempDir& dir, const std::string& leftover,
                    const std::vector<Mp3File>& library) {
    const std::string bytes = test::readFile(dir / leftover);
    const std::string directory = dir / leftover.substr(0, leftover.rfind('/') + 1);
    for (const auto& file : library) {
        if (file.path.rfind(directory, 0) == 0 &&
            file.path.find('/', directory.size()) == std::string::npos && bytes == file.stripped) {
            return true;
        }
    }
    return false;
}

// Every path holds its complete original or its complete stripped content at every moment at
// which the process may die, whatever it was doing.
TEST(SigKill, EveryPathHoldsOriginalOrStrippedContent) {
    test::TempDir dir;
    test::TempDir output;
    const std::vector<Mp3File> library = killLibrary(dir);
    const std::vector<std::string> arguments{"-s", "-t1", "-t2", dir / "tree/"};

    for (const auto& file : library) {
        writeOriginal(file);
    }
    const auto start = std::chrono::steady_clock::now();
    const CliResult clean = runCli(arguments, output.path());
    const auto fullRun = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(clean.exitCode, 0) << clean.err;
    for (const auto& file : library) {
        ASSERT_EQ(contentOf(file), Content::stripped) << file.path;
    }

    const int rounds = fromEnvironment("TAGSNIP_KILL_ROUNDS", 150);
    const auto seed = static_cast<unsigned>(fromEnvironment("TAGSNIP_KILL_SEED", 7));
    std::mt19937 random(seed);
    const auto fullMicroseconds =
        std::chrono::duration_cast<std::chrono::microseconds>(fullRun).count();
    std::uniform_int_distribution<long> moment(0, fullMicroseconds + fullMicroseconds / 5);
    std::map<Content, int> seen;
    int killedMidRun = 0;
    int namedLeftovers = 0;
    for (int round = 0; round < rounds; ++round) {
        // A run that ended before its kill proves nothing about dying: the round is tried
        // again, sooner, however fast or slow the machine is today.
        long delay = moment(random) + 1;
        for (bool killed = false; !killed && delay > 0; delay /= 2) {
            for (const auto& file : library) {
                if (contentOf(file) != Content::original) {
                    writeOriginal(file);
                }
            }
            CliProcess process(arguments, output.path());
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
            process.kill();
            killed = process.wait() == 128 + SIGKILL;
            killedMidRun += killed ? 1 : 0;
            for (const auto& file : library) {
                const Content content = contentOf(file);
                ++seen[content];
                ASSERT_TRUE(content == Content::original || content == Content::stripped)
                    << file.path << " holds " << contentName(content) << " after round " << round
                    << " (seed " << seed << ")";
            }
            // New content waits unnamed until its batch is renamed into place; a name exists
            // only between the link and the rename of each file. Counted once, then cleared.
            for (const auto& name : leftovers(dir, library)) {
                ++namedLeftovers;
                EXPECT_EQ(name.substr(name.rfind('/') + 1, 12), "ID3_TEMP.$$$") << name;
                EXPECT_TRUE(isCompleteCopy(dir, name, library)) << name;
                unlink((dir / name).c_str());
            }
        }
    }

    std::cout << "[ kills    ] " << rounds << " rounds over a " << fullMicroseconds << " us run, "
              << killedMidRun << " killed mid-run; files seen original " << seen[Content::original]
              << ", stripped " << seen[Content::stripped] << "; " << namedLeftovers
              << " named temporary files left by the kills\n";
    EXPECT_GT(seen[Content::original], 0);
    EXPECT_GT(seen[Content::stripped], 0);

    // A later run finishes the work and takes nothing of the user's for a leftover.
    const CliResult after = runCli(arguments, output.path());
    EXPECT_EQ(after.exitCode, 0) << after.err;
    EXPECT_NE(after.out.find("total mp3=" + std::to_string(library.size()) + " "),
              std::string::npos)
        << after.out;
    for (const auto& file : library) {
        EXPECT_EQ(contentOf(file), Content::stripped) << file.path;
    }
    EXPECT_TRUE(leftovers(dir, library).empty());
}

}  // namespace
}  // namespace tagsnip::fault
