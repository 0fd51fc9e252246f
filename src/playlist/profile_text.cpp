#include "profile_text.h"

#include "playlist_lines.h"

#include "engine/ascii_case.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <unordered_set>

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

// Digits only, no sign; false when one is not a digit of base or the value passes limit.
bool readDigits(std::string_view digits, int base, std::uint64_t limit, std::uint64_t& value) {
    const char* const end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value, base);
    return error == std::errc{} && stop == end && value <= limit;
}

// The lines of one section after its header, as offsets: from begin up to end.
struct Stretch {
    std::size_t begin = 0;
    std::size_t end = 0;
};

struct Key {
    std::string_view name;
    std::string_view value;
};

// The name of a section header; text is the line without its blanks.
std::optional<std::string_view> headerName(std::string_view text) {
    const std::size_t close = text.find(']');
    if (!text.starts_with('[') || close == std::string_view::npos) {
        return std::nullopt;
    }
    return trimBlanks(text.substr(1, close - 1));
}

// A line without "=" holds no key anyone can ask for.
std::optional<Key> keyIn(std::string_view text) {
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    return Key{trimBlanks(text.substr(0, equals)), trimBlanks(text.substr(equals + 1))};
}

// The lines of the first section of that name; lines before the first header belong to none.
std::optional<Stretch> sectionBody(std::string_view bytes, std::string_view section) {
    section = trimBlanks(section);
    std::optional<Stretch> body;
    for (std::size_t at = byteOrderMarkLength(bytes); at < bytes.size();) {
        const LineSpan line = lineAt(bytes, at);
        at = line.end();
        const std::optional<std::string_view> name = headerName(trimBlanks(line.textIn(bytes)));
        if (!name) {
            continue;
        }
        if (body) {
            body->end = line.begin;
            return body;
        }
        if (equalIgnoringAsciiCase(*name, section)) {
            body = Stretch{at, bytes.size()};
        }
    }
    return body;
}

// Calls visit(line, key) for the key lines of body in file order until it returns false.
template <typename Visit>
void walkKeys(std::string_view bytes, Stretch body, Visit visit) {
    for (std::size_t at = body.begin; at < body.end;) {
        const LineSpan line = lineAt(bytes, at);
        at = line.end();
        const std::optional<Key> key = keyIn(trimBlanks(line.textIn(bytes)));
        if (key && !visit(line, *key)) {
            return;
        }
    }
}

// Takes lines out of a text in one forward pass: each stretch between removed lines moves down
// once, so removing a million lines costs one copy of the text, not one per line.
class LineRemoval {
public:
    explicit LineRemoval(std::string& text) : m_text(text) {}

    // [begin, end) lies after every stretch removed before; bytes after end are not touched
    // until finish, so the text can still be read from end on.
    void remove(std::size_t begin, std::size_t end) {
        if (m_written != m_unmoved) {
            std::memmove(m_text.data() + m_written, m_text.data() + m_unmoved, begin - m_unmoved);
        }
        m_written += begin - m_unmoved;
        m_unmoved = end;
    }

    // Returns whether any line was removed.
    bool finish() {
        m_text.erase(m_written, m_unmoved - m_written);
        return m_unmoved != m_written;
    }

private:
    std::string& m_text;
    // Where the bytes not yet moved start, and where they go.
    std::size_t m_unmoved = 0;
    std::size_t m_written = 0;
};

std::optional<std::string_view> findValue(std::string_view bytes, std::string_view section,
                                          std::string_view key) {
    const std::optional<Stretch> body = sectionBody(bytes, section);
    if (!body) {
        return std::nullopt;
    }
    key = trimBlanks(key);
    std::optional<std::string_view> value;
    walkKeys(bytes, *body, [&](const LineSpan&, const Key& found) {
        if (equalIgnoringAsciiCase(found.name, key)) {
            value = found.value;
        }
        return !value;
    });
    return value;
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

std::string ProfileText::readString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue) const {
    return std::string(findValue(m_bytes, section, key).value_or(defaultValue));
}

int ProfileText::readInteger(std::string_view section, std::string_view key,
                             int defaultValue) const {
    const std::optional<std::string_view> value = findValue(m_bytes, section, key);
    return value ? readProfileInteger(*value) : defaultValue;
}

std::vector<std::string> ProfileText::readKeyNames(std::string_view section) const {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    visitKeys(section, [&](std::string_view name, std::string_view) {
        if (seen.insert(lowerAscii(name)).second) {
            names.emplace_back(name);
        }
    });
    return names;
}

// Once the first occurrence is deleted, the next one is the key, as on a rewritten file.
bool ProfileText::deleteKey(std::string_view section, std::string_view key) {
    key = trimBlanks(key);
    bool deleted = false;
    return deleteKeysWhere(section, [&](std::string_view name, std::string_view) {
        if (deleted || !equalIgnoringAsciiCase(name, key)) {
            return false;
        }
        deleted = true;
        return true;
    });
}

void ProfileText::visitKeys(std::string_view section, const KeyVisitor& visit) const {
    const std::optional<Stretch> body = sectionBody(m_bytes, section);
    if (!body) {
        return;
    }
    walkKeys(m_bytes, *body, [&](const LineSpan&, const Key& key) {
        visit(key.name, key.value);
        return true;
    });
}

bool ProfileText::deleteKeysWhere(std::string_view section, const KeyFilter& drop) {
    const std::optional<Stretch> body = sectionBody(m_bytes, section);
    if (!body) {
        return false;
    }
    LineRemoval removal(m_bytes);
    walkKeys(m_bytes, *body, [&](const LineSpan& line, const Key& key) {
        if (drop(key.name, key.value)) {
            removal.remove(line.begin, line.end());
        }
        return true;
    });
    const bool deleted = removal.finish();
    m_changed = m_changed || deleted;
    return deleted;
}

}  // namespace tagsnip::playlist
