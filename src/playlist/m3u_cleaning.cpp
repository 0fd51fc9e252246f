#include "m3u_cleaning.h"

#include "playlist_lines.h"

namespace tagsnip::playlist {

std::optional<std::string> cleanM3uBytes(std::string_view bytes) {
    const std::size_t markLength = byteOrderMarkLength(bytes);
    if (bytes.find('#', markLength) == std::string_view::npos) {
        return std::nullopt;
    }
    std::string kept(bytes.substr(0, markLength));
    kept.reserve(bytes.size() + bytes.size() / 8);
    bool dropped = false;
    for (const LineSpan& line : splitLines(bytes, markLength)) {
        const std::string_view text = line.textIn(bytes);
        if (text.starts_with('#')) {
            dropped = true;
            continue;
        }
        kept += text;
        kept += "\r\n";
    }
    // The kept text differs from the whole text exactly when a line was dropped; otherwise the
    // file keeps its own breaks, whatever they are.
    if (!dropped) {
        return std::nullopt;
    }
    return kept;
}

}  // namespace tagsnip::playlist
