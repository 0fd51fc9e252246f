#include "playlist_files.h"

#include "m3u_cleaning.h"
#include "playlist_file_io.h"
#include "pls_cleaning.h"
#include "private_profile.h"

#include "engine/messages.h"
#include "engine/path_text.h"

namespace tagsnip::playlist {
namespace {

PlaylistOutcome notReplaced(const std::string& path, const AtomicReplacement::Failure& failure,
                            std::error_code keepError, MessageStyle style) {
    if (keepError) {
        return {false, couldNotKeepPlaylistText(path, keepError)};
    }
    return {false, playlistCannotCreateText(path, failure, style)};
}

}  // namespace

// The rename lasts a crash only once its folder is flushed; playlists are few enough to pay a
// commit of the journal each for that.
PlaylistOutcome PlaylistFiles::replaced(const FileLocation& location, MessageStyle style) {
    if (const auto error = m_fileSystem.syncDirectory(location.directoryFd)) {
        return {true, couldNotFlushDirectoryText(directoryOf(location.path), error, style)};
    }
    return {true, {}};
}

PlaylistOutcome PlaylistFiles::cleanM3U(const FileLocation& location, MessageStyle style) {
    PlaylistFile file(m_fileSystem, location, m_recorder);
    std::string bytes;
    if (const auto error = file.read(bytes)) {
        return {false, playlistCannotOpenText(location.path, error, style)};
    }
    const std::optional<std::string> cleaned = cleanM3uBytes(bytes);
    if (!cleaned) {
        return {};
    }
    AtomicReplacement::Failure failure;
    if (!file.replace(*cleaned, failure)) {
        return notReplaced(location.path, failure, file.keepError(), style);
    }
    return replaced(location, style);
}

// An unreadable PLS reads as empty and is left alone without a word, as the profile functions
// do; a rewrite that fails is reported, since the user would otherwise believe it cleaned.
PlaylistOutcome PlaylistFiles::cleanPLS(const FileLocation& location, MessageStyle style) {
    PrivateProfile profile(m_fileSystem, location, m_recorder);
    const bool modified = cleanPlsEntries(profile.text());
    AtomicReplacement::Failure failure;
    if (!profile.release(failure)) {
        return notReplaced(location.path, failure, profile.keepError(), style);
    }
    return modified ? replaced(location, style) : PlaylistOutcome{};
}

}  // namespace tagsnip::playlist
