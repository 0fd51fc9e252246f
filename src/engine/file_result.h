#pragma once

#include "tag_blocks.h"
#include "tag_state.h"

#include <optional>
#include <string>
#include <vector>

namespace tagsnip {

// What the work on one MP3 file found and did, handed from the ID3 work to the walk, which
// counts it, reports its errors and lists it.
struct FileResult {
    TagState id3v1 = TagState::notExamined;
    TagState id3v2 = TagState::notExamined;
    bool modified = false;
    // Every block found, when every tag kind is to go.
    std::optional<TagLayout> layout;
    // In the order they arose.
    std::vector<std::string> errors;
};

}  // namespace tagsnip
