#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>
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
    // Bytes the file occupies on disk; less than size for a file with holes.
    std::uint64_t allocated = 0;
    dev_t device = 0;
    ino_t inode = 0;
    // Names the file has; one cut in place would change what every other name shows.
    nlink_t links = 1;
    timespec modified{};
    timespec changed{};
    // The mount a directory lies on (statx's mount id), 0 where unknown: a bind mount shares its
    // device number with the file system it shows.
    std::uint64_t mountId = 0;
};

// Whether now is the same file as before and nobody has written to it or changed its
// metadata in between.
bool sameFileUnchanged(const FileStatus& before, const FileStatus& now);

enum class LeaseKind {
    // Can be had only while nobody has the file open for writing.
    read,
    // Can be had only while nobody else has the file open at all.
    write,
};

// What became of a file that has a temporary name.
enum class Leftover {
    removed,
    // A link, a folder, another user's file, or one that a running replacement holds.
    kept,
    // A regular file of ours, unused, on a file system that holds marks, but without the mark:
    // not made by us.
    unmarked,
};

// Inode flags (FS_IOC_GETFLAGS) that forbid replacing or cutting a file, or, on a directory,
// replacing anything in it.
bool forbidsChange(unsigned inodeFlags);
// The inode flags a new file must take over from the one it replaces.
unsigned carriedInodeFlags(unsigned inodeFlags);

// A directory entry as the engine works on it: its own name relative to an open descriptor of
// its directory, so that no component of the path is ever resolved again. path is what rows
// and messages show.
struct FileLocation {
    int directoryFd = -1;
    const std::string& name;
    const std::string& path;
    // The directory's own status, where known, so that work queued for later can tell two
    // files of one directory from files of two directories.
    const FileStatus* directory = nullptr;
};

// The engine's only door to the file system. Names are byte strings, never re-encoded, and
// every operation on an entry is made relative to the descriptor of its directory. Every
// operation reports failure as a value; tests derive from this class to inject faults (a short
// copy, a full disk, a failing rename) without needing a real broken disk.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Follows symbolic links, as a start directory given by the user may be one.
    virtual bool isDirectory(const std::string& path);
    virtual std::error_code openStartDirectory(const std::string& path, int& fd,
                                               FileStatus& status);
    // Opens the subdirectory name of parent; never follows a link and never leaves parent.
    virtual std::error_code openSubdirectory(int parent, const std::string& name, int& fd,
                                             FileStatus& status);
    // The directory that holds child, for a walk that had to let go of its descriptor.
    virtual std::error_code openParent(int child, int& fd, FileStatus& status);

    // All entries but "." and "..", in the order the directory gives them.
    virtual std::error_code readDirectory(int directory, std::vector<DirectoryEntry>& entries);
    // Never follows a symbolic link.
    virtual std::error_code statusAt(int directory, const std::string& name, FileStatus& status);

    // Opens an existing regular file and gives its status; a symbolic link or a special file is
    // refused.
    virtual std::error_code openAt(int directory, const std::string& name, bool writable, int& fd,
                                   FileStatus& status);
    // openAt for reading with a read lease taken before the status, so that one status tells
    // both what was opened and what the lease guards; leaseError is what takeLease answered.
    virtual std::error_code openLeasedAt(int directory, const std::string& name, int& fd,
                                         FileStatus& status, std::error_code& leaseError);
    // openAt without the status, for a caller that compares the status of what it opened with
    // the file it expects before it uses the descriptor.
    virtual std::error_code openUncheckedAt(int directory, const std::string& name, bool writable,
                                            int& fd);
    // A new open of the file that fd refers to, whatever name it has now; fails where /proc is
    // not to be had.
    virtual std::error_code reopen(int fd, bool writable, int& copy);
    virtual std::error_code statusOf(int fd, FileStatus& status);
    // Reads up to length bytes at offset; got < length only at the end of the file.
    virtual std::error_code readAt(int fd, void* buffer, std::size_t length, std::uint64_t offset,
                                   std::size_t& got);
    virtual std::error_code truncate(int fd, std::uint64_t length);

    // A new, unnamed file in directory that nobody else can reach until linkTemporary names it.
    // Where the file system cannot make unnamed files, it is created exclusively as
    // fallbackName, locked so that a later run does not take it for a leftover while it is used.
    // unnamedMode (less the umask) is the unnamed file's mode; a named one, which others could
    // open meanwhile, is only ever ours.
    virtual std::error_code createTemporary(int directory, const std::string& fallbackName,
                                            mode_t unnamedMode, int& fd, bool& named);
    // Gives an unnamed temporary file the name name; fails with EEXIST when name exists.
    virtual std::error_code linkTemporary(int fd, int directory, const std::string& name);
    // Gives a temporary file the mark of this run (temporaryMarkName), or takes it away again,
    // so that a later run can tell our leftover from a user's file of the same name; fails with
    // ENOTSUP where the file system cannot hold it.
    virtual std::error_code markTemporary(int fd);
    virtual std::error_code unmarkTemporary(int fd);
    // Writes all of length bytes at offset or fails.
    virtual std::error_code write(int fd, const void* data, std::size_t length,
                                  std::uint64_t offset);
    // Copies length bytes from offset of from to toOffset of to, in the kernel where it can;
    // reaching the end of from early is an error (EngineError::readBeyondEnd).
    virtual std::error_code copyRange(int from, std::uint64_t offset, std::uint64_t length, int to,
                                      std::uint64_t toOffset);
    // Where the next data at or after offset begins and where it ends, for copying around the
    // holes of a sparse file; begin == size when only a hole follows.
    virtual std::error_code dataExtent(int fd, std::uint64_t offset, std::uint64_t size,
                                       std::uint64_t& begin, std::uint64_t& end);
    // The names of the file's extended attributes; a file system without them has none.
    virtual std::error_code listExtendedAttributes(int fd, std::vector<std::string>& names);
    // Gives to exactly the extended attributes of from (POSIX ACLs included), but for the mark of
    // a temporary file, which stays to's own; present names those that to has (or may have).
    // failedName names the attribute that could not be kept.
    virtual std::error_code copyExtendedAttributes(int from, int to,
                                                   const std::vector<std::string>& present,
                                                   std::string& failedName);
    virtual std::error_code setModeOf(int fd, mode_t mode);
    virtual std::error_code setOwnerOf(int fd, uid_t owner, gid_t group);
    // A file system without such flags reports none.
    virtual std::error_code inodeFlags(int fd, unsigned& flags);
    virtual std::error_code setInodeFlags(int fd, unsigned flags);

    // A lease on what fd refers to makes another program's conflicting open wait until we let
    // go: a read lease is let go of at once when one comes, a write lease only by
    // releaseLease or the closing of fd; leaseHeld turns false once the lease is broken. Fails
    // with EAGAIN while a conflicting open exists; any other error means that leases are not to
    // be had here (not our file, a file system that refuses them). A stop from the terminal
    // gives every lease back and takes it again on continuing; one that cannot be had then (the
    // file is open for writing now) stays gone, as a broken one.
    virtual std::error_code takeLease(int fd, LeaseKind kind);
    virtual bool leaseHeld(int fd);
    virtual void releaseLease(int fd);
    // Starts writing the file's data to disk without waiting for it.
    virtual void startWriteback(int fd);
    virtual std::error_code sync(int fd);
    // Flushes the data of each of files and the names in each of directories, all at once where
    // the kernel allows, and only theirs: another program's unwritten data is not waited for.
    // errors holds the outcome for each of files, then for each of directories.
    virtual void syncTogether(const std::vector<int>& files, const std::vector<int>& directories,
                              std::vector<std::error_code>& errors);
    // Makes the names in a directory durable.
    virtual std::error_code syncDirectory(int fd);
    // A second descriptor of what fd refers to, which outlives fd's closing.
    virtual std::error_code duplicate(int fd, int& copy);
    virtual std::error_code renameAt(int directory, const std::string& from, const std::string& to);
    virtual std::error_code removeAt(int directory, const std::string& name);
    // Removes name when it is a regular file of ours that no running replacement holds and that
    // carries the mark of a temporary file, or sits where no mark can be held.
    virtual Leftover removeLeftover(int directory, const std::string& name);
    virtual void close(int fd);
    // Closes each of fds, all in one system call where the kernel allows.
    virtual void closeTogether(const std::vector<int>& fds);

protected:
    // The read/write loop that copyRange falls back to where the kernel cannot copy.
    std::error_code copyThroughBuffer(int from, std::uint64_t offset, std::uint64_t length, int to,
                                      std::uint64_t toOffset);
};

// While one lives, a stop from the terminal (Ctrl+Z, SIGTSTP) waits. A stop gives every lease
// back, and between a file's last check and the rename or cut that the check allows, another
// program's write during the stop would go unseen; the stop comes once the last one goes.
class StopDeferral {
public:
    StopDeferral();
    ~StopDeferral();
    StopDeferral(const StopDeferral&) = delete;
    StopDeferral& operator=(const StopDeferral&) = delete;
};

// Closes the descriptor it holds when it goes.
class FileHandle {
public:
    explicit FileHandle(FileSystem& fileSystem) : m_fileSystem(fileSystem) {}
    ~FileHandle() { m_fileSystem.close(fd); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int fd = -1;

private:
    FileSystem& m_fileSystem;
};

// Errors of the engine's own making, beside errno values.
enum class EngineError {
    readBeyondEnd = 1,
    // The file is no longer what was opened: another program replaced or wrote to it.
    changedMeanwhile,
    // Another program has the file open for writing, or opened it while we worked on it.
    inUse,
    // The file's immutable or append-only flag forbids changing it.
    locked,
};

std::error_code make_error_code(EngineError error);

}  // namespace tagsnip

template <>
struct std::is_error_code_enum<tagsnip::EngineError> : std::true_type {};
