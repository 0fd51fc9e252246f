#pragma once

#include "engine/atomic_replacement.h"
#include "engine/file_system.h"
#include "engine/removal_recorder.h"

#include <string>
#include <string_view>
#include <system_error>

namespace tagsnip::playlist {

// One playlist, held open from its reading to its replacement, so that the rewrite keeps what
// the file was (owner, mode, extended attributes) and is abandoned when another program changed
// the file in between. With a recorder, the original text is kept, durably, before the
// replacement is renamed over it.
class PlaylistFile {
public:
    PlaylistFile(FileSystem& fileSystem, const FileLocation& location,
                 RemovalRecorder* recorder = nullptr);

    // Reads the whole file.
    [[nodiscard]] std::error_code read(std::string& bytes);
    // Puts bytes in the file's place atomically; on failure the file is as it was and no
    // temporary file is left behind.
    [[nodiscard]] bool replace(std::string_view bytes, AtomicReplacement::Failure& failure);
    // Why the last replace failed when it was the keeping of the original text that failed.
    std::error_code keepError() const { return m_keepError; }

private:
    void takeLease();

    FileSystem& m_fileSystem;
    const FileLocation& m_location;
    FileHandle m_file;
    FileStatus m_status;
    RemovalRecorder* m_recorder;
    std::string m_original;
    std::error_code m_keepError;
    // How the read lease went: none, EAGAIN while another program has the file open for writing,
    // or another error where leases are not to be had.
    std::error_code m_lease;

    std::error_code keepOriginal(std::string_view cleaned);
};

}  // namespace tagsnip::playlist
