#include "audio_format.h"

#include "ascii_case.h"
#include "directory_walk.h"

#include <array>

namespace tagsnip {
namespace {

struct Extension {
    const char* text;
    AudioFormat format;
};

constexpr std::array<Extension, 9> extensions{{
    {"mp3", AudioFormat::mp3},
    {"flac", AudioFormat::flac},
    {"ogg", AudioFormat::ogg},
    {"oga", AudioFormat::ogg},
    {"opus", AudioFormat::ogg},
    {"aac", AudioFormat::aac},
    {"wav", AudioFormat::wav},
    {"aif", AudioFormat::aiff},
    {"aiff", AudioFormat::aiff},
}};

}  // namespace

const char* audioFormatName(AudioFormat format) {
    static constexpr const char* names[audioFormatCount] = {"mp3", "flac", "ogg",
                                                            "aac", "wav",  "aiff"};
    return names[static_cast<std::size_t>(format)];
}

std::optional<AudioFormat> audioFormatNamed(std::string_view name) {
    for (std::size_t i = 0; i < audioFormatCount; ++i) {
        const auto format = static_cast<AudioFormat>(i);
        if (name == audioFormatName(format)) {
            return format;
        }
    }
    return std::nullopt;
}

std::optional<AudioFormat> audioFormatOfFile(std::string_view fileName) {
    for (const Extension& extension : extensions) {
        if (hasExtension(fileName, extension.text)) {
            return extension.format;
        }
    }
    return std::nullopt;
}

}  // namespace tagsnip
