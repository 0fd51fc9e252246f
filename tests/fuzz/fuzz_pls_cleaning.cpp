// Random playlists through the PLS cleaner: only whole lines go, only "Title"/"Length" keys of
// numbered entries with a value, every other key of the file reads as before, and the changed
// flag tells whether bytes changed.

#include "fuzz_require.h"
#include "playlist/playlist_lines.h"
#include "playlist/pls_cleaning.h"
#include "playlist/profile_text.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

using namespace tagsnip::playlist;

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

// out must be in with some of its lines left out. Every offset of out that some choice of kept
// lines reaches is followed, since a left-out line may be the start of the next kept one.
bool isLinesOf(std::string_view in, std::string_view out) {
    const std::size_t mark = byteOrderMarkLength(in);
    if (out.substr(0, mark) != in.substr(0, mark)) {
        return false;
    }
    std::set<std::size_t> reached = {mark};
    for (const LineSpan& line : splitLines(in, mark)) {
        const std::string_view whole = in.substr(line.begin, line.end() - line.begin);
        std::set<std::size_t> next = reached;
        for (const std::size_t at : reached) {
            if (out.substr(at, whole.size()) == whole) {
                next.insert(at + whole.size());
            }
        }
        reached = std::move(next);
    }
    return reached.contains(out.size());
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
