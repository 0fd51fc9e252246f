#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace tagsnip::playlist {

// One line of a playlist as offsets into its bytes, so that a rewrite can copy untouched lines
// with exactly the break they had.
struct LineSpan {
    std::size_t begin = 0;
    std::size_t length = 0;
    // 2 for CR LF, 1 for a lone CR or LF, 0 for a last line without a break.
    std::size_t breakLength = 0;

    std::string_view textIn(std::string_view bytes) const { return bytes.substr(begin, length); }
    std::size_t end() const { return begin + length + breakLength; }
};

// The line that starts at offset begin (begin < bytes.size()). A NUL is an ordinary byte.
LineSpan lineAt(std::string_view bytes, std::size_t begin);

// Cuts bytes from offset from on into lines. The cleaners walk with lineAt instead, so that a
// large playlist needs no table of its lines.
std::vector<LineSpan> splitLines(std::string_view bytes, std::size_t from = 0);

// 3 when bytes start with a UTF-8 byte order mark, else 0.
std::size_t byteOrderMarkLength(std::string_view bytes);

}  // namespace tagsnip::playlist
