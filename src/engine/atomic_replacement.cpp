#include "atomic_replacement.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace tagsnip {

AtomicReplacement::AtomicReplacement(FileSystem& fileSystem, int directoryFd,
                                     std::string targetName, const std::string& temporaryName,
                                     int originalFd, const FileStatus& original)
    : m_fileSystem(fileSystem),
      m_directoryFd(directoryFd),
      m_targetName(std::move(targetName)),
      m_originalFd(originalFd),
      m_original(original),
      m_temporaryName(temporaryName) {}

AtomicReplacement::~AtomicReplacement() {
    abandon();
}

bool AtomicReplacement::fail(Failure& failure, Stage stage, std::error_code error) {
    failure.stage = stage;
    failure.error = error;
    abandon();
    return false;
}

// The temporary name may be taken: a leftover of a killed run, a link someone planted, or
// another instance working in the same folder. None of them is ever reused or written through;
// the file takes the next free name instead.
template <typename TryName>
std::error_code AtomicReplacement::withFreeName(TryName tryName) {
    const std::string wanted = m_temporaryName;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::error_code error = tryName();
        if (error != std::errc::file_exists) {
            return error;
        }
        m_temporaryName = wanted + "." + std::to_string(getpid()) + "-" + std::to_string(attempt);
    }
    return std::make_error_code(std::errc::file_exists);
}

bool AtomicReplacement::create(Failure& failure) {
    // Only a privileged process may give a file away; without that, a file of someone else
    // would silently change hands, so it is not replaced at all.
    static const uid_t ourUser = geteuid();
    if (m_original.owner != ourUser && ourUser != 0) {
        return fail(failure, Stage::owner,
                    std::make_error_code(std::errc::operation_not_permitted));
    }
    if (!refuseLocked(failure)) {
        return false;
    }
    // Made with the original's permissions where the umask allows, so that mostly no fchmod is
    // needed; never without our own read and write, which the copy and the mark need. Never with
    // set-id bits either: an fchown or a write would clear them again, and a mode wanted with
    // them so always differs from the one made, and gets its fchmod after both.
    const mode_t unnamedMode = (m_original.mode & 0777) | S_IRUSR | S_IWUSR;
    const std::error_code error = withFreeName([&] {
        return m_fileSystem.createTemporary(m_directoryFd, m_temporaryName, unnamedMode, m_fd,
                                            m_named);
    });
    if (error) {
        // A folder locked since its flags were taken refuses the new file: it is said as such.
        unsigned flags = 0;
        const bool locked = error == std::errc::operation_not_permitted &&
                            !m_fileSystem.inodeFlags(m_directoryFd, flags) && forbidsChange(flags);
        return fail(failure, locked ? Stage::folderLocked : Stage::create, error);
    }
    // Marked before it can have a name, unless its final mode will forbid us to take the mark
    // away again. A file that cannot be marked (FAT, exFAT) goes without: should a kill leave it,
    // a later run goes by its name there, and elsewhere only reports it.
    const bool canUnmark = (m_original.mode & S_IWUSR) != 0 || ourUser == 0;
    m_marked = canUnmark && !m_fileSystem.markTemporary(m_fd);
    return takeOwnerAndFlags(failure);
}

// Before anything is created, as the rename would fail on a locked file or in a locked folder
// and leave a complete copy behind. Returns false once it has refused.
bool AtomicReplacement::refuseLocked(Failure& failure) {
    const auto locked = std::make_error_code(std::errc::operation_not_permitted);
    if (const auto error = m_fileSystem.inodeFlags(m_originalFd, m_originalFlags)) {
        return fail(failure, Stage::fileLocked, error);
    }
    if (forbidsChange(m_originalFlags)) {
        return fail(failure, Stage::fileLocked, locked);
    }
    unsigned flags = 0;
    if (const auto error = folderFlags(flags)) {
        return fail(failure, Stage::folderLocked, error);
    }
    if (forbidsChange(flags)) {
        return fail(failure, Stage::folderLocked, locked);
    }
    return true;
}

std::error_code AtomicReplacement::folderFlags(unsigned& flags) {
    if (m_folder != nullptr && m_folder->flagsKnown) {
        flags = m_folder->flags;
        return {};
    }
    if (const auto error = m_fileSystem.inodeFlags(m_directoryFd, flags)) {
        return error;
    }
    if (m_folder != nullptr) {
        m_folder->flagsKnown = true;
        m_folder->flags = flags;
    }
    return {};
}

// Owner and group first, also when the owner is ours (the group of a new file may be its
// directory's); a call that would change nothing is not made, so that a file system that
// cannot make it (FAT) is no reason to refuse.
bool AtomicReplacement::takeOwnerAndFlags(Failure& failure) {
    if (const auto error = m_fileSystem.statusOf(m_fd, m_created)) {
        return fail(failure, Stage::create, error);
    }
    if (m_created.owner != m_original.owner || m_created.group != m_original.group) {
        if (const auto error = m_fileSystem.setOwnerOf(m_fd, m_original.owner, m_original.group)) {
            return fail(failure, Stage::owner, error);
        }
    }
    return takeFlags(failure);
}

// A new file takes the flags its folder gives; where the folder's first new file already came
// with the original's, so does this one. Any other is asked and set as it really is.
bool AtomicReplacement::takeFlags(Failure& failure) {
    if (m_folder != nullptr && m_folder->newFileFlagsKnown &&
        carriedInodeFlags(m_folder->newFileFlags) == carriedInodeFlags(m_originalFlags)) {
        return true;
    }
    unsigned createdFlags = 0;
    if (const auto error = m_fileSystem.inodeFlags(m_fd, createdFlags)) {
        return fail(failure, Stage::attributes, error);
    }
    if (m_folder != nullptr && !m_folder->newFileFlagsKnown) {
        m_folder->newFileFlagsKnown = true;
        m_folder->newFileFlags = createdFlags;
    }
    const unsigned wanted =
        (createdFlags & ~carriedInodeFlags(~0U)) | carriedInodeFlags(m_originalFlags);
    if (wanted != createdFlags) {
        if (const auto error = m_fileSystem.setInodeFlags(m_fd, wanted)) {
            return fail(failure, Stage::attributes, error);
        }
    }
    return true;
}

std::error_code AtomicReplacement::nameTemporary() {
    const std::error_code error = withFreeName(
        [&] { return m_fileSystem.linkTemporary(m_fd, m_directoryFd, m_temporaryName); });
    m_named = !error;
    return error;
}

bool AtomicReplacement::commit(Failure& failure) {
    return finish(failure) && flush(failure) && install(failure);
}

bool AtomicReplacement::finish(Failure& failure) {
    // After the content: writing may drop attributes such as file capabilities, and the mode
    // comes last so that the set-id bits survive.
    std::vector<std::string> present;
    if (const auto error = attributesOfCreated(present)) {
        return fail(failure, Stage::attributes, error);
    }
    if (const auto error =
            m_fileSystem.copyExtendedAttributes(m_originalFd, m_fd, present, failure.attribute)) {
        return fail(failure, Stage::attributes, error);
    }
    if (m_created.mode != m_original.mode) {
        if (const auto error = m_fileSystem.setModeOf(m_fd, m_original.mode)) {
            return fail(failure, Stage::attributes, error);
        }
    }
    return true;
}

// A folder without extended attributes gives its new files none but what the system gives every
// file (the first one shows what): their lists need not be read each.
std::error_code AtomicReplacement::attributesOfCreated(std::vector<std::string>& names) {
    if (m_folder != nullptr && m_folder->newFileAttributesKnown) {
        names = m_folder->newFileAttributes;
        return {};
    }
    if (const auto error = m_fileSystem.listExtendedAttributes(m_fd, names)) {
        return error;
    }
    if (m_folder != nullptr && folderHasNoAttributes()) {
        m_folder->newFileAttributesKnown = true;
        m_folder->newFileAttributes = names;
    }
    return {};
}

bool AtomicReplacement::folderHasNoAttributes() {
    if (!m_folder->attributesKnown) {
        std::vector<std::string> names;
        const std::error_code error = m_fileSystem.listExtendedAttributes(m_directoryFd, names);
        m_folder->attributesKnown = true;
        m_folder->hasAttributes = error || !names.empty();
    }
    return !m_folder->hasAttributes;
}

bool AtomicReplacement::flush(Failure& failure) {
    if (const auto error = m_fileSystem.sync(m_fd)) {
        return fail(failure, Stage::flush, error);
    }
    return true;
}

bool AtomicReplacement::install(Failure& failure, std::vector<int>* closeLater) {
    if (!m_named) {
        if (const auto error = nameTemporary()) {
            return fail(failure, Stage::rename, error);
        }
    }
    // The mark must not stay on the user's file. A kill from here to the rename leaves a copy
    // without it, which later runs report and leave alone.
    if (m_marked) {
        if (const auto error = m_fileSystem.unmarkTemporary(m_fd)) {
            return fail(failure, Stage::attributes, error);
        }
        m_marked = false;
    }
    // Right before the rename, and nothing but the rename after the lease check: a program that
    // opens the file for writing before the rename must find its writes in the file that the
    // path names, and another program's newer version must win over ours. No rename can be made
    // to depend on the lease, so the window left is that one call. A stop from the terminal,
    // which gives the lease back, waits until the rename is made.
    const StopDeferral deferral;
    FileStatus now;
    const std::error_code statusError = m_fileSystem.statusAt(m_directoryFd, m_targetName, now);
    if (m_leased && !m_fileSystem.leaseHeld(m_originalFd)) {
        return fail(failure, Stage::inUse, EngineError::inUse);
    }
    if (statusError) {
        return fail(failure, Stage::changed, statusError);
    }
    if (!sameFileUnchanged(m_original, now)) {
        return fail(failure, Stage::changed, EngineError::changedMeanwhile);
    }
    if (const auto error = m_fileSystem.renameAt(m_directoryFd, m_temporaryName, m_targetName)) {
        return fail(failure, Stage::rename, error);
    }
    m_named = false;
    if (closeLater != nullptr) {
        closeLater->push_back(std::exchange(m_fd, -1));
        if (std::exchange(m_ownsOriginal, false)) {
            closeLater->push_back(m_originalFd);
        }
    }
    abandon();
    return true;
}

void AtomicReplacement::abandon() {
    if (m_named) {
        (void)m_fileSystem.removeAt(m_directoryFd, m_temporaryName);
        m_named = false;
    }
    m_fileSystem.close(m_fd);
    m_fd = -1;
    if (m_ownsOriginal) {
        m_fileSystem.close(m_originalFd);
        m_ownsOriginal = false;
    }
}

}  // namespace tagsnip
