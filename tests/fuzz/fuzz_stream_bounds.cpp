// Random bytes through every container's proofs, at a begin and an end taken from the input and
// placed low or right under 2^64: each answer reads only inside [begin, end), no more than a few
// times the stream, and never fails on a source that holds all of it.

#include "engine/stream_bounds.h"
#include "fuzz_require.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

namespace {

class RangeSource final : public tagsnip::ByteSource {
public:
    RangeSource(const std::string& bytes, std::uint64_t base, std::uint64_t begin,
                std::uint64_t end)
        : m_bytes(bytes), m_base(base), m_begin(begin), m_end(end) {}

    std::error_code read(std::uint64_t offset, void* buffer, std::size_t length) override {
        require(offset >= m_begin && offset <= m_end && length <= m_end - offset,
                "reads stay inside [begin, end)");
        std::memcpy(buffer, m_bytes.data() + (offset - m_base), length);
        bytesRead += length;
        return {};
    }
    std::uint64_t bytesRead = 0;

private:
    const std::string& m_bytes;
    std::uint64_t m_base;
    std::uint64_t m_begin;
    std::uint64_t m_end;
};

std::uint64_t pick(const std::uint8_t* data, std::uint64_t range) {
    return (std::uint64_t{data[0]} | std::uint64_t{data[1]} << 8) % (range + 1);
}

}  // namespace

// The input: flags (1: near 2^64, 2: begin after end), two bytes choosing begin, two choosing
// how far before the end end lies, then the bytes.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t control = 5;
    if (size < control) {
        return 0;
    }
    const std::string file(reinterpret_cast<const char*>(data) + control, size - control);
    const std::uint64_t base =
        (data[0] & 1) != 0 ? std::numeric_limits<std::uint64_t>::max() - file.size() : 0;
    std::uint64_t begin = pick(data + 1, file.size());
    std::uint64_t end = file.size() - pick(data + 3, file.size() - begin);
    if ((data[0] & 2) != 0) {
        std::swap(begin, end);
    }
    const std::uint64_t length = begin <= end ? end - begin : 0;
    for (std::size_t format = 0; format < tagsnip::audioFormatCount; ++format) {
        const auto& bounds = tagsnip::streamBoundsOf(static_cast<tagsnip::AudioFormat>(format));
        for (const bool askEnd : {false, true}) {
            RangeSource source(file, base, base + std::min(begin, end), base + end);
            bool proven = false;
            const std::error_code error =
                askEnd ? bounds.endsAt(source, base + begin, base + end, proven)
                       : bounds.beginsAt(source, base + begin, base + end, proven);
            require(!error, "a source holding the whole stream never fails");
            require(source.bytesRead <= 3 * length,
                    "an answer reads a few times the stream at most");
        }
    }
    return 0;
}
