#pragma once

#include <string>
#include <string_view>

namespace tagsnip::cli {

// Makes any byte string safe for one field of one line on a terminal or in a script: a backslash
// becomes "\\", TAB "\t", LF "\n", CR "\r", and every other control byte (below 0x20, 0x7f, and
// the C1 controls U+0080 to U+009F written in UTF-8) as well as every byte that is not part of
// valid UTF-8 becomes "\xHH". Valid UTF-8 text passes unchanged, and the original bytes can be
// recovered exactly by undoing these escapes.
std::string escapeForLine(std::string_view bytes);

}  // namespace tagsnip::cli
