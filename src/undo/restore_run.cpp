#include "restore_run.h"

#include "content_hash.h"
#include "manifest.h"

#include "engine/atomic_replacement.h"
#include "engine/leftovers.h"
#include "engine/messages.h"
#include "engine/path_text.h"
#include "engine/replacement_batch.h"
#include "engine/temporary_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <set>
#include <utility>

namespace tagsnip::undo {
namespace {

// What the batch names a queued file's failure with; a folder's failure comes without it.
constexpr const char* restoredTag = "restored";

RestoreResult outcome(std::string path, RestoreOutcome outcome, std::string message = {}) {
    return {std::move(path), outcome, std::move(message)};
}

// An error while finding the file: gone, or its place taken by something that is not a plain
// file or folder, or unreadable.
RestoreResult lookupFailure(std::string path, std::error_code error) {
    if (error == std::errc::no_such_file_or_directory) {
        return outcome(std::move(path), RestoreOutcome::missing, "not found");
    }
    const bool replaced = error == std::errc::too_many_symbolic_link_levels ||
                          error == std::errc::not_a_directory ||
                          error == std::errc::invalid_argument;
    if (replaced) {
        return outcome(std::move(path), RestoreOutcome::changed,
                       "no longer a regular file, left alone");
    }
    return outcome(std::move(path), RestoreOutcome::failed, causeText(error));
}

RestoreResult replacementFailure(std::string path, const AtomicReplacement::Failure& failure) {
    if (failure.stage == AtomicReplacement::Stage::changed) {
        return outcome(std::move(path), RestoreOutcome::changed,
                       "changed by another program meanwhile, left alone");
    }
    std::string refusal = refusalText(path, failure);
    if (refusal.empty()) {
        refusal = causeText(failure.error) + ", left alone";
    }
    // The run's text names the file, which the restore's report puts before the message already.
    const std::string named = path + " - ";
    if (refusal.starts_with(named)) {
        refusal.erase(0, named.size());
    }
    return outcome(std::move(path), RestoreOutcome::failed, std::move(refusal));
}

// The restored files waiting in the batch, each counted as restored until the batch's commit
// tells otherwise: the outcome of a queued file is known only once it is renamed and its folder
// flushed.
class RestoreQueue {
public:
    RestoreQueue(FileSystem& fileSystem, std::vector<RestoreResult>& results)
        : m_batch(fileSystem, batchBoundsRaisingDescriptorLimit()), m_results(results) {}

    ReplacementBatch& batch() { return m_batch; }

    // A second replacement of a path still queued would be refused as changed meanwhile at the
    // rename; the first must be in place before the file is looked at again.
    bool holds(const std::string& path) const {
        return std::any_of(m_queued.begin(), m_queued.end(),
                           [&](std::size_t index) { return m_results[index].path == path; });
    }

    // The result at index belongs to the replacement queued last.
    void queued(std::size_t index) {
        m_queued.push_back(index);
        if (m_batch.due()) {
            commit();
        }
    }

    // Without prerequisites to flush, the commit itself has no error to give: each file's comes
    // through the report. Each batch's folders are flushed before its outcomes are settled,
    // rather than with the next batch's files: a restore is rare enough to pay a commit of the
    // journal for that.
    void commit() {
        const auto report = [this](const std::string& path, const char* tag,
                                   const AtomicReplacement::Failure& failure) {
            if (tag == nullptr) {
                folderFailed(path, failure.error);
            } else {
                fileFailed(path, failure);
            }
        };
        (void)m_batch.commit(report);
        m_batch.settle(report);
        m_queued.clear();
    }

private:
    void fileFailed(const std::string& path, const AtomicReplacement::Failure& failure) {
        for (const std::size_t index : m_queued) {
            RestoreResult& result = m_results[index];
            if (result.path == path) {
                RestoreResult failed = replacementFailure(path, failure);
                result.outcome = failed.outcome;
                result.message = std::move(failed.message);
                return;
            }
        }
    }

    // Every file renamed into the folder may still come back stripped after a crash.
    void folderFailed(const std::string& folder, std::error_code error) {
        for (const std::size_t index : m_queued) {
            RestoreResult& result = m_results[index];
            if (result.outcome == RestoreOutcome::restored && directoryOf(result.path) == folder) {
                result.outcome = RestoreOutcome::failed;
                result.message = "restored, but its folder could not be flushed: ";
                result.message += causeText(error);
            }
        }
    }

    ReplacementBatch m_batch;
    std::vector<RestoreResult>& m_results;
    std::vector<std::size_t> m_queued;
};

// A restore cleans each folder it reaches of killed runs' leftovers once, as a run's walk does.
class FolderSweep {
public:
    FolderSweep(FileSystem& fileSystem, std::vector<std::string>& notices)
        : m_fileSystem(fileSystem), m_notices(notices) {}

    void reach(int directory, const FileStatus& status, const std::string& path) {
        if (!m_swept.emplace(status.device, status.inode).second) {
            return;
        }
        // A folder that cannot be listed is reported by the lookup of its record, if at all.
        std::vector<DirectoryEntry> entries;
        if (m_fileSystem.readDirectory(directory, entries)) {
            return;
        }
        for (std::string& text : removeLeftoversIn(m_fileSystem, directory, entries, path)) {
            m_notices.push_back(std::move(text));
        }
    }

private:
    FileSystem& m_fileSystem;
    std::vector<std::string>& m_notices;
    std::set<std::pair<dev_t, ino_t>> m_swept;
};

class RecordRestore {
public:
    RecordRestore(FileSystem& fileSystem, int startFd, const FileStatus& start, int dataFd,
                  const FileStatus& data, const ManifestRecord& record, std::string path,
                  RestoreQueue& queue, FolderSweep& sweep)
        : m_fileSystem(fileSystem),
          m_startFd(startFd),
          m_dataFd(dataFd),
          m_data(data),
          m_record(record),
          m_path(std::move(path)),
          m_queue(queue),
          m_sweep(sweep),
          m_directory(fileSystem),
          m_directoryStatus(start),
          m_file(fileSystem) {}

    RestoreResult run() {
        if (const auto error = openFile()) {
            return lookupFailure(m_path, error);
        }
        Digest now;
        const bool asLeft = m_status.size == m_record.leftSize;
        const bool asOriginal = m_status.size == m_record.originalSize;
        if (asLeft || asOriginal) {
            if (const auto error = hashFile(m_fileSystem, m_file.fd, m_status.size, now)) {
                return fail(causeText(error));
            }
        }
        if (asLeft && now == m_record.leftHash) {
            return rebuild();
        }
        if (asOriginal && now == m_record.originalHash) {
            return outcome(m_path, RestoreOutcome::alreadyOriginal);
        }
        return outcome(m_path, RestoreOutcome::changed, "changed since the run, left alone");
    }

    // Whether the restored file waits in the queue's batch for its flush and rename.
    bool queued() const { return m_queued; }

private:
    // Folder by folder from the start directory, never following a link.
    std::error_code openFile() {
        std::string_view rest = m_record.path;
        int directory = m_startFd;
        for (std::size_t slash = rest.find('/'); slash != std::string_view::npos;
             slash = rest.find('/')) {
            FileHandle next(m_fileSystem);
            const std::string name(rest.substr(0, slash));
            if (const auto error =
                    m_fileSystem.openSubdirectory(directory, name, next.fd, m_directoryStatus)) {
                return error;
            }
            std::swap(next.fd, m_directory.fd);
            directory = m_directory.fd;
            rest.remove_prefix(slash + 1);
        }
        m_name = rest;
        m_directoryFd = directory;
        m_sweep.reach(directory, m_directoryStatus, directoryOf(m_path));
        // A device or a FIFO put in the file's place is never opened, not even for a look.
        FileStatus seen;
        if (const auto error = m_fileSystem.statusAt(directory, m_name, seen)) {
            return error;
        }
        if (seen.kind != EntryKind::regular) {
            return std::make_error_code(std::errc::invalid_argument);
        }
        return m_fileSystem.openAt(directory, m_name, false, m_file.fd, m_status);
    }

    RestoreResult fail(std::string message) {
        return outcome(m_path, RestoreOutcome::failed, std::move(message));
    }

    RestoreResult rebuild() {
        for (const auto& kept : m_record.ranges) {
            // A forged offset must not wrap around into the data file.
            if (kept.range.length > m_data.size ||
                kept.dataOffset > m_data.size - kept.range.length) {
                return fail("kept bytes missing from the data file, left alone");
            }
        }
        AtomicReplacement::Failure failure;
        // As a run does: a program writing the file keeps it, and one that opens it for writing
        // before the rename makes the restore give way.
        const std::error_code lease = m_fileSystem.takeLease(m_file.fd, LeaseKind::read);
        if (lease == std::errc::resource_unavailable_try_again) {
            failure.stage = AtomicReplacement::Stage::inUse;
            failure.error = EngineError::inUse;
            return replacementFailure(m_path, failure);
        }
        // The batch's descriptor of the folder outlives this record, until the rename.
        int directoryFd = -1;
        const FileLocation location{m_directoryFd, m_name, m_path, &m_directoryStatus};
        if (const auto error = m_queue.batch().directoryOf(location, directoryFd)) {
            return fail(causeText(error) + ", left alone");
        }
        const char* temporaryName =
            m_record.kind == FileKind::mp3 ? id3TemporaryName : playlistTemporaryName;
        auto replacement = std::make_unique<AtomicReplacement>(m_fileSystem, directoryFd, m_name,
                                                               temporaryName, m_file.fd, m_status);
        if (!lease) {
            replacement->guardWithLease();
        }
        if (!replacement->create(failure)) {
            return replacementFailure(m_path, failure);
        }
        if (auto refused = writeChecked(replacement->fd())) {
            return fail(std::move(*refused));
        }
        if (!replacement->finish(failure)) {
            return replacementFailure(m_path, failure);
        }
        if (replacement->named()) {
            return installNow(*replacement);
        }
        // The original stays open, and its lease held, until the replacement is installed.
        replacement->keepOriginalOpen();
        m_file.fd = -1;
        m_queue.batch().add(std::move(replacement), directoryFd, m_path, restoredTag,
                            m_record.originalSize);
        m_queued = true;
        return outcome(m_path, RestoreOutcome::restored);
    }

    // The original rebuilt into to and checked against its hash; why not, when it is not.
    std::optional<std::string> writeChecked(int to) {
        if (const auto error = writeOriginal(to)) {
            return causeText(error) + ", left alone";
        }
        Digest rebuilt;
        if (const auto error = hashFile(m_fileSystem, to, m_record.originalSize, rebuilt)) {
            return causeText(error) + ", left alone";
        }
        if (rebuilt != m_record.originalHash) {
            return "kept bytes do not rebuild the original, left alone";
        }
        return std::nullopt;
    }

    // A file system without unnamed files gave the new content a name already: it is not left
    // lying beside the original until the batch commits.
    RestoreResult installNow(AtomicReplacement& replacement) {
        AtomicReplacement::Failure failure;
        if (!replacement.flush(failure) || !replacement.install(failure)) {
            return replacementFailure(m_path, failure);
        }
        if (const auto error = m_fileSystem.syncDirectory(m_directoryFd)) {
            return fail("restored, but its folder could not be flushed: " + causeText(error));
        }
        return outcome(m_path, RestoreOutcome::restored);
    }

    // The kept ranges at their offsets, the file's present bytes in the gaps between them.
    std::error_code writeOriginal(int to) {
        std::uint64_t from = 0;
        std::uint64_t at = 0;
        for (const auto& kept : m_record.ranges) {
            const std::uint64_t gap = kept.range.offset - at;
            if (const auto error = copy(m_file.fd, from, gap, to, at)) {
                return error;
            }
            from += gap;
            at += gap;
            if (const auto error = copy(m_dataFd, kept.dataOffset, kept.range.length, to, at)) {
                return error;
            }
            at += kept.range.length;
        }
        return copy(m_file.fd, from, m_record.originalSize - at, to, at);
    }

    std::error_code copy(int from, std::uint64_t offset, std::uint64_t length, int to,
                         std::uint64_t toOffset) {
        return length == 0 ? std::error_code{}
                           : m_fileSystem.copyRange(from, offset, length, to, toOffset);
    }

    FileSystem& m_fileSystem;
    int m_startFd;
    int m_dataFd;
    const FileStatus& m_data;
    const ManifestRecord& m_record;
    std::string m_path;
    RestoreQueue& m_queue;
    FolderSweep& m_sweep;
    FileHandle m_directory;
    FileStatus m_directoryStatus;
    FileHandle m_file;
    int m_directoryFd = -1;
    std::string m_name;
    FileStatus m_status;
    bool m_queued = false;
};

std::string ownedByAnotherText(uid_t owner) {
    return "owned by another user (uid " + std::to_string(owner) + ")";
}

// As sudo, ssh and git trust their files: what another user or a group could have written must
// not choose which files a restore rewrites, nor with what bytes.
std::string distrust(const FileStatus& status, uid_t user) {
    const char* const untrusted = ", not trusted for a restore";
    if (status.owner != user && status.owner != 0) {
        return ownedByAnotherText(status.owner) + untrusted;
    }
    if ((status.mode & S_IWOTH) != 0) {
        return std::string("writable by other users") + untrusted;
    }
    if ((status.mode & S_IWGRP) != 0) {
        return std::string("writable by its group") + untrusted;
    }
    // Another name could make someone else's file pass for ours, or change it behind our check.
    if (status.kind == EntryKind::regular && status.links != 1) {
        return "has " + std::to_string(status.links) + " names (hard links)" + untrusted;
    }
    return {};
}

// A run folder that no other user could have written, with its manifest and data file open and
// the manifest read through once: all that a restore checks before it touches any file.
class RunFolder {
public:
    RunFolder(FileSystem& fileSystem, std::string path)
        : m_fileSystem(fileSystem),
          m_path(std::move(path)),
          m_manifestPath(withTrailingSlash(m_path) + std::string(manifestFileName)),
          m_folder(fileSystem),
          m_manifest(fileSystem),
          m_data(fileSystem),
          m_start(fileSystem) {}

    // Why the run is not to be restored, or "".
    std::string open(uid_t user) {
        if (const auto error =
                m_fileSystem.openStartDirectory(m_path, m_folder.fd, m_folderStatus)) {
            return m_path + " - cannot be opened: " + causeText(error);
        }
        if (const std::string problem = distrust(m_folderStatus, user); !problem.empty()) {
            return m_path + " - " + problem;
        }
        std::string problem = openTrusted(std::string(manifestFileName), m_manifestPath, user,
                                          m_manifest, m_manifestStatus);
        if (!problem.empty()) {
            return problem;
        }
        ManifestReader reader = this->reader();
        ManifestError error;
        if (!reader.header(m_header, error)) {
            return manifestError(error);
        }
        problem = openTrusted(m_header.dataFile, withTrailingSlash(m_path) + m_header.dataFile,
                              user, m_data, m_dataStatus);
        if (problem.empty()) {
            problem = countRecords(reader);
        }
        return problem.empty() ? openStart(user) : problem;
    }

    // A reader of the manifest from its first line.
    ManifestReader reader() const {
        return ManifestReader(
            [&fileSystem = m_fileSystem, fd = m_manifest.fd](std::uint64_t offset, char* buffer,
                                                             std::size_t length, std::size_t& got) {
                return fileSystem.readAt(fd, buffer, length, offset, got);
            });
    }

    std::string manifestError(const ManifestError& error) const {
        if (error.readError) {
            return m_manifestPath + " - cannot be read: " + causeText(error.readError);
        }
        return m_manifestPath + ":" + std::to_string(error.line) + ": " + error.message;
    }

    const ManifestHeader& header() const { return m_header; }
    std::uint64_t records() const { return m_records; }
    bool unfinishedTail() const { return m_unfinishedTail; }
    int startFd() const { return m_start.fd; }
    const FileStatus& startStatus() const { return m_startStatus; }
    int dataFd() const { return m_data.fd; }
    const FileStatus& dataStatus() const { return m_dataStatus; }

private:
    // Looked at before it is opened, so that no link is followed and no device or FIFO opened;
    // trusted by what the opened descriptor shows, as the name may have changed in between.
    std::string openTrusted(const std::string& name, const std::string& path, uid_t user,
                            FileHandle& file, FileStatus& status) {
        FileStatus seen;
        std::error_code error = m_fileSystem.statusAt(m_folder.fd, name, seen);
        if (!error && seen.kind == EntryKind::symlink) {
            return path + " - a symbolic link, not trusted for a restore";
        }
        if (!error && seen.kind != EntryKind::regular) {
            return path + " - not a regular file, not trusted for a restore";
        }
        if (!error) {
            error = m_fileSystem.openAt(m_folder.fd, name, false, file.fd, status);
        }
        if (error) {
            return path + " - cannot be opened: " + causeText(error);
        }
        const std::string problem = distrust(status, user);
        return problem.empty() ? problem : path + " - " + problem;
    }

    // Every record is read before any file is touched, so that a malformed line anywhere refuses
    // the whole restore. Each keeps one byte at least: more records than the data file has bytes
    // are none that a run wrote.
    std::string countRecords(ManifestReader& reader) {
        ManifestRecord record;
        ManifestError error;
        while (reader.next(record, error)) {
            if (++m_records > m_dataStatus.size) {
                return m_manifestPath + ":" + std::to_string(m_records + 1) +
                       ": more records than " + m_header.dataFile + " has bytes";
            }
        }
        if (!error.message.empty() || error.readError) {
            return manifestError(error);
        }
        m_unfinishedTail = reader.unfinishedTail();
        return {};
    }

    // Root may restore into anyone's tree; any other user only into a tree of its own.
    std::string openStart(uid_t user) {
        const std::string& start = m_header.startDirectory;
        if (const auto error = m_fileSystem.openStartDirectory(start, m_start.fd, m_startStatus)) {
            return start + " - cannot be opened: " + causeText(error);
        }
        if (user != 0 && m_startStatus.owner != user) {
            return start + " - " + ownedByAnotherText(m_startStatus.owner) +
                   ", a restore goes only into folders of your own";
        }
        return {};
    }

    FileSystem& m_fileSystem;
    std::string m_path;
    std::string m_manifestPath;
    FileHandle m_folder;
    FileHandle m_manifest;
    FileHandle m_data;
    FileHandle m_start;
    FileStatus m_folderStatus;
    FileStatus m_manifestStatus;
    FileStatus m_dataStatus;
    FileStatus m_startStatus;
    ManifestHeader m_header;
    std::uint64_t m_records = 0;
    bool m_unfinishedTail = false;
};

}  // namespace

bool RestoreReport::allRestored() const {
    if (!error.empty() || stopped) {
        return false;
    }
    for (const auto& result : results) {
        if (result.outcome != RestoreOutcome::restored &&
            result.outcome != RestoreOutcome::alreadyOriginal) {
            return false;
        }
    }
    return true;
}

RestoreReport restoreRun(FileSystem& fileSystem, const std::string& runDirectory,
                         const std::function<bool()>& stopRequested) {
    RestoreReport report;
    RunFolder run(fileSystem, runDirectory);
    report.error = run.open(geteuid());
    if (!report.error.empty()) {
        return report;
    }
    report.unfinishedTail = run.unfinishedTail();
    ManifestReader reader = run.reader();
    ManifestHeader header;
    ManifestError error;
    (void)reader.header(header, error);
    const std::string& startDirectory = run.header().startDirectory;
    RestoreQueue queue(fileSystem, report.results);
    FolderSweep sweep(fileSystem, report.notices);
    ManifestRecord record;
    for (std::uint64_t count = 0; count < run.records(); ++count) {
        if (stopRequested && stopRequested()) {
            report.stopped = true;
            break;
        }
        // Only its owner or root can have changed the manifest since it was checked.
        if (!reader.next(record, error)) {
            report.error = run.manifestError(error);
            break;
        }
        std::string path = withTrailingSlash(startDirectory) + record.path;
        if (queue.holds(path)) {
            queue.commit();
        }
        RecordRestore restore(fileSystem, run.startFd(), run.startStatus(), run.dataFd(),
                              run.dataStatus(), record, std::move(path), queue, sweep);
        RestoreResult result = restore.run();
        result.kind = record.kind;
        for (const auto& kept : record.ranges) {
            result.startPutBack = result.startPutBack || kept.range.offset == 0;
            result.endPutBack =
                result.endPutBack || kept.range.offset + kept.range.length == record.originalSize;
        }
        report.results.push_back(std::move(result));
        if (restore.queued()) {
            queue.queued(report.results.size() - 1);
        }
    }
    queue.commit();
    return report;
}

}  // namespace tagsnip::undo
