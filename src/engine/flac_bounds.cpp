#include "container_bounds.h"
#include "stream_reading.h"

#include <optional>
#include <string_view>

namespace tagsnip {

namespace {

constexpr std::size_t streamInfoLength = 34;
// "fLaC" and the metadata block header in front of STREAMINFO.
constexpr std::size_t streamInfoOffset = 8;
constexpr std::uint64_t unknownMaxFrameCap = 1024 * 1024;
constexpr std::size_t crc16Size = 2;
// Sync and codes, one byte of frame number, the CRC-8, a subframe header byte, the CRC-16.
constexpr std::uint64_t smallestFrame = 4 + 1 + 1 + 1 + crc16Size;

struct StreamInfo {
    std::uint32_t maxFrameSize = 0;
};

std::error_code readStreamInfo(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                               std::optional<StreamInfo>& info) {
    info.reset();
    if (!offsetWithin(begin, streamInfoOffset + streamInfoLength, end)) {
        return {};
    }
    std::vector<unsigned char> bytes;
    if (const std::error_code error =
            readBytes(source, begin, streamInfoOffset + streamInfoLength, bytes)) {
        return error;
    }
    const bool streamInfoFirst =
        std::string_view(reinterpret_cast<const char*>(bytes.data()), 4) == "fLaC" &&
        (bytes[4] & 0x7F) == 0 && bigEndian24(&bytes[5]) == streamInfoLength;
    if (streamInfoFirst) {
        info = StreamInfo{bigEndian24(&bytes[streamInfoOffset + 7])};
    }
    return {};
}

std::uint8_t crc8(const unsigned char* bytes, std::size_t length) {
    unsigned crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1;
        }
    }
    return static_cast<std::uint8_t>(crc);
}

// The bytes the frame number or sample number takes after its first byte, coded like UTF-8
// but up to 36 bits.
std::optional<std::size_t> codedNumberTail(unsigned char first) {
    if (first < 0x80) {
        return 0;
    }
    for (std::size_t tail = 1; tail <= 6; ++tail) {
        const unsigned mask = (0xFFu << (6 - tail)) & 0xFFu;
        if ((first & mask) == ((mask << 1) & 0xFFu)) {
            return tail;
        }
    }
    return std::nullopt;
}

// The length of a valid frame header at bytes, available bytes long (the frame short of its
// CRC-16), or nothing.
std::optional<std::size_t> frameHeaderLength(const unsigned char* bytes, std::size_t available) {
    if (available < 6 || bytes[0] != 0xFF || (bytes[1] & 0xFE) != 0xF8) {
        return std::nullopt;
    }
    const unsigned blockSizeCode = bytes[2] >> 4;
    const unsigned rateCode = bytes[2] & 0x0Fu;
    const unsigned channels = bytes[3] >> 4;
    const unsigned sampleSizeCode = (bytes[3] >> 1) & 7u;
    if (blockSizeCode == 0 || rateCode == 15 || channels > 10 || sampleSizeCode == 3 ||
        (bytes[3] & 1u) != 0) {
        return std::nullopt;
    }
    const auto tail = codedNumberTail(bytes[4]);
    // A frame number (fixed block size) has at most 31 bits, six bytes.
    const bool variableBlockSize = (bytes[1] & 1u) != 0;
    if (!tail || (*tail == 6 && !variableBlockSize) || 5 + *tail > available) {
        return std::nullopt;
    }
    for (std::size_t i = 5; i < 5 + *tail; ++i) {
        if ((bytes[i] & 0xC0) != 0x80) {
            return std::nullopt;
        }
    }
    std::size_t length = 5 + *tail;
    length += blockSizeCode == 6 ? 1 : blockSizeCode == 7 ? 2 : 0;
    length += rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0;
    if (length >= available || crc8(bytes, length) != bytes[length]) {
        return std::nullopt;
    }
    return length + 1;
}

// The CRC-16 (x^16 + x^15 + x^2 + 1, initial 0) of every suffix of a message, one byte at a time
// from its end, so that checking each candidate frame start costs one step and not a pass over
// the frame. The CRC of a message is its polynomial times x^16 modulo the generator, so a byte
// k bytes from the end adds byte * x^(8k+16).
class SuffixCrc16 {
public:
    void prepend(unsigned char byte) {
        m_crc ^= multiply(byte, m_power);
        for (int bit = 0; bit < 8; ++bit) {
            m_power = timesX(m_power);
        }
    }
    std::uint16_t value() const { return m_crc; }

private:
    static std::uint16_t timesX(std::uint16_t value) {
        return static_cast<std::uint16_t>((value << 1) ^ ((value & 0x8000) != 0 ? 0x8005 : 0));
    }
    static std::uint16_t multiply(unsigned char byte, std::uint16_t factor) {
        std::uint16_t product = 0;
        for (int bit = 7; bit >= 0; --bit) {
            product = timesX(product);
            if (((byte >> bit) & 1) != 0) {
                product ^= factor;
            }
        }
        return product;
    }

    std::uint16_t m_crc = 0;
    std::uint16_t m_power = 0x8005;  // x^16
};

class FlacBounds final : public StreamBounds {
public:
    std::error_code beginsAt(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                             bool& proven) const override {
        std::optional<StreamInfo> info;
        const std::error_code error = readStreamInfo(source, begin, end, info);
        proven = !error && info.has_value();
        return error;
    }

    // The nearest frame start before end whose header is valid and whose CRC-16 is the one in
    // the last two bytes before end, within the largest frame the stream declares.
    std::error_code endsAt(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                           bool& proven) const override {
        proven = false;
        if (!offsetWithin(begin, smallestFrame, end)) {
            return {};
        }
        std::optional<StreamInfo> info;
        if (const std::error_code error = readStreamInfo(source, begin, end, info)) {
            return error;
        }
        const std::uint64_t cap =
            info && info->maxFrameSize != 0 ? info->maxFrameSize : unknownMaxFrameCap;
        // No frame fits a stream that declares a largest frame smaller than any frame.
        if (cap < smallestFrame) {
            return {};
        }
        const std::uint64_t lowest = backFrom(end, cap, begin);
        const std::uint64_t crcEnd = end - crc16Size;
        TailWindow window(source, end);
        SuffixCrc16 crc;
        std::uint64_t next = crcEnd;
        for (bool widened = true; widened && !proven;) {
            if (const std::error_code error = window.widen(lowest, widened)) {
                return error;
            }
            const std::uint16_t expected =
                static_cast<std::uint16_t>(bigEndian16(window.at(crcEnd)));
            for (; next > window.begin() && !proven;) {
                --next;
                crc.prepend(*window.at(next));
                const auto header =
                    frameHeaderLength(window.at(next), static_cast<std::size_t>(crcEnd - next));
                proven = header && crc.value() == expected;
            }
        }
        return {};
    }
};

}  // namespace

const StreamBounds& flacBounds() {
    static const FlacBounds bounds;
    return bounds;
}

}  // namespace tagsnip
