#include "cli_process.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tagsnip::fault {
namespace {

const std::string record = "RECORD WRITTEN BY ANOTHER PROGRAM\n";

// What a file holds, in words: its old or its new content, each with or without the record.
std::string shapeOf(const Mp3File& file, const std::string& bytes) {
    for (const std::string& tail : {std::string(), record}) {
        const std::string suffix = tail.empty() ? "" : " + record";
        if (bytes == file.original + tail) {
            return "original" + suffix;
        }
        if (bytes == file.stripped + tail) {
            return "stripped" + suffix;
        }
    }
    return "other, " + std::to_string(bytes.size()) + " bytes";
}

// The walk meets a, b and c first (b loses only its trailer, by a cut in place), then sub/d,
// sub/deeper/e and sub/deeper/deepest/f.
class SignalTree : public ::testing::Test {
protected:
    void SetUp() override {
        test::makeDirectory(m_dir / "tree/");
        test::makeDirectory(m_dir / "tree/sub/");
        test::makeDirectory(m_dir / "tree/sub/deeper/");
        test::makeDirectory(m_dir / "tree/sub/deeper/deepest/");
        test::makeDirectory(m_dir / "keep/");
        constexpr std::size_t size = 64 << 10;
        m_files.emplace('a', makeMp3(m_dir / "tree/a.mp3", Tags::both, size, 1));
        m_files.emplace('b', makeMp3(m_dir / "tree/b.mp3", Tags::v1, size, 2));
        m_files.emplace('c', makeMp3(m_dir / "tree/c.mp3", Tags::v2, size, 3));
        m_files.emplace('d', makeMp3(m_dir / "tree/sub/d.mp3", Tags::both, size, 4));
        m_files.emplace('e', makeMp3(m_dir / "tree/sub/deeper/e.mp3", Tags::both, size, 5));
        m_files.emplace('f', makeMp3(m_dir / "tree/sub/deeper/deepest/f.mp3", Tags::both, size, 6));
        for (const auto& [name, file] : m_files) {
            writeOriginal(file);
        }
    }

    std::vector<std::string> arguments(bool keep) const {
        std::vector<std::string> result{"-s", "-t1", "-t2"};
        if (keep) {
            result.insert(result.end(), {"--keep-removed", m_dir / "keep/"});
        }
        result.push_back(m_dir / "tree/");
        return result;
    }

    // The program, started meanwhile, raises signal itself right before its first call of call
    // whose name argument holds match.
    class SignalAt {
    public:
        SignalAt(const char* call, const char* match, int signal) {
            set("LD_PRELOAD", SIGNAL_ON_CALL_LIBRARY);
            set("TAGSNIP_SIGNAL_CALL", call);
            set("TAGSNIP_SIGNAL_NUMBER", std::to_string(signal).c_str());
            if (match != nullptr) {
                set("TAGSNIP_SIGNAL_MATCH", match);
            }
#ifdef __SANITIZE_ADDRESS__
            set("ASAN_OPTIONS", "verify_asan_link_order=0");
#endif
        }
        ~SignalAt() {
            for (const std::string& name : m_names) {
                unsetenv(name.c_str());
            }
        }
        SignalAt(const SignalAt&) = delete;
        SignalAt& operator=(const SignalAt&) = delete;

    private:
        void set(const char* name, const char* value) {
            setenv(name, value, 1);
            m_names.emplace_back(name);
        }

        std::vector<std::string> m_names;
    };

    bool leasesWork() const {
        const int fd = open(m_files.at('a').path.c_str(), O_RDONLY | O_CLOEXEC);
        const bool taken = fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
        close(fd);
        return taken;
    }

    test::TempDir m_dir;
    test::TempDir m_output;
    std::map<char, Mp3File> m_files;
};

struct TermCase {
    const char* name;
    const char* call;
    const char* match;
    bool keep;
    // The files that must be stripped, and those that must be left as they were.
    const char* stripped;
    const char* original;
};

class SigtermAtMoments : public SignalTree, public ::testing::WithParamInterface<TermCase> {};

// What is queued is committed, the total closes the output and the status says which signal;
// every file holds its complete old or its complete new content.
TEST_P(SigtermAtMoments, EndsWithTheTotalAndStatus143) {
    const TermCase& row = GetParam();
    const auto cli = [&] {
        const SignalAt signal(row.call, row.match, SIGTERM);
        return std::make_unique<CliProcess>(arguments(row.keep), m_output.path());
    }();
    const int status = cli->wait();
    EXPECT_TRUE(cli->exited()) << "killed by the signal";
    EXPECT_EQ(status, 128 + SIGTERM) << cli->err();
    EXPECT_EQ(linesContaining(cli->out(), {"total mp3="}), 1) << cli->out();
    for (const auto& [name, file] : m_files) {
        const Content content = contentOf(file);
        EXPECT_TRUE(content == Content::original || content == Content::stripped) << file.path;
        if (std::strchr(row.stripped, name) != nullptr) {
            EXPECT_EQ(content, Content::stripped) << file.path;
        }
        if (std::strchr(row.original, name) != nullptr) {
            EXPECT_EQ(content, Content::original) << file.path;
        }
    }
}

// The signal is seen when the next file is counted, and that file is still worked on.
const TermCase termCases[] = {
    {"FirstCallOfTheProgram", "fcntl", nullptr, false, "", "def"},
    {"BeforeTheWalk", "open", "tree/", false, "", "def"},
    {"DuringKeeperSetup", "mkdirat", nullptr, true, "", "def"},
    {"MidBatch", "openat", "d.mp3", false, "abcde", "f"},
    {"DuringCommit", "renameat", "f.mp3", false, "abcdef", ""},
    {"AfterTheLastFile", "write", "total mp3=", false, "abcdef", ""},
};

INSTANTIATE_TEST_SUITE_P(Moments, SigtermAtMoments, ::testing::ValuesIn(termCases),
                         [](const auto& info) { return std::string(info.param.name); });

enum class Writer { opensOnly, keepsOpen, writesAndCloses };

struct StopCase {
    const char* name;
    const char* call;
    const char* match;
    // The file another program opens for writing while the run is stopped.
    char file;
    Writer writer;
    // Whether the file is stripped under the writer's record.
    bool stripped;
    const char* message;
    int status;
};

class StopAndContinue : public SignalTree, public ::testing::WithParamInterface<StopCase> {};

// Ctrl+Z while files wait in the batch with their leases: another program's open for writing
// goes through at once, and after the continue nothing of its writes is lost.
TEST_P(StopAndContinue, AnotherProgramOpensAtOnceAndKeepsItsWrites) {
    const StopCase& row = GetParam();
    if (!leasesWork()) {
        GTEST_SKIP() << "the file system here grants no leases";
    }
    const auto cli = [&] {
        const SignalAt signal(row.call, row.match, SIGTSTP);
        return std::make_unique<CliProcess>(arguments(false), m_output.path());
    }();
    ASSERT_TRUE(cli->waitStopped()) << "ended first: " << cli->err();
    const Mp3File& file = m_files.at(row.file);
    // A lease kept through the stop would hold a blocking open up for the kernel's lease-break
    // time; without blocking, the open fails at once instead, and the test never waits.
    const int fd = open(file.path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << file.path << ": " << std::strerror(errno);
    if (row.writer != Writer::opensOnly) {
        ASSERT_EQ(write(fd, record.data(), record.size()), static_cast<ssize_t>(record.size()));
    }
    if (row.writer != Writer::keepsOpen) {
        close(fd);
    }
    cli->signal(SIGCONT);
    const int status = cli->wait();
    if (row.writer == Writer::keepsOpen) {
        close(fd);
    }

    EXPECT_EQ(status, row.status) << cli->err();
    const std::string written = row.writer == Writer::opensOnly ? "" : " + record";
    EXPECT_EQ(shapeOf(file, test::readFile(file.path)),
              (row.stripped ? "stripped" : "original") + written);
    if (row.message != nullptr) {
        EXPECT_EQ(linesContaining(cli->err(), {file.path + " - " + row.message}), 1) << cli->err();
    } else {
        EXPECT_EQ(cli->err().find(file.path), std::string::npos) << cli->err();
    }
    EXPECT_EQ(linesContaining(cli->out(), {"total mp3=6 "}), 1) << cli->out();
}

// Stopped while the walk is at sub/d, a waits in the batch; stopped during a rename or a cut,
// the stop comes once it is made.
const StopCase stopCases[] = {
    {"NoWriterAfterContinue", "openat", "d.mp3", 'a', Writer::opensOnly, true, nullptr, 0},
    {"WriterStillOpen", "openat", "d.mp3", 'a', Writer::keepsOpen, false,
     "in use by another program, file not changed!", 1},
    {"WriterWroteAndClosed", "openat", "d.mp3", 'a', Writer::writesAndCloses, false,
     "changed by another program meanwhile, file not changed!", 1},
    {"DuringTheRename", "renameat", "a.mp3", 'a', Writer::writesAndCloses, true, nullptr, 0},
    {"DuringTheCut", "ftruncate", nullptr, 'b', Writer::writesAndCloses, true, nullptr, 0},
};

INSTANTIATE_TEST_SUITE_P(Moments, StopAndContinue, ::testing::ValuesIn(stopCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::fault
