// Random playlists through the PLS cleaner: only whole lines go, only "Title"/"Length" keys of
// numbered entries with a value, every other key of the file reads as before, and the changed
// flag tells whether bytes changed.

#include "playlist/playlist_lines.h"
#include "playlist/pls_cleaning.h"
#include "playlist/profile_text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace tagsnip::playlist;

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}

bool isEntryMetadata(std::string_view name) {
    auto startsWith = [&](std::string_view prefix) {
        if (name.size() <= prefix.size()) {
            return false;
        }
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            if ((name[i] | 0x20) != (prefix[i] | 0x20)) {
                return false;
            }
        }
        return true;
    };
    return startsWith("title") || startsWith("length");
}

// out must be in with some of its lines left out.
bool isLinesOf(std::string_view in, std::string_view out) {
    std::size_t at = byteOrderMarkLength(in);
    if (out.substr(0, at) != in.substr(0, at)) {
        return false;
    }
    for (const LineSpan& line : splitLines(in, at)) {
        const std::string_view whole = in.substr(line.begin, line.end() - line.begin);
        if (out.substr(at, whole.size()) == whole) {
            at += whole.size();
        }
    }
    return at == out.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    ProfileText profile(in);
    const ProfileText before(in);
    const bool modified = cleanPlsEntries(profile);
    const std::string out = profile.bytes();
    require(modified == (out != in), "modified exactly when bytes change");
    require(isLinesOf(in, out), "only whole lines removed");

    const ProfileText reread(out);
    require(reread.readString("playlist", "NumberOfEntries", "?") ==
                before.readString("playlist", "NumberOfEntries", "?"),
            "entry count kept");
    for (const std::string& name : before.readKeyNames("playlist")) {
        if (!isEntryMetadata(name)) {
            require(reread.readString("playlist", name, "?") ==
                        before.readString("playlist", name, "?"),
                    "other keys read as before");
        }
    }
    return 0;
}
