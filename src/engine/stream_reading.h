#pragma once

#include "byte_source.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <system_error>
#include <vector>

namespace tagsnip {

inline std::uint32_t bigEndian16(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} << 8 | bytes[1];
}
inline std::uint32_t bigEndian24(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} << 16 | bigEndian16(bytes + 1);
}
inline std::uint32_t bigEndian32(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} << 24 | bigEndian24(bytes + 1);
}
inline std::uint32_t littleEndian32(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

// from + length when that stays at or below limit (from itself at or below it): offsets come
// from files and fuzzing, so a sum may not wrap.
inline std::optional<std::uint64_t> offsetWithin(std::uint64_t from, std::uint64_t length,
                                                 std::uint64_t limit) {
    if (from > limit || length > limit - from) {
        return std::nullopt;
    }
    return from + length;
}

// The lowest offset distance bytes before end, not below floor.
inline std::uint64_t backFrom(std::uint64_t end, std::uint64_t distance, std::uint64_t floor) {
    const std::uint64_t reached = distance < end ? end - distance : 0;
    return reached > floor ? reached : floor;
}

std::error_code readBytes(ByteSource& source, std::uint64_t offset, std::size_t length,
                          std::vector<unsigned char>& bytes);

// The bytes [begin(), end) before a cut, read backwards in growing steps, so that a proof costs
// the few KiB it looks at and never more than its bound.
class TailWindow {
public:
    TailWindow(ByteSource& source, std::uint64_t end)
        : m_source(source), m_begin(end), m_end(end) {}

    // Reads down to from; nothing when the window already reaches it.
    [[nodiscard]] std::error_code extendTo(std::uint64_t from);
    // Reads 4 KiB, then four times what it holds, never below lowest; widened is false when the
    // window already reached it.
    [[nodiscard]] std::error_code widen(std::uint64_t lowest, bool& widened);

    std::uint64_t begin() const { return m_begin; }
    std::uint64_t end() const { return m_end; }
    const unsigned char* at(std::uint64_t offset) const {
        return m_bytes.data() + (offset - m_begin);
    }

private:
    ByteSource& m_source;
    std::uint64_t m_begin;
    std::uint64_t m_end;
    std::vector<unsigned char> m_bytes;
};

}  // namespace tagsnip
