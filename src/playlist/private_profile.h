#pragma once

#include "playlist_file_io.h"
#include "profile_text.h"

#include "engine/file_system.h"

namespace tagsnip::playlist {

// Profile access to one INI-style file. The file is read when the access is opened (a file that
// cannot be read reads as empty); deletions are gathered and go to the file in one atomic
// rewrite when the access is released, so that a file of many keys is rewritten once.
class PrivateProfile {
public:
    PrivateProfile(FileSystem& fileSystem, const FileLocation& location,
                   RemovalRecorder* recorder = nullptr);
    PrivateProfile(const PrivateProfile&) = delete;
    PrivateProfile& operator=(const PrivateProfile&) = delete;

    ProfileText& text() { return m_text; }

    // Writes the pending deletions, if any. Deletions not released never reach the file.
    [[nodiscard]] bool release(AtomicReplacement::Failure& failure);
    std::error_code keepError() const { return m_file.keepError(); }

private:
    PlaylistFile m_file;
    ProfileText m_text;
    bool m_released = false;
};

}  // namespace tagsnip::playlist
