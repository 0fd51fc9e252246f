#include "directory_walk.h"

#include "id3_header.h"

#include <sys/stat.h>

namespace tagsnip {
namespace {

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isHidden(std::string_view name) {
    return !name.empty() && name.front() == '.';
}

bool isReadOnly(mode_t mode) {
    return (mode & S_IWUSR) == 0;
}

}  // namespace

bool hasExtension(std::string_view name, std::string_view extension) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || name.size() - dot - 1 != extension.size()) {
        return false;
    }
    for (std::size_t i = 0; i < extension.size(); ++i) {
        if (asciiLower(name[dot + 1 + i]) != asciiLower(extension[i])) {
            return false;
        }
    }
    return true;
}

// One directory's entries, read completely before any work, so that a file that the work
// re-creates is never met a second time; walked marks the subdirectories already descended into.
struct DirectoryWalk::Listing {
    const std::string& directory;
    std::vector<DirectoryEntry> entries;
    std::vector<bool> walked;
};

DirectoryWalk::DirectoryWalk(JobHost& host, FileSystem& fileSystem, RunState& state,
                             Id3Work& id3Work, PlaylistCleaner& playlistCleaner)
    : m_host(host),
      m_options(host),
      m_fileSystem(fileSystem),
      m_state(state),
      m_id3Work(id3Work),
      m_playlistCleaner(playlistCleaner) {}

void DirectoryWalk::getfiles(const std::string& directory) {
    if (m_state.StopRequested) {
        return;
    }
    Listing listing{directory, {}, {}};
    // A directory that cannot be read gives empty passes.
    (void)m_fileSystem.readDirectory(directory, listing.entries);
    listing.walked.assign(listing.entries.size(), false);
    m_currentDirectory = directory;

    if (!mp3Pass(listing)) {
        return;
    }
    if (m_options.cleanM3U() && !playlistPass(listing, PlaylistKind::m3u)) {
        return;
    }
    if (m_options.cleanPLS() && !playlistPass(listing, PlaylistKind::pls)) {
        return;
    }
    subdirectoryPass(listing);
}

bool DirectoryWalk::mp3Pass(Listing& listing) {
    for (std::size_t i = 0; i < listing.entries.size(); ++i) {
        const std::string& name = listing.entries[i].name;
        if (!hasExtension(name, "mp3")) {
            continue;
        }
        if (m_state.StopRequested) {
            return false;
        }
        if (passOverOrDescend(listing, i)) {
            continue;
        }
        const std::string path = listing.directory + name;
        if (m_state.listedPaths.contains(path)) {
            continue;
        }
        FileStatus status;
        if (!statusForWork(path, status)) {
            continue;
        }
        countFile(m_state.counters.mp3Files, CountLabel::filesfound);
        if (status.size < id3v1TrailerSize) {
            continue;
        }
        workOnMp3(name, path, status);
    }
    return true;
}

bool DirectoryWalk::playlistPass(Listing& listing, PlaylistKind kind) {
    for (std::size_t i = 0; i < listing.entries.size(); ++i) {
        const std::string& name = listing.entries[i].name;
        const bool matches = kind == PlaylistKind::m3u
                                 ? hasExtension(name, "m3u") || hasExtension(name, "m3u8")
                                 : hasExtension(name, "pls");
        if (!matches) {
            continue;
        }
        if (m_state.StopRequested) {
            return false;
        }
        if (passOverOrDescend(listing, i)) {
            continue;
        }
        const std::string path = listing.directory + name;
        if (m_state.listedPaths.contains(path)) {
            continue;
        }
        FileStatus status;
        if (!statusForWork(path, status)) {
            continue;
        }
        if (kind == PlaylistKind::m3u) {
            countFile(m_state.counters.m3uPlaylists, CountLabel::M3Ufound);
        } else {
            countFile(m_state.counters.plsPlaylists, CountLabel::PLSfound);
        }
        workOnPlaylist(name, path, status, kind);
    }
    return true;
}

void DirectoryWalk::subdirectoryPass(Listing& listing) {
    for (std::size_t i = 0; i < listing.entries.size(); ++i) {
        const DirectoryEntry& entry = listing.entries[i];
        if (entry.kind == EntryKind::directory && !listing.walked[i] && !isHidden(entry.name) &&
            m_options.subdirectories()) {
            descend(listing, i);
        }
    }
}

bool DirectoryWalk::passOverOrDescend(Listing& listing, std::size_t index) {
    const DirectoryEntry& entry = listing.entries[index];
    if (entry.kind == EntryKind::symlink) {
        return true;
    }
    if (entry.kind != EntryKind::directory) {
        return false;
    }
    if (!listing.walked[index] && m_options.subdirectories() && !isHidden(entry.name)) {
        descend(listing, index);
    }
    return true;
}

void DirectoryWalk::descend(Listing& listing, std::size_t index) {
    listing.walked[index] = true;
    getfiles(listing.directory + listing.entries[index].name + "/");
    m_currentDirectory = listing.directory;
}

// The entry as it is now: a file that vanished or turned into a link since the directory was
// read is passed over, as the listing would not have shown it.
bool DirectoryWalk::statusForWork(const std::string& path, FileStatus& status) {
    if (m_fileSystem.linkStatus(path, status)) {
        return false;
    }
    return status.kind == EntryKind::regular || status.kind == EntryKind::other;
}

void DirectoryWalk::countFile(std::uint32_t& count, CountLabel label) {
    ++count;
    m_host.ShowCount(label, std::to_string(count));
    m_host.PumpEvents();
}

void DirectoryWalk::workOnMp3(const std::string& name, const std::string& path,
                              const FileStatus& status) {
    m_state.file = FileState{};
    m_state.file.SavedAttributes = status.mode;
    // Special files count as system files: never opened, whatever the switches say.
    const bool special = status.kind != EntryKind::regular;
    if (!special && (m_options.ignoreattributes() || !isReadOnly(status.mode))) {
        const bool madeWritable = isReadOnly(status.mode);
        if (madeWritable) {
            (void)m_fileSystem.setMode(path, status.mode | S_IWUSR);
        }
        m_id3Work.checkID3(path);
        if (madeWritable) {
            (void)m_fileSystem.setMode(path, m_state.file.SavedAttributes);
        }
    }
    if (!listingAdmitsMp3()) {
        return;
    }
    m_host.ExpandForRows();
    addRow(name, path);
    m_host.AddMark(markOf(m_state.file.id3v1));
    m_host.AddMark(markOf(m_state.file.id3v2));
}

bool DirectoryWalk::listingAdmitsMp3() {
    if (!m_options.modonly() || m_state.file.FileModified) {
        return true;
    }
    if (m_options.remove1() || m_options.remove2()) {
        return false;
    }
    return m_state.file.id3v1 == TagState::found || m_state.file.id3v2 == TagState::found;
}

void DirectoryWalk::workOnPlaylist(const std::string& name, const std::string& path,
                                   const FileStatus& status, PlaylistKind kind) {
    m_state.file.SavedAttributes = status.mode;
    if (status.kind != EntryKind::regular) {
        return;
    }
    if (!m_options.ignoreattributes() && isReadOnly(status.mode)) {
        return;
    }
    const bool madeWritable = isReadOnly(status.mode);
    if (madeWritable) {
        (void)m_fileSystem.setMode(path, status.mode | S_IWUSR);
    }
    m_state.file.FileModified = false;
    const PlaylistOutcome outcome = kind == PlaylistKind::m3u ? m_playlistCleaner.cleanM3U(path)
                                                              : m_playlistCleaner.cleanPLS(path);
    if (!outcome.error.empty()) {
        ++m_state.fileErrors;
        m_host.ShowError(outcome.error);
    }
    m_state.file.FileModified = outcome.modified;
    if (!m_options.modonly() || m_state.file.FileModified) {
        addRow(name, path);
        m_host.AddMark("-");
        m_host.AddMark("-");
        m_host.ExpandForRows();
    }
    if (madeWritable) {
        (void)m_fileSystem.setMode(path, m_state.file.SavedAttributes);
    }
}

void DirectoryWalk::addRow(const std::string& name, const std::string& path) {
    m_host.AddRow(name, path);
    m_state.listedPaths.append(path);
}

}  // namespace tagsnip
