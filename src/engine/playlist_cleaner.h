#pragma once

#include "file_system.h"
#include "message_style.h"

#include <string>

namespace tagsnip {

struct PlaylistOutcome {
    bool modified = false;
    // The text of the error box when the playlist could not be read or rewritten; the playlist
    // is then unchanged.
    std::string error;
};

// The walk hands every playlist it admits to this, with the wording its host wants for the
// error; the playlist library implements it.
class PlaylistCleaner {
public:
    virtual ~PlaylistCleaner() = default;
    virtual PlaylistOutcome cleanM3U(const FileLocation& file, MessageStyle style) = 0;
    virtual PlaylistOutcome cleanPLS(const FileLocation& file, MessageStyle style) = 0;
};

}  // namespace tagsnip
