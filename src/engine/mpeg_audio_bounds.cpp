#include "container_bounds.h"
#include "stream_reading.h"

#include <algorithm>
#include <array>
#include <optional>

namespace tagsnip {

namespace {

constexpr std::uint64_t headerSize = 4;

// Indexed by the version bits (MPEG-2.5, reserved, MPEG-2, MPEG-1) and the sampling rate index.
constexpr std::array<std::array<std::uint32_t, 3>, 4> sampleRates = {{
    {11025, 12000, 8000},
    {0, 0, 0},
    {22050, 24000, 16000},
    {44100, 48000, 32000},
}};

// kbit/s by bit rate index 1..14: MPEG-1 Layer I, II, III, then MPEG-2 and 2.5 Layer I, II/III.
constexpr std::array<std::array<std::uint32_t, 14>, 5> bitRates = {{
    {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
}};

constexpr unsigned mpeg1 = 3;
constexpr unsigned layerOne = 3;
constexpr unsigned layerTwo = 2;

constexpr std::uint64_t frameLength(unsigned version, unsigned layer, unsigned bitRateIndex,
                                    unsigned samplingIndex, unsigned padding) {
    const unsigned table = version == mpeg1 ? 3 - layer : (layer == layerOne ? 3 : 4);
    const std::uint64_t bitRate = std::uint64_t{bitRates[table][bitRateIndex - 1]} * 1000;
    const std::uint64_t sampleRate = sampleRates[version][samplingIndex];
    if (layer == layerOne) {
        return (12 * bitRate / sampleRate + padding) * 4;
    }
    const std::uint64_t factor = layer == layerTwo || version == mpeg1 ? 144 : 72;
    return factor * bitRate / sampleRate + padding;
}

constexpr std::uint64_t largestFrame() {
    std::uint64_t largest = 0;
    for (const unsigned version : {0u, 2u, 3u}) {
        for (unsigned layer = 1; layer <= 3; ++layer) {
            for (unsigned index = 1; index <= 14; ++index) {
                for (unsigned sampling = 0; sampling < 3; ++sampling) {
                    largest = std::max(largest, frameLength(version, layer, index, sampling, 1));
                }
            }
        }
    }
    return largest;
}

// MPEG-2.5 Layer II at 160 kbit/s and 8 kHz, padded.
constexpr std::uint64_t maxFrameLength = largestFrame();
static_assert(maxFrameLength == 2881);

struct FrameHeader {
    unsigned version;
    unsigned layer;
    unsigned samplingIndex;
    std::uint64_t length;

    bool sameStream(const FrameHeader& other) const {
        return version == other.version && layer == other.layer &&
               samplingIndex == other.samplingIndex;
    }
};

// Free format (index 0) is refused: its length is not in the header.
std::optional<FrameHeader> parseHeader(const unsigned char* bytes) {
    if (bytes[0] != 0xFF || (bytes[1] & 0xE0) != 0xE0) {
        return std::nullopt;
    }
    const unsigned version = (bytes[1] >> 3) & 3u;
    const unsigned layer = (bytes[1] >> 1) & 3u;
    const unsigned bitRateIndex = bytes[2] >> 4;
    const unsigned samplingIndex = (bytes[2] >> 2) & 3u;
    if (version == 1 || layer == 0 || bitRateIndex == 0 || bitRateIndex == 15 ||
        samplingIndex == 3) {
        return std::nullopt;
    }
    const unsigned padding = (bytes[2] >> 1) & 1u;
    return FrameHeader{version, layer, samplingIndex,
                       frameLength(version, layer, bitRateIndex, samplingIndex, padding)};
}

// Calls found(start, header) for each frame in the window that ends exactly at to, nearest
// first, until it returns true.
template <typename Found>
bool anyFrameEndingAt(const TailWindow& window, std::uint64_t to, Found found) {
    const std::uint64_t longest = std::min(to - window.begin(), maxFrameLength);
    for (std::uint64_t length = headerSize; length <= longest; ++length) {
        const std::uint64_t start = to - length;
        const auto header = parseHeader(window.at(start));
        if (header && header->length == length && found(start, *header)) {
            return true;
        }
    }
    return false;
}

class MpegAudioBounds final : public StreamBounds {
public:
    // The walk has always taken MP3 audio to begin right after the leading tags.
    std::error_code beginsAt(ByteSource&, std::uint64_t, std::uint64_t,
                             bool& proven) const override {
        proven = true;
        return {};
    }

    // The last frame ends at end, and the frame in front of it (of the same stream) ends where
    // it begins, unless it is the first: one header alone is too easily met by chance in a tag.
    std::error_code endsAt(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                           bool& proven) const override {
        proven = begin == end;
        if (begin >= end) {
            return {};
        }
        TailWindow window(source, end);
        std::error_code error = window.extendTo(backFrom(end, maxFrameLength, begin));
        proven =
            !error &&
            anyFrameEndingAt(window, end, [&](std::uint64_t last, const FrameHeader& header) {
                if (last == begin) {
                    return true;
                }
                error = window.extendTo(backFrom(last, maxFrameLength, begin));
                return !error && anyFrameEndingAt(window, last,
                                                  [&](std::uint64_t, const FrameHeader& before) {
                                                      return before.sameStream(header);
                                                  });
            });
        proven = proven && !error;
        return error;
    }
};

}  // namespace

const StreamBounds& mpegAudioBounds() {
    static const MpegAudioBounds bounds;
    return bounds;
}

}  // namespace tagsnip
