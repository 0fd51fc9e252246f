#include "private_profile.h"

#include "playlist_file_io.h"

namespace tagsnip::playlist {

PrivateProfile::PrivateProfile(FileSystem& fileSystem, std::string path)
    : m_fileSystem(fileSystem), m_path(std::move(path)) {
    std::string bytes;
    if (!readWholeFile(m_fileSystem, m_path, bytes, m_status)) {
        m_text = ProfileText(std::move(bytes));
    }
}

std::error_code PrivateProfile::release() {
    const bool pending = !m_released && m_text.changed();
    m_released = true;
    if (!pending) {
        return {};
    }
    return replaceWholeFile(m_fileSystem, m_path, m_text.bytes(), m_status);
}

}  // namespace tagsnip::playlist
