#include "file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace tagsnip {
namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

EntryKind kindOfMode(mode_t mode) {
    if (S_ISREG(mode)) {
        return EntryKind::regular;
    }
    if (S_ISDIR(mode)) {
        return EntryKind::directory;
    }
    if (S_ISLNK(mode)) {
        return EntryKind::symlink;
    }
    return EntryKind::other;
}

void fillStatus(const struct stat& st, FileStatus& status) {
    status.kind = kindOfMode(st.st_mode);
    status.mode = st.st_mode & 07777;
    status.owner = st.st_uid;
    status.group = st.st_gid;
    status.size = static_cast<std::uint64_t>(st.st_size);
}

EntryKind kindOfDirent(int directoryFd, const dirent& entry) {
    switch (entry.d_type) {
        case DT_REG:
            return EntryKind::regular;
        case DT_DIR:
            return EntryKind::directory;
        case DT_LNK:
            return EntryKind::symlink;
        case DT_UNKNOWN:
            break;
        default:
            return EntryKind::other;
    }
    struct stat st {};
    if (fstatat(directoryFd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return EntryKind::other;
    }
    return kindOfMode(st.st_mode);
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// The copy buffer of the read/write fallback.
constexpr std::size_t copyBufferSize = 1'000'001;

std::error_code openRegular(const std::string& path, int flags, int& fd, FileStatus& status) {
    // O_NONBLOCK: should a FIFO have replaced the file since it was listed, the open must not
    // wait for a writer; it has no effect on a regular file.
    fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return lastError();
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const std::error_code error =
            S_ISREG(st.st_mode) ? lastError() : std::make_error_code(std::errc::invalid_argument);
        ::close(fd);
        fd = -1;
        return error;
    }
    fillStatus(st, status);
    return {};
}

}  // namespace

std::error_code FileSystem::readDirectory(const std::string& directory,
                                          std::vector<DirectoryEntry>& entries) {
    entries.clear();
    std::unique_ptr<DIR, DirCloser> dir(opendir(directory.c_str()));
    if (!dir) {
        return lastError();
    }
    const int directoryFd = dirfd(dir.get());
    errno = 0;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") {
            entries.push_back({std::string(name), kindOfDirent(directoryFd, *entry)});
        }
        errno = 0;
    }
    return errno != 0 ? lastError() : std::error_code{};
}

std::error_code FileSystem::linkStatus(const std::string& path, FileStatus& status) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) {
        return lastError();
    }
    fillStatus(st, status);
    return {};
}

bool FileSystem::isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::error_code FileSystem::setMode(const std::string& path, mode_t mode) {
    return chmod(path.c_str(), mode) == 0 ? std::error_code{} : lastError();
}

std::error_code FileSystem::openReadWrite(const std::string& path, int& fd, FileStatus& status) {
    return openRegular(path, O_RDWR, fd, status);
}

std::error_code FileSystem::openRead(const std::string& path, int& fd, FileStatus& status) {
    return openRegular(path, O_RDONLY, fd, status);
}

std::error_code FileSystem::readAt(int fd, void* buffer, std::size_t length, std::uint64_t offset,
                                   std::size_t& got) {
    got = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (got < length) {
        const ssize_t n = pread(fd, bytes + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return {};
}

std::error_code FileSystem::truncate(int fd, std::uint64_t length) {
    return ftruncate(fd, static_cast<off_t>(length)) == 0 ? std::error_code{} : lastError();
}

std::error_code FileSystem::createTemporary(const std::string& directory,
                                            const std::string& fallbackPath, int& fd, bool& named) {
    named = false;
    fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) {
        return {};
    }
    // Only a file system without unnamed files gets the named fallback; any other failure
    // (no permission, no space) is the answer.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return lastError();
    }
    fd = ::open(fallbackPath.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return lastError();
    }
    named = true;
    return {};
}

std::error_code FileSystem::linkTemporary(int fd, const std::string& path) {
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return {};
    }
    if (errno != ENOENT) {
        return lastError();
    }
    // Without /proc, only a privileged process can name the file by its descriptor.
    if (linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) {
        return {};
    }
    return lastError();
}

std::error_code FileSystem::write(int fd, const void* data, std::size_t length) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::write(fd, bytes, length);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
    return {};
}

std::error_code FileSystem::copyRange(int from, std::uint64_t offset, std::uint64_t length,
                                      int to) {
    auto position = static_cast<off_t>(offset);
    std::uint64_t left = length;
    while (left > 0) {
        const ssize_t n = copy_file_range(from, &position, to, nullptr, left, 0);
        if (n > 0) {
            left -= static_cast<std::uint64_t>(n);
            continue;
        }
        if (n == 0) {
            return EngineError::readBeyondEnd;
        }
        if (errno == EINTR) {
            continue;
        }
        const bool kernelCannotCopy = errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                                      errno == EOPNOTSUPP || errno == EPERM;
        if (!kernelCannotCopy) {
            return lastError();
        }
        return copyThroughBuffer(from, static_cast<std::uint64_t>(position), left, to);
    }
    return {};
}

std::error_code FileSystem::copyThroughBuffer(int from, std::uint64_t offset, std::uint64_t length,
                                              int to) {
    const std::unique_ptr<char[]> buffer(new char[copyBufferSize]);
    while (length > 0) {
        const std::size_t wanted =
            length < copyBufferSize ? static_cast<std::size_t>(length) : copyBufferSize;
        std::size_t got = 0;
        if (const auto error = readAt(from, buffer.get(), wanted, offset, got)) {
            return error;
        }
        if (got == 0) {
            return EngineError::readBeyondEnd;
        }
        if (const auto error = write(to, buffer.get(), got)) {
            return error;
        }
        offset += got;
        length -= got;
    }
    return {};
}

std::error_code FileSystem::setModeOf(int fd, mode_t mode) {
    return fchmod(fd, mode) == 0 ? std::error_code{} : lastError();
}

std::error_code FileSystem::setOwnerOf(int fd, uid_t owner, gid_t group) {
    return fchown(fd, owner, group) == 0 ? std::error_code{} : lastError();
}

std::error_code FileSystem::sync(int fd) {
    return fdatasync(fd) == 0 ? std::error_code{} : lastError();
}

std::error_code FileSystem::rename(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? std::error_code{} : lastError();
}

std::error_code FileSystem::remove(const std::string& path) {
    return unlink(path.c_str()) == 0 ? std::error_code{} : lastError();
}

void FileSystem::close(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

namespace {

class EngineErrorCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "tagsnip"; }
    std::string message(int) const override { return "Read beyond end of file"; }
};

}  // namespace

std::error_code make_error_code(EngineError error) {
    static const EngineErrorCategory category;
    return {static_cast<int>(error), category};
}

}  // namespace tagsnip
