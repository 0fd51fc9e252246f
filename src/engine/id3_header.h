#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tagsnip {

constexpr std::size_t id3v1TrailerSize = 128;
constexpr std::size_t id3v2HeaderSize = 10;

inline bool isId3v1Marker(std::string_view bytes) {
    return bytes.substr(0, 3) == "TAG";
}
inline bool isId3v2Marker(std::string_view bytes) {
    return bytes.substr(0, 3) == "ID3";
}

// Where the audio behind an ID3v2 tag begins, from the tag's 10-byte header: the syncsafe size
// (bit 7 of every byte ignored) plus the header, plus a footer when flag 0x10 says there is one.
inline std::uint64_t id3v2KeepFrom(const unsigned char* header) {
    const std::uint64_t size = (std::uint64_t{header[6] & 0x7Fu} << 21) |
                               (std::uint64_t{header[7] & 0x7Fu} << 14) |
                               (std::uint64_t{header[8] & 0x7Fu} << 7) | (header[9] & 0x7Fu);
    const std::uint64_t overhead = (header[5] & 0x10u) != 0 ? 20 : 10;
    return size + overhead;
}

}  // namespace tagsnip
