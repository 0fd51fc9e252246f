#pragma once

#include <string>

namespace tagsnip {

// One row of the result list as a host keeps it: the caption is the file name as the directory
// listing gave it, RowPath the full path, which stays with the row whatever the order of the list.
struct ResultRow {
    std::string caption;
    std::string id3v1Mark;
    std::string id3v2Mark;
    std::string RowPath;
    // With every tag kind removed: the kinds found beside the two the marks show ("ape,lyrics3",
    // "-" for none, "?" when not examined); empty otherwise.
    std::string tagKinds{};
    bool modified = false;
};

}  // namespace tagsnip
