#include "id3_work.h"

#include "id3_header.h"
#include "io_error_text.h"
#include "path_text.h"

#include <algorithm>

namespace tagsnip {

struct Id3Work::OpenFile {
    const FileLocation& location;
    bool readOnly;
    FileHandle handle;
    FileStatus status;

    const std::string& path() const { return location.path; }
    int fd() const { return handle.fd; }
};

Id3Work::Id3Work(JobHost& host, FileSystem& fileSystem, RunState& state)
    : m_host(host),
      m_options(host),
      m_fileSystem(fileSystem),
      m_state(state),
      m_batch(fileSystem, batchBoundsForDescriptorLimit()) {}

void Id3Work::checkID3(const FileLocation& location, bool readOnly) {
    OpenFile file{location, readOnly, FileHandle(m_fileSystem), {}};
    const auto open = [&] {
        return m_fileSystem.openAt(location.directoryFd, location.name, !readOnly, file.handle.fd,
                                   file.status);
    };
    std::error_code error = open();
    if (error) {
        error = open();
    }
    if (error) {
        reportError("Could not open " + file.path() + " - Error #" + std::to_string(error.value()));
        return;
    }
    std::uint64_t contentEnd = file.status.size;
    if (!testId3v1(file, contentEnd)) {
        return;
    }
    // The trailer is cut here unless the ID3v2 removal already left it out of the new file, or
    // failed after having started: then the file stays exactly as it was.
    const Removal removal = testId3v2(file, contentEnd);
    const bool cutStillDue =
        removal == Removal::notAttempted || (removal == Removal::couldNotStart && !readOnly);
    if (contentEnd < file.status.size && cutStillDue) {
        cutTrailer(file, contentEnd);
    }
}

// Returns false after reporting an error that ends the work on this file.
bool Id3Work::testId3v1(OpenFile& file, std::uint64_t& contentEnd) {
    const std::uint64_t size = file.status.size;
    const std::uint64_t offset = size > id3v1TrailerSize ? size - id3v1TrailerSize : 0;
    m_state.file.id3v1 = TagState::absent;
    char marker[3];
    std::size_t got = 0;
    std::error_code error = m_fileSystem.readAt(file.fd(), marker, sizeof marker, offset, got);
    if (!error && got < sizeof marker) {
        error = shortReadCause(file);
    }
    if (error) {
        reportIoError(file.path(), error);
        return false;
    }
    if (!isId3v1Marker({marker, got})) {
        return true;
    }
    m_state.file.id3v1 = TagState::found;
    showCount(CountLabel::id3v1tags, m_state.counters.id3v1Tags);
    if (m_options.remove1()) {
        m_state.file.FileModified = true;
        contentEnd = size >= id3v1TrailerSize ? size - id3v1TrailerSize : 0;
    }
    return true;
}

Id3Work::Removal Id3Work::testId3v2(OpenFile& file, std::uint64_t contentEnd) {
    m_state.file.id3v2 = TagState::absent;
    // What is left once the trailer is gone may be too short to hold even the marker.
    if (contentEnd < 3) {
        return Removal::notAttempted;
    }
    unsigned char header[id3v2HeaderSize];
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(contentEnd, id3v2HeaderSize));
    std::size_t got = 0;
    std::error_code error = m_fileSystem.readAt(file.fd(), header, wanted, 0, got);
    if (!error && got < wanted) {
        error = shortReadCause(file);
    }
    if (error) {
        reportIoError(file.path(), error);
        return Removal::failed;
    }
    if (!isId3v2Marker({reinterpret_cast<const char*>(header), got})) {
        return Removal::notAttempted;
    }
    m_state.file.id3v2 = TagState::found;
    showCount(CountLabel::id3v2tags, m_state.counters.id3v2Tags);
    if (!m_options.remove2()) {
        return Removal::notAttempted;
    }
    return removeId3v2(file, header, got, contentEnd);
}

Id3Work::Removal Id3Work::removeId3v2(OpenFile& file, const unsigned char* header,
                                      std::uint64_t available, std::uint64_t contentEnd) {
    if (available < id3v2HeaderSize) {
        reportIoError(file.path(), EngineError::readBeyondEnd);
        return Removal::notAttempted;
    }
    const std::uint64_t keepFrom = id3v2KeepFrom(header);
    if (keepFrom > file.status.size) {
        reportError(file.path() +
                    " - ID3v2 Tag size reaches beyond end of file, file not changed!");
        return Removal::failed;
    }
    if (keepFrom > contentEnd) {
        reportError(file.path() +
                    " - ID3v2 Tag size reaches into the ID3v1 tag, file not changed!");
        return Removal::failed;
    }
    m_state.file.FileModified = true;
    return replaceWith(file, keepFrom, contentEnd, "ID3v2");
}

void Id3Work::cutTrailer(OpenFile& file, std::uint64_t contentEnd) {
    if (file.readOnly) {
        (void)replaceWith(file, 0, contentEnd, "ID3v1");
        return;
    }
    // Another program's append or rewrite since the open must not be cut off.
    FileStatus now;
    std::error_code error =
        m_fileSystem.statusAt(file.location.directoryFd, file.location.name, now);
    if (error || !sameFileUnchanged(file.status, now)) {
        error = EngineError::changedMeanwhile;
    } else {
        error = m_fileSystem.truncate(file.fd(), contentEnd);
    }
    if (!error) {
        error = m_batch.addCut(file.fd(), file.path(), "ID3v1");
    }
    if (error) {
        reportIoError(file.path(), error);
    }
    commitIfDue();
}

// Puts the bytes from begin to end of the file in its place, as a new file. The new file joins
// the batch that makes it durable and renames it later, unless it has a name already.
Id3Work::Removal Id3Work::replaceWith(OpenFile& file, std::uint64_t begin, std::uint64_t end,
                                      const char* tag) {
    AtomicReplacement::Failure failure;
    int directoryFd = -1;
    if (const auto error = m_batch.directoryOf(file.location, directoryFd)) {
        failure.error = error;
        reportReplacementFailure(file.path(), failure, tag);
        return Removal::couldNotStart;
    }
    auto replacement = std::make_unique<AtomicReplacement>(
        m_fileSystem, directoryFd, file.location.name, id3TemporaryName, file.status);
    if (!replacement->create(failure)) {
        reportReplacementFailure(file.path(), failure, tag);
        return failure.stage == AtomicReplacement::Stage::create ? Removal::couldNotStart
                                                                 : Removal::failed;
    }
    if (const auto error = copyContent(file, begin, end, replacement->fd())) {
        failure.stage = AtomicReplacement::Stage::copy;
        failure.error = error;
        reportReplacementFailure(file.path(), failure, tag);
        return Removal::failed;
    }
    if (!replacement->finish(file.fd(), failure)) {
        reportReplacementFailure(file.path(), failure, tag);
        return Removal::failed;
    }
    if (replacement->named()) {
        if (!replacement->flush(failure) || !replacement->install(failure)) {
            reportReplacementFailure(file.path(), failure, tag);
            return Removal::failed;
        }
        return Removal::done;
    }
    m_batch.add(std::move(replacement), directoryFd, file.path(), tag, end - begin);
    commitIfDue();
    return Removal::done;
}

void Id3Work::commitPending() {
    m_batch.commit([this](const std::string& path, const char* tag,
                          const AtomicReplacement::Failure& failure) {
        if (tag == nullptr) {
            reportError("Could not flush directory " + path + " - Error #" +
                        std::to_string(failure.error.value()));
            return;
        }
        reportReplacementFailure(path, failure, tag);
    });
}

void Id3Work::commitIfDue() {
    if (m_batch.due()) {
        commitPending();
    }
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

void Id3Work::reportReplacementFailure(const std::string& path,
                                       const AtomicReplacement::Failure& failure, const char* tag) {
    const std::string notRemoved = std::string(" - ") + tag + " Tag not removed!";
    if (std::string refusal = refusalText(path, failure); !refusal.empty()) {
        reportError(refusal);
    } else if (failure.stage == AtomicReplacement::Stage::create) {
        reportError("Could not create " + directoryOf(path) + id3TemporaryName + notRemoved);
    } else if (failure.stage == AtomicReplacement::Stage::rename) {
        reportError("Could not delete " + path + notRemoved);
    } else {
        reportError("Could not copy " + path + " - " + ioErrorText(failure.error) + notRemoved);
    }
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

void Id3Work::showCount(CountLabel label, std::uint32_t& count) {
    ++count;
    m_host.ShowCount(label, std::to_string(count));
}

void Id3Work::reportError(const std::string& text) {
    ++m_state.fileErrors;
    m_host.ShowError(text);
}

void Id3Work::reportIoError(const std::string& path, std::error_code error) {
    const bool changed = error == EngineError::changedMeanwhile;
    reportError(path + " - " + ioErrorText(error) + (changed ? ", file not changed!" : ""));
}

}  // namespace tagsnip
