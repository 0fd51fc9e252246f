#pragma once

#include "file_system.h"

#include <string>
#include <system_error>

namespace tagsnip {

// Replaces a file by new content so that its path holds the complete old or the complete new
// file at every moment: the content goes to a temporary file in the same directory that nobody
// else can reach, takes over the original's owner, group, extended attributes and mode, is
// flushed, and is renamed over the original in one step, unless the original was replaced or
// written to meanwhile. Until install() succeeds the original is untouched; an abandoned
// replacement leaves nothing behind.
class AtomicReplacement {
public:
    enum class Stage { create, owner, attributes, copy, flush, changed, rename };
    struct Failure {
        Stage stage = Stage::create;
        std::error_code error;
        // The extended attribute that could not be kept, for Stage::attributes.
        std::string attribute;
    };

    // directoryFd holds the target, name; temporaryName is the name the new content briefly
    // carries beside it; original is the target's status when it was opened.
    AtomicReplacement(FileSystem& fileSystem, int directoryFd, std::string targetName,
                      const std::string& temporaryName, const FileStatus& original);
    ~AtomicReplacement();
    AtomicReplacement(const AtomicReplacement&) = delete;
    AtomicReplacement& operator=(const AtomicReplacement&) = delete;

    // Creates the temporary file with the original's owner and group: a file whose owner cannot
    // be kept is not replaced at all.
    [[nodiscard]] bool create(Failure& failure);
    int fd() const { return m_fd; }
    const FileStatus& original() const { return m_original; }
    // Whether the file system could not make an unnamed file, so the new content already has a
    // name that a later run would take for a leftover.
    bool named() const { return m_named; }

    // finish, flush and install, one after the other.
    [[nodiscard]] bool commit(int originalFd, Failure& failure);
    // Once the content is written: gives the new file the extended attributes of originalFd and
    // the original's mode.
    [[nodiscard]] bool finish(int originalFd, Failure& failure);
    [[nodiscard]] bool flush(Failure& failure);
    // Renames the flushed new file over the target, unless the target changed since it was
    // opened.
    [[nodiscard]] bool install(Failure& failure);

private:
    template <typename TryName>
    std::error_code withFreeName(TryName tryName);
    bool fail(Failure& failure, Stage stage, std::error_code error);
    std::error_code nameTemporary();
    void abandon();

    FileSystem& m_fileSystem;
    int m_directoryFd;
    std::string m_targetName;
    FileStatus m_original;
    std::string m_temporaryName;
    int m_fd = -1;
    bool m_named = false;
};

// The message for a replacement that was refused to keep the user's file as it is (its owner or
// an extended attribute cannot be kept, or another program changed it), or "" for any other
// failure, which each kind of file words in its own way.
std::string refusalText(const std::string& path, const AtomicReplacement::Failure& failure);

}  // namespace tagsnip
