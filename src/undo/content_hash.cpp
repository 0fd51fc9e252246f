#include "content_hash.h"

#include <xxhash.h>
// The library's plain functions are built for the oldest x86-64 processors; its dispatching ones
// use the widest vector unit the processor has.
#if defined(__x86_64__) && __has_include(<xxh_x86dispatch.h>)
#include <xxh_x86dispatch.h>
#endif

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

namespace tagsnip::undo {
namespace {

constexpr std::size_t readBufferSize = 256 * 1024;

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    return -1;
}

// Hands each piece of a file, in order, to the whole-file hash and to either the hash of what
// stays or the hash of the cut range it lies in.
class OnePass {
public:
    OnePass(std::span<const ByteRange> cut, const CutBytesSink& sink,
            const RemainingBytesSink& remainingSink)
        : m_cut(cut), m_cutHashes(cut.size()), m_sink(sink), m_remainingSink(remainingSink) {}

    std::error_code take(std::string_view chunk) {
        m_whole.update(chunk);
        while (!chunk.empty()) {
            skipFinishedRanges();
            const std::size_t piece = pieceLength(chunk.size());
            if (const auto error = takePiece(chunk.substr(0, piece))) {
                return error;
            }
            chunk.remove_prefix(piece);
            m_at += piece;
        }
        return {};
    }

    void finish(FileDigests& digests) const {
        digests.whole = m_whole.digest();
        digests.remaining = m_remaining.digest();
        digests.cut.clear();
        for (const auto& hash : m_cutHashes) {
            digests.cut.push_back(hash.digest());
        }
    }

private:
    void skipFinishedRanges() {
        while (m_next < m_cut.size() && m_cut[m_next].offset + m_cut[m_next].length <= m_at) {
            ++m_next;
        }
    }
    bool insideRange() const { return m_next < m_cut.size() && m_cut[m_next].offset <= m_at; }

    std::size_t pieceLength(std::size_t available) const {
        std::uint64_t until = std::numeric_limits<std::uint64_t>::max();
        if (insideRange()) {
            until = m_cut[m_next].offset + m_cut[m_next].length;
        } else if (m_next < m_cut.size()) {
            until = m_cut[m_next].offset;
        }
        return static_cast<std::size_t>(std::min<std::uint64_t>(available, until - m_at));
    }

    std::error_code takePiece(std::string_view piece) {
        if (!insideRange()) {
            m_remaining.update(piece);
            return m_remainingSink ? m_remainingSink(piece) : std::error_code{};
        }
        m_cutHashes[m_next].update(piece);
        return m_sink ? m_sink(m_next, piece) : std::error_code{};
    }

    std::span<const ByteRange> m_cut;
    StreamingHash m_whole;
    StreamingHash m_remaining;
    std::vector<StreamingHash> m_cutHashes;
    const CutBytesSink& m_sink;
    const RemainingBytesSink& m_remainingSink;
    std::uint64_t m_at = 0;
    std::size_t m_next = 0;
};

}  // namespace

std::string Digest::hex() const {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0f];
    }
    return text;
}

bool Digest::fromHex(std::string_view text, Digest& digest) {
    if (text.size() != digest.bytes.size() * 2) {
        return false;
    }
    for (std::size_t i = 0; i < digest.bytes.size(); ++i) {
        const int high = hexValue(text[2 * i]);
        const int low = hexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        digest.bytes[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

void StreamingHash::FreeState::operator()(XXH3_state_s* state) const {
    XXH3_freeState(state);
}

StreamingHash::StreamingHash() : m_state(XXH3_createState()) {
    if (!m_state) {
        throw std::bad_alloc();
    }
    XXH3_128bits_reset(m_state.get());
}

StreamingHash::~StreamingHash() = default;
StreamingHash::StreamingHash(StreamingHash&&) noexcept = default;
StreamingHash& StreamingHash::operator=(StreamingHash&&) noexcept = default;

void StreamingHash::update(std::string_view bytes) {
    // Fails only for a missing state, which the constructor rules out.
    (void)XXH3_128bits_update(m_state.get(), bytes.data(), bytes.size());
}

Digest StreamingHash::digest() const {
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(m_state.get()));
    Digest digest;
    std::copy(std::begin(canonical.digest), std::end(canonical.digest), digest.bytes.begin());
    return digest;
}

Digest hashOf(std::string_view bytes) {
    StreamingHash hash;
    hash.update(bytes);
    return hash.digest();
}

bool rangesFit(std::span<const ByteRange> ranges, std::uint64_t size) {
    std::uint64_t end = 0;
    for (const auto& range : ranges) {
        if (range.offset < end || range.length > size || range.offset > size - range.length) {
            return false;
        }
        end = range.offset + range.length;
    }
    return true;
}

std::error_code hashFile(FileSystem& fileSystem, int fd, std::uint64_t size,
                         std::span<const ByteRange> cut, FileDigests& digests,
                         const CutBytesSink& sink, const RemainingBytesSink& remainingSink) {
    if (!rangesFit(cut, size)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    OnePass pass(cut, sink, remainingSink);
    // Sized to the file and left uninitialised: most files are small, and a buffer cleared for
    // nothing costs more than hashing them.
    const auto bufferSize =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(size, 1, readBufferSize));
    const std::unique_ptr<char[]> buffer(new char[bufferSize]);
    for (std::uint64_t at = 0; at < size;) {
        const auto wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(size - at, bufferSize));
        std::size_t got = 0;
        if (const auto error = fileSystem.readAt(fd, buffer.get(), wanted, at, got)) {
            return error;
        }
        if (got < wanted) {
            return EngineError::readBeyondEnd;
        }
        if (const auto error = pass.take(std::string_view(buffer.get(), got))) {
            return error;
        }
        at += got;
    }
    pass.finish(digests);
    return {};
}

std::error_code hashFile(FileSystem& fileSystem, int fd, std::uint64_t size, Digest& whole) {
    FileDigests digests;
    if (const auto error = hashFile(fileSystem, fd, size, {}, digests)) {
        return error;
    }
    whole = digests.whole;
    return {};
}

}  // namespace tagsnip::undo
