#include "cli_process.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <random>
#include <thread>

namespace tagsnip::fault {
namespace {

std::vector<Mp3File> readOnlyLibrary(const test::TempDir& dir, int count, std::size_t size) {
    test::makeDirectory(dir / "tree/");
    std::vector<Mp3File> library;
    for (int i = 0; i < count; ++i) {
        library.push_back(makeMp3(dir / ("tree/" + std::to_string(i) + ".mp3"), Tags::both, size,
                                  static_cast<unsigned>(i + 1), 300, 0444));
    }
    return library;
}

// Without root a read-only file cannot be opened for writing: make it anew.
void restoreOriginals(const std::vector<Mp3File>& library) {
    for (const auto& file : library) {
        unlink(file.path.c_str());
        writeOriginal(file);
    }
}

// Looks at every file's mode over and over while a run goes on: a read-only file must never be
// seen writable, not even for a moment.
class ModeWatcher {
public:
    explicit ModeWatcher(const std::vector<Mp3File>& library)
        : m_thread([this, &library] {
              while (!m_stop.load()) {
                  for (const auto& file : library) {
                      struct stat st {};
                      if (lstat(file.path.c_str(), &st) == 0 && (st.st_mode & 07777) != file.mode) {
                          ++m_changedSeen;
                      }
                  }
                  ++m_sweeps;
              }
          }) {}
    ~ModeWatcher() { stop(); }
    ModeWatcher(const ModeWatcher&) = delete;
    ModeWatcher& operator=(const ModeWatcher&) = delete;

    void stop() {
        m_stop = true;
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    long changedSeen() const { return m_changedSeen.load(); }
    long sweeps() const { return m_sweeps.load(); }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<long> m_changedSeen{0};
    std::atomic<long> m_sweeps{0};
    std::thread m_thread;
};

struct IgnoreCase {
    const char* name;
    std::vector<std::string> options;
    bool strips;
};

void PrintTo(const IgnoreCase& ignoreCase, std::ostream* out) {
    *out << ignoreCase.name;
}

class TwoInstancesOnReadOnlyFiles : public ::testing::TestWithParam<IgnoreCase> {};

// Two runs with -i over one folder of read-only files: neither may take the other's momentary
// mode for the file's own, so every file stays 0444 throughout and afterwards.
TEST_P(TwoInstancesOnReadOnlyFiles, EveryFileKeepsItsModeAtEveryInstant) {
    test::TempDir dir;
    test::TempDir output;
    const std::vector<Mp3File> library = readOnlyLibrary(dir, 300, 8'000);
    restoreOriginals(library);
    std::vector<timespec> changedAt;
    for (const auto& file : library) {
        struct stat st {};
        ASSERT_EQ(lstat(file.path.c_str(), &st), 0);
        changedAt.push_back(st.st_ctim);
    }
    std::vector<std::string> arguments = GetParam().options;
    arguments.push_back(dir / "tree/");

    ModeWatcher watcher(library);
    CliProcess first(arguments, output.path());
    CliProcess second(arguments, output.path());
    EXPECT_LE(first.wait(), 1) << first.err();
    EXPECT_LE(second.wait(), 1) << second.err();
    watcher.stop();
    std::cout << "[ modes    ] " << watcher.sweeps() << " sweeps over the folder\n";

    EXPECT_EQ(watcher.changedSeen(), 0) << "times a file was seen with another mode";
    const Content expected = GetParam().strips ? Content::stripped : Content::original;
    int wrong = 0;
    int touched = 0;
    std::string firstWrong;
    for (std::size_t i = 0; i < library.size(); ++i) {
        const Mp3File& file = library[i];
        // contentOf also compares the mode.
        if (contentOf(file) != expected) {
            ++wrong;
            firstWrong = firstWrong.empty() ? file.path : firstWrong;
        }
        struct stat st {};
        ASSERT_EQ(lstat(file.path.c_str(), &st), 0);
        const bool same =
            st.st_ctim.tv_sec == changedAt[i].tv_sec && st.st_ctim.tv_nsec == changedAt[i].tv_nsec;
        touched += same ? 0 : 1;
    }
    EXPECT_EQ(wrong, 0) << "of " << library.size() << " files do not hold " << contentName(expected)
                        << " content with mode 0444, the first " << firstWrong;
    if (!GetParam().strips) {
        EXPECT_EQ(touched, 0) << "inodes changed by report-only runs";
    }
}

INSTANTIATE_TEST_SUITE_P(IgnoreAttributes, TwoInstancesOnReadOnlyFiles,
                         ::testing::Values(IgnoreCase{"ReportOnly", {"-i"}, false},
                                           IgnoreCase{"StripBoth", {"-i", "-t1", "-t2"}, true}),
                         [](const ::testing::TestParamInfo<IgnoreCase>& info) {
                             return info.param.name;
                         });

class SignalDuringIgnore : public ::testing::TestWithParam<int> {};

// A run with -i ended by a signal at any moment leaves every read-only file read-only, with its
// original or its stripped content.
TEST_P(SignalDuringIgnore, ReadOnlyFilesStayReadOnly) {
    test::TempDir dir;
    test::TempDir output;
    const std::vector<Mp3File> library = readOnlyLibrary(dir, 8, 1 << 20);
    const std::vector<std::string> arguments{"-i", "-t1", "-t2", dir / "tree/"};

    restoreOriginals(library);
    const auto start = std::chrono::steady_clock::now();
    const CliResult full = runCli(arguments, output.path());
    const auto fullMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - start)
                                      .count();
    ASSERT_EQ(full.exitCode, 0) << full.err;

    std::mt19937 random(11);
    std::uniform_int_distribution<long> moment(0, fullMicroseconds);
    for (int round = 0; round < 15; ++round) {
        restoreOriginals(library);
        CliProcess process(arguments, output.path());
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        process.signal(GetParam());
        process.wait();
        for (const auto& file : library) {
            const Content content = contentOf(file);
            ASSERT_TRUE(content == Content::original || content == Content::stripped)
                << file.path << " holds " << contentName(content) << " with mode " << std::oct
                << test::modeOf(file.path) << std::dec << " after round " << round;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EndedBy, SignalDuringIgnore, ::testing::Values(SIGKILL, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == SIGKILL ? "SIGKILL" : "SIGHUP";
                         });

}  // namespace
}  // namespace tagsnip::fault
