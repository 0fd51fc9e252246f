#include "atomic_replacement.h"

#include <unistd.h>

#include <cerrno>

namespace tagsnip {

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

AtomicReplacement::AtomicReplacement(FileSystem& fileSystem, std::string targetPath,
                                     const std::string& temporaryName)
    : m_fileSystem(fileSystem),
      m_targetPath(std::move(targetPath)),
      m_directory(directoryOf(m_targetPath)),
      m_temporaryPath(m_directory + temporaryName) {}

AtomicReplacement::~AtomicReplacement() {
    abandon();
}

// The temporary name may be taken: a leftover of a killed run, a link someone planted, or
// another instance working in the same folder. None of them is ever reused or written through;
// the file takes the next free name instead.
template <typename TryName>
std::error_code AtomicReplacement::withFreeName(TryName tryName) {
    const std::string wanted = m_temporaryPath;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::error_code error = tryName();
        if (error != std::errc::file_exists) {
            return error;
        }
        m_temporaryPath = wanted + "." + std::to_string(getpid()) + "-" + std::to_string(attempt);
    }
    return std::make_error_code(std::errc::file_exists);
}

std::error_code AtomicReplacement::create() {
    const std::string directory = m_directory.empty() ? std::string(".") : m_directory;
    return withFreeName(
        [&] { return m_fileSystem.createTemporary(directory, m_temporaryPath, m_fd, m_named); });
}

std::error_code AtomicReplacement::nameTemporary() {
    const std::error_code error =
        withFreeName([&] { return m_fileSystem.linkTemporary(m_fd, m_temporaryPath); });
    m_named = !error;
    return error;
}

std::error_code AtomicReplacement::commit(const FileStatus& original, Stage& failedAt) {
    failedAt = Stage::flush;
    // The owner first: changing it may clear set-id bits that the mode then puts back.
    static const uid_t ourUser = geteuid();
    static const gid_t ourGroup = getegid();
    if (original.owner != ourUser || original.group != ourGroup) {
        (void)m_fileSystem.setOwnerOf(m_fd, original.owner, original.group);
    }
    if (const auto error = m_fileSystem.setModeOf(m_fd, original.mode)) {
        return error;
    }
    if (const auto error = m_fileSystem.sync(m_fd)) {
        return error;
    }
    failedAt = Stage::rename;
    if (!m_named) {
        if (const auto error = nameTemporary()) {
            return error;
        }
    }
    if (const auto error = m_fileSystem.rename(m_temporaryPath, m_targetPath)) {
        return error;
    }
    m_named = false;
    return {};
}

void AtomicReplacement::abandon() {
    if (m_named) {
        (void)m_fileSystem.remove(m_temporaryPath);
        m_named = false;
    }
    m_fileSystem.close(m_fd);
    m_fd = -1;
}

}  // namespace tagsnip
