#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace tagsnip {

// Names and options are byte strings: only A-Z fold, whatever the locale, so no other byte of a
// name in the system code page can change.
constexpr char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return lowerAscii(c); });
    return lower;
}

inline bool equalIgnoringAsciiCase(std::string_view left, std::string_view right) {
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](char a, char b) { return lowerAscii(a) == lowerAscii(b); });
}

inline bool lessIgnoringAsciiCase(std::string_view left, std::string_view right) {
    return std::lexicographical_compare(
        left.begin(), left.end(), right.begin(), right.end(),
        [](char a, char b) { return lowerAscii(a) < lowerAscii(b); });
}

}  // namespace tagsnip
