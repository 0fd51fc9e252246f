#include "container_bounds.h"
#include "stream_reading.h"

#include <algorithm>
#include <optional>

namespace tagsnip {

namespace {

constexpr std::size_t headerSize = 7;
constexpr std::size_t headerWithCrcSize = 9;
constexpr std::uint64_t largestFrame = 8191;
// The last frame and two in front of it, each ending where the next begins.
constexpr unsigned framesToTile = 3;

struct FrameHeader {
    std::uint64_t length;
    // The fields every frame of one stream repeats: version, layer, CRC presence, profile,
    // sampling rate and channels.
    std::uint32_t stream;
};

std::optional<FrameHeader> parseHeader(const unsigned char* bytes) {
    if (bytes[0] != 0xFF || (bytes[1] & 0xF6) != 0xF0 || ((bytes[2] >> 2) & 0x0Fu) >= 13) {
        return std::nullopt;
    }
    const std::uint64_t length =
        (std::uint64_t{bytes[3] & 3u} << 11) | (std::uint64_t{bytes[4]} << 3) | (bytes[5] >> 5);
    const std::size_t minimum = (bytes[1] & 1u) != 0 ? headerSize : headerWithCrcSize;
    if (length < minimum) {
        return std::nullopt;
    }
    const std::uint32_t stream = (std::uint32_t{bytes[1] & 0x0Fu} << 16) |
                                 (std::uint32_t{bytes[2] & 0xFDu} << 8) | (bytes[3] & 0xC0u);
    return FrameHeader{length, stream};
}

std::error_code readHeader(ByteSource& source, std::uint64_t offset, std::uint64_t end,
                           std::optional<FrameHeader>& header) {
    header.reset();
    if (!offsetWithin(offset, headerSize, end)) {
        return {};
    }
    std::vector<unsigned char> bytes;
    if (const std::error_code error = readBytes(source, offset, headerSize, bytes)) {
        return error;
    }
    header = parseHeader(bytes.data());
    return {};
}

// Whether the frames in the window tile up to its end, framesToTile deep or from begin: each
// offset keeps the deepest run of one stream's frames ending there. Keeping one run per offset
// can miss a proof only where frames of two streams end at the same offset.
bool framesTileToEnd(const TailWindow& window, std::uint64_t begin) {
    const auto size = static_cast<std::size_t>(window.end() - window.begin());
    std::vector<unsigned char> depth(size + 1, 0);
    std::vector<std::uint32_t> stream(size + 1, 0);
    for (std::size_t at = 0; at + headerSize <= size; ++at) {
        const auto header = parseHeader(window.at(window.begin() + at));
        if (!header || header->length > size - at) {
            continue;
        }
        const bool first = window.begin() + at == begin;
        const bool follows = depth[at] > 0 && stream[at] == header->stream;
        const unsigned reached =
            first ? framesToTile : std::min<unsigned>(framesToTile, follows ? depth[at] + 1 : 1);
        const std::size_t next = at + static_cast<std::size_t>(header->length);
        if (reached > depth[next]) {
            depth[next] = static_cast<unsigned char>(reached);
            stream[next] = header->stream;
        }
    }
    return depth[size] >= framesToTile;
}

class AdtsBounds final : public StreamBounds {
public:
    // A valid header at begin and another of the same stream right after its frame.
    std::error_code beginsAt(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                             bool& proven) const override {
        proven = false;
        std::optional<FrameHeader> first;
        if (const std::error_code error = readHeader(source, begin, end, first)) {
            return error;
        }
        const auto next = first ? offsetWithin(begin, first->length, end) : std::nullopt;
        if (!next || *next == end) {
            proven = next.has_value();
            return {};
        }
        std::optional<FrameHeader> second;
        const std::error_code error = readHeader(source, *next, end, second);
        proven = !error && second && second->stream == first->stream;
        return error;
    }

    std::error_code endsAt(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                           bool& proven) const override {
        proven = false;
        if (!offsetWithin(begin, headerSize, end)) {
            return {};
        }
        const std::uint64_t lowest = backFrom(end, framesToTile * largestFrame, begin);
        TailWindow window(source, end);
        for (bool widened = true; widened && !proven;) {
            if (const std::error_code error = window.widen(lowest, widened)) {
                return error;
            }
            proven = widened && framesTileToEnd(window, begin);
        }
        return {};
    }
};

}  // namespace

const StreamBounds& adtsBounds() {
    static const AdtsBounds bounds;
    return bounds;
}

}  // namespace tagsnip
