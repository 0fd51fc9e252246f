#pragma once

#include "engine/file_system.h"
#include "engine/playlist_cleaner.h"

namespace tagsnip::playlist {

// Cleans the playlists that the walk hands over, on the files themselves.
class PlaylistFiles final : public PlaylistCleaner {
public:
    explicit PlaylistFiles(FileSystem& fileSystem) : m_fileSystem(fileSystem) {}

    PlaylistOutcome cleanM3U(const std::string& path) override;
    PlaylistOutcome cleanPLS(const std::string& path) override;

private:
    FileSystem& m_fileSystem;
};

}  // namespace tagsnip::playlist
