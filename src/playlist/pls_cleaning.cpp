#include "pls_cleaning.h"

#include "engine/ascii_case.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

namespace tagsnip::playlist {
namespace {

constexpr std::string_view section = "playlist";
constexpr std::string_view entryKeyPrefixes[] = {"Title", "Length"};

// n when digits are a number from 1 to count in decimal without leading zeros, else 0.
std::uint32_t entryNumber(std::string_view digits, int count) {
    if (digits.empty() || digits.front() == '0') {
        return 0;
    }
    std::uint64_t n = 0;
    const char* const end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, n);
    const bool whole = error == std::errc{} && stop == end;
    return whole && n <= static_cast<std::uint64_t>(count) ? static_cast<std::uint32_t>(n) : 0;
}

// "Title" + n as 2n and "Length" + n as 2n + 1 for an entry n from 1 to count, 0 for any other
// name: one number per key, whatever the case of its name.
std::uint32_t entryKey(std::string_view name, int count) {
    for (std::uint32_t kind = 0; kind < 2; ++kind) {
        const std::string_view prefix = entryKeyPrefixes[kind];
        if (name.size() >= prefix.size() &&
            equalIgnoringAsciiCase(name.substr(0, prefix.size()), prefix)) {
            const std::uint32_t n = entryNumber(name.substr(prefix.size()), count);
            return n == 0 ? 0 : 2 * n + kind;
        }
    }
    return 0;
}

// The entry keys that the section holds, sorted, each once. Looking at the keys present rather
// than at every n up to count keeps a small file that claims two billion entries quick.
std::vector<std::uint32_t> entryKeysIn(const ProfileText& profile, int count) {
    std::vector<std::uint32_t> keys;
    profile.visitKeys(section, [&](std::string_view name, std::string_view) {
        if (const std::uint32_t key = entryKey(name, count)) {
            keys.push_back(key);
        }
    });
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

}  // namespace

bool cleanPlsEntries(ProfileText& profile) {
    const int count = profile.readInteger(section, "NumberOfEntries", 0);
    if (count < 1) {
        return false;
    }
    const std::vector<std::uint32_t> keys = entryKeysIn(profile, count);
    if (keys.empty()) {
        return false;
    }
    // Only the first line of a name is the key that is read and deleted; later ones stay.
    std::vector<bool> met(keys.size());
    return profile.deleteKeysWhere(section, [&](std::string_view name, std::string_view value) {
        const std::uint32_t key = entryKey(name, count);
        if (key == 0) {
            return false;
        }
        const auto index = std::lower_bound(keys.begin(), keys.end(), key) - keys.begin();
        if (met[index]) {
            return false;
        }
        met[index] = true;
        // A key with an empty value is not an entry's metadata: it stays, uncounted.
        return !value.empty();
    });
}

}  // namespace tagsnip::playlist
