#include "cli/run_cli.h"
#include "support/mp3_bytes.h"
#include "support/tag_layouts.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace tagsnip::cli {
namespace {

using test::readFile;
using test::writeFile;

constexpr std::uint32_t mebibyte = 1 << 20;

struct KeptSize {
    const char* name;
    std::uint32_t tagBytes;
    bool allTags;
    // Beyond one batch of replacements, the large tag's bytes are flushed in a later batch than
    // the small ones' before it.
    int smallFiles;
};

// A tag's body filled like a picture's bytes, so that a part kept in the wrong place shows.
std::string withPicture(std::string tag) {
    for (std::size_t i = 14; i + 10 < tag.size(); ++i) {
        tag[i] = static_cast<char>((i * 131 + i / 4093) & 0xff);
    }
    return tag;
}

void PrintTo(const KeptSize& row, std::ostream* out) {
    *out << row.name;
}

class KeptSizeTest : public ::testing::TestWithParam<KeptSize> {
public:
    std::string tree(const std::string& name) const { return dir / "tree/" + name; }

    int run(const std::vector<std::string>& arguments) {
        out.str("");
        err.str("");
        return runCli(arguments, out, err);
    }

    test::TempDir dir;
    std::map<std::string, std::string> before;
    std::ostringstream out;
    std::ostringstream err;
};

// A large cover picture among small tags: every removed byte must come back from the kept data,
// however the large one is written out beside the small ones.
TEST_P(KeptSizeTest, EveryFileComesBackByteForByte) {
    const KeptSize& row = GetParam();
    test::makeDirectory(dir / "tree");
    for (int i = 0; i < row.smallFiles; ++i) {
        const auto seed = static_cast<unsigned>(i + 2);
        before["small" + std::to_string(i) + ".mp3"] =
            test::id3v2Tag(500 + 37 * i) + test::mpegAudio(3, seed) + test::id3v1Tag();
    }
    const std::string audio = test::mpegAudio(20, 1);
    before["cover.mp3"] =
        row.allTags ? test::id3v2Tag(900) + audio +
                          withPicture(test::appendedId3v2Tag(row.tagBytes)) + test::id3v1Tag()
                    : withPicture(test::id3v2Tag(row.tagBytes)) + audio + test::id3v1Tag();
    for (const auto& [name, bytes] : before) {
        writeFile(tree(name), bytes);
    }

    EXPECT_EQ(
        run({row.allTags ? "-a" : "-t1", "-t2", "--keep-removed", dir / "keep", dir / "tree"}), 0)
        << err.str();
    ASSERT_EQ(readFile(tree("cover.mp3")), audio);
    const std::string runFolder = dir / "keep/" + test::listNames(dir / "keep");

    EXPECT_EQ(run({"--restore", runFolder}), 0) << err.str();
    EXPECT_NE(out.str().find("total restored=" + std::to_string(before.size()) + " "),
              std::string::npos)
        << out.str() << err.str();
    for (const auto& [name, bytes] : before) {
        EXPECT_TRUE(readFile(tree(name)) == bytes) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    LargeTags, KeptSizeTest,
    ::testing::Values(KeptSize{"NineTenthsMiB", mebibyte * 9 / 10, false, 12},
                      KeptSize{"OneMiB", mebibyte, false, 12},
                      KeptSize{"OneAndAHalfMiB", mebibyte * 3 / 2, false, 12},
                      KeptSize{"ThreeMiB", 3 * mebibyte, false, 12},
                      KeptSize{"SixteenMiB", 16 * mebibyte, false, 12},
                      KeptSize{"OneAndAHalfMiBAcrossBatches", mebibyte * 3 / 2, false, 300},
                      KeptSize{"SixteenMiBAcrossBatches", 16 * mebibyte, false, 300},
                      KeptSize{"NineTenthsMiBEveryTag", mebibyte * 9 / 10, true, 12},
                      KeptSize{"OneMiBEveryTag", mebibyte, true, 12},
                      KeptSize{"ThreeMiBEveryTag", 3 * mebibyte, true, 12},
                      KeptSize{"ThreeMiBEveryTagAcrossBatches", 3 * mebibyte, true, 300}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::cli
