#include "cli/run_cli.h"
#include "support/lame_corpus.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>

namespace tagsnip::cli {
namespace {

using test::Block;
using test::CorpusFile;
using test::Layout;
using test::TempDir;

// A FAT32 image mounted through Debian's FUSE driver, as this kernel has no vfat module.
class FatMount {
public:
    explicit FatMount(const TempDir& dir) : m_point(dir / "fat") {
        const std::string image = dir / "fat.img";
        test::makeDirectory(m_point);
        const std::string make = "truncate -s 64M " + image + " && mkfs.vfat -F 32 " + image +
                                 " >/dev/null && fusefat -o rw+ " + image + " " + m_point;
        m_mounted = std::system(make.c_str()) == 0;
    }
    ~FatMount() {
        if (m_mounted) {
            (void)std::system(("fusermount -u " + m_point).c_str());
        }
    }
    FatMount(const FatMount&) = delete;
    FatMount& operator=(const FatMount&) = delete;

    bool mounted() const { return m_mounted; }
    std::string directory() const { return m_point + "/"; }

private:
    std::string m_point;
    bool m_mounted = false;
};

// The row and the total line a file of the layout gives, by the documented rules: a mark for the
// first ID3v1 and ID3v2 tag, the other kinds listed by name in TagKind order.
struct Expected {
    std::map<std::string, std::string> rows;
    std::array<unsigned, tagKindCount> kindFiles{};
};

void expectRow(const CorpusFile& file, Expected& expected) {
    std::array<unsigned, tagKindCount> counts{};
    for (const auto* blocks : {&file.layout.leading, &file.layout.trailing}) {
        for (const Block block : *blocks) {
            if (const auto kind = test::blockKind(block)) {
                ++counts[static_cast<std::size_t>(*kind)];
            }
        }
    }
    const auto v1 = static_cast<std::size_t>(TagKind::id3v1);
    const auto v2 = static_cast<std::size_t>(TagKind::id3v2);
    std::string kinds;
    for (std::size_t i = 0; i < tagKindCount; ++i) {
        const unsigned shown = i == v1 || i == v2 ? 1 : 0;
        if (counts[i] > shown) {
            if (!kinds.empty()) {
                kinds += ',';
            }
            kinds += tagKindName(static_cast<TagKind>(i));
            ++expected.kindFiles[i];
        }
    }
    expected.rows[file.path] = std::string(counts[v1] > 0 ? "X" : "-") + '\t' +
                               (counts[v2] > 0 ? "X" : "-") + '\t' + (kinds.empty() ? "-" : kinds);
}

std::string totalLine(unsigned files, const Expected& expected) {
    std::string line = "total mp3=" + std::to_string(files);
    unsigned v1 = 0;
    unsigned v2 = 0;
    for (const auto& [path, row] : expected.rows) {
        v1 += row[0] == 'X' ? 1 : 0;
        v2 += row[2] == 'X' ? 1 : 0;
    }
    line += " id3v1=" + std::to_string(v1) + " id3v2=" + std::to_string(v2) + " m3u=0 pls=0";
    for (std::size_t i = 0; i < tagKindCount; ++i) {
        line += " +" + std::string(tagKindName(static_cast<TagKind>(i))) + "=" +
                std::to_string(expected.kindFiles[i]);
    }
    return line;
}

class AllTagsTest : public ::testing::TestWithParam<bool> {};

// Each layout tagging programs leave, and each combination of two, comes back as the bare
// encoded audio in one run, on ext4 and on FAT32.
TEST_P(AllTagsTest, EveryLayoutComesOutAsTheBareAudio) {
    const bool onFat = GetParam();
    std::string failure;
    const std::string& audio = test::lameAudio(failure);
    if (audio.empty()) {
        GTEST_SKIP() << "no lame-encoded audio: " << failure;
    }
    if (onFat && geteuid() != 0) {
        GTEST_SKIP() << "mounting a FAT32 image through fusefat needs root";
    }
    TempDir dir;
    std::optional<FatMount> fat;
    if (onFat) {
        fat.emplace(dir);
        ASSERT_TRUE(fat->mounted()) << "mkfs.vfat or fusefat failed (packages dosfstools, fusefat)";
    }
    const std::string library = onFat ? fat->directory() : dir.path();
    Expected expected;
    const std::vector<CorpusFile> files = test::writeTagCorpus(library, audio);
    for (const CorpusFile& file : files) {
        expectRow(file, expected);
    }

    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runCli({"-a", library}, out, err), 0) << err.str();
    EXPECT_EQ(err.str(), "");
    for (const CorpusFile& file : files) {
        EXPECT_TRUE(test::readFile(file.path) == audio) << file.layout.name;
    }
    std::map<std::string, std::string> rows;
    std::istringstream lines(out.str());
    std::string line;
    std::string last;
    while (std::getline(lines, line)) {
        if (const auto pathStart = line.rfind('\t'); line.rfind("total ", 0) != 0) {
            rows[line.substr(pathStart + 1)] = line.substr(0, pathStart);
        }
        last = line;
    }
    EXPECT_EQ(rows, expected.rows);
    EXPECT_EQ(last, totalLine(static_cast<unsigned>(files.size()), expected));

    // Nothing is left for a second run to find.
    out.str("");
    EXPECT_EQ(runCli({"-a", "-l", library}, out, err), 0);
    EXPECT_EQ(out.str().find('\t'), std::string::npos) << out.str();
}

INSTANTIATE_TEST_SUITE_P(FileSystems, AllTagsTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Fat32" : "Ext4"; });

}  // namespace
}  // namespace tagsnip::cli
