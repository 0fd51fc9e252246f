#pragma once

#include "audio_format.h"
#include "tag_blocks.h"

#include <array>
#include <cstdint>

namespace tagsnip {

struct JobCounters {
    std::uint32_t mp3Files = 0;
    // The files met of each other format selected; MP3 files are counted in mp3Files.
    std::array<std::uint32_t, audioFormatCount> otherAudioFiles{};
    std::uint32_t id3v1Tags = 0;
    std::uint32_t id3v2Tags = 0;
    std::uint32_t m3uPlaylists = 0;
    std::uint32_t plsPlaylists = 0;
    // With every tag kind removed: per kind, the files whose row lists it beside the marks.
    std::array<std::uint32_t, tagKindCount> extraKindFiles{};
};

}  // namespace tagsnip
