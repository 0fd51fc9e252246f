#include "file_byte_source.h"

namespace tagsnip {

std::error_code FileByteSource::read(std::uint64_t offset, void* buffer, std::size_t length) {
    std::size_t got = 0;
    if (const auto error = m_fileSystem.readAt(m_fd, buffer, length, offset, got)) {
        return error;
    }
    return got < length ? std::error_code(EngineError::readBeyondEnd) : std::error_code();
}

}  // namespace tagsnip
