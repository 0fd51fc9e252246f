#pragma once

#include "file_system.h"

#include <string>
#include <system_error>

namespace tagsnip {

// Replaces a file by new content so that its path holds the complete old or the complete new
// file at every moment: the content goes to a temporary file in the same directory that nobody
// else can reach, is flushed, and is renamed over the original in one step. Until commit()
// succeeds the original is untouched; an abandoned replacement leaves nothing behind.
class AtomicReplacement {
public:
    // temporaryName is the name the new content briefly carries beside the target.
    AtomicReplacement(FileSystem& fileSystem, std::string targetPath,
                      const std::string& temporaryName);
    ~AtomicReplacement();
    AtomicReplacement(const AtomicReplacement&) = delete;
    AtomicReplacement& operator=(const AtomicReplacement&) = delete;

    [[nodiscard]] std::error_code create();
    int fd() const { return m_fd; }
    const std::string& directory() const { return m_directory; }

    // Gives the new file the original's permission bits (and owner, where allowed), flushes it
    // and renames it over the target. A failure before the rename leaves the target untouched.
    enum class Stage { flush, rename };
    [[nodiscard]] std::error_code commit(const FileStatus& original, Stage& failedAt);

private:
    template <typename TryName>
    std::error_code withFreeName(TryName tryName);
    std::error_code nameTemporary();
    void abandon();

    FileSystem& m_fileSystem;
    std::string m_targetPath;
    std::string m_directory;
    std::string m_temporaryPath;
    int m_fd = -1;
    bool m_named = false;
};

// The directory part of a path: everything up to and including its last "/".
std::string directoryOf(const std::string& path);

}  // namespace tagsnip
