#include "playlist_lines.h"

namespace tagsnip::playlist {

LineSpan lineAt(std::string_view bytes, std::size_t begin) {
    std::size_t breakAt = begin;
    while (breakAt < bytes.size() && bytes[breakAt] != '\r' && bytes[breakAt] != '\n') {
        ++breakAt;
    }
    if (breakAt == bytes.size()) {
        return {begin, breakAt - begin, 0};
    }
    const bool crLf =
        bytes[breakAt] == '\r' && breakAt + 1 < bytes.size() && bytes[breakAt + 1] == '\n';
    return {begin, breakAt - begin, crLf ? 2u : 1u};
}

std::vector<LineSpan> splitLines(std::string_view bytes, std::size_t from) {
    std::vector<LineSpan> lines;
    for (std::size_t begin = from; begin < bytes.size(); begin = lines.back().end()) {
        lines.push_back(lineAt(bytes, begin));
    }
    return lines;
}

std::size_t byteOrderMarkLength(std::string_view bytes) {
    return bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
}

}  // namespace tagsnip::playlist
