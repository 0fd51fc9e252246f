#include "support/mp3_bytes.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <set>
#include <sstream>
#include <thread>

namespace tagsnip::cli {
namespace {

using test::id3v2Tag;
using test::mpegAudio;
using test::readFile;
using test::writeFile;

// Where the child's standard output goes.
enum class Output { deviceFull, closed, closedPipe, closedPipeSignalIgnored, file };

struct Child {
    pid_t pid = -1;

    // The status as a shell reports it: the exit code, or 128 + the signal that ended it.
    int wait() const {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
    }
};

int openOutput(Output output, const std::string& outPath) {
    if (output == Output::deviceFull) {
        return open("/dev/full", O_WRONLY);
    }
    if (output == Output::file) {
        return open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    int ends[2];
    if (pipe(ends) != 0) {
        return -1;
    }
    close(ends[0]);
    return ends[1];
}

Child start(const std::vector<std::string>& arguments, Output output, const std::string& outPath,
            const std::string& errPath) {
    const int out = output == Output::closed ? -1 : openOutput(output, outPath);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Child child;
    child.pid = fork();
    if (child.pid == 0) {
        signal(SIGPIPE, output == Output::closedPipeSignalIgnored ? SIG_IGN : SIG_DFL);
        out < 0 ? close(STDOUT_FILENO) : dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        std::vector<char*> argv{const_cast<char*>(TAGSNIP_CLI)};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(TAGSNIP_CLI, argv.data());
        _exit(127);
    }
    if (out >= 0) {
        close(out);
    }
    close(err);
    return child;
}

struct WriteErrorCase {
    const char* name;
    Output output;
    bool help;
    int status;
    const char* message;
};

TEST(TagsnipCliOutput, AWriteErrorOnStandardOutputIsNeverSuccess) {
    const std::vector<WriteErrorCase> cases = {
        {"full device", Output::deviceFull, false, 1, "No space left on device"},
        {"full device, help", Output::deviceFull, true, 1, "No space left on device"},
        {"closed descriptor", Output::closed, false, 1, "Bad file descriptor"},
        {"closed pipe, SIGPIPE ignored", Output::closedPipeSignalIgnored, false, 1, "Broken pipe"},
        {"closed pipe", Output::closedPipe, false, 128 + SIGPIPE, nullptr},
    };
    for (const WriteErrorCase& row : cases) {
        test::TempDir dir;
        test::makeDirectory(dir / "music");
        const std::string original = id3v2Tag(30) + mpegAudio(3);
        writeFile(dir / "music/a.mp3", original);
        const std::vector<std::string> arguments =
            row.help ? std::vector<std::string>{"--help"}
                     : std::vector<std::string>{"-t2", dir / "music"};
        const Child child = start(arguments, row.output, "", dir / "err");
        EXPECT_EQ(child.wait(), row.status) << row.name;
        const std::string message = readFile(dir / "err");
        if (row.message == nullptr) {
            EXPECT_EQ(message, "") << row.name;
            continue;
        }
        EXPECT_EQ(message,
                  "tagsnip-cli: write error on standard output: " + std::string(row.message) + "\n")
            << row.name;
        // Nothing meant for standard output may land in a file the run opened.
        if (!row.help) {
            EXPECT_EQ(readFile(dir / "music/a.mp3"), mpegAudio(3)) << row.name;
        }
    }
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        result.push_back(line);
    }
    return result;
}

bool anyFileChanged(const test::TempDir& dir, int count, std::size_t originalSize) {
    for (int i = 0; i < count; ++i) {
        struct stat status {};
        const std::string path = dir / ("music/f" + std::to_string(i) + ".mp3");
        if (stat(path.c_str(), &status) == 0 &&
            static_cast<std::size_t>(status.st_size) != originalSize) {
            return true;
        }
    }
    return false;
}

TEST(TagsnipCliOutput, TermAndHangUpStopLikeCtrlCWithEveryRowWhole) {
    constexpr int fileCount = 1500;
    const std::string original = id3v2Tag(30) + mpegAudio(3);
    for (const int signalNumber : {SIGTERM, SIGHUP, SIGINT}) {
        test::TempDir dir;
        test::makeDirectory(dir / "music");
        for (int i = 0; i < fileCount; ++i) {
            writeFile(dir / ("music/f" + std::to_string(i) + ".mp3"), original);
        }
        const Child child =
            start({"-t2", "-l", dir / "music"}, Output::file, dir / "out", dir / "err");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        bool started = false;
        while (!started && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            started = anyFileChanged(dir, fileCount, original.size());
        }
        kill(child.pid, signalNumber);
        ASSERT_TRUE(started) << "the run never changed a file";
        EXPECT_EQ(child.wait(), 128 + signalNumber) << signalNumber;

        const std::string out = readFile(dir / "out");
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back(), '\n');
        std::vector<std::string> rows = lines(out);
        const std::string total = rows.back();
        rows.pop_back();
        // Every file changed on disk has its row, and no row names a file left as it was.
        std::set<std::string> changed;
        for (int i = 0; i < fileCount; ++i) {
            const std::string path = dir / ("music/f" + std::to_string(i) + ".mp3");
            if (readFile(path) != original) {
                EXPECT_EQ(readFile(path), mpegAudio(3));
                changed.insert("-\tX\t" + path);
            }
        }
        EXPECT_EQ(std::set<std::string>(rows.begin(), rows.end()), changed) << signalNumber;
        EXPECT_EQ(rows.size(), changed.size());
        EXPECT_LT(changed.size(), static_cast<std::size_t>(fileCount)) << "stopped early";
        EXPECT_NE(total.find(" id3v2=" + std::to_string(changed.size()) + " "), std::string::npos)
            << total;
        EXPECT_EQ(total.rfind("total mp3=", 0), 0u) << total;
    }
}

}  // namespace
}  // namespace tagsnip::cli
