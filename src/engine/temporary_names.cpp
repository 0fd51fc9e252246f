#include "temporary_names.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>

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

const std::string& temporaryMarkValue() {
    static const std::string value = [] {
        std::random_device random;
        const auto part = (static_cast<unsigned long long>(random()) << 32) | random();
        char text[80];
        std::snprintf(text, sizeof text, "tagsnip pid %ld started %lld run %016llx",
                      static_cast<long>(getpid()), static_cast<long long>(std::time(nullptr)),
                      part);
        return std::string(text);
    }();
    return value;
}

}  // namespace tagsnip
