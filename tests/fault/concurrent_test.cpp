#include "cli_process.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <iostream>

namespace tagsnip::fault {
namespace {

std::vector<Mp3File> sharedLibrary(const test::TempDir& dir) {
    const std::vector<std::string> folders{"tree/", "tree/x/", "tree/x/y/", "tree/z/"};
    const Tags kinds[] = {Tags::v2, Tags::both, Tags::v2Footer, Tags::v1, Tags::none};
    std::vector<Mp3File> library;
    unsigned seed = 1;
    for (const auto& folder : folders) {
        test::makeDirectory(dir / folder);
        for (int i = 0; i < 10; ++i) {
            const std::size_t size = 40'000 + 97'000 * static_cast<std::size_t>(i);
            library.push_back(makeMp3(dir / (folder + std::to_string(i) + ".mp3"), kinds[i % 5],
                                      size, seed, 100 + seed * 37));
            ++seed;
        }
    }
    return library;
}

// Two instances racing through one folder, in the same order, so that they meet on every file:
// each file ends up with its own audio and nothing else, and no temporary file is left.
TEST(TwoInstances, CleaningOneFolderAtOnceStripsEveryFileCorrectly) {
    test::TempDir dir;
    test::TempDir output;
    const std::vector<Mp3File> library = sharedLibrary(dir);
    const std::vector<std::string> arguments{"-s", "-t1", "-t2", dir / "tree/"};

    int raceReports = 0;
    for (int round = 0; round < 5; ++round) {
        for (const auto& file : library) {
            writeOriginal(file);
        }
        CliProcess first(arguments, output.path());
        CliProcess second(arguments, output.path());
        const int firstExit = first.wait();
        const int secondExit = second.wait();

        // The loser of a race finds the file changed since it opened it, or held open by the
        // other run; that is reported as such, never acted on, and never taken for a damaged
        // file.
        for (const auto* process : {&first, &second}) {
            const std::string err = process->err();
            raceReports += linesContaining(err, {""});
            EXPECT_EQ(linesContaining(err, {""}),
                      linesContaining(err, {"changed by another program meanwhile"}) +
                          linesContaining(err, {"in use by another program"}))
                << err;
        }
        EXPECT_LE(firstExit, 1);
        EXPECT_LE(secondExit, 1);
        for (const auto& file : library) {
            EXPECT_EQ(contentOf(file), Content::stripped) << file.path << " round " << round;
        }
        for (const char* folder : {"tree/", "tree/x/", "tree/x/y/", "tree/z/"}) {
            EXPECT_TRUE(strangers(dir / folder, library).empty()) << folder;
        }
    }
    std::cout << "[ races    ] " << raceReports << " files found changed by the other run\n";
}

}  // namespace
}  // namespace tagsnip::fault
