#include "tag_blocks.h"

#include "id3_header.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace tagsnip {

namespace {

constexpr std::size_t apeFooterSize = 32;
constexpr std::size_t extendedTagSize = 227;
constexpr std::size_t lyrics3v2TrailerSize = 15;  // six digits, "LYRICS200"
constexpr std::size_t lyricsEndSize = 9;          // "LYRICSEND" or "LYRICS200"
constexpr std::size_t lyricsBeginSize = 11;       // "LYRICSBEGIN"
constexpr std::size_t lyrics3v1MaxText = 5100;
// The deepest fixed look back from the end: "TAG+" in front of an ID3v1 trailer.
constexpr std::size_t tailSize = extendedTagSize + id3v1TrailerSize;
// Zero bytes after a tag go with it only when another tag follows within this distance; a longer
// run is taken for content, so that the search never reads through a file.
constexpr std::size_t paddingLimit = 64 * 1024;
constexpr std::size_t paddingFirstChunk = 16;
constexpr std::size_t paddingChunk = 4096;

std::string_view text(const std::vector<unsigned char>& bytes, std::size_t at, std::size_t n) {
    return {reinterpret_cast<const char*>(bytes.data()) + at, n};
}

std::uint32_t littleEndian32(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

std::optional<TagFault> id3v2HeaderFault(const unsigned char* header) {
    if (header[3] < 2 || header[3] > 4 || header[4] == 0xFF) {
        return TagFault::unknownVersion;
    }
    if (((header[6] | header[7] | header[8] | header[9]) & 0x80) != 0) {
        return TagFault::malformedSize;
    }
    return std::nullopt;
}

// The outcome of looking for one block: nothing, the block [begin, end) or a fault.
struct Match {
    std::optional<TagKind> kind;
    std::uint64_t begin = 0;
    std::optional<TagFault> fault;
};

// The last bytes before end, and the lowest offset a trailing block may begin at.
class Tail {
public:
    Tail(ByteSource& source, std::uint64_t end, std::uint64_t floor)
        : m_source(source), m_end(end), m_floor(floor) {}

    std::error_code load() {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(m_end, tailSize));
        m_bytes.resize(length);
        return length == 0 ? std::error_code{}
                           : m_source.read(m_end - length, m_bytes.data(), length);
    }
    std::uint64_t end() const { return m_end; }
    std::uint64_t floor() const { return m_floor; }
    bool holds(std::size_t fromEnd, std::string_view marker) const {
        return fromEnd <= m_bytes.size() &&
               text(m_bytes, m_bytes.size() - fromEnd, marker.size()) == marker;
    }
    const unsigned char* at(std::size_t fromEnd) const {
        return m_bytes.data() + m_bytes.size() - fromEnd;
    }
    ByteSource& source() const { return m_source; }

    // A block of total bytes ending at end, or why it cannot be one.
    Match place(TagKind kind, std::uint64_t total) const {
        if (total > m_end) {
            return {kind, 0, TagFault::reachesBeforeStart};
        }
        if (m_end - total < m_floor) {
            return {kind, m_end - total, TagFault::reachesIntoLeadingTags};
        }
        return {kind, m_end - total, std::nullopt};
    }

private:
    ByteSource& m_source;
    std::uint64_t m_end;
    std::uint64_t m_floor;
    std::vector<unsigned char> m_bytes;
};

std::error_code readText(ByteSource& source, std::uint64_t offset, std::size_t length,
                         std::vector<unsigned char>& bytes) {
    bytes.resize(length);
    return source.read(offset, bytes.data(), length);
}

std::error_code matchId3v1(const Tail& tail, Match& match) {
    if (tail.holds(id3v1TrailerSize, "TAG")) {
        match = tail.place(TagKind::id3v1, id3v1TrailerSize);
    }
    return {};
}

std::error_code matchExtended(const Tail& tail, Match& match) {
    if (tail.holds(extendedTagSize, "TAG+")) {
        match = tail.place(TagKind::id3v1Extended, extendedTagSize);
    }
    return {};
}

std::error_code matchApe(const Tail& tail, Match& match) {
    if (!tail.holds(apeFooterSize, "APETAGEX")) {
        return {};
    }
    const unsigned char* footer = tail.at(apeFooterSize);
    const std::uint32_t version = littleEndian32(footer + 8);
    const std::uint32_t size = littleEndian32(footer + 12);
    const std::uint32_t flags = littleEndian32(footer + 20);
    const std::uint64_t footerAt = tail.end() - apeFooterSize;
    if (version != 1000 && version != 2000) {
        match = {TagKind::ape, footerAt, TagFault::unknownVersion};
        return {};
    }
    // Flags mean nothing in version 1; in version 2 bit 29 marks a header, which never ends a tag.
    const bool hasHeader = version == 2000 && (flags & (1u << 31)) != 0;
    if (size < apeFooterSize || (version == 2000 && (flags & (1u << 29)) != 0)) {
        match = {TagKind::ape, footerAt, TagFault::malformedSize};
        return {};
    }
    match = tail.place(TagKind::ape, std::uint64_t{size} + (hasHeader ? apeFooterSize : 0));
    if (match.fault || !hasHeader) {
        return {};
    }
    // The header repeats the footer's version and size.
    std::vector<unsigned char> header;
    if (const auto error = readText(tail.source(), match.begin, 16, header)) {
        return error;
    }
    if (text(header, 0, 8) != "APETAGEX" ||
        !std::equal(footer + 8, footer + 16, header.begin() + 8)) {
        match.fault = TagFault::startMissing;
    }
    return {};
}

bool sixDigits(const Tail& tail, std::uint64_t& value) {
    if (tail.end() < lyrics3v2TrailerSize) {
        return false;
    }
    const unsigned char* digits = tail.at(lyrics3v2TrailerSize);
    for (int i = 0; i < 6; ++i) {
        if (digits[i] < '0' || digits[i] > '9') {
            return false;
        }
        value = value * 10 + (digits[i] - '0');
    }
    return true;
}

std::error_code matchLyrics3v2(const Tail& tail, Match& match) {
    if (!tail.holds(lyricsEndSize, "LYRICS200")) {
        return {};
    }
    const std::uint64_t endMarker = tail.end() - lyricsEndSize;
    std::uint64_t size = 0;
    if (!sixDigits(tail, size) || size < lyricsBeginSize) {
        match = {TagKind::lyrics3, endMarker, TagFault::malformedSize};
        return {};
    }
    match = tail.place(TagKind::lyrics3, size + lyrics3v2TrailerSize);
    if (match.fault) {
        return {};
    }
    std::vector<unsigned char> begin;
    if (const auto error = readText(tail.source(), match.begin, lyricsBeginSize, begin)) {
        return error;
    }
    if (text(begin, 0, lyricsBeginSize) != "LYRICSBEGIN") {
        match.fault = TagFault::startMissing;
    }
    return {};
}

// Version 1 carries no size: its start is the last "LYRICSBEGIN" within the longest text allowed.
std::error_code matchLyrics3v1(const Tail& tail, Match& match) {
    if (!tail.holds(lyricsEndSize, "LYRICSEND")) {
        return {};
    }
    match = tail.place(TagKind::lyrics3, lyricsEndSize);
    if (match.fault) {
        return {};
    }
    const std::uint64_t endMarker = match.begin;
    const std::uint64_t reach = lyricsBeginSize + lyrics3v1MaxText;
    const std::uint64_t from = std::max(tail.floor(), endMarker > reach ? endMarker - reach : 0);
    if (endMarker - from < lyricsBeginSize) {
        match.fault = TagFault::beginNotFound;
        return {};
    }
    std::vector<unsigned char> window;
    if (const auto error =
            readText(tail.source(), from, static_cast<std::size_t>(endMarker - from), window)) {
        return error;
    }
    const std::size_t found = text(window, 0, window.size()).rfind("LYRICSBEGIN");
    if (found == std::string_view::npos) {
        match = {TagKind::lyrics3, endMarker, TagFault::beginNotFound};
        return {};
    }
    match = {TagKind::lyrics3, from + found, std::nullopt};
    return {};
}

std::error_code matchAppendedId3v2(const Tail& tail, Match& match) {
    if (!tail.holds(id3v2HeaderSize, "3DI")) {
        return {};
    }
    const unsigned char* footer = tail.at(id3v2HeaderSize);
    const std::uint64_t footerAt = tail.end() - id3v2HeaderSize;
    if (const auto fault = id3v2HeaderFault(footer)) {
        match = {TagKind::id3v2Appended, footerAt, fault};
        return {};
    }
    if (footer[3] != 4) {
        match = {TagKind::id3v2Appended, footerAt, TagFault::unknownVersion};
        return {};
    }
    // Without the footer flag the size would not count the footer this marker belongs to.
    if ((footer[5] & 0x10) == 0) {
        match = {TagKind::id3v2Appended, footerAt, TagFault::malformedSize};
        return {};
    }
    match = tail.place(TagKind::id3v2Appended, id3v2KeepFrom(footer));
    if (match.fault) {
        return {};
    }
    // The footer is a copy of the header but for the marker.
    std::vector<unsigned char> header;
    if (const auto error = readText(tail.source(), match.begin, id3v2HeaderSize, header)) {
        return error;
    }
    if (text(header, 0, 3) != "ID3" ||
        !std::equal(footer + 3, footer + id3v2HeaderSize, header.begin() + 3)) {
        match.fault = TagFault::startMissing;
    }
    return {};
}

std::error_code matchTrailer(const Tail& tail, bool afterId3v1, Match& match) {
    if (afterId3v1) {
        if (const auto error = matchExtended(tail, match); error || match.kind) {
            return error;
        }
    }
    using Matcher = std::error_code (*)(const Tail&, Match&);
    static constexpr Matcher matchers[] = {matchId3v1, matchApe, matchLyrics3v2, matchLyrics3v1,
                                           matchAppendedId3v2};
    for (const Matcher matcher : matchers) {
        if (const auto error = matcher(tail, match); error || match.kind) {
            return error;
        }
    }
    return {};
}

// The first offset at or after from that holds no zero byte, or from when none is near. The
// reads start small and grow, so that a tag followed by audio costs a few bytes.
std::error_code skipPadding(ByteSource& source, std::uint64_t from, std::uint64_t size,
                            std::uint64_t& next) {
    next = from;
    const std::uint64_t limit = std::min(size, from + paddingLimit);
    std::vector<unsigned char> chunk;
    std::size_t wanted = paddingFirstChunk;
    for (std::uint64_t at = from; at < limit; wanted = std::min(wanted * 2, paddingChunk)) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(limit - at, wanted));
        if (const auto error = readText(source, at, length, chunk)) {
            return error;
        }
        const auto nonZero =
            std::find_if(chunk.begin(), chunk.end(), [](unsigned char c) { return c != 0; });
        if (nonZero != chunk.end()) {
            next = at + static_cast<std::uint64_t>(nonZero - chunk.begin());
            return {};
        }
        at += length;
    }
    return {};
}

void count(TagLayout& layout, TagKind kind) {
    ++layout.counts[static_cast<std::size_t>(kind)];
}

std::error_code findLeadingTags(ByteSource& source, std::uint64_t size, TagLayout& layout) {
    for (std::uint64_t at = 0; at + id3v2HeaderSize <= size;) {
        std::vector<unsigned char> header;
        if (const auto error = readText(source, at, id3v2HeaderSize, header)) {
            return error;
        }
        if (text(header, 0, 3) != "ID3") {
            return {};
        }
        std::optional<TagFault> fault = id3v2HeaderFault(header.data());
        const std::uint64_t end = at + id3v2KeepFrom(header.data());
        if (!fault && end > size) {
            fault = TagFault::reachesBeyondEnd;
        }
        count(layout, TagKind::id3v2);
        if (fault) {
            layout.problem = TagProblem{TagKind::id3v2, *fault, at};
            return {};
        }
        layout.blocks.push_back({TagKind::id3v2, layout.keepBegin, end});
        layout.keepBegin = end;
        if (const auto error = skipPadding(source, end, size, at)) {
            return error;
        }
    }
    return {};
}

std::error_code findTrailingTags(ByteSource& source, TagLayout& layout) {
    bool afterId3v1 = false;
    // The end is looked at even when the leading tags say they reach it: a trailer there means
    // that their size is wrong, not that the trailer is theirs. Once the blocks found meet,
    // nothing is left that another could be.
    for (bool first = true; first || layout.keepEnd > layout.keepBegin; first = false) {
        Tail tail(source, layout.keepEnd, layout.keepBegin);
        if (const auto error = tail.load()) {
            return error;
        }
        Match match;
        if (const auto error = matchTrailer(tail, afterId3v1, match)) {
            return error;
        }
        if (!match.kind) {
            return {};
        }
        count(layout, *match.kind);
        if (match.fault) {
            if (!layout.problem) {
                layout.problem = TagProblem{*match.kind, *match.fault, match.begin};
            }
            return {};
        }
        layout.blocks.push_back({*match.kind, match.begin, layout.keepEnd});
        layout.keepEnd = match.begin;
        afterId3v1 = *match.kind == TagKind::id3v1;
    }
    return {};
}

}  // namespace

std::error_code findTagBlocks(ByteSource& source, std::uint64_t size, TagLayout& layout) {
    layout = TagLayout{};
    layout.keepEnd = size;
    if (const auto error = findLeadingTags(source, size, layout)) {
        return error;
    }
    return findTrailingTags(source, layout);
}

bool tilesFile(const TagLayout& layout, std::uint64_t size) {
    if (layout.keepBegin > layout.keepEnd || layout.keepEnd > size) {
        return false;
    }
    std::uint64_t front = 0;
    std::uint64_t back = size;
    for (const TagBlock& block : layout.blocks) {
        if (block.begin >= block.end) {
            return false;
        }
        if (block.begin == front && block.end <= layout.keepBegin) {
            front = block.end;
        } else if (block.end == back && block.begin >= layout.keepEnd) {
            back = block.begin;
        } else {
            return false;
        }
    }
    return front == layout.keepBegin && back == layout.keepEnd;
}

const char* tagKindName(TagKind kind) {
    static constexpr const char* names[tagKindCount] = {"id3v2", "id3v1",   "id3v1ext",
                                                        "ape",   "lyrics3", "id3v2end"};
    return names[static_cast<std::size_t>(kind)];
}

bool isExtraTagKind(const TagLayout& layout, TagKind kind) {
    const std::uint32_t shown = kind == TagKind::id3v2 || kind == TagKind::id3v1 ? 1 : 0;
    return layout.count(kind) > shown;
}

std::string extraTagKinds(const TagLayout& layout) {
    std::string list;
    for (std::size_t i = 0; i < tagKindCount; ++i) {
        const auto kind = static_cast<TagKind>(i);
        if (isExtraTagKind(layout, kind)) {
            if (!list.empty()) {
                list += ',';
            }
            list += tagKindName(kind);
        }
    }
    return list.empty() ? "-" : list;
}

}  // namespace tagsnip
