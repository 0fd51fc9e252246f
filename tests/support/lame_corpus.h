#pragma once

#include "tag_layouts.h"

#include <string>
#include <vector>

namespace tagsnip::test {

// A few seconds of real MP3 audio, encoded by lame from a generated tone once per test process.
// Empty when lame could not be run; why is in failure.
const std::string& lameAudio(std::string& failure);

struct CorpusFile {
    Layout layout;
    std::string path;
};

// One file per layout of tagLayouts() in directory, each the given audio inside its tag blocks.
std::vector<CorpusFile> writeTagCorpus(const std::string& directory, const std::string& audio);

}  // namespace tagsnip::test
