// Seeded random playlists, built from the pieces that trip parsers (every break, blanks, case,
// BOM, NUL, repeated keys and sections, odd numbers), cleaned by the cleaners and by a plain
// model of the rules that holds a table of every line and asks once per key name.

#include "playlist/m3u_cleaning.h"
#include "playlist/pls_cleaning.h"
#include "playlist/profile_text.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace tagsnip::playlist {
namespace {

using namespace std::string_literals;

const std::string bom = "\xEF\xBB\xBF";

struct Line {
    std::string whole;
    std::string text;
};

std::vector<Line> modelLines(const std::string& bytes) {
    std::vector<Line> lines;
    std::size_t at = bytes.starts_with(bom) ? bom.size() : 0;
    while (at < bytes.size()) {
        std::size_t end = at;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') {
            ++end;
        }
        std::size_t next = end == bytes.size() ? end : end + 1;
        if (bytes.compare(end, 2, "\r\n") == 0) {
            ++next;
        }
        lines.push_back({bytes.substr(at, next - at), bytes.substr(at, end - at)});
        at = next;
    }
    return lines;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    return first == std::string::npos
               ? ""
               : text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

std::string lower(std::string text) {
    for (char& c : text) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return text;
}

std::optional<std::string> modelM3u(const std::string& bytes) {
    std::string kept = bytes.starts_with(bom) ? bom : "";
    bool dropped = false;
    for (const Line& line : modelLines(bytes)) {
        dropped = dropped || line.text.starts_with('#');
        kept += line.text.starts_with('#') ? "" : line.text + "\r\n";
    }
    return dropped ? std::optional(kept) : std::nullopt;
}

// Lines of the first "playlist" section holding "=", by lower-case key name in file order.
std::map<std::string, std::vector<std::pair<std::size_t, std::string>>> playlistKeys(
    const std::vector<Line>& lines) {
    std::map<std::string, std::vector<std::pair<std::size_t, std::string>>> keys;
    int state = 0;  // 0 before the section, 1 inside it, 2 after it
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string text = trimmed(lines[i].text);
        const std::size_t close = text.find(']');
        if (text.starts_with('[') && close != std::string::npos) {
            const bool playlist = lower(trimmed(text.substr(1, close - 1))) == "playlist";
            state = state == 0 && playlist ? 1 : (state == 0 ? 0 : 2);
        } else if (state == 1 && text.find('=') != std::string::npos) {
            const std::size_t equals = text.find('=');
            keys[lower(trimmed(text.substr(0, equals)))].push_back(
                {i, trimmed(text.substr(equals + 1))});
        }
    }
    return keys;
}

std::string modelPls(const std::string& bytes) {
    const std::vector<Line> lines = modelLines(bytes);
    const auto keys = playlistKeys(lines);
    const auto countKey = keys.find("numberofentries");
    const int count = countKey == keys.end() ? 0 : readProfileInteger(countKey->second[0].second);
    std::vector<bool> deleted(lines.size());
    for (const auto& [name, occurrences] : keys) {
        for (const std::string prefix : {"title", "length"}) {
            const std::string number = name.substr(std::min(prefix.size(), name.size()));
            const int n = readProfileInteger(number);
            if (name.starts_with(prefix) && n >= 1 && n <= count && std::to_string(n) == number &&
                !occurrences[0].second.empty()) {
                deleted[occurrences[0].first] = true;
            }
        }
    }
    std::string kept = bytes.starts_with(bom) ? bom : "";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        kept += deleted[i] ? "" : lines[i].whole;
    }
    return kept;
}

class NastyPlaylists {
public:
    explicit NastyPlaylists(unsigned seed) : m_random(seed) {}

    std::string pls() {
        static const std::vector<std::string> headers = {
            "[playlist]", "[ PlayList ]", "[PLAYLIST]x=y", "[other]",
            "[playlist",  "[]",           "x[playlist]"};
        static const std::vector<std::string> names = {
            "Title", "TITLE",           "title",           "Length",  "LeNgTh", "File",
            "Titl",  "NumberOfEntries", "numberofentries", "Lengthy", ""};
        static const std::vector<std::string> numbers = {
            "",   "0",   "1",  "2",          "3",          "01", "+1",
            "-1", "0x2", "1x", "2147483647", "2147483648", "12"};
        static const std::vector<std::string> counts = {"2",  "3",          "12",  "0x3", "0",
                                                        "-1", "2147483647", "two", ""};
        static const std::vector<std::string> values = {
            "", " ", "a", " a=b ", "0x3", "3", "-1", "2147483647", "0xFFFFFFFF", "x\0y"s, "12"};
        // Most cases open the section with a count, so that most of them delete something.
        const std::string opening =
            pick(5) == 0
                ? ""
                : pickFrom({"[playlist]", " [PlayList] "}) + lineBreak() +
                      "NumberOfEntries=" + pickFrom({"3", "12", "0x3", "2147483647"}) + lineBreak();
        return build(opening, [&] {
            switch (pick(6)) {
                case 0:
                    return pickFrom(headers);
                case 1:
                    return pickFrom({"", "; note", "Title1", " \t", "\0"s});
                case 2:
                    return pickFrom({"NumberOfEntries", " numberofentries "}) + "=" +
                           pickFrom(counts);
                default:
                    return pickFrom({"", " ", "\t"}) + pickFrom(names) + pickFrom(numbers) +
                           pickFrom({"", " "}) + "=" + pickFrom(values);
            }
        });
    }

    std::string m3u() {
        return build("", [&] {
            return pickFrom(
                {"#EXTM3U", "#EXTINF:1,x", "#", "a.mp3", " #b", "", "c#d", "\0#"s, bom});
        });
    }

private:
    template <typename Make>
    std::string build(const std::string& opening, Make makeLine) {
        std::string bytes = (pick(4) == 0 ? bom : "") + opening;
        for (std::size_t lines = pick(12); lines > 0; --lines) {
            bytes += makeLine() + lineBreak();
        }
        // A last line without a break, sometimes.
        return pick(3) == 0 ? bytes + makeLine() : bytes;
    }

    std::string lineBreak() { return pickFrom({"\r\n", "\n", "\r", "\r\r\n", "\n\r"}); }

    std::size_t pick(std::size_t choices) {
        return std::uniform_int_distribution<std::size_t>(0, choices - 1)(m_random);
    }
    std::string pickFrom(const std::vector<std::string>& choices) {
        return choices[pick(choices.size())];
    }

    std::mt19937 m_random;
};

constexpr int cases = 5000;

TEST(CleaningDifferential, PlsDropsExactlyTheLinesOfTheModel) {
    NastyPlaylists generate(20261208);
    for (int i = 0; i < cases; ++i) {
        const std::string input = generate.pls();
        ProfileText profile(input);
        const bool modified = cleanPlsEntries(profile);
        const std::string expected = modelPls(input);
        ASSERT_EQ(profile.bytes(), expected) << testing::PrintToString(input);
        ASSERT_EQ(modified, expected != input) << testing::PrintToString(input);
    }
}

TEST(CleaningDifferential, M3uRewritesAsTheModel) {
    NastyPlaylists generate(8122026);
    for (int i = 0; i < cases; ++i) {
        const std::string input = generate.m3u();
        ASSERT_EQ(cleanM3uBytes(input), modelM3u(input)) << testing::PrintToString(input);
    }
}

}  // namespace
}  // namespace tagsnip::playlist
