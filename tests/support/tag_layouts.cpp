#include "tag_layouts.h"

#include "mp3_bytes.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace tagsnip::test {
namespace {

std::string littleEndian32(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>(value >> (8 * i));
    }
    return bytes;
}

std::string apeItem(const std::string& key, const std::string& value) {
    return littleEndian32(static_cast<std::uint32_t>(value.size())) + littleEndian32(0) + key +
           '\0' + value;
}

std::string apeFrame(std::uint32_t version, std::uint32_t size, std::uint32_t flags) {
    return "APETAGEX" + littleEndian32(version) + littleEndian32(size) + littleEndian32(2) +
           littleEndian32(flags) + std::string(8, '\0');
}

std::string lyrics3Field(const std::string& id, const std::string& data) {
    std::string size = std::to_string(data.size());
    return id + std::string(5 - size.size(), '0') + size + data;
}

std::string extendedId3v1Tag() {
    std::string tag = "TAG+" + std::string("Title continued");
    tag.resize(227, '\0');
    return tag;
}

std::vector<Block> combinedTrailing(const Layout& a, const Layout& b) {
    std::vector<Block> blocks = a.trailing;
    blocks.insert(blocks.end(), b.trailing.begin(), b.trailing.end());
    std::sort(blocks.begin(), blocks.end());
    blocks.erase(std::unique(blocks.begin(), blocks.end()), blocks.end());
    return blocks;
}

}  // namespace

std::string apeTag(std::uint32_t version, bool withHeader, std::optional<std::uint32_t> size) {
    const std::string items =
        apeItem("REPLAYGAIN_TRACK_GAIN", "-6.50 dB") + apeItem("Title", "Snip");
    const std::uint32_t tagSize = size.value_or(static_cast<std::uint32_t>(items.size() + 32));
    const std::uint32_t headerFlag = withHeader ? 1u << 31 : 0;
    const std::string header = withHeader ? apeFrame(version, tagSize, headerFlag | 1u << 29) : "";
    return header + items + apeFrame(version, tagSize, headerFlag);
}

std::string lyrics3v2Tag(const std::string& sizeField) {
    const std::string body = "LYRICSBEGIN" + lyrics3Field("IND", "10") +
                             lyrics3Field("LYR", "First line\r\nSecond line") +
                             lyrics3Field("ETT", "Title");
    std::string size = std::to_string(body.size());
    size = sizeField.empty() ? std::string(6 - size.size(), '0') + size : sizeField;
    return body + size + "LYRICS200";
}

std::string appendedId3v2Tag(std::uint32_t size) {
    const std::string header = "ID3\x04" + std::string(1, '\0') + "\x10" + syncsafe(size);
    std::string body = "TIT2";
    body.resize(size, '\0');
    return header + body + "3DI" + header.substr(3);
}

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << layout.name;
}

struct BlockBytes {
    std::string bytes;
    std::optional<TagKind> kind;
};

const BlockBytes& blockEntry(Block block) {
    static const std::map<Block, BlockBytes> blocks = {
        {Block::id3v2, {id3v2Tag(200), TagKind::id3v2}},
        {Block::id3v2WithFooter, {appendedId3v2Tag(120), TagKind::id3v2}},
        {Block::padding, {std::string(64, '\0'), std::nullopt}},
        {Block::apeV1, {apeTag(1000, false), TagKind::ape}},
        {Block::apeV2, {apeTag(2000, true), TagKind::ape}},
        {Block::apeV2WithoutHeader, {apeTag(2000, false), TagKind::ape}},
        {Block::lyrics3v1, {"LYRICSBEGINFirst line\r\nSecond lineLYRICSEND", TagKind::lyrics3}},
        {Block::lyrics3v2, {lyrics3v2Tag(), TagKind::lyrics3}},
        {Block::appendedId3v2, {appendedId3v2Tag(), TagKind::id3v2Appended}},
        {Block::extendedId3v1, {extendedId3v1Tag(), TagKind::id3v1Extended}},
        {Block::id3v1, {id3v1Tag(), TagKind::id3v1}},
    };
    return blocks.at(block);
}

std::string blockBytes(Block block) {
    return blockEntry(block).bytes;
}

std::optional<TagKind> blockKind(Block block) {
    return blockEntry(block).kind;
}

std::string buildFile(const Layout& layout, const std::string& audio) {
    std::string file;
    for (const Block block : layout.leading) {
        file += blockBytes(block);
    }
    file += audio;
    for (const Block block : layout.trailing) {
        file += blockBytes(block);
    }
    return file;
}

std::vector<Layout> tagLayouts() {
    const std::vector<Layout> found = {
        {"Id3v2ApeId3v1", {Block::id3v2}, {Block::apeV2, Block::id3v1}},
        {"Lyrics3v2Id3v1", {}, {Block::lyrics3v2, Block::id3v1}},
        {"StackedId3v2", {Block::id3v2, Block::padding, Block::id3v2WithFooter}, {}},
        {"AppendedId3v2", {}, {Block::appendedId3v2}},
    };
    std::vector<Layout> layouts = found;
    for (std::size_t i = 0; i < found.size(); ++i) {
        for (std::size_t j = i + 1; j < found.size(); ++j) {
            std::vector<Block> leading = found[i].leading;
            leading.insert(leading.end(), found[j].leading.begin(), found[j].leading.end());
            layouts.push_back({found[i].name + "_" + found[j].name, leading,
                               combinedTrailing(found[i], found[j])});
        }
    }
    const std::vector<Layout> others = {
        {"Bare", {}, {}},
        {"ApeV1", {}, {Block::apeV1}},
        {"ApeV2WithoutHeaderId3v1", {}, {Block::apeV2WithoutHeader, Block::id3v1}},
        {"Lyrics3v1Id3v1", {}, {Block::lyrics3v1, Block::id3v1}},
        {"ExtendedId3v1", {}, {Block::extendedId3v1, Block::id3v1}},
        {"Id3v1BeforeApe", {}, {Block::id3v1, Block::apeV2}},
        {"Id3v1BeforeLyrics3v2", {}, {Block::id3v1, Block::lyrics3v2}},
    };
    layouts.insert(layouts.end(), others.begin(), others.end());
    return layouts;
}

std::error_code MemorySource::read(std::uint64_t offset, void* buffer, std::size_t length) {
    if (offset > m_bytes.size() || length > m_bytes.size() - offset) {
        readOutside = true;
        return std::make_error_code(std::errc::io_error);
    }
    std::memcpy(buffer, m_bytes.data() + offset, length);
    bytesRead += length;
    return {};
}

}  // namespace tagsnip::test
