#pragma once

#include <string>
#include <string_view>

namespace tagsnip::undo {

// The escapes of tagsnip-cli's output lines, so that a manifest shows names as the program's rows
// do: a backslash becomes "\\", TAB "\t", LF "\n", CR "\r", and every other control byte (below
// 0x20, 0x7f, and the C1 controls U+0080 to U+009F in UTF-8) as well as every byte that is not
// part of valid UTF-8 becomes "\xHH". Valid UTF-8 text passes unchanged.
std::string escapeField(std::string_view bytes);

// Undoes escapeField. Fails on an unknown or cut-off escape, on "\x00" and on a raw control byte,
// none of which escapeField writes.
[[nodiscard]] bool unescapeField(std::string_view text, std::string& bytes);

}  // namespace tagsnip::undo
