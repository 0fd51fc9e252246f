#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tagsnip::fault {

// An unprivileged identity for the child, so that permission checks bite even when the tests run
// as root (where they would otherwise pass through every mode bit).
struct Identity {
    uid_t user;
    gid_t group;
};

// The identity the permission tests run tagsnip-cli under: "nobody" when we are root, ourselves
// otherwise.
Identity unprivilegedIdentity();
bool runningAsRoot();

// tagsnip-cli started in the background with its output going to files, so that the test can
// kill it at any moment without a pipe to drain.
class CliProcess {
public:
    // descriptorLimit caps the child's open files (RLIMIT_NOFILE), for walks that must not hold
    // one descriptor per level; wrapper, a program given by its path and its arguments, runs
    // tagsnip-cli (a tracer that stops it at a chosen call).
    CliProcess(const std::vector<std::string>& arguments, const std::string& outputDirectory,
               std::optional<Identity> identity = std::nullopt,
               std::optional<rlim_t> descriptorLimit = std::nullopt,
               const std::vector<std::string>& wrapper = {});
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    void kill();
    void signal(int number);
    // The exit status, 128 + signal number for a killed child.
    int wait();
    // Whether the child stopped; false once it ended instead.
    bool waitStopped();
    // Whether the child ended by exiting rather than being killed.
    bool exited() const { return m_exited; }
    std::string out() const;
    std::string err() const;

private:
    void ended(int status);

    pid_t m_pid = -1;
    int m_status = -1;
    bool m_exited = false;
    std::string m_outPath;
    std::string m_errPath;
};

struct CliResult {
    int exitCode;
    std::string out;
    std::string err;
};

CliResult runCli(const std::vector<std::string>& arguments, const std::string& outputDirectory,
                 std::optional<Identity> identity = std::nullopt,
                 std::optional<rlim_t> descriptorLimit = std::nullopt,
                 const std::vector<std::string>& wrapper = {});

// Number of lines of text that contain every one of parts.
int linesContaining(const std::string& text, const std::vector<std::string>& parts);

}  // namespace tagsnip::fault
