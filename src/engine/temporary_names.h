#pragma once

#include <string_view>

namespace tagsnip {

// The names new content briefly carries beside the file it replaces. When the name is taken,
// the next free one of the form name + "." + pid + "-" + n is used.
inline constexpr const char* id3TemporaryName = "ID3_TEMP.$$$";
inline constexpr const char* playlistTemporaryName = "PLAYLIST_TEMP.$$$";

// Whether name is one of the temporary names, so that a killed run's leftover can be recognised.
bool isTemporaryName(std::string_view name);

}  // namespace tagsnip
