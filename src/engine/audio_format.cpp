#include "audio_format.h"

#include "ascii_case.h"

#include <array>
#include <utility>

namespace tagsnip {

namespace {

constexpr std::array<const char*, audioFormatCount> names = {"mp3", "flac", "ogg",
                                                             "aac", "wav",  "aiff"};

constexpr std::array<std::pair<std::string_view, AudioFormat>, 9> extensions = {{
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
    return names[static_cast<std::size_t>(format)];
}

std::optional<AudioFormat> audioFormatNamed(std::string_view name) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (name == names[i]) {
            return static_cast<AudioFormat>(i);
        }
    }
    return std::nullopt;
}

// Like the walk's extension test: what follows the last dot, so that ".mp3" alone counts too.
std::optional<AudioFormat> audioFormatOfFile(std::string_view fileName) {
    const auto dot = fileName.rfind('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view extension = fileName.substr(dot + 1);
    for (const auto& [known, format] : extensions) {
        if (equalIgnoringAsciiCase(extension, known)) {
            return format;
        }
    }
    return std::nullopt;
}

}  // namespace tagsnip
