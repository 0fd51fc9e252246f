#pragma once

#include <string>
#include <string_view>

namespace tagsnip {

// Makes any byte string safe for one field of one line on a terminal, in a script or in a
// manifest: a backslash becomes "\\", TAB "\t", LF "\n", CR "\r", and every other control byte
// (below 0x20, 0x7f, and the C1 controls U+0080 to U+009F in UTF-8) as well as every byte that is
// not part of valid UTF-8 becomes "\xHH". Valid UTF-8 text passes unchanged.
std::string escapeForLine(std::string_view bytes);

// Undoes escapeForLine. Fails on an unknown or cut-off escape, on "\x00" and on a raw control byte,
// none of which escapeForLine writes.
[[nodiscard]] bool unescapeLine(std::string_view text, std::string& bytes);

}  // namespace tagsnip
