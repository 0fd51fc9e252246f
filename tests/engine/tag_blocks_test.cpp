#include "engine/tag_blocks.h"
#include "engine/file_byte_source.h"
#include "engine/messages.h"
#include "support/mp3_bytes.h"
#include "support/tag_layouts.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace tagsnip::test {
namespace {

TagLayout parse(const std::string& file, MemorySource* source = nullptr) {
    MemorySource own(file);
    MemorySource& used = source != nullptr ? *source : own;
    TagLayout layout;
    EXPECT_FALSE(findTagBlocks(used, file.size(), layout));
    EXPECT_FALSE(used.readOutside);
    EXPECT_TRUE(tilesFile(layout, file.size()));
    return layout;
}

std::array<std::uint32_t, tagKindCount> expectedCounts(const Layout& layout) {
    std::array<std::uint32_t, tagKindCount> counts{};
    for (const auto* blocks : {&layout.leading, &layout.trailing}) {
        for (const Block block : *blocks) {
            if (const auto kind = blockKind(block)) {
                ++counts[static_cast<std::size_t>(*kind)];
            }
        }
    }
    return counts;
}

class TagLayoutTest : public ::testing::TestWithParam<Layout> {};

TEST_P(TagLayoutTest, KeepsExactlyTheAudioReadingOnlyTheTags) {
    const std::string audio = mpegAudio(40);
    const std::string file = buildFile(GetParam(), audio);
    MemorySource source(file);
    const TagLayout layout = parse(file, &source);
    ASSERT_FALSE(layout.problem) << tagProblemText(*layout.problem);
    EXPECT_EQ(file.substr(layout.keepBegin, layout.keepEnd - layout.keepBegin), audio);
    EXPECT_EQ(layout.counts, expectedCounts(GetParam()));
    EXPECT_LT(source.bytesRead, audio.size() / 2);
}

INSTANTIATE_TEST_SUITE_P(Layouts, TagLayoutTest, ::testing::ValuesIn(tagLayouts()),
                         [](const auto& info) { return info.param.name; });

struct Malformed {
    const char* name;
    std::string leading;
    std::string trailing;
    TagKind kind;
    TagFault fault;
    // What stays of the trailing bytes: the malformed block and whatever stands in front of it.
    std::size_t trailingKept;
    // Where the leading tags recognised before the problem end.
    std::uint64_t keepBegin = 0;
};

std::string withByte(std::string bytes, std::size_t at, char value) {
    bytes[at] = value;
    return bytes;
}

constexpr std::size_t malformedAudioFrames = 3;
constexpr std::uint32_t malformedAudioSize = malformedAudioFrames * 417;

std::vector<Malformed> malformedBlocks() {
    const std::string ape = apeTag(2000, true);
    const std::string apeNoHeader = apeTag(2000, false);
    const std::string lyrics = lyrics3v2Tag();
    const std::string appended = appendedId3v2Tag();
    const std::string v1 = id3v1Tag();
    return {
        {"ApeBeyondStart", "", apeTag(2000, false, 1u << 30) + v1, TagKind::ape,
         TagFault::reachesBeforeStart, apeNoHeader.size()},
        {"ApeIntoLeadingId3v2", id3v2Tag(100),
         apeTag(1000, false, malformedAudioSize + apeNoHeader.size() + 50), TagKind::ape,
         TagFault::reachesIntoLeadingTags, apeNoHeader.size(), 110},
        {"ApeUnknownVersion", "", withByte(apeNoHeader, apeNoHeader.size() - 23, 0x0B),
         TagKind::ape, TagFault::unknownVersion, apeNoHeader.size()},
        {"ApeSmallerThanFooter", "", apeTag(2000, false, 31), TagKind::ape, TagFault::malformedSize,
         apeNoHeader.size()},
        {"ApeHeaderMissing", "", withByte(ape, 0, 'X') + v1, TagKind::ape, TagFault::startMissing,
         ape.size()},
        {"ApeHeaderSizeDiffers", "", withByte(ape, 12, static_cast<char>(ape[12] + 5)) + v1,
         TagKind::ape, TagFault::startMissing, ape.size()},
        {"Lyrics3v2SizeNotDigits", "", lyrics3v2Tag("00x123") + v1, TagKind::lyrics3,
         TagFault::malformedSize, lyrics.size()},
        {"Lyrics3v2BeginMissing", "", withByte(lyrics, 0, 'l'), TagKind::lyrics3,
         TagFault::startMissing, lyrics.size()},
        {"Lyrics3v2BeyondStart", "", lyrics3v2Tag("999999"), TagKind::lyrics3,
         TagFault::reachesBeforeStart, lyrics.size()},
        {"Lyrics3v1BeginTooFar", "", "LYRICSBEGIN" + std::string(5101, 'a') + "LYRICSEND" + v1,
         TagKind::lyrics3, TagFault::beginNotFound, 11 + 5101 + 9},
        {"AppendedSizeNotSyncsafe", "", withByte(appended, appended.size() - 1, '\x80'),
         TagKind::id3v2Appended, TagFault::malformedSize, appended.size()},
        {"AppendedHeaderDiffers", "", withByte(appended, 9, 0x7F), TagKind::id3v2Appended,
         TagFault::startMissing, appended.size()},
        {"AppendedWithoutFooterFlag", "", withByte(appended, appended.size() - 5, 0),
         TagKind::id3v2Appended, TagFault::malformedSize, appended.size()},
        {"Id3v1InsideLeadingId3v2", id3v2Tag(100 + malformedAudioSize + 50).substr(0, 110), v1,
         TagKind::id3v1, TagFault::reachesIntoLeadingTags, v1.size(),
         110 + malformedAudioSize + 50},
        {"LeadingId3v2BeyondEnd", id3v2Tag(1u << 20).substr(0, 500), "", TagKind::id3v2,
         TagFault::reachesBeyondEnd, 0},
        {"LeadingId3v2UnknownVersion", withByte(id3v2Tag(100), 3, 5), v1, TagKind::id3v2,
         TagFault::unknownVersion, 0},
        {"StackedId3v2NotSyncsafe", id3v2Tag(100) + withByte(id3v2Tag(100), 9, '\x80'), "",
         TagKind::id3v2, TagFault::malformedSize, 0, 110},
    };
}

void PrintTo(const Malformed& row, std::ostream* out) {
    *out << row.name;
}

class MalformedBlockTest : public ::testing::TestWithParam<Malformed> {};

// The block is reported and stays; only what was recognised before it may go. It is counted, as
// it is there, and so is a trailer at the end whatever else is wrong.
TEST_P(MalformedBlockTest, IsReportedAndKept) {
    const Malformed& row = GetParam();
    const std::string audio = mpegAudio(malformedAudioFrames);
    const std::string file = row.leading + audio + row.trailing;
    const TagLayout layout = parse(file);
    ASSERT_TRUE(layout.problem);
    EXPECT_EQ(layout.problem->kind, row.kind);
    EXPECT_EQ(layout.problem->fault, row.fault);
    EXPECT_EQ(layout.keepEnd, file.size() - row.trailing.size() + row.trailingKept);
    EXPECT_EQ(layout.keepBegin, row.keepBegin);
    EXPECT_GE(layout.count(row.kind), 1u);
    EXPECT_EQ(layout.count(TagKind::id3v1), file.ends_with(id3v1Tag()) ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Blocks, MalformedBlockTest, ::testing::ValuesIn(malformedBlocks()),
                         [](const auto& info) { return std::string(info.param.name); });

struct Tiling {
    const char* name;
    std::string file;
    // The block that overlaps another, or none for a file that is only tags.
    std::optional<TagKind> overlapping;
    const char* message;
};

void PrintTo(const Tiling& row, std::ostream* out) {
    *out << row.name;
}

// A leading tag whose size reaches to the end of the file, over the blocks there.
std::string reachingToEnd(const std::string& rest) {
    return id3v2Tag(static_cast<std::uint32_t>(rest.size())).substr(0, 10) + rest;
}

std::vector<Tiling> tilings() {
    const std::string audio = mpegAudio(malformedAudioFrames);
    const char* const intoId3v1 =
        "@ - ID3v2 Tag size reaches into the ID3v1 tag, file not changed!";
    return {
        {"OverId3v1", reachingToEnd(audio + id3v1Tag()), TagKind::id3v1, intoId3v1},
        {"OverApeAndId3v1", reachingToEnd(audio + apeTag(2000, true) + id3v1Tag()), TagKind::id3v1,
         intoId3v1},
        {"OverApe", reachingToEnd(audio + apeTag(2000, true)), TagKind::ape,
         "@ - APE tag reaches into the ID3v2 tag at the start, file not changed!"},
        {"OverLyrics3", reachingToEnd(audio + lyrics3v2Tag()), TagKind::lyrics3,
         "@ - Lyrics3 tag reaches into the ID3v2 tag at the start, file not changed!"},
        {"SecondStackedOverAppended", id3v2Tag(100) + reachingToEnd(audio + appendedId3v2Tag()),
         TagKind::id3v2Appended,
         "@ - Appended ID3v2 tag reaches into the ID3v2 tag at the start, file not changed!"},
        {"OnlyTags", id3v2Tag(100) + apeTag(2000, true) + id3v1Tag(), std::nullopt, ""},
        {"OneTagToTheEnd", id3v2Tag(500), std::nullopt, ""},
    };
}

class TilingTest : public ::testing::TestWithParam<Tiling> {};

// What goes and what stays make up the file exactly: a leading tag that claims the blocks at
// the end is refused in the words a run without every tag kind uses, and only a file of tags
// alone may be left empty.
TEST_P(TilingTest, BlocksAndContentMakeUpTheFile) {
    const Tiling& row = GetParam();
    const TagLayout layout = parse(row.file);
    if (!row.overlapping) {
        EXPECT_FALSE(layout.problem);
        EXPECT_EQ(layout.keepBegin, layout.keepEnd);
        return;
    }
    ASSERT_TRUE(layout.problem);
    EXPECT_EQ(layout.problem->kind, *row.overlapping);
    EXPECT_EQ(layout.problem->fault, TagFault::reachesIntoLeadingTags);
    EXPECT_EQ(tagProblemFileText("@", *layout.problem), row.message);
}

INSTANTIATE_TEST_SUITE_P(Files, TilingTest, ::testing::ValuesIn(tilings()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TagBlocks, PaddingWithoutAFollowingTagStaysWithTheContent) {
    const std::string audio = std::string(32, '\0') + mpegAudio(3);
    const std::string file = id3v2Tag(50) + audio;
    const TagLayout layout = parse(file);
    EXPECT_EQ(layout.keepBegin, file.size() - audio.size());
    EXPECT_EQ(layout.count(TagKind::id3v2), 1u);
}

TEST(TagBlocks, KindListNamesWhatTheMarksDoNotShow) {
    TagLayout layout;
    EXPECT_EQ(extraTagKinds(layout), "-");
    layout.counts = {1, 1, 0, 0, 0, 0};
    EXPECT_EQ(extraTagKinds(layout), "-");
    layout.counts = {2, 1, 1, 1, 1, 1};
    EXPECT_EQ(extraTagKinds(layout), "id3v2,id3v1ext,ape,lyrics3,id3v2end");
    EXPECT_EQ(tagProblemText({TagKind::ape, TagFault::reachesBeforeStart, 0}),
              "APE tag size reaches before the start of the file");
}

TEST(TagBlocks, ReadsAnOpenFileThroughTheFileLayer) {
    TempDir dir;
    const std::string audio = mpegAudio(5);
    writeFile(dir / "a.mp3", id3v2Tag(30) + audio + apeTag(2000, true) + id3v1Tag());
    const int fd = open((dir / "a.mp3").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    FileSystem fileSystem;
    FileByteSource source(fileSystem, fd);
    TagLayout layout;
    EXPECT_FALSE(findTagBlocks(source, readFile(dir / "a.mp3").size(), layout));
    EXPECT_EQ(layout.keepEnd - layout.keepBegin, audio.size());
    // A file that shrank under the parser is an error, not a layout.
    EXPECT_EQ(findTagBlocks(source, 1u << 20, layout), EngineError::readBeyondEnd);
    close(fd);
}

}  // namespace
}  // namespace tagsnip::test
