#include "temporary_names.h"

#include <algorithm>

namespace tagsnip {
namespace {

bool isNumber(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isTemporaryNameOf(std::string_view name, std::string_view base) {
    if (name.substr(0, base.size()) != base) {
        return false;
    }
    name.remove_prefix(base.size());
    if (name.empty()) {
        return true;
    }
    const auto dash = name.find('-');
    return name.front() == '.' && dash != std::string_view::npos &&
           isNumber(name.substr(1, dash - 1)) && isNumber(name.substr(dash + 1));
}

}  // namespace

bool isTemporaryName(std::string_view name) {
    return isTemporaryNameOf(name, id3TemporaryName) ||
           isTemporaryNameOf(name, playlistTemporaryName);
}

}  // namespace tagsnip
