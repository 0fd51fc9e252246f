#pragma once

#include "file_system.h"
#include "id3_work.h"
#include "job_host.h"
#include "job_options.h"
#include "playlist_cleaner.h"
#include "run_state.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tagsnip {

// The depth-first walk of a run: in each directory its MP3 files (and those of the other
// audio formats selected), then its M3U playlists, then
// its PLS playlists, then its subdirectories. Every directory is held open while it is worked
// on and every entry is reached through that descriptor by its own name, so that a directory
// or file swapped for a link midway can never lead the walk or the work out of the tree, and
// the depth of the tree is not limited by the length of its paths.
class DirectoryWalk {
public:
    DirectoryWalk(JobHost& host, FileSystem& fileSystem, RunState& state, Id3Work& id3Work,
                  PlaylistCleaner& playlistCleaner);

    // directory ends with "/".
    void getfiles(const std::string& directory);

    // The directory whose files are being worked on, for progress displays.
    const std::string& currentDirectory() const { return m_path; }

private:
    enum class PlaylistKind { m3u, pls };
    struct Level;

    void walkLevel(Level& level);
    // Each returns false when a stop request ended this level of the walk.
    template <typename Matches, typename Work>
    bool filePass(Level& level, Matches matches, Work work);
    // The files of the selected audio formats, MP3 alone unless the host selects others.
    bool audioPass(Level& level);
    bool playlistPass(Level& level, PlaylistKind kind);
    void subdirectoryPass(Level& level);

    // Handles an entry that is a directory or a link; false when the entry is a file to work on.
    bool passOverOrDescend(Level& level, std::size_t index);
    void descend(Level& level, std::size_t index);
    void enter(Level& level);
    void leave(Level& parent, Level& child);
    void regain(Level& parent, const Level& child);
    void removeLeftovers(const Level& level);
    bool statusForWork(Level& level, const std::string& name, FileStatus& status);
    void workOnAudio(const FileLocation& file, const FileStatus& status, AudioFormat format);
    void workOnPlaylist(const FileLocation& file, const FileStatus& status, PlaylistKind kind);
    void countAndReport(const FileResult& result);
    bool listingAdmitsMp3(const FileResult& result);
    std::string tagKindsField(const FileResult& result);
    void addRow(ResultRow row);
    void countFile(std::uint32_t& count, CountLabel label);
    void reportUnreadable(const std::string& directory, std::error_code error);

    JobHost& m_host;
    JobOptions m_options;
    FileSystem& m_fileSystem;
    RunState& m_state;
    Id3Work& m_id3Work;
    PlaylistCleaner& m_playlistCleaner;
    // The path of the directory being walked, with its trailing "/"; grows and shrinks with the
    // descent instead of being copied into every level.
    std::string m_path;
    // The levels from the start directory down; the lowest ones let go of their descriptors when
    // the tree is deeper than the descriptor budget allows.
    std::vector<Level*> m_levels;
    std::size_t m_lowestOpen = 0;
    std::size_t m_descriptorBudget;
};

// Whether name has the extension (given without the dot), compared without regard to ASCII case.
bool hasExtension(std::string_view name, std::string_view extension);

}  // namespace tagsnip
