#pragma once

#include "engine/audio_format.h"

#include <array>
#include <ostream>
#include <string>

namespace tagsnip::test {

// The clean streams a test can have: one per container, and Ogg in each of its codecs.
enum class EncodedKind : std::uint8_t { mp3, flac, oggVorbis, opus, oggFlac, aac, wav, aiff };

struct EncodedKindInfo {
    EncodedKind kind;
    AudioFormat format;
    // A test parameter name: "OggVorbis".
    const char* name;
    // With the dot: ".opus".
    const char* extension;
};

inline void PrintTo(const EncodedKindInfo& info, std::ostream* out) {
    *out << info.name;
}

const std::array<EncodedKindInfo, 8>& encodedKinds();
const EncodedKindInfo& infoOf(EncodedKind kind);

// A few seconds of real audio of that kind, encoded by Debian's encoders (lame, flac, oggenc,
// opusenc, ffmpeg, sox) from one generated tone-and-noise WAV, once per test process. Empty when
// the encoder could not be run; why is in failure.
const std::string& encodedStream(EncodedKind kind, std::string& failure);
// The format's stream: Ogg Vorbis for Ogg.
const std::string& encodedStream(AudioFormat format, std::string& failure);

}  // namespace tagsnip::test
