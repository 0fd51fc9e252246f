#pragma once

#include "engine/file_system.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

struct XXH3_state_s;

namespace tagsnip::undo {

// The name the manifest gives the hash, so that a later format may change it.
inline constexpr std::string_view hashName = "xxh3-128";

// An XXH3-128 digest in the library's canonical (big-endian) byte order.
struct Digest {
    std::array<unsigned char, 16> bytes{};

    bool operator==(const Digest&) const = default;
    // 32 lowercase hexadecimal digits.
    std::string hex() const;
    [[nodiscard]] static bool fromHex(std::string_view text, Digest& digest);
};

class StreamingHash {
public:
    StreamingHash();
    ~StreamingHash();
    StreamingHash(const StreamingHash&) = delete;
    StreamingHash& operator=(const StreamingHash&) = delete;
    StreamingHash(StreamingHash&&) noexcept;
    StreamingHash& operator=(StreamingHash&&) noexcept;

    void update(std::string_view bytes);
    Digest digest() const;

private:
    struct FreeState {
        void operator()(XXH3_state_s* state) const;
    };
    std::unique_ptr<XXH3_state_s, FreeState> m_state;
};

Digest hashOf(std::string_view bytes);

struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool operator==(const ByteRange&) const = default;
};

// What one read of a file gives: the hash of all of it, of what stays once the cut ranges are
// left out (the file as a run leaves it), and of each cut range.
struct FileDigests {
    Digest whole;
    Digest remaining;
    std::vector<Digest> cut;
};

// Receives the bytes of cut range number range, in order, piece by piece.
using CutBytesSink = std::function<std::error_code(std::size_t range, std::string_view bytes)>;
// Receives what stays once the cut ranges are left out, in order, piece by piece.
using RemainingBytesSink = std::function<std::error_code(std::string_view bytes)>;

// Reads the first size bytes of fd once. cut is sorted by offset, its ranges do not overlap and
// lie within size (else std::errc::invalid_argument); a file shorter than size fails with
// EngineError::readBeyondEnd, and an error of a sink ends the read with that error.
[[nodiscard]] std::error_code hashFile(FileSystem& fileSystem, int fd, std::uint64_t size,
                                       std::span<const ByteRange> cut, FileDigests& digests,
                                       const CutBytesSink& sink = {},
                                       const RemainingBytesSink& remainingSink = {});
[[nodiscard]] std::error_code hashFile(FileSystem& fileSystem, int fd, std::uint64_t size,
                                       Digest& whole);

// Whether ranges are sorted, do not overlap and end within size.
bool rangesFit(std::span<const ByteRange> ranges, std::uint64_t size);

}  // namespace tagsnip::undo
