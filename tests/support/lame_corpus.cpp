#include "lame_corpus.h"

#include "temp_dir.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdint>
#include <numbers>

extern char** environ;

namespace tagsnip::test {
namespace {

constexpr std::uint32_t sampleRate = 44100;
constexpr std::uint32_t seconds = 3;

void append16(std::string& bytes, std::uint16_t value) {
    bytes += static_cast<char>(value & 0xFF);
    bytes += static_cast<char>(value >> 8);
}

void append32(std::string& bytes, std::uint32_t value) {
    append16(bytes, static_cast<std::uint16_t>(value & 0xFFFF));
    append16(bytes, static_cast<std::uint16_t>(value >> 16));
}

// 16-bit mono PCM: a rising tone over a quieter fixed one, so that no two frames encode alike.
std::string toneWave() {
    const std::uint32_t samples = sampleRate * seconds;
    std::string wave = "RIFF";
    append32(wave, 36 + samples * 2);
    wave += "WAVEfmt ";
    append32(wave, 16);
    append16(wave, 1);
    append16(wave, 1);
    append32(wave, sampleRate);
    append32(wave, sampleRate * 2);
    append16(wave, 2);
    append16(wave, 16);
    wave += "data";
    append32(wave, samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double value = 9000 * std::sin(2 * std::numbers::pi * (220 + 110 * t) * t) +
                             3000 * std::sin(2 * std::numbers::pi * 1250 * t);
        append16(wave, static_cast<std::uint16_t>(static_cast<std::int16_t>(value)));
    }
    return wave;
}

std::string encode(std::string& failure) {
    TempDir dir;
    const std::string wave = dir / "tone.wav";
    const std::string mp3 = dir / "tone.mp3";
    writeFile(wave, toneWave());
    const char* arguments[] = {"lame", "--quiet", "-b", "128", wave.c_str(), mp3.c_str(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, "lame", nullptr, nullptr, const_cast<char**>(arguments), environ) !=
        0) {
        failure = "lame could not be started (scripts/setup.sh installs it)";
        return {};
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        failure = "lame failed";
        return {};
    }
    return readFile(mp3);
}

}  // namespace

const std::string& lameAudio(std::string& failure) {
    static std::string whyNot;
    static const std::string audio = encode(whyNot);
    failure = whyNot;
    return audio;
}

std::vector<CorpusFile> writeTagCorpus(const std::string& directory, const std::string& audio) {
    std::vector<CorpusFile> files;
    for (const Layout& layout : tagLayouts()) {
        const std::string path = directory + layout.name + ".mp3";
        writeFile(path, buildFile(layout, audio));
        files.push_back({layout, path});
    }
    return files;
}

}  // namespace tagsnip::test
