#include "engine/audio_format.h"

#include <gtest/gtest.h>

namespace tagsnip {
namespace {

TEST(AudioFormatTest, ExtensionsAndNames) {
    const std::vector<std::pair<std::string_view, std::optional<AudioFormat>>> files = {
        {"a.mp3", AudioFormat::mp3},
        {"A.FLAC", AudioFormat::flac},
        {"b.Opus", AudioFormat::ogg},
        {"c.oga", AudioFormat::ogg},
        {"x.tar.aac", AudioFormat::aac},
        {"d.aif", AudioFormat::aiff},
        {".mp3", AudioFormat::mp3},
        {"mp3", std::nullopt},
        {"e.mp3.bak", std::nullopt},
        {"f.mp", std::nullopt},
        {"g.", std::nullopt},
        {"h.\xC3\x84IFF", std::nullopt},
    };
    for (const auto& [name, format] : files) {
        EXPECT_EQ(audioFormatOfFile(name), format) << name;
    }
    for (std::size_t i = 0; i < audioFormatCount; ++i) {
        const auto format = static_cast<AudioFormat>(i);
        EXPECT_EQ(audioFormatNamed(audioFormatName(format)), format);
    }
    EXPECT_EQ(audioFormatNamed("MP3"), std::nullopt);
    EXPECT_EQ(audioFormatNamed("ogg "), std::nullopt);
}

}  // namespace
}  // namespace tagsnip
