#include "playlist_lines.h"

namespace tagsnip::playlist {

std::vector<LineSpan> splitLines(std::string_view bytes, std::size_t from) {
    std::vector<LineSpan> lines;
    std::size_t begin = from;
    while (begin < bytes.size()) {
        const std::size_t breakAt = bytes.find_first_of("\r\n", begin);
        if (breakAt == std::string_view::npos) {
            lines.push_back({begin, bytes.size() - begin, 0});
            break;
        }
        const bool crLf =
            bytes[breakAt] == '\r' && breakAt + 1 < bytes.size() && bytes[breakAt + 1] == '\n';
        lines.push_back({begin, breakAt - begin, crLf ? 2u : 1u});
        begin = lines.back().end();
    }
    return lines;
}

std::size_t byteOrderMarkLength(std::string_view bytes) {
    return bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
}

}  // namespace tagsnip::playlist
