#pragma once

#include "stream_bounds.h"

#include <array>
#include <optional>
#include <string_view>

namespace tagsnip {

// A RIFF-like container: an id, a 32-bit size, a form type, then chunks of an id and a size, each
// padded to an even length, that fill the container exactly.
struct ChunkContainer {
    std::string_view id;
    std::array<std::string_view, 2> forms;
    bool bigEndian;
};

class ChunkContainerBounds final : public StreamBounds {
public:
    explicit ChunkContainerBounds(ChunkContainer container) : m_container(container) {}

    std::error_code beginsAt(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                             bool& proven) const override;
    std::error_code endsAt(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                           bool& proven) const override;

private:
    std::uint32_t size(const unsigned char* field) const;
    std::error_code readHeader(ByteSource& source, std::uint64_t begin, std::uint64_t end,
                               std::optional<std::uint32_t>& containerSize) const;
    std::error_code chunksFill(ByteSource& source, std::uint64_t from, std::uint64_t to,
                               bool& filled) const;

    ChunkContainer m_container;
};

}  // namespace tagsnip
