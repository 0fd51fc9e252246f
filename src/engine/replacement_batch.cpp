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
    if (m_pending.empty()) {
        m_oldest = std::chrono::steady_clock::now();
    }
    m_fileSystem.startWriteback(replacement->fd());
    const auto directory = static_cast<std::size_t>(
        std::find_if(m_directories.begin(), m_directories.end(),
                     [&](const Directory& d) { return d.fd == directoryFd; }) -
        m_directories.begin());
    m_pending.push_back({std::move(replacement), path, tag, directory});
    m_bytes += bytes;
}

bool ReplacementBatch::due() const {
    if (m_pending.empty()) {
        return false;
    }
    return m_pending.size() >= m_bounds.files || m_bytes >= m_bounds.bytes ||
           std::chrono::steady_clock::now() - m_oldest >= m_bounds.age;
}

// One flush of each file system the batch wrote to: every file's writeback is already under way,
// so this mostly waits for it, and the journal commits once for all of them. Should it fail, each
// file is flushed on its own, so that the error names the files it hit.
void ReplacementBatch::flushAll(const FailureReport& report) {
    std::vector<dev_t> flushed;
    for (const Pending& pending : m_pending) {
        const dev_t device = pending.replacement->original().device;
        if (std::find(flushed.begin(), flushed.end(), device) != flushed.end()) {
            continue;
        }
        flushed.push_back(device);
        if (!m_fileSystem.syncFileSystem(pending.replacement->fd())) {
            continue;
        }
        AtomicReplacement::Failure failure;
        for (Pending& each : m_pending) {
            if (each.replacement && each.replacement->original().device == device &&
                !each.replacement->flush(failure)) {
                report(each.path, each.tag, failure);
                each.replacement.reset();
            }
        }
    }
}

void ReplacementBatch::commit(const FailureReport& report) {
    flushAll(report);
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
    m_bytes = 0;
    for (const Directory& directory : m_directories) {
        // Until the directory is flushed a crash may still bring back the originals' names.
        if (directory.renamedInto) {
            if (const auto error = m_fileSystem.syncDirectory(directory.fd)) {
                failure.stage = AtomicReplacement::Stage::flush;
                failure.error = error;
                report(directory.path, nullptr, failure);
            }
        }
        m_fileSystem.close(directory.fd);
    }
    m_directories.clear();
}

}  // namespace tagsnip
