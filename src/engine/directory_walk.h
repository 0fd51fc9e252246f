#pragma once

#include "file_system.h"
#include "id3_work.h"
#include "job_host.h"
#include "job_options.h"
#include "playlist_cleaner.h"
#include "run_state.h"

#include <string>
#include <string_view>
#include <vector>

namespace tagsnip {

// The depth-first walk of a run: in each directory its MP3 files, then its M3U playlists, then
// its PLS playlists, then its subdirectories.
class DirectoryWalk {
public:
    DirectoryWalk(JobHost& host, FileSystem& fileSystem, RunState& state, Id3Work& id3Work,
                  PlaylistCleaner& playlistCleaner);

    // directory ends with "/".
    void getfiles(const std::string& directory);

    // The directory whose files are being worked on, for progress displays.
    const std::string& currentDirectory() const { return m_currentDirectory; }

private:
    enum class PlaylistKind { m3u, pls };
    struct Listing;

    // Each returns false when a stop request ended this level of the walk.
    bool mp3Pass(Listing& listing);
    bool playlistPass(Listing& listing, PlaylistKind kind);
    void subdirectoryPass(Listing& listing);

    // Handles an entry that is a directory or a link; false when the entry is a file to work on.
    bool passOverOrDescend(Listing& listing, std::size_t index);
    bool statusForWork(const std::string& path, FileStatus& status);
    void workOnMp3(const std::string& name, const std::string& path, const FileStatus& status);
    void workOnPlaylist(const std::string& name, const std::string& path, const FileStatus& status,
                        PlaylistKind kind);
    bool listingAdmitsMp3();
    void addRow(const std::string& name, const std::string& path);
    void countFile(std::uint32_t& count, CountLabel label);
    void descend(Listing& listing, std::size_t index);

    JobHost& m_host;
    JobOptions m_options;
    FileSystem& m_fileSystem;
    RunState& m_state;
    Id3Work& m_id3Work;
    PlaylistCleaner& m_playlistCleaner;
    std::string m_currentDirectory;
};

// Whether name has the extension (given without the dot), compared without regard to ASCII case.
bool hasExtension(std::string_view name, std::string_view extension);

}  // namespace tagsnip
