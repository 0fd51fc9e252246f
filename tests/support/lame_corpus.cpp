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

// 16-bit little-endian mono PCM: a rising tone over a quieter fixed one, so that no two frames
// encode alike.
std::string tonePcm() {
    std::string pcm;
    for (std::uint32_t i = 0; i < sampleRate * seconds; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const auto value =
            static_cast<std::int16_t>(9000 * std::sin(2 * std::numbers::pi * (220 + 110 * t) * t) +
                                      3000 * std::sin(2 * std::numbers::pi * 1250 * t));
        pcm += static_cast<char>(value & 0xFF);
        pcm += static_cast<char>((value >> 8) & 0xFF);
    }
    return pcm;
}

std::string encode(std::string& failure) {
    TempDir dir;
    const std::string pcm = dir / "tone.pcm";
    const std::string mp3 = dir / "tone.mp3";
    writeFile(pcm, tonePcm());
    const char* arguments[] = {"lame", "--quiet",   "-r",
                               "-s",   "44.1",      "--bitwidth",
                               "16",   "--signed",  "--little-endian",
                               "-m",   "m",         "-b",
                               "128",  pcm.c_str(), mp3.c_str(),
                               nullptr};
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
