#include "playlist_files.h"

#include "m3u_cleaning.h"
#include "playlist_file_io.h"
#include "pls_cleaning.h"
#include "private_profile.h"

#include "engine/messages.h"
#include "engine/path_text.h"

namespace tagsnip::playlist {
namespace {

std::string cannotOpen(const std::string& path) {
    return playlistCannotOpenText(path);
}

PlaylistOutcome notReplaced(const std::string& path, const AtomicReplacement::Failure& failure,
                            std::error_code keepError) {
    if (keepError) {
        return {false, couldNotKeepPlaylistText(path, keepError)};
    }
    std::string text = refusalText(path, failure);
    return {false, text.empty() ? playlistCannotCreateText(path) : std::move(text)};
}

}  // namespace

// The rename lasts a crash only once its folder is flushed; playlists are few enough to pay a
// commit of the journal each for that.
PlaylistOutcome PlaylistFiles::replaced(const FileLocation& location) {
    if (const auto error = m_fileSystem.syncDirectory(location.directoryFd)) {
        return {true, couldNotFlushDirectoryText(directoryOf(location.path), error)};
    }
    return {true, {}};
}

PlaylistOutcome PlaylistFiles::cleanM3U(const FileLocation& location) {
    PlaylistFile file(m_fileSystem, location, m_recorder);
    std::string bytes;
    if (file.read(bytes)) {
        return {false, cannotOpen(location.path)};
    }
    const std::optional<std::string> cleaned = cleanM3uBytes(bytes);
    if (!cleaned) {
        return {};
    }
    AtomicReplacement::Failure failure;
    if (!file.replace(*cleaned, failure)) {
        return notReplaced(location.path, failure, file.keepError());
    }
    return replaced(location);
}

// An unreadable PLS reads as empty and is left alone without a word, as the profile functions
// do; a rewrite that fails is reported, since the user would otherwise believe it cleaned.
PlaylistOutcome PlaylistFiles::cleanPLS(const FileLocation& location) {
    PrivateProfile profile(m_fileSystem, location, m_recorder);
    const bool modified = cleanPlsEntries(profile.text());
    AtomicReplacement::Failure failure;
    if (!profile.release(failure)) {
        return notReplaced(location.path, failure, profile.keepError());
    }
    return modified ? replaced(location) : PlaylistOutcome{};
}

}  // namespace tagsnip::playlist
