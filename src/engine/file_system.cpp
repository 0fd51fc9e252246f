#include "file_system.h"

#include "data_flush.h"
#include "temporary_names.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/openat2.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <iterator>
#include <memory>
#include <string_view>

namespace tagsnip {
namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::error_code resultOf(int returned) {
    return returned == 0 ? std::error_code{} : lastError();
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
    status.allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
    status.device = st.st_dev;
    status.inode = st.st_ino;
    status.links = st.st_nlink;
    status.modified = st.st_mtim;
    status.changed = st.st_ctim;
    status.mountId = 0;
}

bool operator==(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

EntryKind kindOfDirent(int directoryFd, const dirent64& entry) {
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

timespec timeOf(const statx_timestamp& time) {
    return {static_cast<time_t>(time.tv_sec), static_cast<long>(time.tv_nsec)};
}

// A directory's status with its mount, in the one call that fstat would make; false where statx
// is not to be had (an old kernel, a seccomp policy), and fstat must do.
bool statusWithMount(int fd, FileStatus& status) {
    struct statx stx {};
    if (statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_MNT_ID, &stx) != 0 ||
        (stx.stx_mask & STATX_BASIC_STATS) != STATX_BASIC_STATS) {
        return false;
    }
    status.kind = kindOfMode(stx.stx_mode);
    status.mode = stx.stx_mode & 07777;
    status.owner = stx.stx_uid;
    status.group = stx.stx_gid;
    status.size = stx.stx_size;
    status.allocated = stx.stx_blocks * 512;
    status.device = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    status.inode = stx.stx_ino;
    status.links = stx.stx_nlink;
    status.modified = timeOf(stx.stx_mtime);
    status.changed = timeOf(stx.stx_ctime);
    status.mountId = (stx.stx_mask & STATX_MNT_ID) != 0 ? stx.stx_mnt_id : 0;
    return true;
}

std::error_code statusOfOpened(int fd, EntryKind wanted, FileStatus& status) {
    if (wanted == EntryKind::directory && statusWithMount(fd, status)) {
        return {};
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return lastError();
    }
    fillStatus(st, status);
    return {};
}

// Takes ownership of a descriptor just opened: gives its status, or closes it and fails when it
// is not of the wanted kind.
std::error_code adopt(int opened, EntryKind wanted, int& fd, FileStatus& status) {
    fd = -1;
    if (opened < 0) {
        return lastError();
    }
    FileStatus found;
    if (const std::error_code error = statusOfOpened(opened, wanted, found)) {
        ::close(opened);
        return error;
    }
    if (found.kind != wanted) {
        ::close(opened);
        return std::make_error_code(wanted == EntryKind::directory ? std::errc::not_a_directory
                                                                   : std::errc::invalid_argument);
    }
    status = found;
    fd = opened;
    return {};
}

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// O_NONBLOCK and O_NOCTTY: should a FIFO or a terminal have replaced the file since it was looked
// at, the open must neither wait for a writer nor take a controlling terminal; they have no effect
// on a regular file.
int openFileAt(int directory, const std::string& name, bool writable) {
    const int flags =
        (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
    return openat(directory, name.c_str(), flags);
}

// openat2 confines the lookup to the parent even should the name somehow hold more than one
// component; kernels before 5.6 lack it and get openat with O_NOFOLLOW.
int openBeneath(int parent, const std::string& name) {
    static bool unavailable = false;
    if (!unavailable) {
        open_how how{};
        how.flags = directoryFlags | O_NOFOLLOW;
        how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
        const long fd = syscall(SYS_openat2, parent, name.c_str(), &how, sizeof how);
        if (fd >= 0 || errno != ENOSYS) {
            return static_cast<int>(fd);
        }
        unavailable = true;
    }
    return openat(parent, name.c_str(), directoryFlags | O_NOFOLLOW);
}

// The copy buffer of the read/write fallback.
constexpr std::size_t copyBufferSize = 1'000'001;

// The names of a file's extended attributes; a file system without them has none.
std::error_code listAttributes(int fd, std::vector<std::string>& names) {
    names.clear();
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = flistxattr(fd, buffer.data(), buffer.size());
        if (length >= 0) {
            for (std::string_view rest(buffer.data(), static_cast<std::size_t>(length));
                 !rest.empty();) {
                const std::size_t end = rest.find('\0');
                names.emplace_back(rest.substr(0, end));
                rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            }
            return {};
        }
        if (errno == ENOTSUP) {
            return {};
        }
        if (errno != ERANGE) {
            return lastError();
        }
        buffer.resize(buffer.size() * 4);
    }
}

std::error_code readAttribute(int fd, const std::string& name, std::vector<char>& value) {
    value.resize(256);
    for (;;) {
        const ssize_t length = fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (length >= 0) {
            value.resize(static_cast<std::size_t>(length));
            return {};
        }
        if (errno != ERANGE) {
            return lastError();
        }
        value.resize(value.size() * 4);
    }
}

// Sets the attribute only where to lacks it or holds another value.
std::error_code copyAttribute(int from, int to, const std::string& name, bool present) {
    std::vector<char> value;
    if (const auto error = readAttribute(from, name, value)) {
        return error;
    }
    if (present) {
        std::vector<char> current;
        if (!readAttribute(to, name, current) && current == value) {
            return {};
        }
    }
    return resultOf(fsetxattr(to, name.c_str(), value.data(), value.size(), 0));
}

bool noSuchFlags(int error) {
    return error == ENOTTY || error == EOPNOTSUPP || error == ENOSYS || error == EINVAL;
}

// The leases of the process by descriptor, for the stop handler, which can neither allocate nor
// lock: a fixed table, and a descriptor beyond it gets no lease (more than a batch ever holds).
constexpr std::uint8_t noLease = 0;
constexpr std::uint8_t readLease = 1;
constexpr std::uint8_t writeLease = 2;
constexpr std::uint8_t givenBackForStop = 0x80;
constexpr int leaseTableSize = 1 << 16;
std::atomic<std::uint8_t> leaseTable[leaseTableSize];
std::atomic<int> leaseTableEnd{0};

int leaseType(std::uint8_t entry) {
    return entry == writeLease ? F_WRLCK : F_RDLCK;
}

void forgetLease(int fd) {
    if (fd >= 0 && fd < leaseTableSize) {
        leaseTable[fd].store(noLease);
    }
}

// Lets go of a lease the moment another program's open breaks it, so that its open is not held
// up until the run reaches that file again; the work on the file then sees the lease gone. The
// plain SIGIO of a break does not say whose lease it was (naming the signal with F_SETSIG would
// cost a call per file), and breaks that come together are delivered once: every read lease
// being broken goes. A write lease stays until its cut is made.
void releaseBrokenLeases(int) {
    const int saved = errno;
    const int end = leaseTableEnd.load();
    for (int fd = 0; fd < end; ++fd) {
        if (leaseTable[fd].load() == readLease && fcntl(fd, F_GETLEASE) == F_UNLCK) {
            (void)fcntl(fd, F_SETLEASE, F_UNLCK);
        }
    }
    errno = saved;
}

constexpr int stopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};
std::atomic<int> stopDeferrals{0};
std::atomic<int> deferredStop{0};

void giveBackLeases() {
    const int end = leaseTableEnd.load();
    for (int fd = 0; fd < end; ++fd) {
        const std::uint8_t entry = leaseTable[fd].load();
        if (entry == noLease) {
            continue;
        }
        // A lease being broken shows as gone already: it stays refused.
        const int held = fcntl(fd, F_GETLEASE);
        if ((held == F_RDLCK || held == F_WRLCK) && fcntl(fd, F_SETLEASE, F_UNLCK) == 0) {
            leaseTable[fd].store(static_cast<std::uint8_t>(entry | givenBackForStop));
        }
    }
}

void retakeLeases() {
    const int end = leaseTableEnd.load();
    for (int fd = 0; fd < end; ++fd) {
        const std::uint8_t entry = leaseTable[fd].load();
        if ((entry & givenBackForStop) == 0) {
            continue;
        }
        const auto kind = static_cast<std::uint8_t>(entry & ~givenBackForStop);
        leaseTable[fd].store(fcntl(fd, F_SETLEASE, leaseType(kind)) == 0 ? kind : noLease);
    }
}

// Stops the process as the default action of signal does, which meanwhile takes the handler's
// place; returns once the process is continued.
void stopByDefault(int signal) {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    struct sigaction ours {};
    sigaction(signal, &byDefault, &ours);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    // Raised while blocked, delivered at the unblocking: one stop, however many signals came.
    raise(signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    sigprocmask(SIG_BLOCK, &only, nullptr);
    sigaction(signal, &ours, nullptr);
}

// A stopped process cannot let go of a lease that another program's open breaks, and that open
// would wait for the kernel's lease-break time: every lease goes before the stop and is taken
// again on continuing. A file whose lease cannot be had again is refused as for a broken lease;
// one written and closed meanwhile fails the unchanged-check before its rename or cut.
void giveBackLeasesAndStop(int signal) {
    if (stopDeferrals.load() > 0) {
        deferredStop.store(signal);
        return;
    }
    const int saved = errno;
    giveBackLeases();
    stopByDefault(signal);
    retakeLeases();
    errno = saved;
}

// Only a stop by the default action is taken over: one that is ignored or handled otherwise
// stays as it is.
void handleStops() {
    struct sigaction action {};
    action.sa_handler = giveBackLeasesAndStop;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGIO);
    for (const int signal : stopSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : stopSignals) {
        struct sigaction previous {};
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_DFL &&
            (previous.sa_flags & SA_SIGINFO) == 0) {
            sigaction(signal, &action, nullptr);
        }
    }
}

void handleLeaseBreaks() {
    static const bool installed = [] {
        handleStops();
        struct sigaction action {};
        action.sa_handler = releaseBrokenLeases;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        return sigaction(SIGIO, &action, nullptr) == 0;
    }();
    (void)installed;
}

}  // namespace

bool forbidsChange(unsigned inodeFlags) {
    return (inodeFlags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
}

unsigned carriedInodeFlags(unsigned inodeFlags) {
    return inodeFlags &
           (FS_NODUMP_FL | FS_NOATIME_FL | FS_NOCOW_FL | FS_SYNC_FL | FS_COMPR_FL | FS_NOCOMP_FL);
}

bool sameFileUnchanged(const FileStatus& before, const FileStatus& now) {
    return before.device == now.device && before.inode == now.inode && before.size == now.size &&
           before.modified == now.modified && before.changed == now.changed;
}

bool FileSystem::isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::error_code FileSystem::openStartDirectory(const std::string& path, int& fd,
                                               FileStatus& status) {
    return adopt(::open(path.c_str(), directoryFlags), EntryKind::directory, fd, status);
}

std::error_code FileSystem::openSubdirectory(int parent, const std::string& name, int& fd,
                                             FileStatus& status) {
    return adopt(openBeneath(parent, name), EntryKind::directory, fd, status);
}

std::error_code FileSystem::openParent(int child, int& fd, FileStatus& status) {
    return adopt(openat(child, "..", directoryFlags), EntryKind::directory, fd, status);
}

std::error_code FileSystem::readDirectory(int directory, std::vector<DirectoryEntry>& entries) {
    entries.clear();
    if (lseek(directory, 0, SEEK_SET) != 0) {
        return lastError();
    }
    alignas(dirent64) char buffer[64 * 1024];
    for (;;) {
        const ssize_t length = getdents64(directory, buffer, sizeof buffer);
        if (length < 0) {
            return lastError();
        }
        if (length == 0) {
            return {};
        }
        for (ssize_t at = 0; at < length;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") {
                entries.push_back({std::string(name), kindOfDirent(directory, *entry)});
            }
        }
    }
}

std::error_code FileSystem::statusAt(int directory, const std::string& name, FileStatus& status) {
    struct stat st {};
    if (fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return lastError();
    }
    fillStatus(st, status);
    return {};
}

std::error_code FileSystem::openAt(int directory, const std::string& name, bool writable, int& fd,
                                   FileStatus& status) {
    return adopt(openFileAt(directory, name, writable), EntryKind::regular, fd, status);
}

std::error_code FileSystem::openLeasedAt(int directory, const std::string& name, int& fd,
                                         FileStatus& status, std::error_code& leaseError) {
    fd = openFileAt(directory, name, false);
    if (fd < 0) {
        return lastError();
    }
    // A special file refuses the lease; the status after it tells the kind all the same.
    leaseError = takeLease(fd, LeaseKind::read);
    std::error_code error = statusOf(fd, status);
    if (!error && status.kind != EntryKind::regular) {
        error = std::make_error_code(std::errc::invalid_argument);
    }
    if (error) {
        close(fd);
        fd = -1;
    }
    return error;
}

std::error_code FileSystem::openUncheckedAt(int directory, const std::string& name, bool writable,
                                            int& fd) {
    fd = openFileAt(directory, name, writable);
    return fd >= 0 ? std::error_code{} : lastError();
}

std::error_code FileSystem::reopen(int fd, bool writable, int& copy) {
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    copy = ::open(procPath.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY);
    return copy >= 0 ? std::error_code{} : lastError();
}

std::error_code FileSystem::statusOf(int fd, FileStatus& status) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return lastError();
    }
    fillStatus(st, status);
    return {};
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
    return resultOf(ftruncate(fd, static_cast<off_t>(length)));
}

std::error_code FileSystem::createTemporary(int directory, const std::string& fallbackName,
                                            mode_t unnamedMode, int& fd, bool& named) {
    named = false;
    fd = openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, unnamedMode);
    if (fd >= 0) {
        // Named right before its rename, it must not pass for a leftover in another instance's
        // clean-up of the same folder meanwhile.
        (void)flock(fd, LOCK_EX | LOCK_NB);
        return {};
    }
    // Only a file system without unnamed files gets the named fallback; any other failure
    // (no permission, no space) is the answer.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return lastError();
    }
    fd = openat(directory, fallbackName.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW,
                0600);
    if (fd < 0) {
        return lastError();
    }
    named = true;
    // Where locks are not supported the file is merely unprotected from a later run's clean-up.
    (void)flock(fd, LOCK_EX | LOCK_NB);
    return {};
}

std::error_code FileSystem::linkTemporary(int fd, int directory, const std::string& name) {
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    if (linkat(AT_FDCWD, procPath.c_str(), directory, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return {};
    }
    if (errno != ENOENT) {
        return lastError();
    }
    // Without /proc, only a privileged process can name the file by its descriptor.
    return resultOf(linkat(fd, "", directory, name.c_str(), AT_EMPTY_PATH));
}

std::error_code FileSystem::markTemporary(int fd) {
    const std::string& value = temporaryMarkValue();
    return resultOf(fsetxattr(fd, temporaryMarkName, value.data(), value.size(), 0));
}

std::error_code FileSystem::unmarkTemporary(int fd) {
    return resultOf(fremovexattr(fd, temporaryMarkName));
}

std::error_code FileSystem::write(int fd, const void* data, std::size_t length,
                                  std::uint64_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = pwrite(fd, bytes, length, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return lastError();
        }
        bytes += n;
        offset += static_cast<std::uint64_t>(n);
        length -= static_cast<std::size_t>(n);
    }
    return {};
}

std::error_code FileSystem::copyRange(int from, std::uint64_t offset, std::uint64_t length, int to,
                                      std::uint64_t toOffset) {
    auto position = static_cast<off_t>(offset);
    auto target = static_cast<off_t>(toOffset);
    std::uint64_t left = length;
    while (left > 0) {
        const ssize_t n = copy_file_range(from, &position, to, &target, left, 0);
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
        return copyThroughBuffer(from, static_cast<std::uint64_t>(position), left, to,
                                 static_cast<std::uint64_t>(target));
    }
    return {};
}

std::error_code FileSystem::copyThroughBuffer(int from, std::uint64_t offset, std::uint64_t length,
                                              int to, std::uint64_t toOffset) {
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
        if (const auto error = write(to, buffer.get(), got, toOffset)) {
            return error;
        }
        offset += got;
        toOffset += got;
        length -= got;
    }
    return {};
}

std::error_code FileSystem::dataExtent(int fd, std::uint64_t offset, std::uint64_t size,
                                       std::uint64_t& begin, std::uint64_t& end) {
    begin = offset;
    end = size;
    const off_t data = lseek(fd, static_cast<off_t>(offset), SEEK_DATA);
    if (data < 0) {
        if (errno == ENXIO) {
            begin = size;
            return {};
        }
        // A file system that cannot tell holes: everything is data.
        return errno == EINVAL || errno == EOPNOTSUPP ? std::error_code{} : lastError();
    }
    begin = std::min(static_cast<std::uint64_t>(data), size);
    const off_t hole = lseek(fd, data, SEEK_HOLE);
    if (hole < 0) {
        return lastError();
    }
    end = std::min(static_cast<std::uint64_t>(hole), size);
    return {};
}

std::error_code FileSystem::listExtendedAttributes(int fd, std::vector<std::string>& names) {
    return listAttributes(fd, names);
}

std::error_code FileSystem::copyExtendedAttributes(int from, int to,
                                                   const std::vector<std::string>& present,
                                                   std::string& failedName) {
    std::vector<std::string> wanted;
    if (const auto error = listAttributes(from, wanted)) {
        return error;
    }
    // A new file may have inherited a default ACL of its directory that the original lacks.
    for (const auto& name : present) {
        if (name != temporaryMarkName &&
            std::find(wanted.begin(), wanted.end(), name) == wanted.end() &&
            fremovexattr(to, name.c_str()) != 0 && errno != ENODATA) {
            failedName = name;
            return lastError();
        }
    }
    // The mark says who made a temporary file: the original's own, should it have one, would
    // pass our leftover off as someone else's.
    for (const auto& name : wanted) {
        if (name == temporaryMarkName) {
            continue;
        }
        const bool has = std::find(present.begin(), present.end(), name) != present.end();
        if (const auto error = copyAttribute(from, to, name, has)) {
            failedName = name;
            return error;
        }
    }
    return {};
}

std::error_code FileSystem::setModeOf(int fd, mode_t mode) {
    return resultOf(fchmod(fd, mode));
}

std::error_code FileSystem::setOwnerOf(int fd, uid_t owner, gid_t group) {
    return resultOf(fchown(fd, owner, group));
}

std::error_code FileSystem::inodeFlags(int fd, unsigned& flags) {
    int value = 0;
    flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &value) != 0) {
        return noSuchFlags(errno) ? std::error_code{} : lastError();
    }
    flags = static_cast<unsigned>(value);
    return {};
}

std::error_code FileSystem::setInodeFlags(int fd, unsigned flags) {
    int value = static_cast<int>(flags);
    return resultOf(ioctl(fd, FS_IOC_SETFLAGS, &value));
}

std::error_code FileSystem::takeLease(int fd, LeaseKind kind) {
    handleLeaseBreaks();
    if (fd < 0 || fd >= leaseTableSize) {
        return std::make_error_code(std::errc::no_lock_available);
    }
    // A broken read lease is let go of at once (releaseBrokenLeases). A write lease guards a cut
    // in place: it is kept until the cut is made, so that whoever opens the file meanwhile waits
    // for the cut and finds it done. Known to the stop handler before it is held, so that no stop
    // finds it held but unknown.
    const std::uint8_t entry = kind == LeaseKind::read ? readLease : writeLease;
    const std::uint8_t before = leaseTable[fd].exchange(entry);
    if (fd >= leaseTableEnd.load()) {
        leaseTableEnd.store(fd + 1);
    }
    if (fcntl(fd, F_SETLEASE, leaseType(entry)) != 0) {
        const std::error_code error = lastError();
        leaseTable[fd].store(before);
        return error;
    }
    return {};
}

bool FileSystem::leaseHeld(int fd) {
    const int type = fcntl(fd, F_GETLEASE);
    return type == F_RDLCK || type == F_WRLCK;
}

void FileSystem::releaseLease(int fd) {
    (void)fcntl(fd, F_SETLEASE, F_UNLCK);
    forgetLease(fd);
}

void FileSystem::startWriteback(int fd) {
    // Only a hint: a file system that cannot start it early writes the data at the flush.
    (void)sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

std::error_code FileSystem::sync(int fd) {
    return resultOf(fdatasync(fd));
}

void FileSystem::syncTogether(const std::vector<int>& files, const std::vector<int>& directories,
                              std::vector<std::error_code>& errors) {
    flushTogether(files, directories, errors);
}

std::error_code FileSystem::syncDirectory(int fd) {
    return resultOf(fsync(fd));
}

std::error_code FileSystem::duplicate(int fd, int& copy) {
    copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    return copy >= 0 ? std::error_code{} : lastError();
}

std::error_code FileSystem::renameAt(int directory, const std::string& from,
                                     const std::string& to) {
    return resultOf(renameat(directory, from.c_str(), directory, to.c_str()));
}

std::error_code FileSystem::removeAt(int directory, const std::string& name) {
    return resultOf(unlinkat(directory, name.c_str(), 0));
}

Leftover FileSystem::removeLeftover(int directory, const std::string& name) {
    FileHandle file(*this);
    FileStatus status;
    if (openAt(directory, name, false, file.fd, status) || status.owner != geteuid()) {
        return Leftover::kept;
    }
    if (flock(file.fd, LOCK_EX | LOCK_NB) != 0) {
        return Leftover::kept;
    }
    // Where marks can be held, ours carries one for as long as it has a name; where they
    // cannot (FAT, exFAT), the name, the owner and the lock are all there is to go by.
    if (fgetxattr(file.fd, temporaryMarkName, nullptr, 0) < 0 && errno != ENOTSUP) {
        return errno == ENODATA ? Leftover::unmarked : Leftover::kept;
    }
    // The lock may have come free because the file was renamed into place: only the file that
    // still carries the name goes.
    FileStatus now;
    const bool removed = !statusAt(directory, name, now) && now.device == status.device &&
                         now.inode == status.inode && !removeAt(directory, name);
    return removed ? Leftover::removed : Leftover::kept;
}

void FileSystem::close(int fd) {
    if (fd >= 0) {
        ::close(fd);
        forgetLease(fd);
    }
}

void FileSystem::closeTogether(const std::vector<int>& fds) {
    std::vector<int> open;
    std::copy_if(fds.begin(), fds.end(), std::back_inserter(open), [](int fd) { return fd >= 0; });
    tagsnip::closeTogether(open);
    for (const int fd : open) {
        forgetLease(fd);
    }
}

StopDeferral::StopDeferral() {
    ++stopDeferrals;
}

StopDeferral::~StopDeferral() {
    if (--stopDeferrals == 0) {
        if (const int signal = deferredStop.exchange(0); signal != 0) {
            raise(signal);
        }
    }
}

namespace {

class EngineErrorCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "tagsnip"; }
    std::string message(int value) const override {
        switch (static_cast<EngineError>(value)) {
            case EngineError::changedMeanwhile:
                return "changed by another program meanwhile";
            case EngineError::inUse:
                return "in use by another program";
            case EngineError::locked:
                return "immutable or append-only";
            default:
                return "Read beyond end of file";
        }
    }
};

}  // namespace

std::error_code make_error_code(EngineError error) {
    static const EngineErrorCategory category;
    return {static_cast<int>(error), category};
}

}  // namespace tagsnip
