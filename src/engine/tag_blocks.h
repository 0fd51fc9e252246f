#pragma once

#include "audio_format.h"
#include "byte_source.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tagsnip {

// The tag blocks a file may carry, in the order a row lists them.
enum class TagKind : std::uint8_t {
    // At the start, possibly several stacked, zero padding between them included.
    id3v2,
    // The 128-byte "TAG" trailer.
    id3v1,
    // The 227-byte "TAG+" block right in front of an ID3v1 trailer.
    id3v1Extended,
    // APEv1 or APEv2, found by its "APETAGEX" footer.
    ape,
    // Lyrics3 v1 ("LYRICSEND") or v2 ("LYRICS200").
    lyrics3,
    // An ID3v2.4 tag at the end, found by its "3DI" footer.
    id3v2Appended,
};
constexpr std::size_t tagKindCount = 6;

// Why a recognised block is left alone: its fields contradict the file.
enum class TagFault : std::uint8_t {
    // Not syncsafe, not six ASCII digits, or smaller than the block's own fixed part.
    malformedSize,
    unknownVersion,
    reachesBeforeStart,
    reachesBeyondEnd,
    // A block at the end whose size reaches back into the tags at the start.
    reachesIntoLeadingTags,
    // The APE header, "LYRICSBEGIN" or the ID3v2 header is not where the size says.
    startMissing,
    // Lyrics3 v1 carries no size: no "LYRICSBEGIN" within the longest text it may hold.
    beginNotFound,
    // Removing the block would leave a file whose stream does not begin, or end, at the cut.
    streamStartUnproven,
    streamEndUnproven,
};

struct TagProblem {
    TagKind kind;
    TagFault fault;
    // Where the block's marker stands.
    std::uint64_t offset;
    // The container whose stream a cut was not proven for.
    AudioFormat format = AudioFormat::mp3;
};

// One block recognised in a file: [begin, end). A stacked ID3v2 tag begins where the tag in
// front of it ends, so that the zero padding between them goes with it.
struct TagBlock {
    TagKind kind;
    std::uint64_t begin;
    std::uint64_t end;
};

// What one file holds: [keepBegin, keepEnd) is the content between the tags. A block that
// contradicts the file is counted, as it is there, and the first such is the problem: the parse
// stops at it on its side of the file and the range then covers what was recognised before it,
// but still looks for the blocks at the other end, so that the counts show what the file carries.
struct TagLayout {
    std::uint64_t keepBegin = 0;
    std::uint64_t keepEnd = 0;
    std::array<std::uint32_t, tagKindCount> counts{};
    std::optional<TagProblem> problem;
    // The blocks that go, the leading ones from the start, then the trailing ones from the end.
    std::vector<TagBlock> blocks;

    std::uint32_t count(TagKind kind) const { return counts[static_cast<std::size_t>(kind)]; }
};

// Finds the tag blocks of a file of the given size at its start and at its end, reading only the
// few bytes each block's structure needs. An error is a failed read; a block that contradicts the
// file is a problem in the layout, not an error.
[[nodiscard]] std::error_code findTagBlocks(ByteSource& source, std::uint64_t size,
                                            TagLayout& layout);

// Whether the blocks and the content between them make up the file exactly, each byte in one
// of them: what findTagBlocks gives always does, a problem or not, so that removing the blocks
// can never take content with them.
bool tilesFile(const TagLayout& layout, std::uint64_t size);

// "id3v2", "id3v1", "id3v1ext", "ape", "lyrics3", "id3v2end".
const char* tagKindName(TagKind kind);
// Whether the file carries blocks of kind beside the ID3v1 trailer and the first ID3v2 tag, which
// the two marks of a row show already.
bool isExtraTagKind(const TagLayout& layout, TagKind kind);
// The kinds found beside the ID3v1 trailer and the first ID3v2 tag, which the two marks of a row
// show already, comma-separated in TagKind order ("ape,lyrics3"); "-" for none.
std::string extraTagKinds(const TagLayout& layout);

}  // namespace tagsnip
