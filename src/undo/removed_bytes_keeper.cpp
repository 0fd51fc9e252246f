#include "removed_bytes_keeper.h"

#include "engine/messages.h"
#include "engine/path_text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <set>
#include <utility>
#include <vector>

namespace tagsnip::undo {
namespace {

// A tag with large pictures is written out in parts of about this size rather than held whole.
constexpr std::size_t cutBytesWriteSize = 1 << 20;
// Kept bytes written since their writeback last began that make it worth beginning again.
constexpr std::uint64_t writebackStep = 256 * 1024;
// A file's cut bytes from this size on are written at once, so that a full disk refuses that
// file alone; smaller ones wait with the records for one write of many.
constexpr std::size_t writeThroughSize = 64 * 1024;
// What may wait in memory before it is written out.
constexpr std::size_t pendingLimit = 1 << 20;

std::error_code firstError(const std::vector<std::error_code>& errors) {
    for (const std::error_code& error : errors) {
        if (error) {
            return error;
        }
    }
    return {};
}

std::string absolutePath(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    if (path.starts_with('/')) {
        return path;
    }
    std::string directory(4096, '\0');
    while (getcwd(directory.data(), directory.size()) == nullptr && errno == ERANGE) {
        directory.resize(directory.size() * 2);
    }
    directory.resize(directory.find('\0'));
    return withTrailingSlash(directory) + path;
}

using FolderIdentity = std::pair<dev_t, ino_t>;

FolderIdentity identityOf(const FileStatus& status) {
    return {status.device, status.inode};
}

bool outOfDescriptors(std::error_code error) {
    return error == std::errc::too_many_files_open ||
           error == std::errc::too_many_files_open_in_system;
}

// Every folder of the tree the run may enter, by identity, never through a link: a bind mount
// shows the tree's folders under paths outside it, which no path and no ".." can tell. A folder
// the walk cannot open or read it cannot enter either, and reports; running out of descriptors
// leaves the question open, which refuses the keep folder.
std::error_code collectTree(FileSystem& fileSystem, int folderFd, const FileStatus& status,
                            std::set<FolderIdentity>& folders) {
    if (!folders.insert(identityOf(status)).second) {
        return {};
    }
    std::vector<DirectoryEntry> entries;
    if (const auto error = fileSystem.readDirectory(folderFd, entries)) {
        return outOfDescriptors(error) ? error : std::error_code{};
    }
    for (const DirectoryEntry& entry : entries) {
        if (entry.kind != EntryKind::directory) {
            continue;
        }
        FileHandle child(fileSystem);
        FileStatus childStatus;
        const auto error = fileSystem.openSubdirectory(folderFd, entry.name, child.fd, childStatus);
        if (outOfDescriptors(error)) {
            return error;
        }
        if (error) {
            continue;
        }
        if (const auto deeper = collectTree(fileSystem, child.fd, childStatus, folders)) {
            return deeper;
        }
    }
    return {};
}

// Walks up from the keep folder by "..", comparing each folder on the way with the tree's.
std::error_code insideTree(FileSystem& fileSystem, int keepFd, FileStatus status,
                           const std::set<FolderIdentity>& tree, bool& inside) {
    inside = false;
    int current = -1;
    if (const auto error = fileSystem.duplicate(keepFd, current)) {
        return error;
    }
    for (;;) {
        if (tree.contains(identityOf(status))) {
            inside = true;
            break;
        }
        int parent = -1;
        FileStatus parentStatus;
        const auto error = fileSystem.openParent(current, parent, parentStatus);
        fileSystem.close(current);
        current = parent;
        if (error) {
            return error;
        }
        // The root is its own parent.
        if (identityOf(parentStatus) == identityOf(status)) {
            break;
        }
        status = parentStatus;
    }
    fileSystem.close(current);
    return {};
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// Opens the deepest folder of path that exists, and names the ones below it that do not.
std::error_code openDeepestExisting(FileSystem& fileSystem, std::string path, FileHandle& folder,
                                    FileStatus& status, std::vector<std::string>& missing) {
    for (path = withoutTrailingSlashes(path);;) {
        const auto error = fileSystem.openStartDirectory(path, folder.fd, status);
        if (error != std::errc::no_such_file_or_directory) {
            return error;
        }
        const std::size_t slash = path.rfind('/');
        missing.push_back(path.substr(slash == std::string::npos ? 0 : slash + 1));
        path = slash == std::string::npos ? "." : withoutTrailingSlashes(path.substr(0, slash + 1));
    }
}

// As mkdir -p does, but only once the deepest folder that exists is known to lie outside the
// tree, so that a refused keep folder is never made. New folders are private: they hold copies
// of the user's tags. Each parent is flushed once it holds a new folder, so that a crash cannot
// leave the kept bytes unreachable while the files they came from stay stripped.
std::error_code makeKeepDirectory(FileSystem& fileSystem, const std::string& path,
                                  const std::set<FolderIdentity>& tree, bool& inside) {
    FileHandle folder(fileSystem);
    FileStatus status;
    std::vector<std::string> missing;
    if (const auto error = openDeepestExisting(fileSystem, path, folder, status, missing)) {
        return error;
    }
    if (const auto error = insideTree(fileSystem, folder.fd, status, tree, inside);
        error || inside) {
        return error;
    }
    for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
        if (name->empty()) {
            continue;
        }
        if (mkdirat(folder.fd, name->c_str(), 0700) == 0) {
            if (const auto error = fileSystem.syncDirectory(folder.fd)) {
                return error;
            }
        } else if (errno != EEXIST) {
            return {errno, std::generic_category()};
        }
        FileHandle next(fileSystem);
        if (const auto error = fileSystem.openSubdirectory(folder.fd, *name, next.fd, status)) {
            return error;
        }
        std::swap(next.fd, folder.fd);
    }
    return {};
}

// Date and time without colons, which FAT and exFAT sticks do not allow in names.
std::string runFolderName() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char name[32];
    std::strftime(name, sizeof name, "%Y-%m-%d_%H-%M-%S", &local);
    return name;
}

// Two runs in the same second get "-2", "-3", ... rather than sharing a folder.
std::error_code makeRunFolder(int keepFd, std::string& name) {
    const std::string base = runFolderName();
    name = base;
    for (int attempt = 2; attempt < 100; ++attempt) {
        if (mkdirat(keepFd, name.c_str(), 0700) == 0) {
            return {};
        }
        if (errno != EEXIST) {
            return {errno, std::generic_category()};
        }
        name = base + "-" + std::to_string(attempt);
    }
    return std::make_error_code(std::errc::file_exists);
}

std::error_code createFile(FileSystem& fileSystem, int directory, const std::string& name,
                           int& fd) {
    bool named = false;
    if (const auto error = fileSystem.createTemporary(directory, name, 0600, fd, named)) {
        return error;
    }
    return named ? std::error_code{} : fileSystem.linkTemporary(fd, directory, name);
}

}  // namespace

RemovedBytesKeeper::RemovedBytesKeeper(FileSystem& fileSystem, std::string runPath)
    : m_fileSystem(fileSystem), m_runPath(std::move(runPath)) {}

RemovedBytesKeeper::~RemovedBytesKeeper() {
    m_fileSystem.close(m_dataFd);
    m_fileSystem.close(m_manifestFd);
    m_fileSystem.close(m_runFd);
}

std::unique_ptr<RemovedBytesKeeper> RemovedBytesKeeper::open(FileSystem& fileSystem,
                                                             const std::string& keepDirectory,
                                                             const std::string& startDirectory,
                                                             std::string& message) {
    FileHandle start(fileSystem);
    FileStatus startStatus;
    if (const auto error = fileSystem.openStartDirectory(startDirectory, start.fd, startStatus)) {
        message = startDirectory + " - cannot be opened: " + causeText(error);
        return nullptr;
    }
    std::set<FolderIdentity> tree;
    if (const auto error = collectTree(fileSystem, start.fd, startStatus, tree)) {
        message = keepDirectory + " - cannot tell whether it lies inside " + startDirectory + ": " +
                  causeText(error);
        return nullptr;
    }
    bool inside = false;
    if (const auto error = makeKeepDirectory(fileSystem, keepDirectory, tree, inside)) {
        message = keepDirectory + " - cannot keep removed bytes there: " + causeText(error);
        return nullptr;
    }
    FileHandle keep(fileSystem);
    FileStatus keepStatus;
    if (!inside) {
        if (const auto error = fileSystem.openStartDirectory(keepDirectory, keep.fd, keepStatus)) {
            message = keepDirectory + " - cannot keep removed bytes there: " + causeText(error);
            return nullptr;
        }
        // The folder made may not be the one checked when the path climbs back with "..".
        if (const auto error = insideTree(fileSystem, keep.fd, keepStatus, tree, inside)) {
            message = keepDirectory + " - cannot tell whether it lies inside " + startDirectory +
                      ": " + causeText(error);
            return nullptr;
        }
    }
    if (inside) {
        message = keepDirectory + " - lies inside the folder being cleaned, nothing changed!";
        return nullptr;
    }
    std::string runName;
    if (const auto error = makeRunFolder(keep.fd, runName)) {
        message = keepDirectory + " - cannot keep removed bytes there: " + causeText(error);
        return nullptr;
    }
    std::unique_ptr<RemovedBytesKeeper> keeper(
        new RemovedBytesKeeper(fileSystem, withTrailingSlash(keepDirectory) + runName));
    const ManifestHeader header{absolutePath(startDirectory), std::string(keptDataFileName)};
    if (const auto error = keeper->create(keep.fd, runName, header)) {
        message = keeper->runPath() + " - cannot keep removed bytes there: " + causeText(error);
        // Leaves no empty run folder behind for a run that never started.
        (void)fileSystem.removeAt(keeper->m_runFd, std::string(manifestFileName));
        (void)fileSystem.removeAt(keeper->m_runFd, std::string(keptDataFileName));
        (void)unlinkat(keep.fd, runName.c_str(), AT_REMOVEDIR);
        return nullptr;
    }
    return keeper;
}

std::error_code RemovedBytesKeeper::create(int keepFd, const std::string& runName,
                                           const ManifestHeader& header) {
    FileStatus runStatus;
    if (const auto error = m_fileSystem.openSubdirectory(keepFd, runName, m_runFd, runStatus)) {
        return error;
    }
    if (const auto error = createFile(m_fileSystem, m_runFd, header.dataFile, m_dataFd)) {
        return error;
    }
    if (const auto error =
            createFile(m_fileSystem, m_runFd, std::string(manifestFileName), m_manifestFd)) {
        return error;
    }
    const std::string line = headerLine(header);
    if (const auto error = m_fileSystem.write(m_manifestFd, line.data(), line.size(), 0)) {
        return error;
    }
    m_manifestEnd = line.size();
    m_manifestWritten = line.size();
    // The files and the names of both folders, all at once: one commit of the journal.
    std::vector<std::error_code> errors;
    m_fileSystem.syncTogether({m_dataFd, m_manifestFd}, {m_runFd, keepFd}, errors);
    return firstError(errors);
}

std::error_code RemovedBytesKeeper::keepMp3(int fd, const std::string& relativePath,
                                            std::uint64_t size, std::span<const ByteRange> removed,
                                            const RemainingBytesSink& remaining) {
    if (m_broken) {
        return m_broken;
    }
    m_cutBytes.clear();
    const CutBytesSink sink = [&](std::size_t, std::string_view bytes) {
        m_cutBytes.append(bytes);
        return m_cutBytes.size() < cutBytesWriteSize ? std::error_code{} : writeCutBytes();
    };
    FileDigests digests;
    if (const auto error = hashFile(m_fileSystem, fd, size, removed, digests, sink, remaining)) {
        return undoAppend(error);
    }
    if (m_cutBytes.size() >= writeThroughSize) {
        if (const auto error = writeCutBytes()) {
            return undoAppend(error);
        }
    }
    ManifestRecord record{FileKind::mp3, relativePath,      size, digests.whole,
                          size,          digests.remaining, {}};
    std::uint64_t dataOffset = m_dataEnd;
    for (std::size_t i = 0; i < removed.size(); ++i) {
        record.ranges.push_back({removed[i], digests.cut[i], dataOffset});
        dataOffset += removed[i].length;
        record.leftSize -= removed[i].length;
    }
    return append(record, dataOffset);
}

// Writes the cut bytes gathered so far after everything kept before them.
std::error_code RemovedBytesKeeper::writeCutBytes() {
    if (const auto error = writePending()) {
        return error;
    }
    const auto error =
        m_fileSystem.write(m_dataFd, m_cutBytes.data(), m_cutBytes.size(), m_dataWritten);
    m_dataWritten += m_cutBytes.size();
    m_cutBytes.clear();
    return error;
}

std::error_code RemovedBytesKeeper::keepPlaylist(const std::string& relativePath,
                                                 std::string_view original,
                                                 std::string_view cleaned) {
    if (m_broken) {
        return m_broken;
    }
    const Digest originalHash = hashOf(original);
    const ManifestRecord record{FileKind::playlist,
                                relativePath,
                                original.size(),
                                originalHash,
                                cleaned.size(),
                                hashOf(cleaned),
                                {{{0, original.size()}, originalHash, m_dataEnd}}};
    m_cutBytes.assign(original);
    if (const auto error = writeCutBytes()) {
        return undoAppend(error);
    }
    return append(record, m_dataEnd + original.size());
}

// The record, and the cut bytes not written yet, wait in memory for the next write-out.
std::error_code RemovedBytesKeeper::append(const ManifestRecord& record, std::uint64_t dataEnd) {
    const std::string line = recordLine(record);
    // A path too deep for a manifest line a restore will read (the LF aside): the file stays.
    if (line.size() > manifestLineLimit + 1) {
        return undoAppend(std::make_error_code(std::errc::filename_too_long));
    }
    if (!recordProblem(record).empty()) {
        return undoAppend(std::make_error_code(std::errc::invalid_argument));
    }
    m_pendingRecords += line;
    m_pendingData += m_cutBytes;
    m_cutBytes.clear();
    m_manifestEnd += line.size();
    m_dataEnd = dataEnd;
    if (m_pendingData.size() + m_pendingRecords.size() < pendingLimit) {
        return {};
    }
    return writePending();
}

// One write to each file for many kept files. When it fails, what was kept since the last
// write-out is gone: the files go back to their length before it, and writeOut tells the run,
// which must then leave those files unchanged.
std::error_code RemovedBytesKeeper::writePending() {
    // While a large tag is written in parts, what is written runs ahead of what is recorded:
    // with nothing waiting there is nothing to bring level, and doing so would write the next
    // part over the last.
    if (m_pendingData.empty() && m_pendingRecords.empty()) {
        return {};
    }
    std::error_code error;
    if (!m_pendingData.empty()) {
        error =
            m_fileSystem.write(m_dataFd, m_pendingData.data(), m_pendingData.size(), m_dataWritten);
    }
    if (!error && !m_pendingRecords.empty()) {
        error = m_fileSystem.write(m_manifestFd, m_pendingRecords.data(), m_pendingRecords.size(),
                                   m_manifestWritten);
    }
    m_pendingData.clear();
    m_pendingRecords.clear();
    if (error) {
        m_dataEnd = m_dataWritten;
        m_manifestEnd = m_manifestWritten;
        m_lostPending = error;
        return undoAppend(error);
    }
    m_dataWritten = m_dataEnd;
    m_manifestWritten = m_manifestEnd;
    startWritebackWhenDue();
    return {};
}

std::error_code RemovedBytesKeeper::writeOut() {
    if (m_lostPending) {
        return std::exchange(m_lostPending, {});
    }
    if (const auto error = writePending()) {
        m_lostPending.clear();
        return error;
    }
    return checkWritten();
}

// What the manifest's records promise must be in the data file before any file they protect
// changes: a short data file would pass for kept bytes until the restore needs them.
std::error_code RemovedBytesKeeper::checkWritten() {
    FileStatus data;
    if (const auto error = m_fileSystem.statusOf(m_dataFd, data)) {
        return error;
    }
    FileStatus manifest;
    if (const auto error = m_fileSystem.statusOf(m_manifestFd, manifest)) {
        return error;
    }
    if (m_dataWritten != m_dataEnd || data.size < m_dataEnd || manifest.size < m_manifestEnd) {
        m_broken = std::make_error_code(std::errc::io_error);
        return m_broken;
    }
    return {};
}

// The kept bytes go to the disk while the run works on, so that the flush before the batch's
// changes mostly waits for the journal rather than for the data.
void RemovedBytesKeeper::startWritebackWhenDue() {
    if (m_dataWritten - m_writebackStarted < writebackStep) {
        return;
    }
    m_fileSystem.startWriteback(m_dataFd);
    m_writebackStarted = m_dataWritten;
}

// A half-written line would make the rest of the manifest unreadable, and half-kept bytes are
// of no use: both files go back to their length before the append.
std::error_code RemovedBytesKeeper::undoAppend(std::error_code error) {
    m_cutBytes.clear();
    m_dataWritten = std::min(m_dataWritten, m_dataEnd);
    m_manifestWritten = std::min(m_manifestWritten, m_manifestEnd);
    for (const auto& [fd, end] :
         {std::pair{m_dataFd, m_dataWritten}, {m_manifestFd, m_manifestWritten}}) {
        if (const auto truncateError = m_fileSystem.truncate(fd, end); truncateError && !m_broken) {
            m_broken = truncateError;
        }
    }
    return error;
}

// Both flushes are issued at once, so that they wait together for one commit of the journal.
std::error_code RemovedBytesKeeper::flush() {
    if (const auto error = writePending()) {
        return error;
    }
    if (const auto error = checkWritten()) {
        return error;
    }
    std::vector<std::error_code> errors;
    m_fileSystem.syncTogether({m_dataFd, m_manifestFd}, {}, errors);
    return firstError(errors);
}

}  // namespace tagsnip::undo
