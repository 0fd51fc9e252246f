#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tagsnip::test {

// MPEG-1 Layer III frames (128 kbit/s, 44.1 kHz): a valid header and a payload that differs from
// frame to frame, so that a misplaced byte shows.
std::string mpegAudio(std::size_t frames, unsigned seed = 1);

// An ID3v2 tag: header with the given flags and syncsafe size, then size bytes of body.
std::string id3v2Tag(std::uint32_t size, unsigned char flags = 0, unsigned char version = 3);
std::string syncsafe(std::uint32_t size);

// A 128-byte ID3v1 trailer.
std::string id3v1Tag(const std::string& title = "Title");

}  // namespace tagsnip::test
