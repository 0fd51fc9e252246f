#pragma once

#include "audio_format.h"
#include "byte_source.h"

#include <cstdint>
#include <system_error>

namespace tagsnip {

// What one container knows of where its stream begins and ends, asked before a tag block is cut
// off: a cut is made only where the stream's own structure (a frame, a page, a chunk size) begins
// or ends exactly at it. Each answer reads a few KiB near the offset asked about, never the whole
// file. An error is a failed read; an unproven bound is a false answer, not an error.
class StreamBounds {
public:
    virtual ~StreamBounds() = default;

    // Whether the stream begins at begin, in content that runs to end.
    [[nodiscard]] virtual std::error_code beginsAt(ByteSource& source, std::uint64_t begin,
                                                   std::uint64_t end, bool& proven) const = 0;
    // Whether the stream, begun at begin, ends exactly at end.
    [[nodiscard]] virtual std::error_code endsAt(ByteSource& source, std::uint64_t begin,
                                                 std::uint64_t end, bool& proven) const = 0;
};

const StreamBounds& streamBoundsOf(AudioFormat format);

}  // namespace tagsnip
