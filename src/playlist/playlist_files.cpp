#include "playlist_files.h"

#include "m3u_cleaning.h"
#include "playlist_file_io.h"
#include "pls_cleaning.h"
#include "private_profile.h"

namespace tagsnip::playlist {
namespace {

std::string cannotOpen(const std::string& path) {
    return "无法打开文件 " + path + ".";
}
std::string cannotCreate(const std::string& path) {
    return "Cannot create file " + path + ".";
}

}  // namespace

PlaylistOutcome PlaylistFiles::cleanM3U(const std::string& path) {
    std::string bytes;
    FileStatus status;
    if (readWholeFile(m_fileSystem, path, bytes, status)) {
        return {false, cannotOpen(path)};
    }
    const std::optional<std::string> cleaned = cleanM3uBytes(bytes);
    if (!cleaned) {
        return {};
    }
    if (replaceWholeFile(m_fileSystem, path, *cleaned, status)) {
        return {false, cannotCreate(path)};
    }
    return {true, {}};
}

// An unreadable PLS reads as empty and is left alone without a word, as the profile functions
// do; a rewrite that fails is reported, since the user would otherwise believe it cleaned.
PlaylistOutcome PlaylistFiles::cleanPLS(const std::string& path) {
    PrivateProfile profile(m_fileSystem, path);
    const bool modified = cleanPlsEntries(profile.text());
    if (profile.release()) {
        return {false, cannotCreate(path)};
    }
    return {modified, {}};
}

}  // namespace tagsnip::playlist
