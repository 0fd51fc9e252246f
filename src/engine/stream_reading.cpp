#include "stream_reading.h"

#include <algorithm>

namespace tagsnip {

namespace {

constexpr std::uint64_t firstWindow = 4096;
constexpr std::uint64_t windowGrowth = 4;

}  // namespace

std::error_code readBytes(ByteSource& source, std::uint64_t offset, std::size_t length,
                          std::vector<unsigned char>& bytes) {
    bytes.resize(length);
    return length == 0 ? std::error_code{} : source.read(offset, bytes.data(), length);
}

std::error_code TailWindow::extendTo(std::uint64_t from) {
    if (from >= m_begin) {
        return {};
    }
    std::vector<unsigned char> front;
    if (const std::error_code error =
            readBytes(m_source, from, static_cast<std::size_t>(m_begin - from), front)) {
        return error;
    }
    m_bytes.insert(m_bytes.begin(), front.begin(), front.end());
    m_begin = from;
    return {};
}

std::error_code TailWindow::widen(std::uint64_t lowest, bool& widened) {
    widened = m_begin > lowest;
    if (!widened) {
        return {};
    }
    const std::uint64_t held = m_end - m_begin;
    const std::uint64_t size = held == 0 ? firstWindow : held * windowGrowth;
    return extendTo(backFrom(m_end, size, lowest));
}

}  // namespace tagsnip
