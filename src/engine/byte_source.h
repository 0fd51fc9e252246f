#pragma once

#include <cstddef>
#include <cstdint>
#include <system_error>

namespace tagsnip {

// Random access to the bytes of one file, so that the tag parser can be fed from a descriptor in
// the engine and from memory in tests and fuzzing.
class ByteSource {
public:
    virtual ~ByteSource() = default;

    // Reads exactly length bytes at offset or fails; the parser asks only within the size it was
    // given, so a short read means the file shrank.
    [[nodiscard]] virtual std::error_code read(std::uint64_t offset, void* buffer,
                                               std::size_t length) = 0;
};

}  // namespace tagsnip
