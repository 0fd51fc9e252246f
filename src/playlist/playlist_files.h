#pragma once

#include "engine/file_system.h"
#include "engine/playlist_cleaner.h"
#include "engine/removal_recorder.h"

namespace tagsnip::playlist {

// Cleans the playlists that the walk hands over, on the files themselves. A playlist that is
// changed is replaced atomically with its permission bits kept; one that cannot be read or
// rewritten stays as it was and the outcome carries the error text.
class PlaylistFiles final : public PlaylistCleaner {
public:
    // recorder, when given, keeps the original text of every playlist that is changed.
    explicit PlaylistFiles(FileSystem& fileSystem, RemovalRecorder* recorder = nullptr)
        : m_fileSystem(fileSystem), m_recorder(recorder) {}

    PlaylistOutcome cleanM3U(const FileLocation& file, MessageStyle style) override;
    PlaylistOutcome cleanPLS(const FileLocation& file, MessageStyle style) override;

private:
    PlaylistOutcome replaced(const FileLocation& location, MessageStyle style);

    FileSystem& m_fileSystem;
    RemovalRecorder* m_recorder;
};

}  // namespace tagsnip::playlist
