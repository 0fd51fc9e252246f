#pragma once

#include "engine/file_system.h"

#include <string>
#include <string_view>
#include <system_error>

namespace tagsnip::playlist {

// The name a rewritten playlist carries beside the original until it takes its place.
inline constexpr const char* playlistTemporaryName = "PLAYLIST_TEMP.$$$";

// Reads the whole file; status receives what the open file was, for the rewrite to keep.
[[nodiscard]] std::error_code readWholeFile(FileSystem& fileSystem, const std::string& path,
                                            std::string& bytes, FileStatus& status);

// Puts bytes in the file's place atomically, with the permission bits of original; on failure
// the file is as it was and no temporary file is left behind.
[[nodiscard]] std::error_code replaceWholeFile(FileSystem& fileSystem, const std::string& path,
                                               std::string_view bytes, const FileStatus& original);

}  // namespace tagsnip::playlist
