#include "chunk_container_bounds.h"

#include "stream_reading.h"

#include <algorithm>

namespace tagsnip {

namespace {

constexpr std::size_t containerHeaderSize = 12;
constexpr std::size_t chunkHeaderSize = 8;
// More chunks than any real file carries: past this the walk gives up rather than read on.
constexpr int chunkLimit = 1024;

std::string_view text(const std::vector<unsigned char>& bytes, std::size_t at) {
    return {reinterpret_cast<const char*>(bytes.data()) + at, 4};
}

}  // namespace

std::uint32_t ChunkContainerBounds::size(const unsigned char* field) const {
    return m_container.bigEndian ? bigEndian32(field) : littleEndian32(field);
}

std::error_code ChunkContainerBounds::readHeader(
    ByteSource& source, std::uint64_t begin, std::uint64_t end,
    std::optional<std::uint32_t>& containerSize) const {
    containerSize.reset();
    if (!offsetWithin(begin, containerHeaderSize, end)) {
        return {};
    }
    std::vector<unsigned char> header;
    if (const std::error_code error = readBytes(source, begin, containerHeaderSize, header)) {
        return error;
    }
    const auto& forms = m_container.forms;
    if (text(header, 0) == m_container.id &&
        std::find(forms.begin(), forms.end(), text(header, 8)) != forms.end()) {
        containerSize = size(&header[4]);
    }
    return {};
}

std::error_code ChunkContainerBounds::beginsAt(ByteSource& source, std::uint64_t begin,
                                               std::uint64_t end, bool& proven) const {
    std::optional<std::uint32_t> containerSize;
    const std::error_code error = readHeader(source, begin, end, containerSize);
    proven = !error && containerSize.has_value();
    return error;
}

// The container's size says where it ends, and only the chunks filling it exactly confirm it:
// a size field alone is a claim. The pad byte after an odd-sized last chunk may lie outside it.
std::error_code ChunkContainerBounds::endsAt(ByteSource& source, std::uint64_t begin,
                                             std::uint64_t end, bool& proven) const {
    proven = false;
    std::optional<std::uint32_t> containerSize;
    if (const std::error_code error = readHeader(source, begin, end, containerSize)) {
        return error;
    }
    const auto containerEnd =
        containerSize ? offsetWithin(begin, chunkHeaderSize + std::uint64_t{*containerSize}, end)
                      : std::nullopt;
    const bool padded = containerSize && (*containerSize & 1u) != 0;
    if (!containerEnd || (end != *containerEnd && !(padded && end - *containerEnd == 1))) {
        return {};
    }
    return chunksFill(source, begin + containerHeaderSize, *containerEnd, proven);
}

std::error_code ChunkContainerBounds::chunksFill(ByteSource& source, std::uint64_t from,
                                                 std::uint64_t to, bool& filled) const {
    filled = from == to;
    std::vector<unsigned char> header;
    for (int chunk = 0; chunk < chunkLimit && !filled; ++chunk) {
        if (!offsetWithin(from, chunkHeaderSize, to)) {
            return {};
        }
        if (const std::error_code error = readBytes(source, from, chunkHeaderSize, header)) {
            return error;
        }
        const std::uint32_t chunkSize = size(&header[4]);
        const auto chunkEnd = offsetWithin(from, chunkHeaderSize + std::uint64_t{chunkSize}, to);
        if (!chunkEnd) {
            return {};
        }
        from = *chunkEnd == to ? to : *chunkEnd + (chunkSize & 1u);
        filled = from == to;
    }
    return {};
}

}  // namespace tagsnip
