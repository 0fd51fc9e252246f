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
    // Apart, so that the replacements that share them keep them where the list grows.
    std::unique_ptr<FolderFacts> facts = std::make_unique<FolderFacts>();
};

// The low default soft limit only protects programs that wait on descriptors with select(),
// which nothing here does.
ReplacementBatch::Bounds batchBoundsRaisingDescriptorLimit() {
    constexpr rlim_t descriptorsPerFile = 8;
    ReplacementBatch::Bounds bounds;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return bounds;
    }
    const rlim_t wanted = bounds.files * descriptorsPerFile;
    if (limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = std::min(wanted, limit.rlim_max);
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    bounds.files = std::clamp<std::size_t>(limit.rlim_cur / descriptorsPerFile, 1, bounds.files);
    return bounds;
}

ReplacementBatch::ReplacementBatch(FileSystem& fileSystem, Bounds bounds)
    : m_fileSystem(fileSystem), m_bounds(bounds) {}

ReplacementBatch::~ReplacementBatch() {
    m_pending.clear();
    std::vector<int> fds;
    release(m_cuts, fds);
    release(m_cutsToSettle, fds);
    release(m_directories, fds);
    release(m_directoriesToSettle, fds);
    fds.insert(fds.end(), m_toClose.begin(), m_toClose.end());
    closeAll(fds);
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

FolderFacts* ReplacementBatch::folderFacts(int directoryFd) {
    const auto found = std::find_if(m_directories.begin(), m_directories.end(),
                                    [&](const Directory& d) { return d.fd == directoryFd; });
    return found == m_directories.end() ? nullptr : found->facts.get();
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

void ReplacementBatch::addCut(int fd, const std::string& path, const char* tag) {
    startAgeIfEmpty();
    m_cuts.push_back({fd, path, tag});
}

void ReplacementBatch::closeLater(int fd) {
    constexpr std::size_t closedTogether = 64;
    m_toClose.push_back(fd);
    if (m_toClose.size() >= closedTogether) {
        closeAll(m_toClose);
        m_toClose.clear();
    }
}

void ReplacementBatch::hold() {
    startAgeIfEmpty();
    ++m_held;
}

void ReplacementBatch::installedInto(int directoryFd) {
    startAgeIfEmpty();
    ++m_installedAlone;
    for (Directory& directory : m_directories) {
        directory.renamedInto = directory.renamedInto || directory.fd == directoryFd;
    }
}

void ReplacementBatch::startAgeIfEmpty() {
    if (m_pending.empty() && m_cuts.empty() && m_held == 0 && m_installedAlone == 0) {
        m_oldest = std::chrono::steady_clock::now();
    }
}

bool ReplacementBatch::due() const {
    const std::size_t files = m_pending.size() + m_cuts.size() + m_held + m_installedAlone;
    if (files == 0) {
        return false;
    }
    return files >= m_bounds.files || m_bytes >= m_bounds.bytes ||
           std::chrono::steady_clock::now() - m_oldest >= m_bounds.age;
}

// The batch's own files, the prerequisites and what the last commit left, all flushed at once:
// their writeback is already under way, so this mostly waits for it, and the journal commits
// once for all of them. A file whose flush failed is named and its replacement abandoned, so its
// original stays in place.
std::error_code ReplacementBatch::flushAll(const FailureReport& report,
                                           const std::vector<int>& prerequisites) {
    std::vector<int> files;
    for (const Pending& pending : m_pending) {
        files.push_back(pending.replacement->fd());
    }
    for (const std::vector<Cut>* cuts : {&m_cuts, &m_cutsToSettle}) {
        for (const Cut& cut : *cuts) {
            files.push_back(cut.fd);
        }
    }
    files.insert(files.end(), prerequisites.begin(), prerequisites.end());
    std::vector<int> directories;
    for (const Directory& directory : m_directoriesToSettle) {
        directories.push_back(directory.fd);
    }
    if (files.empty() && directories.empty()) {
        return {};
    }
    std::vector<std::error_code> errors;
    m_fileSystem.syncTogether(files, directories, errors);
    auto error = errors.begin();
    for (Pending& pending : m_pending) {
        if (const std::error_code failed = *error++) {
            report(pending.path, pending.tag, {AtomicReplacement::Stage::flush, failed, {}});
            pending.replacement.reset();
        }
    }
    std::vector<int> flushed;
    for (std::vector<Cut>* cuts : {&m_cuts, &m_cutsToSettle}) {
        for (const Cut& cut : *cuts) {
            if (const std::error_code failed = *error++) {
                reportCutNotFlushed(report, cut, failed);
            }
        }
        release(*cuts, flushed);
    }
    const auto prerequisiteErrors = error;
    error += static_cast<std::ptrdiff_t>(prerequisites.size());
    const auto prerequisitesEnd = error;
    for (const Directory& directory : m_directoriesToSettle) {
        if (const std::error_code failed = *error++) {
            report(directory.path, nullptr, {AtomicReplacement::Stage::flush, failed, {}});
        }
    }
    release(m_directoriesToSettle, flushed);
    flushed.insert(flushed.end(), m_toClose.begin(), m_toClose.end());
    m_toClose.clear();
    closeAll(flushed);
    const auto failedPrerequisite =
        std::find_if(prerequisiteErrors, prerequisitesEnd, [](std::error_code e) { return !!e; });
    return failedPrerequisite == prerequisitesEnd ? std::error_code{} : *failedPrerequisite;
}

// The cut is made and stays made: only its durability is in doubt.
void ReplacementBatch::reportCutNotFlushed(const FailureReport& report, const Cut& cut,
                                           std::error_code error) {
    report(cut.path, cut.tag, {AtomicReplacement::Stage::cutFlush, error, {}});
}

// A folder that its replacements took as known, asked again: one locked now would refuse the
// renames and keep their copies, one whose flags or attributes changed may have given their new
// files others than they were given. Either way the originals stay.
std::error_code ReplacementBatch::changeSinceTaken(const Directory& directory) {
    const FolderFacts& facts = *directory.facts;
    if (!facts.flagsKnown) {
        return {};
    }
    unsigned flags = 0;
    if (m_fileSystem.inodeFlags(directory.fd, flags) || flags != facts.flags) {
        return forbidsChange(flags) ? std::make_error_code(std::errc::operation_not_permitted)
                                    : std::error_code(EngineError::changedMeanwhile);
    }
    std::vector<std::string> names;
    if (facts.newFileAttributesKnown &&
        (m_fileSystem.listExtendedAttributes(directory.fd, names) || !names.empty())) {
        return EngineError::changedMeanwhile;
    }
    return {};
}

void ReplacementBatch::closeAll(const std::vector<int>& fds) {
    if (!fds.empty()) {
        m_fileSystem.closeTogether(fds);
    }
}

void ReplacementBatch::release(std::vector<Cut>& cuts, std::vector<int>& fds) {
    for (const Cut& cut : cuts) {
        fds.push_back(cut.fd);
    }
    cuts.clear();
}

void ReplacementBatch::release(std::vector<Directory>& directories, std::vector<int>& fds) {
    for (const Directory& directory : directories) {
        fds.push_back(directory.fd);
    }
    directories.clear();
}

// The originals' descriptors stay open, and their leases held, a moment past their renames: all
// are closed at once after the last.
void ReplacementBatch::installAll(const FailureReport& report) {
    std::vector<std::error_code> changes;
    for (const Directory& directory : m_directories) {
        changes.push_back(changeSinceTaken(directory));
    }
    AtomicReplacement::Failure failure;
    std::vector<int> installed;
    for (Pending& pending : m_pending) {
        if (!pending.replacement) {
            continue;
        }
        if (const std::error_code change = changes[pending.directory]) {
            const bool locked = change == std::errc::operation_not_permitted;
            using enum AtomicReplacement::Stage;
            report(pending.path, pending.tag, {locked ? folderLocked : changed, change, {}});
            continue;
        }
        if (pending.replacement->install(failure, &installed)) {
            m_directories[pending.directory].renamedInto = true;
        } else {
            report(pending.path, pending.tag, failure);
        }
    }
    m_pending.clear();
    closeAll(installed);
}

// The next batch starts empty. Until a directory is flushed a crash may still bring back the
// originals' names; what the cuts removed may come back too. Neither is worth a commit of the
// journal of its own, so both are left to the next flush.
void ReplacementBatch::endBatch() {
    m_held = 0;
    m_installedAlone = 0;
    m_bytes = 0;
    m_cutsToSettle.insert(m_cutsToSettle.end(), m_cuts.begin(), m_cuts.end());
    m_cuts.clear();
    std::vector<int> unused;
    for (Directory& directory : m_directories) {
        if (directory.renamedInto) {
            m_directoriesToSettle.push_back(std::move(directory));
        } else {
            unused.push_back(directory.fd);
        }
    }
    m_directories.clear();
    closeAll(unused);
}

void ReplacementBatch::abandon() {
    m_pending.clear();
    endBatch();
}

void ReplacementBatch::settle(const FailureReport& report) {
    (void)flushAll(report, {});
    closeAll(m_toClose);
    m_toClose.clear();
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
    endBatch();
    return {};
}

}  // namespace tagsnip
