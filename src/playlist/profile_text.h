#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tagsnip::playlist {

// The bytes of an INI-style file with the lookups of the private-profile functions it stands in
// for: section and key names match without regard to ASCII case, blanks around names and values
// do not count, a value is everything after the first "=", and of a key given twice (or a
// section given twice) the first one is the one read. Deleting a key drops only that key's
// line; every other byte stays as it was.
//
// Lookups walk the bytes and deletions take the lines out of them in place, so a file of
// millions of keys costs its own bytes and no table of lines, names or values beside them.
// After a deletion the text reads as the rewritten file would: a lone CR brought next to a lone
// LF reads as one CR LF. Only an empty line is lost to lookups that way, but a later deletion
// of the line before takes that LF along.
class ProfileText {
public:
    using KeyVisitor = std::function<void(std::string_view name, std::string_view value)>;
    using KeyFilter = std::function<bool(std::string_view name, std::string_view value)>;

    explicit ProfileText(std::string bytes = {}) : m_bytes(std::move(bytes)) {}

    std::string readString(std::string_view section, std::string_view key,
                           std::string_view defaultValue) const;
    // A missing key gives defaultValue; a value that is no number gives 0.
    int readInteger(std::string_view section, std::string_view key, int defaultValue) const;
    // The names of the section's keys as written, in file order, each once.
    std::vector<std::string> readKeyNames(std::string_view section) const;
    // Returns false when there was no such key.
    bool deleteKey(std::string_view section, std::string_view key);

    // Every key line of the section in file order, later occurrences of a name included.
    void visitKeys(std::string_view section, const KeyVisitor& visit) const;
    // Deletes, in one pass, the key lines of the section that drop picks; drop sees every key
    // line in file order, later occurrences of a name included. Returns whether it deleted any.
    bool deleteKeysWhere(std::string_view section, const KeyFilter& drop);

    bool changed() const { return m_changed; }
    // The file's bytes with the deleted keys' lines left out.
    std::string bytes() const { return m_bytes; }

private:
    std::string m_bytes;
    bool m_changed = false;
};

// A profile value read as an integer: hexadecimal after a leading "0x" or "0X" when more text
// follows, decimal otherwise; text that is no number, or too large, gives 0.
int readProfileInteger(std::string_view text);

}  // namespace tagsnip::playlist
