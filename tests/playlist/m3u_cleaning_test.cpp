#include "playlist/m3u_cleaning.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tagsnip::playlist {
namespace {

using namespace std::string_literals;

struct M3uCase {
    const char* name;
    std::string input;
    // Nothing: the playlist stays as it is.
    std::optional<std::string> expected;
};

void PrintTo(const M3uCase& c, std::ostream* os) {
    *os << c.name;
}

class M3uGolden : public testing::TestWithParam<M3uCase> {};

TEST_P(M3uGolden, GivesExactBytes) {
    const M3uCase& c = GetParam();
    EXPECT_EQ(cleanM3uBytes(c.input), c.expected);
}

TEST_P(M3uGolden, ARewrittenPlaylistNeedsNoSecondRewrite) {
    const M3uCase& c = GetParam();
    if (c.expected) {
        EXPECT_EQ(cleanM3uBytes(*c.expected), std::nullopt);
    }
}

const M3uCase rewritten[] = {
    {"CrLf", "#EXTM3U\r\n#EXTINF:12,Artist - Song\r\nmusic\\a.mp3\r\n", "music\\a.mp3\r\n"},
    {"LoneLf", "#EXTM3U\na.mp3\n#EXTINF:1,x\nb.mp3\n", "a.mp3\r\nb.mp3\r\n"},
    {"LoneCr", "#EXTM3U\ra.mp3\rb.mp3\r", "a.mp3\r\nb.mp3\r\n"},
    {"NoFinalBreak", "#EXTM3U\na.mp3\nb.mp3", "a.mp3\r\nb.mp3\r\n"},
    {"MixedBreaks", "#x\r\na\rb\nc\r\n#y", "a\r\nb\r\nc\r\n"},
    {"LoneCrBeforeCrLf", "a\r\r\n#b", "a\r\n\r\n"},
    {"CrThenHashLine", "a\r#b\rc", "a\r\nc\r\n"},
    {"EmptyLinesStay", "\n#EXTINF:1,x\n\na.mp3\n\n", "\r\n\r\na.mp3\r\n\r\n"},
    {"BlankBeforeHashStays", " #not extended\n#EXTINF:1,x\n\t#tab\n",
     " #not extended\r\n\t#tab\r\n"},
    {"HashInsideLineStays", "#EXTM3U\ntrack#1.mp3\n", "track#1.mp3\r\n"},
    {"OnlyHashLinesGiveEmptyFile", "#EXTM3U\r\n#EXTINF:1,x\r\n#\r\n", ""},
    {"SingleHash", "#", ""},
    {"NulIsAnOrdinaryByte", "#EXTM3U\na\0b.mp3\n#x\0y\n\0\nc.mp3"s, "a\0b.mp3\r\n\0\r\nc.mp3\r\n"s},
    {"ByteOrderMarkStaysInFront", "\xEF\xBB\xBF#EXTM3U\r\na.mp3\r\n",
     "\xEF\xBB\xBF"
     "a.mp3\r\n"},
    {"ByteOrderMarkAloneRemains", "\xEF\xBB\xBF#EXTM3U\n", "\xEF\xBB\xBF"},
    {"ByteOrderMarkOnlyAtStart", "a.mp3\n\xEF\xBB\xBF#y\n#z\n", "a.mp3\r\n\xEF\xBB\xBF#y\r\n"},
    {"Utf8NamesUntouched", "#EXTM3U\n音乐/歌.mp3\n", "音乐/歌.mp3\r\n"},
};

const M3uCase untouched[] = {
    {"Empty", "", std::nullopt},
    {"NoHashAnywhere", "a.mp3\nb.mp3", std::nullopt},
    {"HashOnlyInsideLines", "track#1.mp3\r\nb#.mp3\n", std::nullopt},
    {"HashOnlyAfterBlank", " #EXTM3U\n a.mp3\r", std::nullopt},
    {"HashAfterNul", "a\0#b.mp3\n"s, std::nullopt},
    {"ByteOrderMarkWithoutHashLines",
     "\xEF\xBB\xBF"
     "a.mp3\nb#.mp3",
     std::nullopt},
    {"OnlyBreaks", "\r\n\n\r", std::nullopt},
};

INSTANTIATE_TEST_SUITE_P(Rewritten, M3uGolden, testing::ValuesIn(rewritten),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Untouched, M3uGolden, testing::ValuesIn(untouched),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::playlist
