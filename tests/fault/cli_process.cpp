#include "cli_process.h"

#include "support/temp_dir.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <sstream>
#include <stdexcept>

namespace tagsnip::fault {
namespace {

int openOutput(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        throw std::runtime_error("cannot create " + path);
    }
    return fd;
}

std::string uniqueSuffix() {
    static std::atomic<int> counter{0};
    return std::to_string(getpid()) + "-" + std::to_string(counter++);
}

}  // namespace

bool runningAsRoot() {
    return geteuid() == 0;
}

Identity unprivilegedIdentity() {
    if (!runningAsRoot()) {
        return {getuid(), getgid()};
    }
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) {
        return {65534, 65534};
    }
    return {nobody->pw_uid, nobody->pw_gid};
}

CliProcess::CliProcess(const std::vector<std::string>& arguments,
                       const std::string& outputDirectory, std::optional<Identity> identity,
                       std::optional<rlim_t> descriptorLimit,
                       const std::vector<std::string>& wrapper) {
    const std::string suffix = uniqueSuffix();
    m_outPath = outputDirectory + "cli-" + suffix + ".out";
    m_errPath = outputDirectory + "cli-" + suffix + ".err";
    const int outFd = openOutput(m_outPath);
    const int errFd = openOutput(m_errPath);

    std::vector<std::string> argv = wrapper;
    argv.emplace_back(TAGSNIP_CLI);
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> pointers;
    for (auto& argument : argv) {
        pointers.push_back(argument.data());
    }
    pointers.push_back(nullptr);

    m_pid = fork();
    if (m_pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        dup2(outFd, STDOUT_FILENO);
        dup2(errFd, STDERR_FILENO);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        if (identity && (setgroups(0, nullptr) != 0 ||
                         setresgid(identity->group, identity->group, identity->group) != 0 ||
                         setresuid(identity->user, identity->user, identity->user) != 0)) {
            _exit(127);
        }
        if (descriptorLimit) {
            const rlimit limit{*descriptorLimit, *descriptorLimit};
            if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
                _exit(127);
            }
        }
        execv(pointers[0], pointers.data());
        _exit(127);
    }
    close(outFd);
    close(errFd);
    if (m_pid < 0) {
        throw std::runtime_error("fork failed");
    }
}

CliProcess::~CliProcess() {
    if (m_status < 0 && m_pid > 0) {
        kill();
        wait();
    }
}

void CliProcess::kill() {
    signal(SIGKILL);
}

void CliProcess::signal(int number) {
    if (m_status < 0) {
        ::kill(m_pid, number);
    }
}

namespace {

int waitFor(pid_t pid, int options) {
    int status = 0;
    while (waitpid(pid, &status, options) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("waitpid failed");
        }
    }
    return status;
}

}  // namespace

int CliProcess::wait() {
    if (m_status < 0) {
        ended(waitFor(m_pid, 0));
    }
    return m_status;
}

bool CliProcess::waitStopped() {
    if (m_status >= 0) {
        return false;
    }
    const int status = waitFor(m_pid, WUNTRACED);
    if (WIFSTOPPED(status)) {
        return true;
    }
    ended(status);
    return false;
}

void CliProcess::ended(int status) {
    m_exited = WIFEXITED(status);
    m_status = m_exited ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string CliProcess::out() const {
    return test::readFile(m_outPath);
}
std::string CliProcess::err() const {
    return test::readFile(m_errPath);
}

CliResult runCli(const std::vector<std::string>& arguments, const std::string& outputDirectory,
                 std::optional<Identity> identity, std::optional<rlim_t> descriptorLimit,
                 const std::vector<std::string>& wrapper) {
    CliProcess process(arguments, outputDirectory, identity, descriptorLimit, wrapper);
    const int exitCode = process.wait();
    return {exitCode, process.out(), process.err()};
}

int linesContaining(const std::string& text, const std::vector<std::string>& parts) {
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
        bool all = true;
        for (const auto& part : parts) {
            all = all && line.find(part) != std::string::npos;
        }
        count += all ? 1 : 0;
    }
    return count;
}

}  // namespace tagsnip::fault
