#pragma once

#include "engine/file_system.h"
#include "engine/playlist_cleaner.h"

namespace tagsnip::playlist {

// Cleans the playlists that the walk hands over, on the files themselves. A playlist that is
// changed is replaced atomically with its permission bits kept; one that cannot be read or
// rewritten stays as it was and the outcome carries the error text.
class PlaylistFiles final : public PlaylistCleaner {
public:
    explicit PlaylistFiles(FileSystem& fileSystem) : m_fileSystem(fileSystem) {}

    PlaylistOutcome cleanM3U(const FileLocation& file) override;
    PlaylistOutcome cleanPLS(const FileLocation& file) override;

private:
    FileSystem& m_fileSystem;
};

}  // namespace tagsnip::playlist
