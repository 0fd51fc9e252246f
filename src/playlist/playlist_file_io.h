#pragma once

#include "engine/atomic_replacement.h"
#include "engine/file_system.h"

#include <string>
#include <string_view>
#include <system_error>

namespace tagsnip::playlist {

// One playlist, held open from its reading to its replacement, so that the rewrite keeps what
// the file was (owner, mode, extended attributes) and is abandoned when another program changed
// the file in between.
class PlaylistFile {
public:
    PlaylistFile(FileSystem& fileSystem, const FileLocation& location);

    // Reads the whole file.
    [[nodiscard]] std::error_code read(std::string& bytes);
    // Puts bytes in the file's place atomically; on failure the file is as it was and no
    // temporary file is left behind.
    [[nodiscard]] bool replace(std::string_view bytes, AtomicReplacement::Failure& failure);

private:
    FileSystem& m_fileSystem;
    const FileLocation& m_location;
    FileHandle m_file;
    FileStatus m_status;
};

}  // namespace tagsnip::playlist
