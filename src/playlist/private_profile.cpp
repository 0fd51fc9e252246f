#include "private_profile.h"

namespace tagsnip::playlist {

PrivateProfile::PrivateProfile(FileSystem& fileSystem, const FileLocation& location,
                               RemovalRecorder* recorder)
    : m_file(fileSystem, location, recorder) {
    std::string bytes;
    if (!m_file.read(bytes)) {
        m_text = ProfileText(std::move(bytes));
    }
}

bool PrivateProfile::release(AtomicReplacement::Failure& failure) {
    const bool pending = !m_released && m_text.changed();
    m_released = true;
    return !pending || m_file.replace(m_text.bytes(), failure);
}

}  // namespace tagsnip::playlist
