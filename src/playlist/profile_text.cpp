#include "profile_text.h"

#include <cstdint>
#include <limits>

namespace tagsnip::playlist {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

int digitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Digits only, no sign; false when one is not a digit of base or the value passes limit.
bool readDigits(std::string_view digits, int base, std::uint64_t limit, std::uint64_t& value) {
    if (digits.empty()) {
        return false;
    }
    value = 0;
    for (const char c : digits) {
        const int digit = digitValue(c);
        if (digit < 0 || digit >= base) {
            return false;
        }
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > limit) {
            return false;
        }
    }
    return true;
}

}  // namespace

int readProfileInteger(std::string_view text) {
    std::uint64_t value = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        // Eight hex digits are a 32-bit pattern: 0xFFFFFFFF reads as -1.
        if (!readDigits(text.substr(2), 16, std::numeric_limits<std::uint32_t>::max(), value)) {
            return 0;
        }
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    }
    const bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) {
        text.remove_prefix(1);
    }
    const std::uint64_t limit = std::uint64_t{std::numeric_limits<std::int32_t>::max()} + negative;
    if (!readDigits(text, 10, limit, value)) {
        return 0;
    }
    return static_cast<int>(negative ? -static_cast<std::int64_t>(value)
                                     : static_cast<std::int64_t>(value));
}

ProfileText::ProfileText(std::string bytes) : m_bytes(std::move(bytes)) {
    parse();
}

void ProfileText::parse() {
    m_lines = splitLines(m_bytes, byteOrderMarkLength(m_bytes));
    m_deleted.assign(m_lines.size(), false);
    Section* current = nullptr;
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const std::string_view text = trimBlanks(m_lines[i].textIn(m_bytes));
        const std::size_t close = text.find(']');
        if (text.starts_with('[') && close != std::string_view::npos) {
            m_sections.emplace_back();
            current = &m_sections.back();
            m_sectionIndex.emplace(lowerAscii(trimBlanks(text.substr(1, close - 1))),
                                   m_sections.size() - 1);
            continue;
        }
        const std::size_t equals = text.find('=');
        // Lines before the first section, and lines without "=", hold no key anyone can ask for.
        if (current == nullptr || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view name = trimBlanks(text.substr(0, equals));
        current->byName[lowerAscii(name)].push_back(current->keys.size());
        current->keys.push_back(
            {i, std::string(name), std::string(trimBlanks(text.substr(equals + 1)))});
    }
}

const ProfileText::Section* ProfileText::findSection(std::string_view section) const {
    const auto found = m_sectionIndex.find(lowerAscii(trimBlanks(section)));
    return found == m_sectionIndex.end() ? nullptr : &m_sections[found->second];
}

const ProfileText::KeyLine* ProfileText::findKey(std::string_view section,
                                                 std::string_view key) const {
    const Section* found = findSection(section);
    if (found == nullptr) {
        return nullptr;
    }
    const auto occurrences = found->byName.find(lowerAscii(trimBlanks(key)));
    if (occurrences == found->byName.end()) {
        return nullptr;
    }
    // Once the first occurrence is deleted, the next one is the key, as on a rewritten file.
    for (const std::size_t index : occurrences->second) {
        const KeyLine& line = found->keys[index];
        if (!m_deleted[line.line]) {
            return &line;
        }
    }
    return nullptr;
}

std::string ProfileText::readString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
    const KeyLine* found = findKey(section, key);
    return found == nullptr ? std::string(defaultValue) : found->value;
}

int ProfileText::readInteger(std::string_view section, std::string_view key,
                             int defaultValue) const {
    const KeyLine* found = findKey(section, key);
    return found == nullptr ? defaultValue : readProfileInteger(found->value);
}

std::vector<std::string> ProfileText::readKeyNames(std::string_view section) const {
    std::vector<std::string> names;
    const Section* found = findSection(section);
    if (found == nullptr) {
        return names;
    }
    for (const KeyLine& line : found->keys) {
        if (findKey(section, line.name) == &line) {
            names.push_back(line.name);
        }
    }
    return names;
}

bool ProfileText::deleteKey(std::string_view section, std::string_view key) {
    const KeyLine* found = findKey(section, key);
    if (found == nullptr) {
        return false;
    }
    m_deleted[found->line] = true;
    m_changed = true;
    return true;
}

std::string ProfileText::bytes() const {
    const std::size_t markLength = byteOrderMarkLength(m_bytes);
    std::string kept = m_bytes.substr(0, markLength);
    kept.reserve(m_bytes.size());
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (!m_deleted[i]) {
            kept.append(m_bytes, m_lines[i].begin, m_lines[i].end() - m_lines[i].begin);
        }
    }
    return kept;
}

}  // namespace tagsnip::playlist
