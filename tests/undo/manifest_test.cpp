#include "undo/manifest.h"
#include "engine/line_escaping.h"

#include <gtest/gtest.h>

namespace tagsnip::undo {
namespace {

TEST(LineEscapingTest, EveryByteButNulSurvivesTheRoundTrip) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all += static_cast<char>(byte);
    }
    const std::vector<std::string> names{
        all,        "Björk – Jóga.mp3", "a\\b\tc\nd\re", "\xc2\x9b[31m", "\xed\xa0\x80 surrogate",
        "trailing "};
    for (const auto& name : names) {
        const std::string escaped = escapeForLine(name);
        EXPECT_EQ(escaped.find_first_of(std::string("\n\r\t\x1b\x7f", 5)), std::string::npos);
        std::string back;
        ASSERT_TRUE(unescapeLine(escaped, back)) << escaped;
        EXPECT_EQ(back, name);
    }
    EXPECT_EQ(escapeForLine("Björk\t\xff"), "Björk\\t\\xff");
}

TEST(LineEscapingTest, RefusesWhatEscapingNeverWrites) {
    std::string bytes;
    for (const char* text : {"\\", "a\\q", "\\x0", "\\x00", "\\xg1", "raw\ttab"}) {
        EXPECT_FALSE(unescapeLine(text, bytes)) << text;
    }
}

Digest digestOf(const char* text) {
    return hashOf(text);
}

ManifestRecord mp3Record(std::string path) {
    return {FileKind::mp3,
            std::move(path),
            5000,
            digestOf("original"),
            4000 - 128,
            digestOf("left"),
            {{{0, 1000}, digestOf("v2"), 0}, {{4872, 128}, digestOf("v1"), 1000}}};
}

TEST(ManifestTest, HeaderAndRecordsRoundTrip) {
    const ManifestHeader header{"/home/ann/My Music/\xff", "kept.data"};
    const std::vector<ManifestRecord> records{
        mp3Record("Artist/Album/01 Intro.mp3"),
        mp3Record("odd/ path=x cut=1+2:h@3 \\n\n\t\x01\xc3.mp3 "),
        {FileKind::playlist,
         "Lists/car.m3u",
         300,
         digestOf("list"),
         120,
         digestOf("clean"),
         {{{0, 300}, digestOf("list"), 1128}}},
    };
    std::string text = headerLine(header);
    for (const auto& record : records) {
        text += recordLine(record);
    }
    // Enough records that lines straddle the pieces the manifest is read in.
    std::vector<ManifestRecord> expected = records;
    for (int i = 0; i < 2000; ++i) {
        expected.push_back(mp3Record("many/" + std::to_string(i) + ".mp3"));
        text += recordLine(expected.back());
    }
    Manifest manifest;
    ManifestError error;
    ASSERT_TRUE(parseManifest(text, manifest, error)) << error.line << ": " << error.message;
    EXPECT_EQ(manifest.header, header);
    EXPECT_EQ(manifest.records, expected);
    EXPECT_FALSE(manifest.unfinishedTail);

    ASSERT_TRUE(parseManifest(text + recordLine(records[0]).substr(0, 40), manifest, error));
    EXPECT_TRUE(manifest.unfinishedTail);
    EXPECT_EQ(manifest.records.size(), expected.size());
}

struct Malformed {
    std::string text;
    std::size_t line;
    const char* message;
};

void PrintTo(const Malformed& malformed, std::ostream* out) {
    *out << "line " << malformed.line << ": " << malformed.message;
}

class MalformedManifestTest : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedManifestTest, IsRefusedWithItsLine) {
    Manifest manifest;
    ManifestError error;
    EXPECT_FALSE(parseManifest(GetParam().text, manifest, error));
    EXPECT_EQ(error.line, GetParam().line);
    EXPECT_NE(error.message.find(GetParam().message), std::string::npos) << error.message;
}

const std::string header = "tagsnip-kept-bytes 1 hash=xxh3-128 data=kept.data start=/m\n";
const std::string hash = " hash=" + std::string(32, 'a');
const std::string leftHash = " left-hash=" + std::string(32, 'b');
const std::string cutHash = ":" + std::string(32, 'c');

std::string mp3Line(const std::string& sizes, const std::string& cuts, const std::string& path) {
    return "mp3 size=" + sizes.substr(0, sizes.find(' ')) + hash +
           " left-size=" + sizes.substr(sizes.find(' ') + 1) + leftHash + cuts + " path=" + path +
           "\n";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MalformedManifestTest,
    ::testing::Values(
        Malformed{"", 1, "no header"}, Malformed{"ID3\n", 1, "not a tagsnip"},
        Malformed{"tagsnip-kept-bytes 2 hash=xxh3-128 data=d start=/\n", 1, "version 2"},
        Malformed{"tagsnip-kept-bytes 1 hash=md5 data=d start=/\n", 1, "hash md5"},
        Malformed{"tagsnip-kept-bytes 1 hash=xxh3-128 data=../d start=/\n", 1, "data="},
        Malformed{"tagsnip-kept-bytes 1 hash=xxh3-128 data=d start=rel\n", 1, "start="},
        Malformed{header + "flac size=1\n", 2, "kind"},
        Malformed{header + "mp3 size=-1" + hash + "\n", 2, "size="},
        Malformed{header + "mp3 size=99999999999999999999" + hash + "\n", 2, "size="},
        Malformed{header + "mp3 size=10 hash=xyz\n", 2, "hash="},
        Malformed{header + mp3Line("10 6", " cut=0+4" + cutHash + "@0", "a") +
                      mp3Line("10 6", " cut=0+4:zz@0", "a"),
                  3, "cut="},
        Malformed{header + mp3Line("10 6", " cut=0+4" + cutHash + "@0", "../a"), 2, "path"},
        Malformed{header + mp3Line("10 6", " cut=0+4" + cutHash + "@0", "a//b"), 2, "path"},
        Malformed{header + mp3Line("10 6", " cut=0+4" + cutHash + "@0", "a\\q"), 2, "path="},
        Malformed{header + mp3Line("10 6", "", "a"), 2, "no cut"},
        Malformed{header + mp3Line("10 7", " cut=0+4" + cutHash + "@0", "a"), 2, "left-size"},
        Malformed{
            header + mp3Line("10 2", " cut=4+4" + cutHash + "@0 cut=0+4" + cutHash + "@4", "a"), 2,
            "out of order"},
        Malformed{header + mp3Line("10 0", " cut=0+11" + cutHash + "@0", "a"), 2, "beyond"},
        Malformed{header + "playlist size=10" + hash + " left-size=4" + leftHash + " cut=1+9" +
                      cutHash + "@0 path=a.m3u\n",
                  2, "whole text"},
        // Short enough to read, but four times as long once its bytes are escaped.
        Malformed{
            header + mp3Line("10 6", " cut=0+4" + cutHash + "@0", std::string(20'000, '\xff')), 2,
            "record, as written, longer than 65536 bytes"}));

}  // namespace
}  // namespace tagsnip::undo
