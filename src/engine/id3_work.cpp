#include "id3_work.h"

#include "file_byte_source.h"
#include "id3_header.h"
#include "messages.h"
#include "tag_removal.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

namespace tagsnip {
namespace {

// Another program holding a lease on the file (a file server, another run cutting it) lets
// nobody open it until it is done.
std::error_code inUseWhenLeased(std::error_code error) {
    if (error == std::errc::resource_unavailable_try_again) {
        return EngineError::inUse;
    }
    return error;
}

}  // namespace

// The file is opened for reading only: most files are only looked at, and one that is changed
// gets a descriptor for writing only when it is cut in place.
struct Id3Work::OpenFile {
    enum class Lease { notTaken, held, refused, unavailable };

    ~OpenFile() {
        if (closer != nullptr && handle.fd >= 0) {
            closer->closeLater(std::exchange(handle.fd, -1));
        }
    }

    const FileLocation& location;
    bool readOnly;
    FileResult& result;
    FileHandle handle;
    FileStatus status;
    Lease lease = Lease::notTaken;
    // What a failed replacement of the whole file minus its trailing blocks names as not removed.
    const char* trailerTag = "ID3v1";
    // Its removed bytes are with the recorder: a cut that falls back to a replacement keeps
    // them once.
    bool kept = false;
    // A small file is in Id3Work's buffer, read whole by its first read.
    bool readWhole = false;
    // Where set, the file is let go of with others in one call, not on its own.
    ReplacementBatch* closer = nullptr;

    const std::string& path() const { return location.path; }
    int fd() const { return handle.fd; }
    // Being refused a lease matters only once a change is due.
    void noteLease(std::error_code error) {
        lease = error == std::errc::resource_unavailable_try_again ? Lease::refused
                : error                                            ? Lease::unavailable
                                                                   : Lease::held;
    }
};

// A trailer cut that waits for the commit: what the cut needs of its file once the walk has
// moved on, the file held open with its lease meanwhile.
struct Id3Work::DeferredCut {
    explicit DeferredCut(FileSystem& fileSystem) : handle(fileSystem) {}

    std::string name;
    std::string path;
    FileStatus directory;
    bool directoryKnown = false;
    // The batch's descriptor of the file's directory, open until the commit.
    int directoryFd = -1;
    FileHandle handle;
    FileStatus status;
    OpenFile::Lease lease = OpenFile::Lease::notTaken;
    const char* trailerTag = "ID3v1";
    std::uint64_t contentEnd = 0;
};

Id3Work::Id3Work(JobHost& host, FileSystem& fileSystem, RunState& state, RemovalRecorder* recorder)
    : m_host(host),
      m_options(host),
      m_fileSystem(fileSystem),
      m_state(state),
      m_recorder(recorder),
      m_batch(fileSystem, batchBoundsRaisingDescriptorLimit()) {}

Id3Work::~Id3Work() = default;

FileResult Id3Work::checkID3(const FileLocation& location, bool readOnly, AudioFormat format) {
    FileResult result;
    OpenFile file{location, readOnly, result, FileHandle(m_fileSystem), {}};
    file.closer = &m_batch;
    const RemovalRequest request{m_options.allTags(), m_options.remove1(), m_options.remove2()};
    const bool changes = request.any();
    std::error_code leaseError;
    const auto open = [&] {
        return changes ? m_fileSystem.openLeasedAt(location.directoryFd, location.name,
                                                   file.handle.fd, file.status, leaseError)
                       : m_fileSystem.openAt(location.directoryFd, location.name, false,
                                             file.handle.fd, file.status);
    };
    std::error_code error = open();
    if (error) {
        error = open();
    }
    if (inUseWhenLeased(error) == EngineError::inUse) {
        reportIoError(file, EngineError::inUse);
        return result;
    }
    if (error) {
        reportError(file, couldNotOpenText(file.path(), error, m_options.wording()));
        return result;
    }
    if (changes) {
        file.noteLease(leaseError);
    }
    if (request.allTags || format != AudioFormat::mp3) {
        removeTagBlocks(file, format, request);
        return result;
    }
    FileByteSource source(m_fileSystem, file.fd());
    if (m_options.listsTagKinds() && !findLayout(file, source)) {
        return result;
    }
    std::uint64_t contentEnd = file.status.size;
    if (!testId3v1(file, contentEnd)) {
        return result;
    }
    // The trailer is cut here unless the ID3v2 removal already left it out of the new file, or
    // failed after having started: then the file stays exactly as it was.
    const Removal removal = testId3v2(file, contentEnd);
    const bool cutStillDue =
        removal == Removal::notAttempted || (removal == Removal::couldNotStart && !readOnly);
    if (contentEnd < file.status.size && cutStillDue) {
        cutTrailer(file, contentEnd);
    }
    return result;
}

// Returns false after reporting a failed read.
bool Id3Work::findLayout(OpenFile& file, ByteSource& source) {
    TagLayout& layout = file.result.layout.emplace();
    if (const std::error_code error = findTagBlocks(source, file.status.size, layout)) {
        reportIoError(file, error);
        return false;
    }
    file.result.id3v1 = layout.count(TagKind::id3v1) > 0 ? TagState::found : TagState::absent;
    file.result.id3v2 = layout.count(TagKind::id3v2) > 0 ? TagState::found : TagState::absent;
    return true;
}

// The whole layout is known before anything changes, so that a block that contradicts the file
// leaves all of it alone; and a block goes only where the container proves that what stays is
// its whole stream, so that a false match never takes audio with it.
void Id3Work::removeTagBlocks(OpenFile& file, AudioFormat format, const RemovalRequest& request) {
    FileByteSource source(m_fileSystem, file.fd());
    if (!findLayout(file, source) || !request.any()) {
        return;
    }
    const TagLayout& layout = *file.result.layout;
    if (layout.problem) {
        reportError(file, tagProblemFileText(file.path(), *layout.problem));
        return;
    }
    TagLayout removal = blocksToRemove(layout, file.status.size, request);
    if (removal.blocks.empty()) {
        return;
    }
    if (const std::error_code error = proveCuts(source, format, layout, removal)) {
        reportIoError(file, error);
        return;
    }
    if (removal.problem) {
        reportError(file, tagProblemFileText(file.path(), *removal.problem));
        return;
    }
    file.result.modified = true;
    file.trailerTag = removalLabel(removal, request);
    if (removal.keepBegin > 0) {
        (void)replaceWith(file, removal.keepBegin, removal.keepEnd, file.trailerTag);
        return;
    }
    cutTrailer(file, removal.keepEnd);
}

// Returns false after reporting an error that ends the work on this file.
bool Id3Work::testId3v1(OpenFile& file, std::uint64_t& contentEnd) {
    const std::uint64_t size = file.status.size;
    const std::uint64_t offset = size > id3v1TrailerSize ? size - id3v1TrailerSize : 0;
    file.result.id3v1 = TagState::absent;
    char marker[3];
    std::size_t got = 0;
    std::error_code error = readTagBytes(file, marker, sizeof marker, offset, got);
    if (!error && got < sizeof marker) {
        error = shortReadCause(file);
    }
    if (error) {
        reportIoError(file, error);
        return false;
    }
    if (!isId3v1Marker({marker, got})) {
        return true;
    }
    file.result.id3v1 = TagState::found;
    if (m_options.remove1()) {
        file.result.modified = true;
        contentEnd = size >= id3v1TrailerSize ? size - id3v1TrailerSize : 0;
    }
    return true;
}

// Where a small file's trailer and header lie close together, one read costs about what two
// small ones do, and is one system call instead of two.
std::error_code Id3Work::readTagBytes(OpenFile& file, void* buffer, std::size_t length,
                                      std::uint64_t offset, std::size_t& got) {
    constexpr std::uint64_t smallFileSize = 32 << 10;
    const std::uint64_t size = file.status.size;
    if (size > smallFileSize) {
        return m_fileSystem.readAt(file.fd(), buffer, length, offset, got);
    }
    if (!file.readWhole) {
        m_smallFile.resize(static_cast<std::size_t>(size));
        std::size_t read = 0;
        if (const auto error = m_fileSystem.readAt(file.fd(), m_smallFile.data(), size, 0, read)) {
            return error;
        }
        m_smallFile.resize(read);
        file.readWhole = true;
    }
    got = offset < m_smallFile.size()
              ? std::min(length, m_smallFile.size() - static_cast<std::size_t>(offset))
              : 0;
    std::copy_n(m_smallFile.data() + offset, got, static_cast<char*>(buffer));
    return {};
}

Id3Work::Removal Id3Work::testId3v2(OpenFile& file, std::uint64_t contentEnd) {
    file.result.id3v2 = TagState::absent;
    // What is left once the trailer is gone may be too short to hold even the marker.
    if (contentEnd < 3) {
        return Removal::notAttempted;
    }
    unsigned char header[id3v2HeaderSize];
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(contentEnd, id3v2HeaderSize));
    std::size_t got = 0;
    std::error_code error = readTagBytes(file, header, wanted, 0, got);
    if (!error && got < wanted) {
        error = shortReadCause(file);
    }
    if (error) {
        reportIoError(file, error);
        return Removal::failed;
    }
    if (!isId3v2Marker({reinterpret_cast<const char*>(header), got})) {
        return Removal::notAttempted;
    }
    file.result.id3v2 = TagState::found;
    if (!m_options.remove2()) {
        return Removal::notAttempted;
    }
    return removeId3v2(file, header, got, contentEnd);
}

Id3Work::Removal Id3Work::removeId3v2(OpenFile& file, const unsigned char* header,
                                      std::uint64_t available, std::uint64_t contentEnd) {
    if (available < id3v2HeaderSize) {
        reportIoError(file, EngineError::readBeyondEnd);
        return Removal::notAttempted;
    }
    const std::uint64_t keepFrom = id3v2KeepFrom(header);
    if (keepFrom > file.status.size) {
        reportError(file, id3v2BeyondEndText(file.path()));
        return Removal::failed;
    }
    if (keepFrom > contentEnd) {
        reportError(file, id3v2IntoId3v1Text(file.path()));
        return Removal::failed;
    }
    file.result.modified = true;
    return replaceWith(file, keepFrom, contentEnd, "ID3v2");
}

// A read lease can be had only while nobody has the file open for writing, and keeps it so
// until we let go. It is taken before the tags are read (at the open, where a change may be
// due), so that what they say about the file still holds when it is changed; a write that came
// before it is in what is read, and the status is taken anew.
void Id3Work::takeLeaseBeforeReading(OpenFile& file) {
    file.noteLease(m_fileSystem.takeLease(file.fd(), LeaseKind::read));
    if (file.lease != OpenFile::Lease::held) {
        return;
    }
    FileStatus now;
    if (!m_fileSystem.statusOf(file.fd(), now)) {
        file.status = now;
    }
}

// The first change to a file. Returns false after reporting the file in use.
bool Id3Work::claim(OpenFile& file) {
    if (file.lease == OpenFile::Lease::notTaken) {
        takeLeaseBeforeReading(file);
    }
    if (file.lease == OpenFile::Lease::refused) {
        reportIoError(file, EngineError::inUse);
        return false;
    }
    return true;
}

// A file that is read-only, or has other names that must keep their content, is replaced.
void Id3Work::cutTrailer(OpenFile& file, std::uint64_t contentEnd) {
    if (file.readOnly || file.status.links > 1) {
        (void)replaceWith(file, 0, contentEnd, file.trailerTag);
        return;
    }
    if (!claim(file)) {
        return;
    }
    if (m_recorder != nullptr && !file.kept) {
        deferCut(file, contentEnd);
        return;
    }
    if (const std::error_code error = cutInPlace(file, contentEnd)) {
        reportIoError(file, error);
    }
    commitIfDue();
}

// A cut in place is durable as soon as the file system likes, so its kept bytes must be durable
// before it is made. Rather than a flush of its own, it waits for the batch's commit, which
// flushes the kept bytes first; a copy of the whole file would cost far more than the wait.
void Id3Work::deferCut(OpenFile& file, std::uint64_t contentEnd) {
    int directoryFd = -1;
    if (const auto error = m_batch.directoryOf(file.location, directoryFd)) {
        reportIoError(file, error);
        return;
    }
    if (const auto error = keepRemoved(file, {{contentEnd, file.status.size - contentEnd}})) {
        reportError(file, couldNotKeepText(file.path(), error));
        return;
    }
    auto cut = std::make_unique<DeferredCut>(m_fileSystem);
    cut->name = file.location.name;
    cut->path = file.path();
    cut->directoryKnown = file.location.directory != nullptr;
    if (cut->directoryKnown) {
        cut->directory = *file.location.directory;
    }
    cut->directoryFd = directoryFd;
    cut->handle.fd = std::exchange(file.handle.fd, -1);
    cut->status = file.status;
    cut->lease = file.lease;
    cut->trailerTag = file.trailerTag;
    cut->contentEnd = contentEnd;
    m_deferredCuts.push_back(std::move(cut));
    m_keptPending.push_back(file.path());
    m_batch.hold();
    commitIfDue();
}

void Id3Work::makeDeferredCuts() {
    m_committing = true;
    for (const auto& cut : m_deferredCuts) {
        makeDeferredCut(*cut);
    }
    m_deferredCuts.clear();
    m_committing = false;
}

// The walk has listed the file already: what goes wrong now is reported on its own.
void Id3Work::makeDeferredCut(DeferredCut& cut) {
    const FileLocation location{cut.directoryFd, cut.name, cut.path,
                                cut.directoryKnown ? &cut.directory : nullptr};
    FileResult result;
    OpenFile file{location, false, result, FileHandle(m_fileSystem), cut.status};
    file.handle.fd = std::exchange(cut.handle.fd, -1);
    file.lease = cut.lease;
    file.trailerTag = cut.trailerTag;
    file.kept = true;
    if (const std::error_code error = cutInPlace(file, cut.contentEnd)) {
        reportIoError(file, error);
    }
    for (const std::string& text : result.errors) {
        reportBatchError(text);
    }
}

// Our own descriptor for writing would break our read lease, so the read lease makes way for a
// write lease on that descriptor: it can be had only while nobody else has the file open at all,
// and whoever opens the file after it waits until the cut is made. Between the two, only a
// program that opens, writes and closes the file could slip in; the unchanged-check after the
// write lease catches it where timestamps tell.
std::error_code Id3Work::cutInPlace(OpenFile& file, std::uint64_t contentEnd) {
    const bool leases = file.lease == OpenFile::Lease::held;
    if (leases) {
        if (!m_fileSystem.leaseHeld(file.fd())) {
            return EngineError::inUse;
        }
        m_fileSystem.releaseLease(file.fd());
    }
    FileHandle writer(m_fileSystem);
    if (const std::error_code error = openForCut(file, writer.fd)) {
        // The kernel refuses to open an immutable or append-only file for writing.
        unsigned flags = 0;
        if (error == std::errc::operation_not_permitted &&
            !m_fileSystem.inodeFlags(file.fd(), flags) && forbidsChange(flags)) {
            return EngineError::locked;
        }
        return inUseWhenLeased(error);
    }
    m_fileSystem.close(file.handle.fd);
    file.handle.fd = -1;
    bool othersHaveItOpen = false;
    if (const auto error = cutUnderLease(file, writer.fd, leases, contentEnd, othersHaveItOpen)) {
        return error;
    }
    if (othersHaveItOpen) {
        m_fileSystem.close(writer.fd);
        writer.fd = -1;
        return replaceWhileOthersRead(file, contentEnd);
    }
    return queueCutFlush(file, writer);
}

// The write lease lasts from the unchanged-check to the cut, and a stop from the terminal waits
// for its end: given back for the stop, it would let another program write between the two. The
// check also tells that the writer opened the file that was read.
std::error_code Id3Work::cutUnderLease(const OpenFile& file, int writer, bool leases,
                                       std::uint64_t contentEnd, bool& othersHaveItOpen) {
    const StopDeferral deferral;
    if (leases && m_fileSystem.takeLease(writer, LeaseKind::write) ==
                      std::errc::resource_unavailable_try_again) {
        othersHaveItOpen = true;
        return {};
    }
    FileStatus now;
    if (m_fileSystem.statusOf(writer, now) || !sameFileUnchanged(file.status, now)) {
        m_fileSystem.releaseLease(writer);
        return EngineError::changedMeanwhile;
    }
    const std::error_code error = m_fileSystem.truncate(writer, contentEnd);
    m_fileSystem.releaseLease(writer);
    return error;
}

// The cut is made durable with the batch. It waits on a descriptor for reading, so that nobody
// is kept from a read lease; without /proc, the name must still lead to the file cut.
std::error_code Id3Work::queueCutFlush(OpenFile& file, FileHandle& writer) {
    if (m_fileSystem.reopen(writer.fd, false, file.handle.fd)) {
        FileStatus now;
        if (m_fileSystem.openAt(file.location.directoryFd, file.location.name, false,
                                file.handle.fd, now) ||
            now.inode != file.status.inode) {
            return m_fileSystem.sync(writer.fd);
        }
    }
    m_fileSystem.close(writer.fd);
    writer.fd = -1;
    m_batch.addCut(std::exchange(file.handle.fd, -1), file.path(), "ID3v1");
    return {};
}

// An open for writing breaks the read leases of others (another run, a file server) and fails
// while they let go, which those that only read do at once: it is tried again for a moment.
std::error_code Id3Work::openForCut(const OpenFile& file, int& fd) {
    std::error_code error;
    for (int attempt = 0; attempt < 10; ++attempt) {
        error =
            m_fileSystem.openUncheckedAt(file.location.directoryFd, file.location.name, true, fd);
        if (error != std::errc::resource_unavailable_try_again) {
            return error;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return error;
}

// Someone else has the file open: a reader (a player) loses nothing when the file is replaced,
// a writer must be left alone, and only a new read lease tells the two apart.
std::error_code Id3Work::replaceWhileOthersRead(OpenFile& file, std::uint64_t contentEnd) {
    FileStatus now;
    if (const auto error = m_fileSystem.openAt(file.location.directoryFd, file.location.name, false,
                                               file.handle.fd, now)) {
        return inUseWhenLeased(error);
    }
    if (!sameFileUnchanged(file.status, now)) {
        return EngineError::changedMeanwhile;
    }
    if (m_fileSystem.takeLease(file.fd(), LeaseKind::read)) {
        return EngineError::inUse;
    }
    (void)replaceWith(file, 0, contentEnd, file.trailerTag);
    return {};
}

// Puts the bytes from begin to end of the file in its place, as a new file. The new file joins
// the batch that makes it durable and renames it later, unless it has a name already.
Id3Work::Removal Id3Work::replaceWith(OpenFile& file, std::uint64_t begin, std::uint64_t end,
                                      const char* tag) {
    if (!claim(file)) {
        return Removal::failed;
    }
    AtomicReplacement::Failure failure;
    int directoryFd = -1;
    if (const auto error = m_batch.directoryOf(file.location, directoryFd)) {
        failure.error = error;
        reportReplacementFailure(file, failure, tag);
        return Removal::couldNotStart;
    }
    auto replacement = std::make_unique<AtomicReplacement>(
        m_fileSystem, directoryFd, file.location.name, id3TemporaryName, file.fd(), file.status);
    if (file.lease == OpenFile::Lease::held) {
        replacement->guardWithLease();
    }
    replacement->shareFolderFacts(m_batch.folderFacts(directoryFd));
    if (!replacement->create(failure)) {
        reportReplacementFailure(file, failure, tag);
        const bool nothingMade = failure.stage == AtomicReplacement::Stage::create ||
                                 failure.stage == AtomicReplacement::Stage::folderLocked;
        return nothingMade ? Removal::couldNotStart : Removal::failed;
    }
    if (!fillReplacement(file, begin, end, replacement->fd(), tag)) {
        return Removal::failed;
    }
    if (!replacement->finish(failure)) {
        reportReplacementFailure(file, failure, tag);
        return Removal::failed;
    }
    if (replacement->named()) {
        if (!makeKeptDurable(file)) {
            return Removal::failed;
        }
        if (!replacement->flush(failure) || !replacement->install(failure)) {
            reportReplacementFailure(file, failure, tag);
            return Removal::failed;
        }
        m_batch.installedInto(directoryFd);
        commitIfDue();
        return Removal::done;
    }
    // The original stays open, and its lease held, until the replacement is installed.
    replacement->keepOriginalOpen();
    file.handle.fd = -1;
    m_batch.add(std::move(replacement), directoryFd, file.path(), tag, end - begin);
    if (m_recorder != nullptr) {
        m_keptPending.push_back(file.path());
    }
    commitIfDue();
    return Removal::done;
}

void Id3Work::commitPending() {
    commitBatch();
    m_batch.settle(std::bind_front(&Id3Work::reportBatchFailure, this));
}

void Id3Work::commitIfDue() {
    if (!m_committing && m_batch.due()) {
        commitBatch();
    }
}

// What was kept is flushed with the batch's files, so that one commit of the journal serves
// both; the deferred cuts follow the replacements.
void Id3Work::commitBatch() {
    std::vector<int> kept;
    if (m_recorder != nullptr) {
        if (const auto error = m_recorder->writeOut(kept)) {
            abandonPending(error);
            return;
        }
    }
    std::function<void()> afterInstall;
    if (!m_deferredCuts.empty()) {
        afterInstall = [this] { makeDeferredCuts(); };
    }
    const auto error =
        m_batch.commit(std::bind_front(&Id3Work::reportBatchFailure, this), kept, afterInstall);
    if (error) {
        abandonPending(error);
        return;
    }
    m_keptPending.clear();
}

void Id3Work::reportBatchFailure(const std::string& path, const char* tag,
                                 const AtomicReplacement::Failure& failure) {
    const MessageStyle style = m_options.wording();
    reportBatchError(tag == nullptr ? couldNotFlushDirectoryText(path, failure.error, style)
                                    : replacementFailureText(path, failure, tag, style));
}

// Writes the bytes from begin to end of the file to the new file at to. With a recorder, the
// read that keeps the removed bytes copies what stays as well, so that the file is read once;
// a sparse file is copied around its holes after it. Returns false after reporting; a file
// whose removed bytes could not be kept must then stay as it is.
bool Id3Work::fillReplacement(OpenFile& file, std::uint64_t begin, std::uint64_t end, int to,
                              const char* tag) {
    const bool keeping = m_recorder != nullptr && !file.kept;
    const bool copyWhileKeeping = keeping && file.status.allocated >= file.status.size;
    std::error_code copyError;
    std::uint64_t written = 0;
    StayingBytesSink copy;
    if (copyWhileKeeping) {
        copy = [&](std::string_view bytes) {
            copyError = m_fileSystem.write(to, bytes.data(), bytes.size(), written);
            written += bytes.size();
            return copyError;
        };
    }
    if (keeping) {
        const auto error = keepRemoved(file, {{0, begin}, {end, file.status.size - end}}, copy);
        if (error && !copyError) {
            reportError(file, couldNotKeepText(file.path(), error));
            return false;
        }
    }
    if (!copyWhileKeeping) {
        copyError = copyContent(file, begin, end, to);
    }
    if (copyError) {
        AtomicReplacement::Failure failure;
        failure.stage = AtomicReplacement::Stage::copy;
        failure.error = copyError;
        reportReplacementFailure(file, failure, tag);
        return false;
    }
    return true;
}

std::error_code Id3Work::keepRemoved(OpenFile& file, std::initializer_list<RemovedRange> ranges,
                                     const StayingBytesSink& staying) {
    std::vector<RemovedRange> removed;
    for (const RemovedRange& range : ranges) {
        if (range.length > 0) {
            removed.push_back(range);
        }
    }
    if (const auto error =
            m_recorder->keepMp3(file.fd(), file.path(), file.status.size, removed, staying)) {
        return error;
    }
    file.kept = true;
    return {};
}

bool Id3Work::makeKeptDurable(OpenFile& file) {
    if (m_recorder == nullptr) {
        return true;
    }
    if (const auto error = m_recorder->makeDurable()) {
        reportError(file, couldNotKeepText(file.path(), error));
        return false;
    }
    return true;
}

// Without its kept bytes on disk no queued file may be renamed: the batch goes as a whole.
void Id3Work::abandonPending(std::error_code error) {
    m_deferredCuts.clear();
    m_batch.abandon();
    for (const std::string& path : m_keptPending) {
        reportBatchError(couldNotKeepText(path, error));
    }
    m_keptPending.clear();
}

// Copies around the holes of a sparse file, so that the new file takes no more disk space than
// the old one; a file without holes is copied in one go.
std::error_code Id3Work::copyContent(OpenFile& file, std::uint64_t begin, std::uint64_t end,
                                     int to) {
    if (begin >= end) {
        return {};
    }
    if (file.status.allocated >= file.status.size) {
        return m_fileSystem.copyRange(file.fd(), begin, end - begin, to, 0);
    }
    for (std::uint64_t at = begin; at < end;) {
        std::uint64_t dataBegin = 0;
        std::uint64_t dataEnd = 0;
        if (const auto error = m_fileSystem.dataExtent(file.fd(), at, end, dataBegin, dataEnd)) {
            return error;
        }
        if (dataBegin >= end) {
            break;
        }
        if (dataEnd <= dataBegin) {
            return EngineError::readBeyondEnd;
        }
        if (const auto error = m_fileSystem.copyRange(file.fd(), dataBegin, dataEnd - dataBegin, to,
                                                      dataBegin - begin)) {
            return error;
        }
        at = dataEnd;
    }
    return m_fileSystem.truncate(to, end - begin);
}

void Id3Work::reportReplacementFailure(OpenFile& file, const AtomicReplacement::Failure& failure,
                                       const char* tag) {
    reportError(file, replacementFailureText(file.path(), failure, tag, m_options.wording()));
}

// A read that falls short of a size measured at the open means that someone else shortened the
// file since; only a file that really is that short is beyond its end.
std::error_code Id3Work::shortReadCause(OpenFile& file) {
    FileStatus now;
    if (!m_fileSystem.statusOf(file.fd(), now) && now.size != file.status.size) {
        return EngineError::changedMeanwhile;
    }
    return EngineError::readBeyondEnd;
}

void Id3Work::reportError(OpenFile& file, const std::string& text) {
    file.result.errors.push_back(text);
}

void Id3Work::reportIoError(OpenFile& file, std::error_code error) {
    reportError(file, fileErrorText(file.path(), error, m_options.wording()));
}

// A batch made durable after the work on its files is over reports to the host at once.
void Id3Work::reportBatchError(const std::string& text) {
    ++m_state.fileErrors;
    m_host.ShowError(text);
}

}  // namespace tagsnip
