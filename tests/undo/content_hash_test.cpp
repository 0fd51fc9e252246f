#include "undo/content_hash.h"

#include "support/temp_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tagsnip::undo {
namespace {

using test::TempDir;

TEST(DigestTest, CanonicalHexOfTheEmptyInputRoundTrips) {
    const Digest empty = hashOf("");
    // XXH3-128 of nothing, as xxhsum -H2 prints it.
    EXPECT_EQ(empty.hex(), "99aa06d3014798d86001c324468d497f");
    Digest parsed;
    ASSERT_TRUE(Digest::fromHex(empty.hex(), parsed));
    EXPECT_EQ(parsed, empty);
    EXPECT_FALSE(Digest::fromHex("99AA06d3014798d86001c324468d497f", parsed));
    EXPECT_FALSE(Digest::fromHex("99aa06d3014798d86001c324468d497", parsed));
}

struct PassCase {
    const char* name;
    std::vector<ByteRange> cut;
};

void PrintTo(const PassCase& passCase, std::ostream* out) {
    *out << passCase.name;
}

// Larger than the read buffer, so that pieces and ranges cross its boundaries.
constexpr std::uint64_t fileSize = 600 * 1024;

class HashPassTest : public ::testing::TestWithParam<PassCase> {
protected:
    void SetUp() override {
        for (std::uint64_t i = 0; i < fileSize; ++i) {
            content += static_cast<char>((i * 7 + i / 251) & 0xff);
        }
        test::writeFile(dir / "file", content);
        fd = ::open((dir / "file").c_str(), O_RDONLY | O_CLOEXEC);
    }
    void TearDown() override { ::close(fd); }

    TempDir dir;
    std::string content;
    int fd = -1;
    FileSystem fileSystem;
};

TEST_P(HashPassTest, OneReadGivesWholeRemainingAndCutHashes) {
    const auto& cut = GetParam().cut;
    std::string remaining;
    std::string cutBytes;
    std::uint64_t at = 0;
    for (const auto& range : cut) {
        remaining += content.substr(at, range.offset - at);
        cutBytes += content.substr(range.offset, range.length);
        at = range.offset + range.length;
    }
    remaining += content.substr(at);

    FileDigests digests;
    std::string sunk;
    const CutBytesSink sink = [&](std::size_t, std::string_view bytes) {
        sunk += bytes;
        return std::error_code{};
    };
    std::string stayed;
    const RemainingBytesSink remainingSink = [&](std::string_view bytes) {
        stayed += bytes;
        return std::error_code{};
    };
    ASSERT_FALSE(hashFile(fileSystem, fd, fileSize, cut, digests, sink, remainingSink));
    EXPECT_EQ(digests.whole, hashOf(content));
    EXPECT_EQ(digests.remaining, hashOf(remaining));
    EXPECT_TRUE(sunk == cutBytes);
    EXPECT_TRUE(stayed == remaining);
    ASSERT_EQ(digests.cut.size(), cut.size());
    for (std::size_t i = 0; i < cut.size(); ++i) {
        EXPECT_EQ(digests.cut[i], hashOf(content.substr(cut[i].offset, cut[i].length))) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, HashPassTest,
    ::testing::Values(PassCase{"none", {}}, PassCase{"head", {{0, 4096}}},
                      PassCase{"tail", {{fileSize - 128, 128}}},
                      PassCase{"headAndTail", {{0, 10}, {fileSize - 128, 128}}},
                      PassCase{"acrossBuffers", {{262000, 1000}, {300000, 300000}}},
                      PassCase{"adjacent", {{5, 5}, {10, 5}}}, PassCase{"all", {{0, fileSize}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HashPassTest, RefusesBadRangesAndAShortFile) {
    FileDigests digests;
    const std::vector<ByteRange> overlapping{{0, 10}, {5, 10}};
    const std::vector<ByteRange> beyond{{fileSize - 1, 2}};
    EXPECT_EQ(hashFile(fileSystem, fd, fileSize, overlapping, digests),
              std::errc::invalid_argument);
    EXPECT_EQ(hashFile(fileSystem, fd, fileSize, beyond, digests), std::errc::invalid_argument);
    Digest whole;
    EXPECT_EQ(hashFile(fileSystem, fd, fileSize + 1, whole),
              make_error_code(EngineError::readBeyondEnd));
}

TEST_F(HashPassTest, AFailingSinkEndsTheReadWithItsError) {
    FileDigests digests;
    const std::vector<ByteRange> head{{0, 10}};
    const auto full = [](auto&&...) { return std::make_error_code(std::errc::no_space_on_device); };
    EXPECT_EQ(hashFile(fileSystem, fd, fileSize, head, digests, full),
              std::errc::no_space_on_device);
    EXPECT_EQ(hashFile(fileSystem, fd, fileSize, head, digests, {}, full),
              std::errc::no_space_on_device);
}

}  // namespace
}  // namespace tagsnip::undo
