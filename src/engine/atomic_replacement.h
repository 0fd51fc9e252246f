#pragma once

#include "file_system.h"

#include <string>
#include <system_error>
#include <vector>

namespace tagsnip {

// What a folder gives every file made in it alike, asked of the kernel by the first replacement
// in it of a batch and taken as the answer by the others; the batch checks before its renames
// that the folder is still as it was (ReplacementBatch).
struct FolderFacts {
    bool flagsKnown = false;
    // The folder's inode flags.
    unsigned flags = 0;
    bool attributesKnown = false;
    // Only a folder without any extended attribute (and so without a default ACL) is known to
    // give its new files none.
    bool hasAttributes = true;
    // What the first file made in the folder came with.
    bool newFileFlagsKnown = false;
    unsigned newFileFlags = 0;
    bool newFileAttributesKnown = false;
    std::vector<std::string> newFileAttributes;
};

// Replaces a file by new content so that its path holds the complete old or the complete new
// file at every moment: the content goes to a temporary file in the same directory that nobody
// else can reach, takes over the original's owner, group, extended attributes and mode, is
// flushed, and is renamed over the original in one step, unless the original was replaced or
// written to meanwhile, or another program opened it for writing while a lease was held on it.
// Only what differs is changed on the new file, so that a file system that cannot change an
// owner or a mode still takes files that need no such change. Until install() succeeds the
// original is untouched; an abandoned replacement leaves nothing behind.
class AtomicReplacement {
public:
    enum class Stage {
        create,
        owner,
        // The file's or its folder's immutable or append-only flag.
        fileLocked,
        folderLocked,
        attributes,
        copy,
        flush,
        // A trailer already cut in place whose flush failed: the tag is gone, but perhaps not on
        // the disk.
        cutFlush,
        changed,
        inUse,
        rename,
    };
    struct Failure {
        Stage stage = Stage::create;
        std::error_code error;
        // The extended attribute that could not be kept, for Stage::attributes.
        std::string attribute;
    };

    // directoryFd holds the target, name; temporaryName is the name the new content briefly
    // carries beside it; originalFd is the target as it was opened, original its status then.
    // originalFd must stay open until the replacement is installed or abandoned.
    AtomicReplacement(FileSystem& fileSystem, int directoryFd, std::string targetName,
                      const std::string& temporaryName, int originalFd, const FileStatus& original);
    ~AtomicReplacement();
    AtomicReplacement(const AtomicReplacement&) = delete;
    AtomicReplacement& operator=(const AtomicReplacement&) = delete;

    // Creates the temporary file with the original's owner, group and inode flags: a file whose
    // owner cannot be kept, or that its flags or its folder's forbid to replace, is not
    // replaced at all, and nothing is created.
    [[nodiscard]] bool create(Failure& failure);
    // The original's descriptor holds a read lease: install refuses once it is broken.
    void guardWithLease() { m_leased = true; }
    // Shared by the replacements of one folder; facts must outlive the replacement.
    void shareFolderFacts(FolderFacts* facts) { m_folder = facts; }
    // The replacement closes the original's descriptor when it is done, letting go of its lease
    // right after the rename.
    void keepOriginalOpen() { m_ownsOriginal = true; }
    int fd() const { return m_fd; }
    int originalFd() const { return m_originalFd; }
    const FileStatus& original() const { return m_original; }
    // Whether the file system could not make an unnamed file, so the new content already has a
    // name that a later run would take for a leftover.
    bool named() const { return m_named; }

    // finish, flush and install, one after the other.
    [[nodiscard]] bool commit(Failure& failure);
    // Once the content is written: gives the new file the original's extended attributes and
    // mode.
    [[nodiscard]] bool finish(Failure& failure);
    [[nodiscard]] bool flush(Failure& failure);
    // Renames the flushed new file over the target, unless the target changed since it was
    // opened. Once it is renamed, the descriptors that the replacement would close go to
    // closeLater where given, for the caller to close together with others.
    [[nodiscard]] bool install(Failure& failure, std::vector<int>* closeLater = nullptr);

private:
    template <typename TryName>
    std::error_code withFreeName(TryName tryName);
    bool fail(Failure& failure, Stage stage, std::error_code error);
    bool refuseLocked(Failure& failure);
    bool takeOwnerAndFlags(Failure& failure);
    bool takeFlags(Failure& failure);
    std::error_code folderFlags(unsigned& flags);
    std::error_code attributesOfCreated(std::vector<std::string>& names);
    bool folderHasNoAttributes();
    std::error_code nameTemporary();
    void abandon();

    FileSystem& m_fileSystem;
    int m_directoryFd;
    std::string m_targetName;
    int m_originalFd;
    FileStatus m_original;
    std::string m_temporaryName;
    int m_fd = -1;
    unsigned m_originalFlags = 0;
    // The new file's status once created, so that only what differs is changed.
    FileStatus m_created;
    bool m_named = false;
    // Carries the mark of a temporary file, to be taken away before the rename.
    bool m_marked = false;
    bool m_leased = false;
    bool m_ownsOriginal = false;
    FolderFacts* m_folder = nullptr;
};

}  // namespace tagsnip
