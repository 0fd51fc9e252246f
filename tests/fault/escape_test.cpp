#include "cli_process.h"
#include "mp3_library.h"
#include "name_exchange.h"
#include "support/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <iostream>
#include <map>

namespace tagsnip::fault {
namespace {

// Everything a run could change about a file outside the tree, ctime included: a mode changed
// and put back still shows there.
struct Footprint {
    std::string bytes;
    struct stat status {};
};

Footprint footprintOf(const std::string& path) {
    Footprint footprint;
    if (lstat(path.c_str(), &footprint.status) == 0 && S_ISREG(footprint.status.st_mode)) {
        footprint.bytes = test::readFile(path);
    }
    return footprint;
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Empty when nothing changed, otherwise what did.
std::string changes(const Footprint& before, const Footprint& after) {
    std::string changed;
    if (after.bytes != before.bytes) {
        changed += " content";
    }
    if (after.status.st_mode != before.status.st_mode) {
        changed += " mode";
    }
    if (after.status.st_uid != before.status.st_uid ||
        after.status.st_gid != before.status.st_gid) {
        changed += " owner";
    }
    if (after.status.st_ino != before.status.st_ino) {
        changed += " inode";
    }
    if (!sameTime(after.status.st_mtim, before.status.st_mtim)) {
        changed += " mtime";
    }
    if (!sameTime(after.status.st_ctim, before.status.st_ctim)) {
        changed += " ctime";
    }
    return changed;
}

// The bytes a regular file holds, with its mode, or empty for anything else.
std::string bytesIfRegular(const std::string& path, mode_t& mode) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    mode = st.st_mode & 07777;
    return test::readFile(path);
}

// A subfolder swapped for a link to an outside folder while the walk runs: whatever the walk
// meets at that name, nothing outside the tree is read into a change, written, created or
// removed.
TEST(LinkExchange, FolderSwappedForLinkNeverLeadsOutOfTheTree) {
    test::TempDir dir;
    test::TempDir output;
    test::makeDirectory(dir / "tree/");
    test::makeDirectory(dir / "tree/sub/");
    test::makeDirectory(dir / "outside/");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "tree/link").c_str()), 0);
    std::vector<Mp3File> inside;
    std::vector<Mp3File> outside;
    for (unsigned i = 0; i < 100; ++i) {
        const std::string name = std::to_string(i) + ".mp3";
        inside.push_back(makeMp3(dir / ("tree/sub/" + name), Tags::both, 8'000, i + 1, 300));
        outside.push_back(makeMp3(dir / ("outside/" + name), Tags::both, 8'000, i + 1, 300));
    }
    for (const auto& file : outside) {
        writeOriginal(file);
    }
    std::map<std::string, Footprint> before;
    for (const auto& file : outside) {
        before[file.path] = footprintOf(file.path);
    }
    const std::string outsideNames = test::listNames(dir / "outside/");

    for (int round = 0; round < 3; ++round) {
        for (const auto& file : inside) {
            writeOriginal(file);
        }
        NameExchanger exchanger({{dir / "tree/sub", dir / "tree/link"}});
        const CliResult result = runCli({"-s", "-t1", "-t2", dir / "tree/"}, output.path());
        const long exchanges = exchanger.stop();
        ASSERT_GT(exchanges, 0) << "the exchange itself failed";
        std::cout << "[ exchange ] round " << round << ": " << exchanges << " exchanges, exit "
                  << result.exitCode << "\n";

        int changedOutside = 0;
        for (const auto& file : outside) {
            const std::string changed = changes(before[file.path], footprintOf(file.path));
            changedOutside += changed.empty() ? 0 : 1;
            EXPECT_EQ(changed, "") << file.path << " changed in round " << round;
        }
        EXPECT_EQ(test::listNames(dir / "outside/"), outsideNames);
        ASSERT_EQ(changedOutside, 0)
            << changedOutside << " of " << outside.size() << " outside files changed; stdout:\n"
            << result.out.substr(0, 2000) << "\nstderr:\n"
            << result.err.substr(0, 2000);
        // Put the real folder back under its own name for the next round's originals.
        struct stat st {};
        if (lstat((dir / "tree/sub").c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            ASSERT_TRUE(exchangeNames(dir / "tree/sub", dir / "tree/link"));
        }
        for (const auto& file : inside) {
            const Content content = contentOf(file);
            EXPECT_TRUE(content == Content::original || content == Content::stripped)
                << file.path << " holds " << contentName(content);
        }
    }
}

struct ReportRunCase {
    const char* name;
    std::vector<std::string> options;
};

void PrintTo(const ReportRunCase& runCase, std::ostream* out) {
    *out << runCase.name;
}

class FilesSwappedForLinks : public ::testing::TestWithParam<ReportRunCase> {};

// Read-only files swapped for links to an outside file while -i handles them: the outside file
// keeps its mode, content and ctime, as no mode is ever set through a path.
TEST_P(FilesSwappedForLinks, OutsideFileIsNeverTouched) {
    test::TempDir dir;
    test::TempDir output;
    test::makeDirectory(dir / "tree/");
    const std::string secret = dir / "secret";
    test::writeFile(secret, "not for anyone else", 0600);
    const Footprint secretBefore = footprintOf(secret);

    std::vector<Mp3File> files;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (unsigned i = 0; i < 12; ++i) {
        const std::string stem = dir / ("tree/" + std::to_string(i));
        files.push_back(makeMp3(stem + ".mp3", Tags::both, 60'000, i + 1, 300, 0444));
        ASSERT_EQ(symlink(secret.c_str(), (stem + ".swap").c_str()), 0);
        pairs.emplace_back(stem + ".mp3", stem + ".swap");
    }

    std::vector<std::string> options = GetParam().options;
    options.push_back(dir / "tree/");
    for (int round = 0; round < 30; ++round) {
        for (const auto& [mp3, swap] : pairs) {
            struct stat st {};
            if (lstat(mp3.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
                ASSERT_TRUE(exchangeNames(mp3, swap));
            }
        }
        for (const auto& file : files) {
            // Without root a read-only file cannot be opened for writing: make it anew.
            unlink(file.path.c_str());
            writeOriginal(file);
        }
        NameExchanger exchanger(pairs);
        ExchangeOnTouch onTouch(dir / "tree", pairs);
        const CliResult result = runCli(options, output.path());
        onTouch.stop();
        ASSERT_GT(exchanger.stop(), 0) << "the exchange itself failed";

        const std::string changed = changes(secretBefore, footprintOf(secret));
        ASSERT_EQ(changed, "") << "the outside file changed in round " << round << "; now mode "
                               << std::oct << (footprintOf(secret).status.st_mode & 07777)
                               << std::dec << "\nstderr:\n"
                               << result.err.substr(0, 2000);
        // Each file sits under one of its two names; it keeps its mode wherever it is.
        for (std::size_t i = 0; i < files.size(); ++i) {
            mode_t mode = 0;
            std::string bytes = bytesIfRegular(pairs[i].first, mode);
            if (bytes.empty()) {
                bytes = bytesIfRegular(pairs[i].second, mode);
            }
            EXPECT_EQ(mode, 0444u) << files[i].path << " round " << round;
            EXPECT_TRUE(bytes == files[i].original || bytes == files[i].stripped)
                << files[i].path << " round " << round;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(IgnoreAttributes, FilesSwappedForLinks,
                         ::testing::Values(ReportRunCase{"ReportOnly", {"-i"}},
                                           ReportRunCase{"StripBoth", {"-i", "-t1", "-t2"}}),
                         [](const ::testing::TestParamInfo<ReportRunCase>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace tagsnip::fault
