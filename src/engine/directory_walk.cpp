#include "directory_walk.h"

#include "ascii_case.h"
#include "id3_header.h"
#include "leftovers.h"
#include "messages.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

namespace tagsnip {
namespace {

bool isHidden(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

bool isReadOnly(mode_t mode) {
    return (mode & S_IWUSR) == 0;
}

// Another mount is another file system as the user sees it, also a bind mount of a folder of
// the same one; where the mount is unknown, the device number alone tells.
bool onAnotherFileSystem(const FileStatus& folder, const FileStatus& start) {
    if (folder.device != start.device) {
        return true;
    }
    return folder.mountId != 0 && start.mountId != 0 && folder.mountId != start.mountId;
}

// Directory descriptors the walk may hold at once: a quarter of what the process may open, so
// that the files worked on, their replacements and the host keep the rest.
std::size_t directoryDescriptorBudget() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 64;
    }
    return std::clamp<std::size_t>(limit.rlim_cur / 4, 2, 64);
}

}  // namespace

bool hasExtension(std::string_view name, std::string_view extension) {
    const auto dot = name.rfind('.');
    return dot != std::string_view::npos && equalIgnoringAsciiCase(name.substr(dot + 1), extension);
}

// One directory: its descriptor and its entries, read completely before any work, so that a
// file that the work re-creates is never met a second time; walked marks the subdirectories
// already descended into.
struct DirectoryWalk::Level {
    int fd = -1;
    FileStatus status;
    std::size_t pathLength = 0;
    std::vector<DirectoryEntry> entries;
    std::vector<bool> walked;
    // The descriptor was let go and the directory could not be found again where it was, or
    // the directory can be listed but its entries cannot be reached.
    bool lost = false;
};

DirectoryWalk::DirectoryWalk(JobHost& host, FileSystem& fileSystem, RunState& state,
                             Id3Work& id3Work, PlaylistCleaner& playlistCleaner)
    : m_host(host),
      m_options(host),
      m_fileSystem(fileSystem),
      m_state(state),
      m_id3Work(id3Work),
      m_playlistCleaner(playlistCleaner),
      m_descriptorBudget(directoryDescriptorBudget()) {}

void DirectoryWalk::getfiles(const std::string& directory) {
    if (m_state.StopRequested) {
        return;
    }
    m_path = directory;
    Level start;
    start.pathLength = m_path.size();
    if (const auto error = m_fileSystem.openStartDirectory(directory, start.fd, start.status)) {
        reportUnreadable(directory, error);
        return;
    }
    m_levels.assign(1, &start);
    m_lowestOpen = 0;
    walkLevel(start);
    m_fileSystem.close(start.fd);
    m_levels.clear();
}

void DirectoryWalk::walkLevel(Level& level) {
    if (m_state.StopRequested) {
        return;
    }
    if (const auto error = m_fileSystem.readDirectory(level.fd, level.entries)) {
        reportUnreadable(m_path, error);
        return;
    }
    level.walked.assign(level.entries.size(), false);
    removeLeftovers(level);

    if (!audioPass(level)) {
        return;
    }
    if (m_options.cleanM3U() && !playlistPass(level, PlaylistKind::m3u)) {
        return;
    }
    if (m_options.cleanPLS() && !playlistPass(level, PlaylistKind::pls)) {
        return;
    }
    subdirectoryPass(level);
}

// One pass over the entries whose names matches admits: a directory among them is descended
// into, a file already listed or gone meanwhile is passed over, and work is given each other one.
template <typename Matches, typename Work>
bool DirectoryWalk::filePass(Level& level, Matches matches, Work work) {
    for (std::size_t i = 0; i < level.entries.size(); ++i) {
        const std::string& name = level.entries[i].name;
        if (!matches(name)) {
            continue;
        }
        if (m_state.StopRequested || level.lost) {
            return false;
        }
        if (passOverOrDescend(level, i)) {
            continue;
        }
        const std::string path = m_path + name;
        if (m_state.listedPaths.contains(path)) {
            continue;
        }
        FileStatus status;
        if (statusForWork(level, name, status)) {
            work(FileLocation{level.fd, name, path, &level.status}, status);
        }
    }
    return true;
}

bool DirectoryWalk::audioPass(Level& level) {
    const FormatSet formats = m_options.formats();
    const auto isSelected = [formats](std::string_view name) {
        const auto format = audioFormatOfFile(name);
        return format && formats.contains(*format);
    };
    return filePass(level, isSelected, [&](const FileLocation& file, const FileStatus& status) {
        const AudioFormat format = *audioFormatOfFile(file.name);
        if (format == AudioFormat::mp3) {
            countFile(m_state.counters.mp3Files, CountLabel::filesfound);
        } else {
            ++m_state.counters.otherAudioFiles[static_cast<std::size_t>(format)];
        }
        if (status.size >= id3v1TrailerSize) {
            workOnAudio(file, status, format);
        }
    });
}

bool DirectoryWalk::playlistPass(Level& level, PlaylistKind kind) {
    const auto isPlaylist = [kind](std::string_view name) {
        return kind == PlaylistKind::m3u ? hasExtension(name, "m3u") || hasExtension(name, "m3u8")
                                         : hasExtension(name, "pls");
    };
    return filePass(level, isPlaylist, [&](const FileLocation& file, const FileStatus& status) {
        if (kind == PlaylistKind::m3u) {
            countFile(m_state.counters.m3uPlaylists, CountLabel::M3Ufound);
        } else {
            countFile(m_state.counters.plsPlaylists, CountLabel::PLSfound);
        }
        workOnPlaylist(file, status, kind);
    });
}

void DirectoryWalk::subdirectoryPass(Level& level) {
    for (std::size_t i = 0; i < level.entries.size() && !level.lost; ++i) {
        const DirectoryEntry& entry = level.entries[i];
        if (entry.kind == EntryKind::directory && !level.walked[i] && !isHidden(entry.name) &&
            m_options.subdirectories()) {
            descend(level, i);
        }
    }
}

bool DirectoryWalk::passOverOrDescend(Level& level, std::size_t index) {
    const DirectoryEntry& entry = level.entries[index];
    if (entry.kind == EntryKind::symlink) {
        return true;
    }
    if (entry.kind != EntryKind::directory) {
        return false;
    }
    if (!level.walked[index] && m_options.subdirectories() && !isHidden(entry.name)) {
        descend(level, index);
    }
    return true;
}

void DirectoryWalk::descend(Level& level, std::size_t index) {
    level.walked[index] = true;
    const std::string& name = level.entries[index].name;
    Level child;
    m_path += name;
    m_path += '/';
    child.pathLength = m_path.size();
    if (const auto error = m_fileSystem.openSubdirectory(level.fd, name, child.fd, child.status)) {
        reportUnreadable(m_path, error);
    } else if (m_options.oneFileSystem() &&
               onAnotherFileSystem(child.status, m_levels.front()->status)) {
        m_fileSystem.close(child.fd);
    } else {
        enter(child);
        walkLevel(child);
        leave(level, child);
    }
    m_path.resize(level.pathLength);
}

// A deep tree would exhaust the descriptors: the levels furthest up let go of theirs and find
// their directory again through ".." on the way back.
void DirectoryWalk::enter(Level& level) {
    m_levels.push_back(&level);
    if (m_levels.size() - m_lowestOpen > m_descriptorBudget) {
        Level& lowest = *m_levels[m_lowestOpen++];
        m_fileSystem.close(lowest.fd);
        lowest.fd = -1;
    }
}

void DirectoryWalk::leave(Level& parent, Level& child) {
    m_levels.pop_back();
    if (parent.fd < 0 && child.fd >= 0) {
        regain(parent, child);
        m_lowestOpen = m_levels.size() - 1;
    }
    parent.lost = parent.fd < 0;
    m_fileSystem.close(child.fd);
}

// Only the same directory will do: one moved away meanwhile is no longer in the tree above the
// child.
void DirectoryWalk::regain(Level& parent, const Level& child) {
    FileStatus found;
    std::error_code error = m_fileSystem.openParent(child.fd, parent.fd, found);
    if (!error && (found.device != parent.status.device || found.inode != parent.status.inode)) {
        m_fileSystem.close(parent.fd);
        parent.fd = -1;
        error = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    if (error) {
        m_path.resize(parent.pathLength);
        reportUnreadable(m_path, error);
    }
}

// Every run, one that only reports too, removes what killed runs of ours left, as a restore does
// in the folders it reaches: marked, they are ours and no file of the user's.
void DirectoryWalk::removeLeftovers(const Level& level) {
    for (const std::string& text :
         removeLeftoversIn(m_fileSystem, level.fd, level.entries, m_path)) {
        m_host.ShowError(text);
    }
}

// The entry as it is now: a file that vanished or turned into a link since the directory was
// read is passed over, as the listing would not have shown it. A directory that can be listed
// but not searched gives names whose files cannot be reached: it is reported once, like an
// unreadable one, and left.
bool DirectoryWalk::statusForWork(Level& level, const std::string& name, FileStatus& status) {
    if (const auto error = m_fileSystem.statusAt(level.fd, name, status)) {
        if (error != std::errc::no_such_file_or_directory) {
            reportUnreadable(m_path, error);
            level.lost = true;
        }
        return false;
    }
    return status.kind == EntryKind::regular || status.kind == EntryKind::other;
}

void DirectoryWalk::countFile(std::uint32_t& count, CountLabel label) {
    ++count;
    m_host.ShowCount(label, std::to_string(count));
    m_id3Work.commitIfDue();
    m_host.PumpEvents();
}

void DirectoryWalk::workOnAudio(const FileLocation& file, const FileStatus& status,
                                AudioFormat format) {
    // Special files count as system files: never opened, whatever the switches say.
    const bool special = status.kind != EntryKind::regular;
    const bool readOnly = isReadOnly(status.mode);
    FileResult result;
    if (!special && (m_options.ignoreattributes() || !readOnly)) {
        result = m_id3Work.checkID3(file, readOnly, format);
    }
    countAndReport(result);
    if (!listingAdmitsMp3(result)) {
        return;
    }
    m_host.ExpandForRows();
    addRow({file.name, markOf(result.id3v1), markOf(result.id3v2), file.path, tagKindsField(result),
            result.modified});
}

// Counts first, then errors: the order in which the work on the file met them.
void DirectoryWalk::countAndReport(const FileResult& result) {
    if (result.id3v1 == TagState::found) {
        ++m_state.counters.id3v1Tags;
        m_host.ShowCount(CountLabel::id3v1tags, std::to_string(m_state.counters.id3v1Tags));
    }
    if (result.id3v2 == TagState::found) {
        ++m_state.counters.id3v2Tags;
        m_host.ShowCount(CountLabel::id3v2tags, std::to_string(m_state.counters.id3v2Tags));
    }
    if (result.layout) {
        for (std::size_t i = 0; i < tagKindCount; ++i) {
            m_state.counters.extraKindFiles[i] +=
                isExtraTagKind(*result.layout, static_cast<TagKind>(i)) ? 1 : 0;
        }
    }
    for (const std::string& error : result.errors) {
        ++m_state.fileErrors;
        m_host.ShowError(error);
    }
}

bool DirectoryWalk::listingAdmitsMp3(const FileResult& result) {
    if (!m_options.modonly() || result.modified) {
        return true;
    }
    if (m_options.remove1() || m_options.remove2()) {
        return false;
    }
    return result.id3v1 == TagState::found || result.id3v2 == TagState::found;
}

std::string DirectoryWalk::tagKindsField(const FileResult& result) {
    if (!m_options.listsTagKinds()) {
        return {};
    }
    return result.layout ? extraTagKinds(*result.layout) : "?";
}

// A read-only playlist is, like every rewritten playlist, replaced by a new file carrying its
// mode: it never needs to be made writable.
void DirectoryWalk::workOnPlaylist(const FileLocation& file, const FileStatus& status,
                                   PlaylistKind kind) {
    if (status.kind != EntryKind::regular) {
        return;
    }
    if (!m_options.ignoreattributes() && isReadOnly(status.mode)) {
        return;
    }
    const MessageStyle style = m_options.wording();
    const PlaylistOutcome outcome = kind == PlaylistKind::m3u
                                        ? m_playlistCleaner.cleanM3U(file, style)
                                        : m_playlistCleaner.cleanPLS(file, style);
    if (!outcome.error.empty()) {
        ++m_state.fileErrors;
        m_host.ShowError(outcome.error);
    }
    if (!m_options.modonly() || outcome.modified) {
        addRow({file.name, "-", "-", file.path, m_options.listsTagKinds() ? "-" : "",
                outcome.modified});
        m_host.ExpandForRows();
    }
}

void DirectoryWalk::addRow(ResultRow row) {
    m_host.AddRow(row);
    m_state.listedPaths.append(row.RowPath);
}

void DirectoryWalk::reportUnreadable(const std::string& directory, std::error_code error) {
    ++m_state.fileErrors;
    m_host.ShowError(couldNotReadDirectoryText(directory, error, m_options.wording()));
}

}  // namespace tagsnip
