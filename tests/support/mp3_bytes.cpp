#include "mp3_bytes.h"

namespace tagsnip::test {

std::string mpegAudio(std::size_t frames, unsigned seed) {
    constexpr std::size_t frameSize = 417;
    std::string audio;
    audio.reserve(frames * frameSize);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t f = 0; f < frames; ++f) {
        audio += "\xFF\xFB\x90\x64";
        for (std::size_t i = 4; i < frameSize; ++i) {
            state = state * 1664525u + 1013904223u;
            audio += static_cast<char>(state >> 24);
        }
    }
    return audio;
}

std::string syncsafe(std::uint32_t size) {
    std::string bytes(4, '\0');
    for (int i = 3; i >= 0; --i) {
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(size & 0x7F);
        size >>= 7;
    }
    return bytes;
}

std::string id3v2Tag(std::uint32_t size, unsigned char flags, unsigned char version) {
    std::string tag = "ID3";
    tag += static_cast<char>(version);
    tag += '\0';
    tag += static_cast<char>(flags);
    tag += syncsafe(size);
    std::string body = "TIT2";
    body.resize(size, '\0');
    tag += body.substr(0, size);
    return tag;
}

std::string id3v1Tag(const std::string& title) {
    std::string tag = "TAG" + title;
    tag.resize(128, '\0');
    return tag;
}

}  // namespace tagsnip::test
