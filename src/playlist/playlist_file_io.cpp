#include "playlist_file_io.h"

#include "engine/temporary_names.h"

namespace tagsnip::playlist {
namespace {

constexpr std::size_t readChunk = 64 * 1024;

}  // namespace

PlaylistFile::PlaylistFile(FileSystem& fileSystem, const FileLocation& location,
                           RemovalRecorder* recorder)
    : m_fileSystem(fileSystem), m_location(location), m_file(fileSystem), m_recorder(recorder) {}

std::error_code PlaylistFile::read(std::string& bytes) {
    if (const auto error = m_fileSystem.openAt(m_location.directoryFd, m_location.name, false,
                                               m_file.fd, m_status)) {
        return error;
    }
    takeLease();
    // The size is only a first guess: a file that grew since is still read to its end.
    bytes.assign(static_cast<std::size_t>(m_status.size) + readChunk, '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            bytes.resize(bytes.size() + readChunk);
        }
        std::size_t got = 0;
        if (const auto error = m_fileSystem.readAt(m_file.fd, bytes.data() + filled,
                                                   bytes.size() - filled, filled, got)) {
            return error;
        }
        filled += got;
        if (got == 0 || filled < bytes.size()) {
            break;
        }
    }
    bytes.resize(filled);
    if (m_recorder != nullptr) {
        m_original = bytes;
    }
    return {};
}

// Before the text is read, so that what is cleaned is what the file holds when it is replaced;
// a write that came before it is in what is read, and the status is taken anew.
void PlaylistFile::takeLease() {
    m_lease = m_fileSystem.takeLease(m_file.fd, LeaseKind::read);
    FileStatus now;
    if (!m_lease && !m_fileSystem.statusOf(m_file.fd, now)) {
        m_status = now;
    }
}

bool PlaylistFile::replace(std::string_view bytes, AtomicReplacement::Failure& failure) {
    AtomicReplacement replacement(m_fileSystem, m_location.directoryFd, m_location.name,
                                  playlistTemporaryName, m_file.fd, m_status);
    if (m_lease == std::errc::resource_unavailable_try_again) {
        failure.stage = AtomicReplacement::Stage::inUse;
        failure.error = EngineError::inUse;
        return false;
    }
    if (!m_lease) {
        replacement.guardWithLease();
    }
    if (const auto error = keepOriginal(bytes)) {
        m_keepError = error;
        failure.stage = AtomicReplacement::Stage::copy;
        failure.error = error;
        return false;
    }
    if (!replacement.create(failure)) {
        return false;
    }
    if (const auto error = m_fileSystem.write(replacement.fd(), bytes.data(), bytes.size(), 0)) {
        failure.stage = AtomicReplacement::Stage::copy;
        failure.error = error;
        return false;
    }
    return replacement.commit(failure);
}

std::error_code PlaylistFile::keepOriginal(std::string_view cleaned) {
    if (m_recorder == nullptr) {
        return {};
    }
    if (const auto error = m_recorder->keepPlaylist(m_location.path, m_original, cleaned)) {
        return error;
    }
    return m_recorder->makeDurable();
}

}  // namespace tagsnip::playlist
