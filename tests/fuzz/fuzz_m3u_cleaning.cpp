// Random playlists through the M3U cleaner: a rewrite keeps every line that does not begin with
// "#", in order and byte for byte, ends each with CR LF, and is already clean itself.

#include "fuzz_require.h"
#include "playlist/m3u_cleaning.h"
#include "playlist/playlist_lines.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace tagsnip::playlist;

std::vector<std::string_view> linesOf(std::string_view bytes, bool keepHashLines) {
    std::vector<std::string_view> lines;
    for (const LineSpan& line : splitLines(bytes, byteOrderMarkLength(bytes))) {
        const std::string_view text = line.textIn(bytes);
        if (keepHashLines || !text.starts_with('#')) {
            lines.push_back(text);
        }
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> out = cleanM3uBytes(in);
    const std::vector<std::string_view> kept = linesOf(in, false);
    const bool hasHashLine = kept.size() != linesOf(in, true).size();
    require(out.has_value() == hasHashLine, "rewritten exactly when a line begins with #");
    if (!out) {
        return 0;
    }
    std::string expected(in.substr(0, byteOrderMarkLength(in)));
    for (const std::string_view line : kept) {
        expected.append(line).append("\r\n");
    }
    require(*out == expected, "kept lines in order, each with CR LF");
    // A first kept line that itself begins with the bytes of a byte order mark reads as one
    // in the rewrite; short of that, cleaning the rewrite changes nothing.
    if (byteOrderMarkLength(*out) == byteOrderMarkLength(in)) {
        require(!cleanM3uBytes(*out).has_value(), "a cleaned playlist is clean");
    }
    return 0;
}
