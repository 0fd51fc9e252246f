#pragma once

#include <string>
#include <string_view>

namespace tagsnip {

// The names new content briefly carries beside the file it replaces. When the name is taken,
// the next free one of the form name + "." + pid + "-" + n is used.
inline constexpr const char* id3TemporaryName = "ID3_TEMP.$$$";
inline constexpr const char* playlistTemporaryName = "PLAYLIST_TEMP.$$$";

// Whether name is one of the temporary names, so that a killed run's leftover can be recognised.
bool isTemporaryName(std::string_view name);

// The extended attribute a temporary file carries while it may have one of those names, where
// the file system can hold it: a file of such a name without it is not ours, whoever made it.
inline constexpr const char* temporaryMarkName = "user.tagsnip.temporary";
// The mark's value for this process, naming the run: its pid, the time it first asked for the
// value and a random part.
const std::string& temporaryMarkValue();

}  // namespace tagsnip
