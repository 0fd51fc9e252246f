#include "fault/cli_process.h"
#include "fault/mp3_library.h"
#include "support/mp3_bytes.h"
#include "support/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace tagsnip::cli {
namespace {

using fault::Identity;
using fault::Mp3File;
using fault::Tags;

constexpr int folderCount = 10;
constexpr int filesPerFolder = 20;
constexpr int fileCount = folderCount * filesPerFolder;

// As the benchmark's small corpus: a quarter each without tags, with a trailer only, with a header
// only and with both; modes as a library has them; a few folders.
void makeTree(const std::string& root) {
    const Tags tags[] = {Tags::none, Tags::v1, Tags::v2, Tags::both};
    const mode_t modes[] = {0644, 0600, 0640, 0664};
    test::makeDirectory(root);
    for (int folder = 0; folder < folderCount; ++folder) {
        const std::string path = root + "/d" + std::to_string(folder);
        test::makeDirectory(path);
        for (int i = 0; i < filesPerFolder; ++i) {
            const auto seed = static_cast<unsigned>(folder * filesPerFolder + i + 1);
            fault::writeOriginal(fault::makeMp3(path + "/" + std::to_string(i) + ".mp3",
                                                tags[i % 4], 20'000, seed, 512,
                                                modes[(i / 4) % 4]));
        }
    }
}

// The "calls" column of strace -c, by system call.
std::map<std::string, double> callCounts(const std::string& summary) {
    std::map<std::string, double> counts;
    std::istringstream stream(summary);
    for (std::string line; std::getline(stream, line);) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) {
            words.push_back(word);
        }
        // % time, seconds, usecs/call, calls, [errors,] name
        if (words.size() < 5 || !std::isdigit(static_cast<unsigned char>(words[0][0]))) {
            continue;
        }
        counts[words.back()] = std::stod(words[3]);
    }
    return counts;
}

struct Budget {
    const char* call;
    // Calls per file over the whole run, start-up included.
    double perFile;
};

// A later change that asks the kernel once more per file, or once per file what it could ask once
// per folder, shows here. The figures are those of the change that set them, with a little room.
TEST(TagsnipCliCost, SystemCallsPerFileStayWithinBudget) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers make system calls of their own";
#endif
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "strace is missing or may not trace here (scripts/setup.sh installs it)";
    }
    test::TempDir dir;
    makeTree(dir / "music");
    const std::string command = "strace -c -f -o '" + (dir / "summary") +
                                "' '" TAGSNIP_CLI "' -s -t1 -t2 '" + (dir / "music") + "' >'" +
                                (dir / "out") + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << test::readFile(dir / "out");
    ASSERT_NE(test::readFile(dir / "out").find("total mp3=200 id3v1=100 id3v2=100"),
              std::string::npos)
        << test::readFile(dir / "out");
    const std::map<std::string, double> counts = callCounts(test::readFile(dir / "summary"));
    ASSERT_TRUE(counts.count("total")) << test::readFile(dir / "summary");

    const std::vector<Budget> budgets = {
        {"total", 15.8},  {"newfstatat", 3.4},      {"fcntl", 2.65},
        {"openat", 2.1},  {"pread64", 1.05},        {"close", 0.65},
        {"ioctl", 0.7},   {"flistxattr", 0.7},      {"io_uring_enter", 0.06},
        {"fchmod", 0.12}, {"sync_file_range", 0.5},
    };
    for (const Budget& row : budgets) {
        const auto found = counts.find(row.call);
        const double perFile = found == counts.end() ? 0 : found->second / fileCount;
        EXPECT_LE(perFile, row.perFile) << row.call << "\n" << test::readFile(dir / "summary");
    }
}

struct ModeCase {
    const char* name;
    mode_t mode;
    // Run as root on a file of another owner, who the copy must be given to.
    bool foreignOwner;
};

void PrintTo(const ModeCase& row, std::ostream* out) {
    *out << row.name;
}

class ReplacedFileMode : public ::testing::TestWithParam<ModeCase> {};

// A copy is made with the original's permission bits, so that mostly no fchmod follows. A change
// of owner and a write without CAP_FSETID clear set-id bits: they must be set after both, also
// when the run is not root.
TEST_P(ReplacedFileMode, KeepsEveryBit) {
    const ModeCase& row = GetParam();
    if (row.foreignOwner && !fault::runningAsRoot()) {
        GTEST_SKIP() << "needs root to give a file another owner";
    }
    const Identity identity = row.foreignOwner ? Identity{0, 0} : fault::unprivilegedIdentity();
    test::TempDir dir;
    test::TempDir output;
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string folder = dir / "lib";
    test::makeDirectory(folder);
    Mp3File file = fault::makeMp3(folder + "/a.mp3", Tags::both, 20'000, 1, 512, row.mode);
    fault::writeOriginal(file);
    const uid_t owner = row.foreignOwner ? 4242 : identity.user;
    const gid_t group = row.foreignOwner ? 4343 : identity.group;
    if (fault::runningAsRoot()) {
        ASSERT_EQ(chown(folder.c_str(), identity.user, identity.group), 0);
        ASSERT_EQ(chown(file.path.c_str(), owner, group), 0);
        ASSERT_EQ(chmod(file.path.c_str(), row.mode), 0);
    }

    const fault::CliResult result =
        fault::runCli({"-s", "-t1", "-t2", folder}, output.path(), identity);

    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(fault::contentOf(file), fault::Content::stripped);
    struct stat st {};
    ASSERT_EQ(lstat(file.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, row.mode);
    EXPECT_EQ(st.st_uid, owner);
    EXPECT_EQ(st.st_gid, group);
}

const ModeCase modeCases[] = {
    {"Plain", 0644, false},
    {"WiderThanTheUmask", 0666, false},
    {"SetUser", 04755, false},
    {"SetGroup", 02750, false},
    {"SetUserAndGroup", 06755, false},
    {"SetUserOfAnother", 04755, true},
    {"SetGroupOfAnother", 02750, true},
};

INSTANTIATE_TEST_SUITE_P(Modes, ReplacedFileMode, ::testing::ValuesIn(modeCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::cli
