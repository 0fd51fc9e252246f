#include "message_cases.h"

#include "support/mp3_bytes.h"

#include "engine/cleaning_job.h"
#include "engine/process_flags.h"
#include "engine/start_directory_store.h"
#include "playlist/playlist_files.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace tagsnip::test {
namespace {

using Fault = FaultyFileSystem::Fault;

void makeLibrary(const std::string& library, Library kind) {
    const std::string playlist = "#EXTM3U\n#EXTINF:10,A\na.mp3\n";
    switch (kind) {
        case Library::tagged:
            return writeFile(library + "a.mp3", id3v2Tag(100) + mpegAudio(20));
        case Library::trailer:
            return writeFile(library + "a.mp3", mpegAudio(20) + id3v1Tag());
        case Library::playlist:
            return writeFile(library + "list.m3u", playlist);
        case Library::unreadablePlaylist:
            // Writable, so that the walk does not pass it over as read-only.
            return writeFile(library + "list.m3u", playlist, 0200);
        case Library::unreadableFolder:
            return makeDirectory(library + "locked/", 0);
    }
}

// Keeps nothing: the bytes a change would remove cannot be kept.
class FailingRecorder final : public RemovalRecorder {
public:
    std::error_code keepMp3(int, const std::string&, std::uint64_t, std::span<const RemovedRange>,
                            const StayingBytesSink&) override {
        return {EIO, std::generic_category()};
    }
    std::error_code keepPlaylist(const std::string&, std::string_view, std::string_view) override {
        return {EIO, std::generic_category()};
    }
    std::error_code makeDurable() override { return {}; }
    std::error_code writeOut(std::vector<int>&) override { return {}; }
};

// Root acts as nobody while this lives, keeping root as the saved user to come back to.
class AsNobody {
public:
    explicit AsNobody(bool wanted) {
        const passwd* nobody = getpwnam("nobody");
        m_active = wanted && geteuid() == 0 && nobody != nullptr;
        if (m_active &&
            (setresgid(-1, nobody->pw_gid, -1) != 0 || setresuid(-1, nobody->pw_uid, -1) != 0)) {
            std::abort();
        }
    }
    ~AsNobody() {
        if (m_active && (setresuid(-1, 0, -1) != 0 || setresgid(-1, 0, -1) != 0)) {
            std::abort();
        }
    }
    AsNobody(const AsNobody&) = delete;
    AsNobody& operator=(const AsNobody&) = delete;

private:
    bool m_active = false;
};

}  // namespace

const std::vector<MessageCase>& messageCases() {
    using enum Library;
    static const std::vector<MessageCase> cases = {
        {"UnreadablePlaylist", JobSwitch::cleanM3U, unreadablePlaylist, Fault::none, 0, nullptr, 0,
         false, "无法打开文件 @list.m3u.", "无法打开文件 @list.m3u - Permission denied"},
        {"UnreadableFolder", JobSwitch::subdirectories, unreadableFolder, Fault::none, 0, nullptr,
         0, false, "Could not read directory @locked/ - Error #13",
         "Could not read directory @locked/ - Permission denied"},
        {"OpenFails", JobSwitch::remove1, trailer, Fault::open, EIO, nullptr, 0, false,
         "Could not open @a.mp3 - Error #5", "Could not open @a.mp3 - Input/output error"},
        {"CopyFails", JobSwitch::remove2, tagged, Fault::copy, EIO, nullptr, 0, false,
         "Could not copy @a.mp3 - I/O error 5 - ID3v2 Tag not removed!",
         "Could not copy @a.mp3 - Input/output error - ID3v2 Tag not removed!"},
        {"TemporaryCannotBeCreated", JobSwitch::remove2, tagged, Fault::createTemporary, EACCES,
         nullptr, 0, false, "Could not create @ID3_TEMP.$$$ - ID3v2 Tag not removed!",
         "Could not create @ID3_TEMP.$$$ - Permission denied - ID3v2 Tag not removed!"},
        {"RenameFails", JobSwitch::remove2, tagged, Fault::rename, EIO, nullptr, 0, false,
         "Could not delete @a.mp3 - ID3v2 Tag not removed!",
         "Could not delete @a.mp3 - Input/output error - ID3v2 Tag not removed!"},
        {"CutFlushFails", JobSwitch::remove1, trailer, Fault::sync, EIO, nullptr, 0, false,
         "Could not flush @a.mp3 - I/O error 5 - ID3v1 Tag removed, may not be on disk!",
         "Could not flush @a.mp3 - Input/output error - ID3v1 Tag removed, may not be on disk!"},
        {"FolderFlushFails", JobSwitch::remove2, tagged, Fault::syncDirectory, EIO, nullptr, 0,
         false, "Could not flush directory @ - Error #5",
         "Could not flush directory @ - Input/output error"},
        {"PlaylistCannotBeCreated", JobSwitch::cleanM3U, playlist, Fault::createTemporary, EACCES,
         nullptr, 0, false, "Cannot create file @list.m3u.",
         "Cannot create file @list.m3u - Permission denied"},
        {"RemovedBytesCannotBeKept", JobSwitch::remove2, tagged, Fault::none, 0, nullptr, 0, true,
         nullptr,
         "@a.mp3 - could not keep the removed bytes: Input/output error, file not changed!"},
        {"ImmutableFileCut", JobSwitch::remove1, trailer, Fault::none, 0, "a.mp3", FS_IMMUTABLE_FL,
         false, "Could not open @a.mp3 - Error #1",
         "@a.mp3 - immutable or append-only, file not changed!"},
        {"AppendOnlyFileRewritten", JobSwitch::remove2, tagged, Fault::none, 0, "a.mp3",
         FS_APPEND_FL, false, "Could not open @a.mp3 - Error #1",
         "@a.mp3 - immutable or append-only, file not changed!"},
        {"ImmutableFolder", JobSwitch::remove2, tagged, Fault::none, 0, "", FS_IMMUTABLE_FL, false,
         "Could not create @ID3_TEMP.$$$ - ID3v2 Tag not removed!",
         "@a.mp3 - folder is immutable or append-only, file not changed!"},
        {"AppendOnlyFolder", JobSwitch::remove2, tagged, Fault::none, 0, "", FS_APPEND_FL, false,
         "Could not create @ID3_TEMP.$$$ - ID3v2 Tag not removed!",
         "@a.mp3 - folder is immutable or append-only, file not changed!"},
        {"ImmutablePlaylist", JobSwitch::cleanM3U, playlist, Fault::none, 0, "list.m3u",
         FS_IMMUTABLE_FL, false, "Cannot create file @list.m3u.",
         "@list.m3u - immutable or append-only, file not changed!"},
    };
    return cases;
}

PreparedCase::PreparedCase(const MessageCase& messageCase)
    : m_case(messageCase),
      m_fileSystem(messageCase.fault == Fault::none
                       ? std::make_unique<FileSystem>()
                       : std::make_unique<FaultyFileSystem>(messageCase.fault, messageCase.error)) {
    // Another user must be able to reach the library.
    chmod(library().c_str(), 0755);
    makeLibrary(library(), m_case.library);
    if (m_case.keepFails) {
        m_recorder = std::make_unique<FailingRecorder>();
    }
    if (m_case.flagged != nullptr) {
        m_flagSet = setInodeFlag(library() + m_case.flagged, m_case.flag, true);
        m_skip = m_flagSet ? "" : "needs root and a file system with inode flags";
    }
}

PreparedCase::~PreparedCase() {
    if (m_flagSet) {
        setInodeFlag(library() + m_case.flagged, m_case.flag, false);
    }
}

std::string PreparedCase::expected(MessageStyle style) const {
    std::string text = style == MessageStyle::system ? m_case.systemText : m_case.wordsText;
    for (auto at = text.find('@'); at != std::string::npos; at = text.find('@', at)) {
        text.replace(at, 1, library());
        at += library().size();
    }
    return text;
}

void PreparedCase::run(JobHost& host) {
    playlist::PlaylistFiles playlists(*m_fileSystem, m_recorder.get());
    NoStartDirectoryStore store;
    ProcessFlags flags;
    flags.SaveSettings = false;
    CleaningJob job(host, *m_fileSystem, playlists, store, flags, m_recorder.get());
    const AsNobody asNobody(m_case.library == Library::unreadablePlaylist ||
                            m_case.library == Library::unreadableFolder);
    job.startClick();
}

}  // namespace tagsnip::test
