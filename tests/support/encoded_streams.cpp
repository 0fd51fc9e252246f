#include "encoded_streams.h"

#include "lame_corpus.h"
#include "temp_dir.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <vector>

extern char** environ;

namespace tagsnip::test {
namespace {

constexpr std::uint32_t sampleRate = 44100;
constexpr std::uint32_t channels = 2;
constexpr std::uint32_t seconds = 3;

constexpr std::array<EncodedKindInfo, 8> kinds = {{
    {EncodedKind::mp3, AudioFormat::mp3, "Mp3", ".mp3"},
    {EncodedKind::flac, AudioFormat::flac, "Flac", ".flac"},
    {EncodedKind::oggVorbis, AudioFormat::ogg, "OggVorbis", ".ogg"},
    {EncodedKind::opus, AudioFormat::ogg, "Opus", ".opus"},
    {EncodedKind::oggFlac, AudioFormat::ogg, "OggFlac", ".oga"},
    {EncodedKind::aac, AudioFormat::aac, "Aac", ".aac"},
    {EncodedKind::wav, AudioFormat::wav, "Wav", ".wav"},
    {EncodedKind::aiff, AudioFormat::aiff, "Aiff", ".aiff"},
}};

void appendLittleEndian(std::string& bytes, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) {
        bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// 16-bit stereo PCM: a rising tone over quiet noise from a fixed generator, so that the
// encoders' frames differ from one another and the run is the same every time.
std::string toneWav() {
    std::string pcm;
    std::uint32_t noise = 12345;
    for (std::uint32_t i = 0; i < sampleRate * seconds; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double tone = 8000 * std::sin(2 * std::numbers::pi * (300 + 200 * t) * t);
        for (std::uint32_t channel = 0; channel < channels; ++channel) {
            noise = noise * 1664525u + 1013904223u;
            const auto value =
                static_cast<std::int16_t>(tone + static_cast<int>(noise >> 22) - 512);
            appendLittleEndian(pcm, static_cast<std::uint16_t>(value), 2);
        }
    }
    std::string wav = "RIFF";
    appendLittleEndian(wav, static_cast<std::uint32_t>(36 + pcm.size()), 4);
    wav += "WAVEfmt ";
    appendLittleEndian(wav, 16, 4);
    appendLittleEndian(wav, 1, 2);
    appendLittleEndian(wav, channels, 2);
    appendLittleEndian(wav, sampleRate, 4);
    appendLittleEndian(wav, sampleRate * channels * 2, 4);
    appendLittleEndian(wav, channels * 2, 2);
    appendLittleEndian(wav, 16, 2);
    wav += "data";
    appendLittleEndian(wav, static_cast<std::uint32_t>(pcm.size()), 4);
    return wav + pcm;
}

// The command that makes output from input, as program and arguments. The lossy streams are
// of high quality so that each runs well past the largest Ogg page.
std::vector<std::string> encoderCommand(EncodedKind kind, const std::string& input,
                                        const std::string& output) {
    switch (kind) {
        case EncodedKind::flac:
            return {"flac", "--silent", "-f", "-o", output, input};
        case EncodedKind::oggVorbis:
            return {"oggenc", "--quiet", "-q", "10", "-o", output, input};
        case EncodedKind::opus:
            return {"opusenc", "--quiet", "--bitrate", "500", input, output};
        case EncodedKind::oggFlac:
            return {"flac", "--silent", "--ogg", "-f", "-o", output, input};
        case EncodedKind::aac:
            return {"ffmpeg", "-nostdin", "-v",  "error", "-y",   "-i",
                    input,    "-c:a",     "aac", "-f",    "adts", output};
        case EncodedKind::wav:
        case EncodedKind::aiff:
            return {"sox", "-q", input, output};
        case EncodedKind::mp3:
            break;
    }
    return {};
}

std::optional<std::string> run(const std::vector<std::string>& command) {
    std::vector<char*> arguments;
    for (const std::string& argument : command) {
        arguments.push_back(const_cast<char*>(argument.c_str()));
    }
    arguments.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, arguments[0], nullptr, nullptr, arguments.data(), environ) != 0) {
        return command[0] + " could not be started (scripts/setup.sh installs it)";
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return command[0] + " failed";
    }
    return std::nullopt;
}

struct Encoded {
    std::string bytes;
    std::string failure;
};

Encoded encode(EncodedKind kind) {
    if (kind == EncodedKind::mp3) {
        Encoded mp3;
        mp3.bytes = lameAudio(mp3.failure);
        return mp3;
    }
    TempDir dir;
    const std::string input = dir / "tone.wav";
    const std::string output = dir / (std::string("stream") + infoOf(kind).extension);
    writeFile(input, toneWav());
    if (auto failure = run(encoderCommand(kind, input, output))) {
        return {{}, *failure};
    }
    return {readFile(output), {}};
}

}  // namespace

const std::array<EncodedKindInfo, 8>& encodedKinds() {
    return kinds;
}

const EncodedKindInfo& infoOf(EncodedKind kind) {
    return kinds[static_cast<std::size_t>(kind)];
}

const std::string& encodedStream(EncodedKind kind, std::string& failure) {
    static std::array<std::optional<Encoded>, kinds.size()> streams;
    auto& stream = streams[static_cast<std::size_t>(kind)];
    if (!stream) {
        stream = encode(kind);
    }
    failure = stream->failure;
    return stream->bytes;
}

const std::string& encodedStream(AudioFormat format, std::string& failure) {
    for (const EncodedKindInfo& info : kinds) {
        if (info.format == format) {
            return encodedStream(info.kind, failure);
        }
    }
    failure = "no stream of that format";
    static const std::string none;
    return none;
}

}  // namespace tagsnip::test
