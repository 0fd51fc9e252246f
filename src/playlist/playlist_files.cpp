#include "playlist_files.h"

namespace tagsnip::playlist {

// Playlist cleaning arrives with the playlist library; until then playlists are counted only.
PlaylistOutcome PlaylistFiles::cleanM3U(const std::string&) {
    return {};
}
PlaylistOutcome PlaylistFiles::cleanPLS(const std::string&) {
    return {};
}

}  // namespace tagsnip::playlist
