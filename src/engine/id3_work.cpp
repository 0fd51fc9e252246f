#include "id3_work.h"

#include "atomic_replacement.h"
#include "id3_header.h"
#include "io_error_text.h"

#include <algorithm>

namespace tagsnip {

struct Id3Work::OpenFile {
    FileSystem& fileSystem;
    const std::string& path;
    int fd = -1;
    FileStatus status;

    ~OpenFile() { fileSystem.close(fd); }
};

Id3Work::Id3Work(JobHost& host, FileSystem& fileSystem, RunState& state)
    : m_host(host), m_options(host), m_fileSystem(fileSystem), m_state(state) {}

void Id3Work::checkID3(const std::string& path) {
    OpenFile file{m_fileSystem, path, -1, {}};
    std::error_code error = m_fileSystem.openReadWrite(path, file.fd, file.status);
    if (error) {
        error = m_fileSystem.openReadWrite(path, file.fd, file.status);
    }
    if (error) {
        reportError("Could not open " + path + " - Error #" + std::to_string(error.value()));
        return;
    }
    std::uint64_t contentEnd = file.status.size;
    if (!testId3v1(file, contentEnd)) {
        return;
    }
    // The trailer is cut here unless the ID3v2 removal already left it out of the new file, or
    // failed after having started on the copy: then the file stays exactly as it was.
    const Removal removal = testId3v2(file, contentEnd);
    if (contentEnd == file.status.size || removal != Removal::notDone) {
        return;
    }
    if (const auto cutError = m_fileSystem.truncate(file.fd, contentEnd)) {
        reportIoError(path, cutError);
    }
}

// Returns false after reporting an error that ends the work on this file.
bool Id3Work::testId3v1(OpenFile& file, std::uint64_t& contentEnd) {
    const std::uint64_t size = file.status.size;
    const std::uint64_t offset = size > id3v1TrailerSize ? size - id3v1TrailerSize : 0;
    m_state.file.id3v1 = TagState::absent;
    char marker[3];
    std::size_t got = 0;
    std::error_code error = m_fileSystem.readAt(file.fd, marker, sizeof marker, offset, got);
    if (!error && got < sizeof marker) {
        error = EngineError::readBeyondEnd;
    }
    if (error) {
        reportIoError(file.path, error);
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
        return Removal::notDone;
    }
    unsigned char header[id3v2HeaderSize];
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(contentEnd, id3v2HeaderSize));
    std::size_t got = 0;
    std::error_code error = m_fileSystem.readAt(file.fd, header, wanted, 0, got);
    if (!error && got < 3) {
        error = EngineError::readBeyondEnd;
    }
    if (error) {
        reportIoError(file.path, error);
        return Removal::notDone;
    }
    if (!isId3v2Marker({reinterpret_cast<const char*>(header), got})) {
        return Removal::notDone;
    }
    m_state.file.id3v2 = TagState::found;
    showCount(CountLabel::id3v2tags, m_state.counters.id3v2Tags);
    if (!m_options.remove2()) {
        return Removal::notDone;
    }
    return removeId3v2(file, header, got, contentEnd);
}

Id3Work::Removal Id3Work::removeId3v2(OpenFile& file, const unsigned char* header,
                                      std::uint64_t available, std::uint64_t contentEnd) {
    if (available < id3v2HeaderSize) {
        reportIoError(file.path, EngineError::readBeyondEnd);
        return Removal::notDone;
    }
    const std::uint64_t keepFrom = id3v2KeepFrom(header);
    if (keepFrom > contentEnd) {
        reportError(file.path + " - ID3v2 Tag size reaches beyond end of file, file not changed!");
        return Removal::failed;
    }
    m_state.file.FileModified = true;
    AtomicReplacement replacement(m_fileSystem, file.path, temporaryName);
    if (replacement.create()) {
        reportError("Could not create " + replacement.directory() + temporaryName +
                    " - ID3v2 Tag not removed!");
        return Removal::notDone;
    }
    std::error_code error;
    if (contentEnd > keepFrom) {
        error = m_fileSystem.copyRange(file.fd, keepFrom, contentEnd - keepFrom, replacement.fd());
    }
    AtomicReplacement::Stage failedAt = AtomicReplacement::Stage::flush;
    if (!error) {
        error = replacement.commit(file.status, failedAt);
    }
    if (!error) {
        return Removal::done;
    }
    if (failedAt == AtomicReplacement::Stage::rename) {
        reportError("Could not delete " + file.path + " - ID3v2 Tag not removed!");
    } else {
        reportError("Could not copy " + file.path + " - " + ioErrorText(error) +
                    " - ID3v2 Tag not removed!");
    }
    return Removal::failed;
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
    reportError(path + " - " + ioErrorText(error));
}

}  // namespace tagsnip
