#include "container_bounds.h"
#include "stream_reading.h"

#include <array>
#include <cstring>
#include <optional>

namespace tagsnip {

namespace {

constexpr std::size_t pageHeaderSize = 27;
constexpr std::size_t crcOffset = 22;
constexpr std::uint64_t largestPage = pageHeaderSize + 255 + 255 * 255;
constexpr unsigned char beginningOfStream = 0x02;
constexpr unsigned char endOfStream = 0x04;

constexpr std::array<std::uint32_t, 256> crcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
        table[byte] = crc;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> crcBytes = crcTable();

// The page's CRC-32 is taken with its own field as zeros.
bool crcMatches(const unsigned char* page, std::size_t length) {
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char byte = i >= crcOffset && i < crcOffset + 4 ? 0 : page[i];
        crc = (crc << 8) ^ crcBytes[((crc >> 24) ^ byte) & 0xFFu];
    }
    return crc == littleEndian32(page + crcOffset);
}

// The whole length of a version 0 page whose header and segment table lie in available bytes.
std::optional<std::uint64_t> pageLength(const unsigned char* bytes, std::size_t available) {
    if (available < pageHeaderSize || std::memcmp(bytes, "OggS", 4) != 0 || bytes[4] != 0 ||
        pageHeaderSize + bytes[26] > available) {
        return std::nullopt;
    }
    std::uint64_t length = pageHeaderSize + bytes[26];
    for (std::size_t i = 0; i < bytes[26]; ++i) {
        length += bytes[pageHeaderSize + i];
    }
    return length;
}

class OggBounds final : public StreamBounds {
public:
    std::error_code beginsAt(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                             bool& proven) const override {
        proven = false;
        const auto headerEnd = offsetWithin(begin, pageHeaderSize, end);
        if (!headerEnd) {
            return {};
        }
        std::vector<unsigned char> page;
        if (const std::error_code error = readBytes(source, begin, pageHeaderSize, page)) {
            return error;
        }
        if ((page[5] & beginningOfStream) == 0 || !offsetWithin(*headerEnd, page[26], end)) {
            return {};
        }
        if (const std::error_code error =
                readBytes(source, begin, pageHeaderSize + page[26], page)) {
            return error;
        }
        const auto length = pageLength(page.data(), page.size());
        if (!length || !offsetWithin(begin, *length, end)) {
            return {};
        }
        if (const std::error_code error =
                readBytes(source, begin, static_cast<std::size_t>(*length), page)) {
            return error;
        }
        proven = crcMatches(page.data(), page.size());
        return {};
    }

    // The nearest page that ends exactly at end, checked by its CRC and its end-of-stream flag.
    std::error_code endsAt(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                           bool& proven) const override {
        proven = false;
        if (!offsetWithin(begin, pageHeaderSize, end)) {
            return {};
        }
        const std::uint64_t lowest = backFrom(end, largestPage, begin);
        TailWindow window(source, end);
        std::uint64_t next = end - pageHeaderSize + 1;
        for (bool widened = true; widened && !proven;) {
            if (const std::error_code error = window.widen(lowest, widened)) {
                return error;
            }
            for (; next > window.begin() && !proven;) {
                --next;
                const auto length = static_cast<std::size_t>(end - next);
                const unsigned char* page = window.at(next);
                proven = pageLength(page, length) == length && (page[5] & endOfStream) != 0 &&
                         crcMatches(page, length);
            }
        }
        return {};
    }
};

}  // namespace

const StreamBounds& oggBounds() {
    static const OggBounds bounds;
    return bounds;
}

}  // namespace tagsnip
