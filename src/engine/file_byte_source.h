#pragma once

#include "byte_source.h"
#include "file_system.h"

namespace tagsnip {

// An open file read through the engine's file layer.
class FileByteSource final : public ByteSource {
public:
    FileByteSource(FileSystem& fileSystem, int fd) : m_fileSystem(fileSystem), m_fd(fd) {}

    std::error_code read(std::uint64_t offset, void* buffer, std::size_t length) override;

private:
    FileSystem& m_fileSystem;
    int m_fd;
};

}  // namespace tagsnip
