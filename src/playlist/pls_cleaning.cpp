#include "pls_cleaning.h"

#include <set>
#include <string>

namespace tagsnip::playlist {
namespace {

constexpr const char* section = "playlist";
constexpr const char* entryKeyPrefixes[] = {"Title", "Length"};

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (asciiLower(text[i]) != asciiLower(prefix[i])) {
            return false;
        }
    }
    return true;
}

// The entry numbers 1 to count that some "Title" + n or "Length" + n key of the section
// carries. Asking only for these gives what asking for every n up to count gives, also when a
// small file claims two billion entries.
std::set<int> numberedEntries(const ProfileText& profile, int count) {
    std::set<int> numbers;
    for (const std::string& name : profile.readKeyNames(section)) {
        for (const std::string_view prefix : entryKeyPrefixes) {
            if (!startsWithIgnoringCase(name, prefix)) {
                continue;
            }
            const int n = readProfileInteger(std::string_view(name).substr(prefix.size()));
            if (n >= 1 && n <= count && std::to_string(n) == name.substr(prefix.size())) {
                numbers.insert(n);
            }
        }
    }
    return numbers;
}

}  // namespace

bool cleanPlsEntries(ProfileText& profile) {
    const int count = profile.readInteger(section, "NumberOfEntries", 0);
    bool modified = false;
    for (const int n : numberedEntries(profile, count)) {
        for (const std::string_view prefix : entryKeyPrefixes) {
            const std::string key = std::string(prefix) + std::to_string(n);
            // A key with an empty value is not an entry's metadata: it stays, uncounted.
            if (!profile.readString(section, key, "").empty()) {
                modified = true;
                profile.deleteKey(section, key);
            }
        }
    }
    return modified;
}

}  // namespace tagsnip::playlist
