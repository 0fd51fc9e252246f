#include "playlist_file_io.h"

#include "engine/atomic_replacement.h"

namespace tagsnip::playlist {
namespace {

struct OpenFile {
    FileSystem& fileSystem;
    int fd = -1;

    ~OpenFile() { fileSystem.close(fd); }
};

constexpr std::size_t readChunk = 64 * 1024;

}  // namespace

std::error_code readWholeFile(FileSystem& fileSystem, const std::string& path, std::string& bytes,
                              FileStatus& status) {
    OpenFile file{fileSystem};
    if (const auto error = fileSystem.openRead(path, file.fd, status)) {
        return error;
    }
    // The size is only a first guess: a file that grew since is still read to its end.
    bytes.assign(static_cast<std::size_t>(status.size) + readChunk, '\0');
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size()) {
            bytes.resize(bytes.size() + readChunk);
        }
        std::size_t got = 0;
        if (const auto error = fileSystem.readAt(file.fd, bytes.data() + filled,
                                                 bytes.size() - filled, filled, got)) {
            return error;
        }
        filled += got;
        if (got == 0 || filled < bytes.size()) {
            break;
        }
    }
    bytes.resize(filled);
    return {};
}

std::error_code replaceWholeFile(FileSystem& fileSystem, const std::string& path,
                                 std::string_view bytes, const FileStatus& original) {
    AtomicReplacement replacement(fileSystem, path, playlistTemporaryName);
    if (const auto error = replacement.create()) {
        return error;
    }
    if (const auto error = fileSystem.write(replacement.fd(), bytes.data(), bytes.size())) {
        return error;
    }
    AtomicReplacement::Stage failedAt = AtomicReplacement::Stage::flush;
    return replacement.commit(original, failedAt);
}

}  // namespace tagsnip::playlist
