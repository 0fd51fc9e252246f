#include "cli/run_cli.h"
#include "support/encoded_streams.h"
#include "support/mp3_bytes.h"
#include "support/tag_layouts.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <sstream>

namespace tagsnip::cli {
namespace {

using test::Block;
using test::EncodedKind;
using test::Layout;
using test::TempDir;

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

// The format's own tool, asked to read the whole stream; "" when the test has none for it.
std::string decoderCommand(EncodedKind kind, const std::string& path) {
    switch (kind) {
        case EncodedKind::flac:
            return "flac -s -t " + quoted(path);
        case EncodedKind::oggFlac:
            // flac reads past a hole in the pages; ogginfo does not.
            return "ogginfo -q " + quoted(path) + " && flac -s -t --ogg " + quoted(path);
        case EncodedKind::oggVorbis:
            return "ogginfo -q " + quoted(path);
        case EncodedKind::opus:
            return "opusinfo -q " + quoted(path);
        case EncodedKind::wav:
        case EncodedKind::aiff:
            return "sox -V1 " + quoted(path) + " -n";
        case EncodedKind::aac:
        case EncodedKind::mp3:
            return "ffmpeg -v error -xerror -i " + quoted(path) + " -f null -";
    }
    return "";
}

bool decodes(EncodedKind kind, const std::string& path) {
    return std::system((decoderCommand(kind, path) + " >/dev/null 2>&1").c_str()) == 0;
}

const std::vector<Layout>& gluedLayouts() {
    static const std::vector<Layout> layouts = {
        {"LeadingId3v2", {Block::id3v2}, {}},
        {"TwoStackedId3v2", {Block::id3v2, Block::padding, Block::id3v2WithFooter}, {}},
        {"Id3v1", {}, {Block::id3v1}},
        {"Ape", {}, {Block::apeV2}},
        {"ApeId3v1", {}, {Block::apeV2, Block::id3v1}},
        {"Everything",
         {Block::id3v2, Block::padding, Block::id3v2WithFooter},
         {Block::appendedId3v2, Block::apeV1, Block::lyrics3v2, Block::extendedId3v1,
          Block::id3v1}},
    };
    return layouts;
}

std::string lastLine(const std::string& text) {
    const std::size_t end = text.find_last_not_of('\n');
    return text.substr(text.rfind('\n', end) + 1, end - text.rfind('\n', end));
}

class GluedTagsTest : public ::testing::TestWithParam<EncodedKind> {};

// Every layout of glued tags comes off in one run as the clean stream, byte for byte, which the
// format's own tool reads; its own metadata (FLAC blocks, Ogg headers, chunks) is in those bytes.
TEST_P(GluedTagsTest, EveryLayoutComesOffAsTheCleanStream) {
    const test::EncodedKindInfo& info = test::infoOf(GetParam());
    std::string failure;
    const std::string& clean = test::encodedStream(info.kind, failure);
    if (clean.empty()) {
        GTEST_SKIP() << "no " << info.name << " stream: " << failure;
    }
    TempDir dir;
    std::vector<std::string> paths;
    for (const Layout& layout : gluedLayouts()) {
        paths.push_back(dir / (layout.name + info.extension));
        test::writeFile(paths.back(), test::buildFile(layout, clean));
    }
    ASSERT_FALSE(decodes(info.kind, paths.back()) && info.kind != EncodedKind::mp3 &&
                 info.kind != EncodedKind::aac)
        << "the tool accepts glued tags, so it cannot tell a clean result";

    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runCli({"-a", "--formats", "all", dir.path()}, out, err), 0) << err.str();
    EXPECT_EQ(err.str(), "");
    for (const std::string& path : paths) {
        EXPECT_TRUE(test::readFile(path) == clean) << path;
        EXPECT_TRUE(decodes(info.kind, path)) << decoderCommand(info.kind, path);
    }
    const std::string total = lastLine(out.str());
    const std::string count = std::to_string(paths.size());
    if (info.format == AudioFormat::mp3) {
        EXPECT_EQ(total.rfind("total mp3=" + count + " ", 0), 0u) << total;
    } else {
        EXPECT_NE(total.find(std::string(" +") + audioFormatName(info.format) + "=" + count),
                  std::string::npos)
            << total;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, GluedTagsTest,
                         ::testing::Values(EncodedKind::mp3, EncodedKind::flac,
                                           EncodedKind::oggVorbis, EncodedKind::opus,
                                           EncodedKind::oggFlac, EncodedKind::aac, EncodedKind::wav,
                                           EncodedKind::aiff),
                         [](const auto& info) {
                             return std::string(test::infoOf(info.param).name);
                         });

std::string overwritten(std::string bytes, std::size_t fromEnd, const std::string& with) {
    bytes.replace(bytes.size() - fromEnd, with.size(), with);
    return bytes;
}

std::uint32_t apeSizeField(const std::string& tag) {
    const auto* footer = reinterpret_cast<const unsigned char*>(tag.data() + tag.size() - 32);
    return footer[12] | footer[13] << 8 | footer[14] << 16 | std::uint32_t{footer[15]} << 24;
}

// The stream with an APEv1 tag behind it whose size field is off by delta.
std::function<std::string(const std::string&)> apeV1WithSizeOff(std::int64_t delta) {
    return [delta](const std::string& stream) {
        const std::uint32_t size = apeSizeField(test::apeTag(1000, false));
        return stream + test::apeTag(1000, false, static_cast<std::uint32_t>(size + delta));
    };
}

// An ID3v2.4 tag with a footer of total bytes, its header and footer written over the stream's
// last bytes, so that the block is made of audio.
std::string appendedTagOfAudio(const std::string& audio, std::uint32_t total) {
    const std::string size = test::syncsafe(total - 20);
    const std::string header = std::string("ID3\x04\x00\x10", 6) + size;
    const std::string footer = std::string("3DI\x04\x00\x10", 6) + size;
    return overwritten(overwritten(audio, total, header), 10, footer);
}

// A damaged or coincidental block where a tag would stand: -a must leave every byte of the file.
struct FalseMatch {
    const char* name;
    EncodedKind kind;
    std::function<std::string(const std::string& stream)> build;
    // What the message says after the path and " - ".
    std::string fault;
};

const std::vector<FalseMatch>& falseMatches() {
    const std::string mpegEnd =
        " does not begin where the MPEG audio stream ends, file not changed!";
    const std::string flacEnd = " does not begin where the FLAC stream ends, file not changed!";
    static const std::vector<FalseMatch> rows = {
        {"ApeV1SizeTooBig", EncodedKind::mp3, apeV1WithSizeOff(1000), "APE tag" + mpegEnd},
        {"ApeV1SizeTooSmall", EncodedKind::mp3, apeV1WithSizeOff(-8), "APE tag" + mpegEnd},
        {"ApeFooterAsLastBytesOfAudio", EncodedKind::mp3,
         [](const std::string& a) {
             const std::string tag = test::apeTag(2000, false, 4000);
             return overwritten(a, 32, tag.substr(tag.size() - 32));
         },
         "APE tag" + mpegEnd},
        {"Lyrics3v1InsideAudio", EncodedKind::mp3,
         [](const std::string& a) {
             return overwritten(overwritten(a, 3000, "LYRICSBEGIN"), 9, "LYRICSEND");
         },
         "Lyrics3 tag" + mpegEnd},
        {"TagInAudioBeforeId3v1", EncodedKind::mp3,
         [](const std::string& a) { return overwritten(a, 128, "TAG") + test::id3v1Tag(); },
         "ID3v1 tag" + mpegEnd},
        {"ExtendedTagInAudioBeforeId3v1", EncodedKind::mp3,
         [](const std::string& a) { return overwritten(a, 227, "TAG+") + test::id3v1Tag(); },
         "Extended ID3v1 tag" + mpegEnd},
        {"Lyrics3v2OfAudio", EncodedKind::mp3,
         [](const std::string& a) {
             return overwritten(overwritten(a, 2015, "LYRICSBEGIN"), 15, "002000LYRICS200");
         },
         "Lyrics3 tag" + mpegEnd},
        {"AppendedId3v2OfAudio", EncodedKind::mp3,
         [](const std::string& a) { return appendedTagOfAudio(a, 1000); },
         "Appended ID3v2 tag" + mpegEnd},
        {"FlacApeV1SizeTooBig", EncodedKind::flac, apeV1WithSizeOff(1000), "APE tag" + flacEnd},
        {"FlacFrameCrcDoesNotMatch", EncodedKind::flac,
         [](const std::string& a) {
             std::string damaged = a;
             damaged.back() = static_cast<char>(damaged.back() ^ 0x01);
             return damaged + test::id3v1Tag();
         },
         "ID3v1 tag" + flacEnd},
        {"FlacId3v2SizeTooSmall", EncodedKind::flac,
         [](const std::string& a) {
             std::string tag = test::id3v2Tag(300);
             tag.replace(6, 4, test::syncsafe(200));
             return tag + a;
         },
         "ID3v2 tag does not end where the FLAC stream begins, file not changed!"},
    };
    return rows;
}

// Each row alone in one run: the file keeps every byte, the message names it and the block, and
// the run ends with status 1.
TEST(FalseMatchTest, NoDamagedOrCoincidentalBlockCostsAudio) {
    for (const FalseMatch& row : falseMatches()) {
        SCOPED_TRACE(row.name);
        const test::EncodedKindInfo& info = test::infoOf(row.kind);
        std::string failure;
        const std::string& clean = test::encodedStream(row.kind, failure);
        if (clean.empty()) {
            GTEST_SKIP() << "no " << info.name << " stream: " << failure;
        }
        TempDir dir;
        const std::string path = dir / (std::string(row.name) + info.extension);
        const std::string content = row.build(clean);
        test::writeFile(path, content);
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(runCli({"-a", "--formats", "mp3,flac", dir.path()}, out, err), 1);
        EXPECT_EQ(err.str(), path + " - " + row.fault + "\n");
        EXPECT_TRUE(test::readFile(path) == content);
    }
}

// Without -a, a FLAC file loses only the ID3 kinds asked for, and only from the outside in.
TEST(FalseMatchTest, PlainSwitchesTakeOnlyTheirKindsOffOtherFormats) {
    std::string failure;
    const std::string& clean = test::encodedStream(EncodedKind::flac, failure);
    if (clean.empty()) {
        GTEST_SKIP() << "no FLAC stream: " << failure;
    }
    TempDir dir;
    const std::string leading = dir / "leading.flac";
    const std::string behindApe = dir / "behind-ape.flac";
    const std::string apeBehind = test::apeTag(2000, true) + test::id3v1Tag();
    test::writeFile(leading, test::id3v2Tag(300) + clean + test::id3v1Tag());
    test::writeFile(behindApe, clean + apeBehind);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runCli({"-t2", "--formats", "flac", dir.path()}, out, err), 0) << err.str();
    EXPECT_TRUE(test::readFile(leading) == clean + test::id3v1Tag());
    EXPECT_TRUE(test::readFile(behindApe) == clean + apeBehind);
    EXPECT_EQ(lastLine(out.str()),
              "total mp3=0 id3v1=2 id3v2=1 m3u=0 pls=0 +id3v2=0 +id3v1=0 +id3v1ext=0 +ape=1 "
              "+lyrics3=0 +id3v2end=0 +flac=2");

    EXPECT_EQ(runCli({"-t1", "--formats", "flac", dir.path()}, out, err), 1);
    EXPECT_TRUE(test::readFile(leading) == clean);
    EXPECT_TRUE(test::readFile(behindApe) == clean + apeBehind);
    EXPECT_NE(err.str().find(behindApe + " - ID3v1 tag does not begin where the FLAC stream ends"),
              std::string::npos)
        << err.str();
}

}  // namespace
}  // namespace tagsnip::cli
