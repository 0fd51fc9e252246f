#include "restore_run.h"

#include "content_hash.h"
#include "manifest.h"

#include "engine/atomic_replacement.h"
#include "engine/leftovers.h"
#include "engine/messages.h"
#include "engine/path_text.h"
#include "engine/replacement_batch.h"
#include "engine/temporary_names.h"

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

std::error_code readWhole(FileSystem& fileSystem, int directory, const std::string& name,
                          std::string& text) {
    FileHandle file(fileSystem);
    FileStatus status;
    if (const auto error = fileSystem.openAt(directory, name, false, file.fd, status)) {
        return error;
    }
    text.resize(status.size);
    std::size_t got = 0;
    if (const auto error = fileSystem.readAt(file.fd, text.data(), text.size(), 0, got)) {
        return error;
    }
    text.resize(got);
    return {};
}

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
    return outcome(std::move(path), RestoreOutcome::failed, ioErrorText(error));
}

RestoreResult replacementFailure(std::string path, const AtomicReplacement::Failure& failure) {
    if (failure.stage == AtomicReplacement::Stage::changed) {
        return outcome(std::move(path), RestoreOutcome::changed,
                       "changed by another program meanwhile, left alone");
    }
    std::string refusal = refusalText(path, failure);
    if (refusal.empty()) {
        refusal = ioErrorText(failure.error) + ", left alone";
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
                result.message += ioErrorText(error);
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
                return fail(ioErrorText(error));
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
        return m_fileSystem.openAt(directory, m_name, false, m_file.fd, m_status);
    }

    RestoreResult fail(std::string message) {
        return outcome(m_path, RestoreOutcome::failed, std::move(message));
    }

    RestoreResult rebuild() {
        for (const auto& kept : m_record.ranges) {
            if (kept.dataOffset + kept.range.length > m_data.size) {
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
            return fail(ioErrorText(error) + ", left alone");
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
            return ioErrorText(error) + ", left alone";
        }
        Digest rebuilt;
        if (const auto error = hashFile(m_fileSystem, to, m_record.originalSize, rebuilt)) {
            return ioErrorText(error) + ", left alone";
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
            return fail("restored, but its folder could not be flushed: " + ioErrorText(error));
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
    FileHandle run(fileSystem);
    FileStatus runStatus;
    if (const auto error = fileSystem.openStartDirectory(runDirectory, run.fd, runStatus)) {
        report.error = runDirectory + " - cannot be opened: " + ioErrorText(error);
        return report;
    }
    const std::string manifestPath =
        withTrailingSlash(runDirectory) + std::string(manifestFileName);
    std::string text;
    if (const auto error = readWhole(fileSystem, run.fd, std::string(manifestFileName), text)) {
        report.error = manifestPath + " - cannot be read: " + ioErrorText(error);
        return report;
    }
    Manifest manifest;
    ManifestError parseError;
    if (!parseManifest(text, manifest, parseError)) {
        report.error =
            manifestPath + ":" + std::to_string(parseError.line) + ": " + parseError.message;
        return report;
    }
    report.unfinishedTail = manifest.unfinishedTail;
    FileHandle data(fileSystem);
    FileStatus dataStatus;
    if (const auto error =
            fileSystem.openAt(run.fd, manifest.header.dataFile, false, data.fd, dataStatus)) {
        report.error = withTrailingSlash(runDirectory) + manifest.header.dataFile +
                       " - cannot be opened: " + ioErrorText(error);
        return report;
    }
    const std::string& startDirectory = manifest.header.startDirectory;
    FileHandle start(fileSystem);
    FileStatus startStatus;
    if (const auto error = fileSystem.openStartDirectory(startDirectory, start.fd, startStatus)) {
        report.error = startDirectory + " - cannot be opened: " + ioErrorText(error);
        return report;
    }
    RestoreQueue queue(fileSystem, report.results);
    FolderSweep sweep(fileSystem, report.notices);
    for (const auto& record : manifest.records) {
        if (stopRequested && stopRequested()) {
            report.stopped = true;
            break;
        }
        std::string path = withTrailingSlash(startDirectory) + record.path;
        if (queue.holds(path)) {
            queue.commit();
        }
        RecordRestore restore(fileSystem, start.fd, startStatus, data.fd, dataStatus, record,
                              std::move(path), queue, sweep);
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
