#include "data_flush.h"

#include <liburing.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tagsnip {
namespace {

// Above the largest batch with its folders and prerequisites, so that a batch's flush is one
// submission.
constexpr unsigned ringEntries = 1024;

enum class Operation { dataSync, fullSync, close };

struct FlushTarget {
    int fd;
    Operation operation;
};

// The one ring of the process, set up at the first flush. The engine is single-threaded, so it
// is never shared between two flushes at once.
class FlushRing {
public:
    FlushRing() { m_usable = io_uring_queue_init(ringEntries, &m_ring, 0) == 0; }
    ~FlushRing() {
        if (m_usable) {
            io_uring_queue_exit(&m_ring);
        }
    }
    FlushRing(const FlushRing&) = delete;
    FlushRing& operator=(const FlushRing&) = delete;

    bool usable() const { return m_usable; }
    // Runs the operations of targets[begin, end), at most ringEntries of them; those that got
    // no completion keep done[i] false. A ring that fails to submit is given up for the rest of
    // the run.
    void run(const std::vector<FlushTarget>& targets, std::size_t begin, std::size_t end,
             std::vector<std::error_code>& errors, std::vector<bool>& done);

private:
    unsigned submit(unsigned wanted);
    void giveUp() {
        io_uring_queue_exit(&m_ring);
        m_usable = false;
    }

    io_uring m_ring{};
    bool m_usable = false;
};

unsigned FlushRing::submit(unsigned wanted) {
    unsigned submitted = 0;
    while (submitted < wanted) {
        const int result = io_uring_submit(&m_ring);
        if (result == -EINTR) {
            continue;
        }
        if (result <= 0) {
            break;
        }
        submitted += static_cast<unsigned>(result);
    }
    return submitted;
}

void FlushRing::run(const std::vector<FlushTarget>& targets, std::size_t begin, std::size_t end,
                    std::vector<std::error_code>& errors, std::vector<bool>& done) {
    for (std::size_t i = begin; i < end; ++i) {
        io_uring_sqe* entry = io_uring_get_sqe(&m_ring);
        const FlushTarget& target = targets[i];
        if (target.operation == Operation::close) {
            io_uring_prep_close(entry, target.fd);
        } else {
            io_uring_prep_fsync(
                entry, target.fd,
                target.operation == Operation::dataSync ? IORING_FSYNC_DATASYNC : 0);
        }
        io_uring_sqe_set_data64(entry, i);
    }
    const auto wanted = static_cast<unsigned>(end - begin);
    const unsigned submitted = submit(wanted);
    unsigned completed = 0;
    while (completed < submitted) {
        // One wait for all that are still out, not one for each.
        io_uring_cqe* completion = nullptr;
        const int result = io_uring_wait_cqe_nr(&m_ring, &completion, submitted - completed);
        if (result == -EINTR) {
            continue;
        }
        if (result < 0) {
            break;
        }
        unsigned head = 0;
        unsigned seen = 0;
        io_uring_for_each_cqe(&m_ring, head, completion) {
            const auto i = static_cast<std::size_t>(io_uring_cqe_get_data64(completion));
            if (completion->res < 0) {
                errors[i] = {-completion->res, std::generic_category()};
            }
            done[i] = true;
            ++seen;
        }
        io_uring_cq_advance(&m_ring, seen);
        completed += seen;
    }
    // Entries left unsubmitted or uncompleted must not surface in a later flush.
    if (completed < wanted) {
        giveUp();
    }
}

std::error_code flushOne(FlushTarget target) {
    const int result =
        target.operation == Operation::dataSync ? fdatasync(target.fd) : fsync(target.fd);
    return result == 0 ? std::error_code{} : std::error_code{errno, std::generic_category()};
}

FlushRing& theRing() {
    static FlushRing ring;
    return ring;
}

void runOnRing(const std::vector<FlushTarget>& targets, std::vector<std::error_code>& errors,
               std::vector<bool>& done) {
    FlushRing& ring = theRing();
    errors.assign(targets.size(), {});
    done.assign(targets.size(), false);
    for (std::size_t begin = 0; begin < targets.size() && ring.usable(); begin += ringEntries) {
        ring.run(targets, begin, std::min(targets.size(), begin + ringEntries), errors, done);
    }
}

}  // namespace

void flushTogether(const std::vector<int>& files, const std::vector<int>& directories,
                   std::vector<std::error_code>& errors) {
    std::vector<FlushTarget> targets;
    targets.reserve(files.size() + directories.size());
    for (const int fd : files) {
        targets.push_back({fd, Operation::dataSync});
    }
    for (const int fd : directories) {
        targets.push_back({fd, Operation::fullSync});
    }
    std::vector<bool> done;
    runOnRing(targets, errors, done);
    // Never a skipped flush: whatever the ring did not complete is flushed here.
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (!done[i]) {
            errors[i] = flushOne(targets[i]);
        }
    }
}

void closeTogether(const std::vector<int>& fds) {
    std::vector<FlushTarget> targets;
    targets.reserve(fds.size());
    for (const int fd : fds) {
        targets.push_back({fd, Operation::close});
    }
    std::vector<std::error_code> errors;
    std::vector<bool> done;
    runOnRing(targets, errors, done);
    // A kernel without closing through the ring refuses the operation as invalid.
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (!done[i] || errors[i] == std::errc::invalid_argument) {
            ::close(targets[i].fd);
        }
    }
}

}  // namespace tagsnip
