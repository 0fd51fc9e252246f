#pragma once

#include <cstdint>

namespace tagsnip {

struct JobCounters {
    std::uint32_t mp3Files = 0;
    std::uint32_t id3v1Tags = 0;
    std::uint32_t id3v2Tags = 0;
    std::uint32_t m3uPlaylists = 0;
    std::uint32_t plsPlaylists = 0;
};

}  // namespace tagsnip
