#pragma once

#include "playlist_lines.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tagsnip::playlist {

// The bytes of an INI-style file with the lookups of the private-profile functions it stands in
// for: section and key names match without regard to ASCII case, blanks around names and values
// do not count, a value is everything after the first "=", and of a key given twice (or a
// section given twice) the first one is the one read. Deleting a key drops only that key's
// line; every other byte stays as it was.
class ProfileText {
  public:
    explicit ProfileText(std::string bytes = {});

    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // A missing key gives defaultValue; a value that is no number gives 0.
    int readInteger(std::string_view section, std::string_view key, int defaultValue) const;
    // The names of the section's keys as written, in file order, each once.
    std::vector<std::string> readKeyNames(std::string_view section) const;
    // Returns false when there was no such key.
    bool deleteKey(std::string_view section, std::string_view key);

    bool changed() const { return m_changed; }
    // The file's bytes with the deleted keys' lines left out.
    std::string bytes() const;

  private:
    struct KeyLine {
        std::size_t line = 0;
        std::string name;
        std::string value;
    };
    struct Section {
        std::vector<KeyLine> keys;
        // Lower-case key name to the indices in keys of its occurrences, in file order.
        std::unordered_map<std::string, std::vector<std::size_t>> byName;
    };

    void parse();
    const KeyLine* findKey(std::string_view section, std::string_view key) const;
    const Section* findSection(std::string_view section) const;

    std::string m_bytes;
    std::vector<LineSpan> m_lines;
    std::vector<bool> m_deleted;
    std::vector<Section> m_sections;
    // Lower-case section name to its first section.
    std::unordered_map<std::string, std::size_t> m_sectionIndex;
    bool m_changed = false;
};

// A profile value read as an integer: hexadecimal after a leading "0x" or "0X" when more text
// follows, decimal otherwise; text that is no number, or too large, gives 0.
int readProfileInteger(std::string_view text);

}  // namespace tagsnip::playlist
