#include "replacement_batch.h"

#include "path_text.h"

#include <sys/resource.h>

#include <algorithm>

namespace tagsnip {

struct ReplacementBatch::Pending {
    std::unique_ptr<AtomicReplacement> replacement;
    std::string path;
    const char* tag;
    std::size_t directory;
};

struct ReplacementBatch::Cut {
    int fd;
    std::string path;
    const char* tag;
};

struct ReplacementBatch::Directory {
    dev_t device;
    ino_t inode;
    int fd;
    std::string path;
    bool renamedInto = false;
};

ReplacementBatch::Bounds batchBoundsForDescriptorLimit() {
    ReplacementBatch::Bounds bounds;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        bounds.files = std::clamp<std::size_t>(limit.rlim_cur / 8, 1, bounds.files);
    }
    return bounds;
}

ReplacementBatch::ReplacementBatch(FileSystem& fileSystem, Bounds bounds)
    : m_fileSystem(fileSystem), m_bounds(bounds) {}

ReplacementBatch::~ReplacementBatch() {
    m_pending.clear();
    closeCuts();
    for (const Directory& directory : m_directories) {
        m_fileSystem.close(directory.fd);
    }
}

std::error_code ReplacementBatch::directoryOf(const FileLocation& file, int& fd) {
    const auto same = [&](const Directory& directory) {
        return file.directory != nullptr && directory.device == file.directory->device &&
               directory.inode == file.directory->inode;
    };
    const auto found = std::find_if(m_directories.begin(), m_directories.end(), same);
    if (found != m_directories.end()) {
        fd = found->fd;
        return {};
    }
    if (const auto error = m_fileSystem.duplicate(file.directoryFd, fd)) {
        return error;
    }
    const bool known = file.directory != nullptr;
    m_directories.push_back({known ? file.directory->device : dev_t{},
                             known ? file.directory->inode : ino_t{}, fd,
                             tagsnip::directoryOf(file.path)});
    return {};
}

void ReplacementBatch::add(std::unique_ptr<AtomicReplacement> replacement, int directoryFd,
                           const std::string& path, const char* tag, std::uint64_t bytes) {
    startAgeIfEmpty();
    m_fileSystem.startWriteback(replacement->fd());
    const auto directory = static_cast<std::size_t>(
        std::find_if(m_directories.begin(), m_directories.end(),
                     [&](const Directory& d) { return d.fd == directoryFd; }) -
        m_directories.begin());
    m_pending.push_back({std::move(replacement), path, tag, directory});
    m_bytes += bytes;
}

std::error_code ReplacementBatch::addCut(int fd, const std::string& path, const char* tag) {
    int copy = -1;
    if (m_fileSystem.duplicate(fd, copy)) {
        // Out of descriptors: the cut is made durable on its own rather than not at all.
        return m_fileSystem.sync(fd);
    }
    startAgeIfEmpty();
    m_cuts.push_back({copy, path, tag});
    return {};
}

void ReplacementBatch::hold() {
    startAgeIfEmpty();
    ++m_held;
}

void ReplacementBatch::startAgeIfEmpty() {
    if (m_pending.empty() && m_cuts.empty() && m_held == 0) {
        m_oldest = std::chrono::steady_clock::now();
    }
}

bool ReplacementBatch::due() const {
    const std::size_t files = m_pending.size() + m_cuts.size() + m_held;
    if (files == 0) {
        return false;
    }
    return files >= m_bounds.files || m_bytes >= m_bounds.bytes ||
           std::chrono::steady_clock::now() - m_oldest >= m_bounds.age;
}

// The batch's own files and the prerequisites, all flushed at once: their writeback is already
// under way, so this mostly waits for it, and the journal commits once for all of them. A file
// whose flush failed is named and its replacement abandoned, so its original stays in place.
std::error_code ReplacementBatch::flushAll(const FailureReport& report,
                                           const std::vector<int>& prerequisites) {
    if (m_pending.empty() && m_cuts.empty() && prerequisites.empty()) {
        return {};
    }
    std::vector<int> fds;
    fds.reserve(m_pending.size() + m_cuts.size() + prerequisites.size());
    for (const Pending& pending : m_pending) {
        fds.push_back(pending.replacement->fd());
    }
    for (const Cut& cut : m_cuts) {
        fds.push_back(cut.fd);
    }
    fds.insert(fds.end(), prerequisites.begin(), prerequisites.end());
    std::vector<std::error_code> errors;
    m_fileSystem.syncFiles(fds, errors);
    AtomicReplacement::Failure failure;
    failure.stage = AtomicReplacement::Stage::flush;
    const std::size_t ownFiles = m_pending.size() + m_cuts.size();
    for (std::size_t i = 0; i < ownFiles; ++i) {
        if (!errors[i]) {
            continue;
        }
        failure.error = errors[i];
        if (i < m_pending.size()) {
            report(m_pending[i].path, m_pending[i].tag, failure);
            m_pending[i].replacement.reset();
        } else {
            reportCutNotFlushed(report, m_cuts[i - m_pending.size()], errors[i]);
        }
    }
    closeCuts();
    const auto failed = std::find_if(errors.begin() + static_cast<std::ptrdiff_t>(ownFiles),
                                     errors.end(), [](std::error_code error) { return !!error; });
    return failed == errors.end() ? std::error_code{} : *failed;
}

// The cut is made and stays made: only its durability is in doubt.
void ReplacementBatch::reportCutNotFlushed(const FailureReport& report, const Cut& cut,
                                           std::error_code error) {
    report(cut.path, cut.tag, {AtomicReplacement::Stage::cutFlush, error, {}});
}

void ReplacementBatch::closeCuts() {
    for (const Cut& cut : m_cuts) {
        m_fileSystem.close(cut.fd);
    }
    m_cuts.clear();
}

void ReplacementBatch::installAll(const FailureReport& report) {
    AtomicReplacement::Failure failure;
    for (Pending& pending : m_pending) {
        if (!pending.replacement) {
            continue;
        }
        if (pending.replacement->install(failure)) {
            m_directories[pending.directory].renamedInto = true;
        } else {
            report(pending.path, pending.tag, failure);
        }
    }
    m_pending.clear();
}

// After the renames, in one round: the cuts made since the first and every directory renamed
// into, so that a single commit of the journal makes them last. Until a directory is flushed a
// crash may still bring back the originals' names.
void ReplacementBatch::flushCutsAndDirectories(const FailureReport& report) {
    std::vector<int> fds;
    for (const Cut& cut : m_cuts) {
        fds.push_back(cut.fd);
    }
    std::vector<const Directory*> flushed;
    for (const Directory& directory : m_directories) {
        if (directory.renamedInto) {
            fds.push_back(directory.fd);
            flushed.push_back(&directory);
        }
    }
    std::vector<std::error_code> errors;
    if (!fds.empty()) {
        m_fileSystem.syncEach(fds, errors);
    }
    for (std::size_t i = 0; i < errors.size(); ++i) {
        if (!errors[i]) {
            continue;
        }
        if (i < m_cuts.size()) {
            reportCutNotFlushed(report, m_cuts[i], errors[i]);
        } else {
            report(flushed[i - m_cuts.size()]->path, nullptr,
                   {AtomicReplacement::Stage::flush, errors[i], {}});
        }
    }
    closeCuts();
    for (const Directory& directory : m_directories) {
        m_fileSystem.close(directory.fd);
    }
    m_directories.clear();
}

std::error_code ReplacementBatch::commit(const FailureReport& report,
                                         const std::vector<int>& prerequisites,
                                         const std::function<void()>& afterInstall) {
    if (const auto error = flushAll(report, prerequisites)) {
        return error;
    }
    installAll(report);
    if (afterInstall) {
        afterInstall();
        // A cut that had to become a replacement is flushed and renamed like the others.
        if (!m_pending.empty()) {
            (void)flushAll(report, {});
            installAll(report);
        }
    }
    m_held = 0;
    m_bytes = 0;
    flushCutsAndDirectories(report);
    return {};
}

}  // namespace tagsnip
