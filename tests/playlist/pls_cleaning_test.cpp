#include "playlist/pls_cleaning.h"
#include "playlist/profile_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace tagsnip::playlist {
namespace {

using namespace std::string_literals;

TEST(ProfileText, FindsSectionsAndKeysWithoutRegardToCaseOrBlanks) {
    const ProfileText profile(
        "[ PlayList ]\r\n"
        "  Title1 \t=  Artist - Song \t\r\n"
        "file1=C:\\a=b.mp3\n"
        "NumberOfEntries=1\n");
    EXPECT_EQ(profile.readString("playlist", "TITLE1", "?"), "Artist - Song");
    EXPECT_EQ(profile.readString("PLAYLIST", " File1 ", "?"), "C:\\a=b.mp3");
    EXPECT_EQ(profile.readInteger("playlist", "numberofentries", -1), 1);
}

TEST(ProfileText, MissingSectionOrKeyGivesTheDefault) {
    const ProfileText profile("; only a comment\n[other]\nTitle1=x\nkey without value\n");
    EXPECT_EQ(profile.readString("playlist", "Title1", "default"), "default");
    EXPECT_EQ(profile.readString("other", "Title2", "default"), "default");
    EXPECT_EQ(profile.readString("other", "key without value", "default"), "default");
    EXPECT_EQ(profile.readInteger("playlist", "NumberOfEntries", 7), 7);
    EXPECT_TRUE(profile.readKeyNames("playlist").empty());
}

TEST(ProfileText, KeysBeforeTheFirstSectionBelongToNone) {
    const ProfileText profile("Title1=x\n[playlist]\n");
    EXPECT_EQ(profile.readString("playlist", "Title1", "-"), "-");
    EXPECT_EQ(profile.readString("", "Title1", "-"), "-");
}

TEST(ProfileText, FirstOccurrenceOfKeyAndSectionIsRead) {
    const ProfileText profile(
        "[playlist]\nTitle1=first\nTITLE1=second\n[PLAYLIST]\nTitle2=hidden\n");
    EXPECT_EQ(profile.readString("playlist", "Title1", ""), "first");
    EXPECT_EQ(profile.readString("playlist", "Title2", "none"), "none");
    EXPECT_EQ(profile.readKeyNames("playlist"), (std::vector<std::string>{"Title1"}));
}

TEST(ProfileText, EmptyValueIsPresentAndEmpty) {
    const ProfileText profile("[playlist]\nTitle1=\nLength1=   \n");
    EXPECT_EQ(profile.readString("playlist", "Title1", "default"), "");
    EXPECT_EQ(profile.readString("playlist", "Length1", "default"), "");
    EXPECT_EQ(profile.readInteger("playlist", "Title1", 5), 0);
}

TEST(ProfileText, DeletingAKeyRemovesOnlyItsLine) {
    const std::string before =
        "; written by hand\r\n"
        "\r\n"
        "[other]\n"
        "Title1=stays\n"
        "[playlist]\r\n"
        "File1=a.mp3\r\n"
        "  title1 = gone \r\n"
        "\r\n"
        "Length1=10\r"
        "NumberOfEntries=1";
    ProfileText profile(before);
    EXPECT_FALSE(profile.changed());
    EXPECT_EQ(profile.bytes(), before);

    EXPECT_TRUE(profile.deleteKey("PLAYLIST", "Title1"));
    EXPECT_TRUE(profile.deleteKey("playlist", "numberofentries"));
    EXPECT_FALSE(profile.deleteKey("playlist", "Title2"));
    EXPECT_TRUE(profile.changed());
    EXPECT_EQ(profile.bytes(),
              "; written by hand\r\n"
              "\r\n"
              "[other]\n"
              "Title1=stays\n"
              "[playlist]\r\n"
              "File1=a.mp3\r\n"
              "\r\n"
              "Length1=10\r");
    EXPECT_EQ(profile.readString("playlist", "Title1", "deleted"), "deleted");
    EXPECT_EQ(profile.readString("other", "Title1", ""), "stays");
}

TEST(ProfileText, DeletingTheFirstOccurrenceUncoversTheNext) {
    ProfileText profile("[playlist]\nTitle1=a\nTitle1=b\n");
    EXPECT_TRUE(profile.deleteKey("playlist", "Title1"));
    EXPECT_EQ(profile.readString("playlist", "Title1", ""), "b");
    EXPECT_EQ(profile.bytes(), "[playlist]\nTitle1=b\n");
}

TEST(ProfileText, ByteOrderMarkAndNulAreKept) {
    const std::string before = "\xEF\xBB\xBF[playlist]\nTitle1=x\nFile1=a\0b\n"s;
    ProfileText profile(before);
    EXPECT_EQ(profile.readString("playlist", "File1", ""), "a\0b"s);
    EXPECT_TRUE(profile.deleteKey("playlist", "Title1"));
    EXPECT_EQ(profile.bytes(), "\xEF\xBB\xBF[playlist]\nFile1=a\0b\n"s);
}

struct IntegerCase {
    const char* text;
    int value;
};

class ProfileInteger : public testing::TestWithParam<IntegerCase> {};

TEST_P(ProfileInteger, Reads) {
    EXPECT_EQ(readProfileInteger(GetParam().text), GetParam().value) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Decimal, ProfileInteger,
                         testing::Values(IntegerCase{"2", 2}, IntegerCase{"010", 10},
                                         IntegerCase{"+4", 4}, IntegerCase{"-3", -3},
                                         IntegerCase{"2147483647", INT_MAX},
                                         IntegerCase{"-2147483648", INT_MIN},
                                         IntegerCase{"2147483648", 0}, IntegerCase{"", 0},
                                         IntegerCase{"-", 0}, IntegerCase{"12abc", 0},
                                         IntegerCase{"1 2", 0}, IntegerCase{"abc", 0}));
INSTANTIATE_TEST_SUITE_P(
    Hexadecimal, ProfileInteger,
    testing::Values(IntegerCase{"0x10", 16}, IntegerCase{"0X1f", 31}, IntegerCase{"0x0000000A", 10},
                    IntegerCase{"0x7FFFFFFF", INT_MAX}, IntegerCase{"0xFFFFFFFF", -1},
                    IntegerCase{"0x100000000", 0}, IntegerCase{"0x", 0}, IntegerCase{"0X", 0},
                    IntegerCase{"0xg", 0}, IntegerCase{"0x-1", 0}, IntegerCase{"-0x10", 0},
                    IntegerCase{"x10", 0}));

struct PlsCase {
    const char* name;
    std::string input;
    std::string expected;
    bool modified;
};

void PrintTo(const PlsCase& c, std::ostream* os) {
    *os << c.name;
}

class PlsGolden : public testing::TestWithParam<PlsCase> {};

TEST_P(PlsGolden, GivesExactBytes) {
    ProfileText profile(GetParam().input);
    EXPECT_EQ(cleanPlsEntries(profile), GetParam().modified);
    EXPECT_EQ(profile.bytes(), GetParam().expected);
    EXPECT_EQ(profile.changed(), GetParam().modified);
}

const PlsCase plsCases[] = {
    {"EmptyValueKeptAndNotCounted",
     "[playlist]\r\nNumberOfEntries=2\r\nFile1=a.mp3\r\nTitle1=A\r\nLength1=120\r\n"
     "File2=b.mp3\r\nTitle2=\r\nVersion=2\r\n",
     "[playlist]\r\nNumberOfEntries=2\r\nFile1=a.mp3\r\nFile2=b.mp3\r\nTitle2=\r\nVersion=2\r\n",
     true},
    {"OnlyEmptyValues", "[playlist]\nNumberOfEntries=1\nTitle1=\nLength1=\n",
     "[playlist]\nNumberOfEntries=1\nTitle1=\nLength1=\n", false},
    {"EntriesAboveCountUntouched", "[playlist]\nNumberOfEntries=1\nTitle1=a\nTitle2=b\nLength2=3\n",
     "[playlist]\nNumberOfEntries=1\nTitle2=b\nLength2=3\n", true},
    {"NoPlaylistSection", "[other]\nNumberOfEntries=1\nTitle1=a\n",
     "[other]\nNumberOfEntries=1\nTitle1=a\n", false},
    {"ZeroEntries", "[playlist]\nNumberOfEntries=0\nTitle1=a\n",
     "[playlist]\nNumberOfEntries=0\nTitle1=a\n", false},
    {"NegativeCount", "[playlist]\nNumberOfEntries=-1\nTitle1=a\n",
     "[playlist]\nNumberOfEntries=-1\nTitle1=a\n", false},
    {"UnreadableCount", "[playlist]\nNumberOfEntries=two\nTitle1=a\n",
     "[playlist]\nNumberOfEntries=two\nTitle1=a\n", false},
    {"HexCount", "[playlist]\nNumberOfEntries=0x2\nTitle2=b\nLength3=3\n",
     "[playlist]\nNumberOfEntries=0x2\nLength3=3\n", true},
    {"CaseInsensitiveSectionAndKeys",
     "[PlayList]\nnumberofentries=1\nTITLE1=a\n length1 = 5\nFILE1=a.mp3\n",
     "[PlayList]\nnumberofentries=1\nFILE1=a.mp3\n", true},
    {"NumbersAreWrittenWithoutLeadingZeros",
     "[playlist]\nNumberOfEntries=1\nTitle01=a\nTitle+1=b\nTitle1x=c\n",
     "[playlist]\nNumberOfEntries=1\nTitle01=a\nTitle+1=b\nTitle1x=c\n", false},
    {"OtherSectionsAndLinesKeptByteForByte",
     "\xEF\xBB\xBF; comment\n\n[other]\r\nTitle1=x\r\n[playlist]\rNumberOfEntries=1\r"
     "Title1=a\r\n\n; Title1 note\nLength1=-1",
     "\xEF\xBB\xBF; comment\n\n[other]\r\nTitle1=x\r\n[playlist]\rNumberOfEntries=1\r"
     "\n; Title1 note\n",
     true},
    {"HugeCountInSmallFile", "[playlist]\nNumberOfEntries=2147483647\nTitle2000000000=a\n",
     "[playlist]\nNumberOfEntries=2147483647\n", true},
};

INSTANTIATE_TEST_SUITE_P(Pls, PlsGolden, testing::ValuesIn(plsCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::playlist
