#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tagsnip::playlist {

// The new bytes of an M3U playlist without its lines that begin with "#", or nothing when the
// playlist is to stay as it is. A rewritten playlist has CR LF after every line, the last one
// included; a UTF-8 byte order mark at its start stays in front.
std::optional<std::string> cleanM3uBytes(std::string_view bytes);

}  // namespace tagsnip::playlist
