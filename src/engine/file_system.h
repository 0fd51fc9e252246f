#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

namespace tagsnip {

enum class EntryKind {
    regular,
    directory,
    symlink,
    // FIFOs, devices and sockets: never opened.
    other,
};

struct DirectoryEntry {
    std::string name;
    EntryKind kind = EntryKind::other;
};

struct FileStatus {
    EntryKind kind = EntryKind::other;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    std::uint64_t size = 0;
};

// The engine's only door to the file system. Paths are byte strings, never re-encoded. Every
// operation reports failure as a value; tests derive from this class to inject faults (a short
// copy, a full disk, a failing rename) without needing a real broken disk.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // All entries but "." and "..", in the order the directory gives them.
    virtual std::error_code readDirectory(const std::string& directory,
                                          std::vector<DirectoryEntry>& entries);
    // Never follows a symbolic link.
    virtual std::error_code linkStatus(const std::string& path, FileStatus& status);
    // Follows symbolic links, as a start directory given by the user may be one.
    virtual bool isDirectory(const std::string& path);
    virtual std::error_code setMode(const std::string& path, mode_t mode);

    // Opens an existing regular file and gives its status; a symbolic link or a special file is
    // refused.
    virtual std::error_code openReadWrite(const std::string& path, int& fd, FileStatus& status);
    virtual std::error_code openRead(const std::string& path, int& fd, FileStatus& status);
    // Reads up to length bytes at offset; got < length only at the end of the file.
    virtual std::error_code readAt(int fd, void* buffer, std::size_t length, std::uint64_t offset,
                                   std::size_t& got);
    virtual std::error_code truncate(int fd, std::uint64_t length);

    // A new, unnamed file in directory that nobody else can reach until linkTemporary names it.
    // Where the file system cannot make unnamed files, it is created exclusively as fallbackPath.
    virtual std::error_code createTemporary(const std::string& directory,
                                            const std::string& fallbackPath, int& fd, bool& named);
    // Gives an unnamed temporary file the name path; fails with EEXIST when path exists.
    virtual std::error_code linkTemporary(int fd, const std::string& path);
    // Writes all of length bytes or fails.
    virtual std::error_code write(int fd, const void* data, std::size_t length);
    // Copies length bytes from offset of from to the current end of to, in the kernel where it
    // can; reaching the end of from early is an error (EngineError::readBeyondEnd).
    virtual std::error_code copyRange(int from, std::uint64_t offset, std::uint64_t length, int to);
    virtual std::error_code setModeOf(int fd, mode_t mode);
    virtual std::error_code setOwnerOf(int fd, uid_t owner, gid_t group);
    virtual std::error_code sync(int fd);
    virtual std::error_code rename(const std::string& from, const std::string& to);
    virtual std::error_code remove(const std::string& path);
    virtual void close(int fd);

protected:
    // The read/write loop that copyRange falls back to where the kernel cannot copy.
    std::error_code copyThroughBuffer(int from, std::uint64_t offset, std::uint64_t length, int to);
};

// Errors of the engine's own making, beside errno values.
enum class EngineError {
    readBeyondEnd = 1,
};

std::error_code make_error_code(EngineError error);

}  // namespace tagsnip

template <>
struct std::is_error_code_enum<tagsnip::EngineError> : std::true_type {};
