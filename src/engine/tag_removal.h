#pragma once

#include "audio_format.h"
#include "byte_source.h"
#include "tag_blocks.h"

#include <cstdint>
#include <system_error>

namespace tagsnip {

// What the switches ask to go of a file's blocks.
struct RemovalRequest {
    bool allTags = false;
    bool remove1 = false;
    bool remove2 = false;

    bool any() const { return allTags || remove1 || remove2; }
};

// The blocks of found that go, and what stays between them: every block with every tag kind,
// otherwise the ID3v2 tags at the start for remove2 and the ID3v1 trailer with its extended
// block for remove1. A block stays when one that stays stands between it and the end, so that
// what goes is always a run of blocks from either end.
TagLayout blocksToRemove(const TagLayout& found, std::uint64_t size, const RemovalRequest& request);

// What a failed removal names as not removed: "ID3v2", "ID3v1", or every tag.
const char* removalLabel(const TagLayout& removal, const RemovalRequest& request);

// Asks the container whether its stream begins where the blocks at the start that go end, and
// ends where the blocks at the end that go begin; an unproven cut becomes the problem of
// removal, naming the block next to it. The stream is what found keeps.
[[nodiscard]] std::error_code proveCuts(ByteSource& source, AudioFormat format,
                                        const TagLayout& found, TagLayout& removal);

}  // namespace tagsnip
