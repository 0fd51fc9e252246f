#pragma once

#include "engine/byte_source.h"
#include "engine/tag_blocks.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tagsnip::test {

// The tag blocks a test file can carry. The trailing ones are listed in the order they stand in a
// file combined from two layouts.
enum class Block {
    id3v2,
    // An ID3v2.4 tag with a footer, as the second of two stacked tags.
    id3v2WithFooter,
    // Zero bytes between two stacked tags.
    padding,
    apeV1,
    apeV2,
    apeV2WithoutHeader,
    lyrics3v1,
    lyrics3v2,
    appendedId3v2,
    extendedId3v1,
    id3v1,
};

// A file's tags around the audio, named as a test parameter ("Id3v2ApeId3v1").
struct Layout {
    std::string name;
    std::vector<Block> leading;
    std::vector<Block> trailing;
};

void PrintTo(const Layout& layout, std::ostream* out);

std::string blockBytes(Block block);
// What the parser counts the block as; padding counts as nothing.
std::optional<TagKind> blockKind(Block block);
std::string buildFile(const Layout& layout, const std::string& audio);

// The layouts tagging programs leave (ID3v2 + APEv2 + ID3v1, Lyrics3v2 + ID3v1, two stacked ID3v2,
// an appended ID3v2.4), every combination of two of them, and each other block on its own.
std::vector<Layout> tagLayouts();

// An APE tag of version 1000 or 2000; size overrides the footer's tag size field.
std::string apeTag(std::uint32_t version, bool withHeader,
                   std::optional<std::uint32_t> size = std::nullopt);
std::string lyrics3v2Tag(const std::string& sizeField = "");
std::string appendedId3v2Tag(std::uint32_t size = 300);

// A file in memory that fails the test run on a read outside it and counts the bytes read.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(const std::string& bytes) : m_bytes(bytes) {}

    std::error_code read(std::uint64_t offset, void* buffer, std::size_t length) override;
    std::uint64_t bytesRead = 0;
    bool readOutside = false;

private:
    const std::string& m_bytes;
};

}  // namespace tagsnip::test
