#include "atomic_replacement.h"

#include <unistd.h>

#include <cerrno>

namespace tagsnip {

std::string refusalText(const std::string& path, const AtomicReplacement::Failure& failure) {
    switch (failure.stage) {
        case AtomicReplacement::Stage::owner:
            return path + " - owner or group cannot be kept, file not changed!";
        case AtomicReplacement::Stage::changed:
            return path + " - changed by another program meanwhile, file not changed!";
        case AtomicReplacement::Stage::attributes:
            if (failure.attribute.empty()) {
                return {};
            }
            return path + " - extended attribute " + failure.attribute +
                   " cannot be kept, file not changed!";
        default:
            return {};
    }
}

AtomicReplacement::AtomicReplacement(FileSystem& fileSystem, int directoryFd,
                                     std::string targetName, const std::string& temporaryName,
                                     const FileStatus& original)
    : m_fileSystem(fileSystem),
      m_directoryFd(directoryFd),
      m_targetName(std::move(targetName)),
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
    const std::error_code error = withFreeName([&] {
        return m_fileSystem.createTemporary(m_directoryFd, m_temporaryName, m_fd, m_named);
    });
    if (error) {
        return fail(failure, Stage::create, error);
    }
    // Also when the owner is ours: the group of a new file may be its directory's.
    if (const auto ownerError = m_fileSystem.setOwnerOf(m_fd, m_original.owner, m_original.group)) {
        return fail(failure, Stage::owner, ownerError);
    }
    return true;
}

std::error_code AtomicReplacement::nameTemporary() {
    const std::error_code error = withFreeName(
        [&] { return m_fileSystem.linkTemporary(m_fd, m_directoryFd, m_temporaryName); });
    m_named = !error;
    return error;
}

bool AtomicReplacement::commit(int originalFd, Failure& failure) {
    return finish(originalFd, failure) && flush(failure) && install(failure);
}

bool AtomicReplacement::finish(int originalFd, Failure& failure) {
    // After the content: writing may drop attributes such as file capabilities, and the mode
    // comes last so that the set-id bits survive.
    if (const auto error =
            m_fileSystem.copyExtendedAttributes(originalFd, m_fd, failure.attribute)) {
        return fail(failure, Stage::attributes, error);
    }
    if (const auto error = m_fileSystem.setModeOf(m_fd, m_original.mode)) {
        return fail(failure, Stage::attributes, error);
    }
    return true;
}

bool AtomicReplacement::flush(Failure& failure) {
    if (const auto error = m_fileSystem.sync(m_fd)) {
        return fail(failure, Stage::flush, error);
    }
    return true;
}

bool AtomicReplacement::install(Failure& failure) {
    if (!m_named) {
        if (const auto error = nameTemporary()) {
            return fail(failure, Stage::rename, error);
        }
    }
    // Right before the rename: another program's newer version must win over ours.
    FileStatus now;
    if (const auto error = m_fileSystem.statusAt(m_directoryFd, m_targetName, now)) {
        return fail(failure, Stage::changed, error);
    }
    if (!sameFileUnchanged(m_original, now)) {
        return fail(failure, Stage::changed, EngineError::changedMeanwhile);
    }
    if (const auto error = m_fileSystem.renameAt(m_directoryFd, m_temporaryName, m_targetName)) {
        return fail(failure, Stage::rename, error);
    }
    m_named = false;
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
}

}  // namespace tagsnip
