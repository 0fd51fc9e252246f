#include "m3u_cleaning.h"

#include "playlist_lines.h"

namespace tagsnip::playlist {
namespace {

// The size of the rewrite, or nothing when no line begins with "#": then the kept text would
// equal the whole text and the file keeps its own breaks, whatever they are.
std::optional<std::size_t> rewrittenSize(std::string_view bytes, std::size_t markLength) {
    std::size_t size = markLength;
    bool dropped = false;
    for (std::size_t at = markLength; at < bytes.size();) {
        const LineSpan line = lineAt(bytes, at);
        at = line.end();
        if (line.textIn(bytes).starts_with('#')) {
            dropped = true;
            continue;
        }
        size += line.length + 2;
    }
    if (!dropped) {
        return std::nullopt;
    }
    return size;
}

}  // namespace

// Two passes over the lines instead of a table of them: the first sizes the rewrite exactly, so
// a large playlist costs its own bytes and those of the rewrite, nothing more.
std::optional<std::string> cleanM3uBytes(std::string_view bytes) {
    const std::size_t markLength = byteOrderMarkLength(bytes);
    const std::optional<std::size_t> size = rewrittenSize(bytes, markLength);
    if (!size) {
        return std::nullopt;
    }
    std::string kept;
    kept.reserve(*size);
    kept += bytes.substr(0, markLength);
    for (std::size_t at = markLength; at < bytes.size();) {
        const LineSpan line = lineAt(bytes, at);
        at = line.end();
        if (!line.textIn(bytes).starts_with('#')) {
            kept += line.textIn(bytes);
            kept += "\r\n";
        }
    }
    return kept;
}

}  // namespace tagsnip::playlist
