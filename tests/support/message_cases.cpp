#include "message_cases.h"

#include "engine/faulty_file_system.h"
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

const std::string playlistText = "#EXTM3U\n#EXTINF:10,A\na.mp3\n";

std::function<void(CaseSetup&)> mp3(std::string bytes, Fault fault = Fault::none, int error = 0) {
    return [=](CaseSetup& setup) {
        writeFile(setup.library + "a.mp3", bytes);
        if (fault != Fault::none) {
            setup.fileSystem = std::make_unique<FaultyFileSystem>(fault, error);
        }
    };
}

std::function<void(CaseSetup&)> playlist(Fault fault = Fault::none, int error = 0) {
    return [=](CaseSetup& setup) {
        writeFile(setup.library + "list.m3u", playlistText);
        if (fault != Fault::none) {
            setup.fileSystem = std::make_unique<FaultyFileSystem>(fault, error);
        }
    };
}

std::function<void(CaseSetup&)> flagged(std::function<void(CaseSetup&)> files, std::string name,
                                        unsigned flag) {
    return [=](CaseSetup& setup) {
        files(setup);
        setup.inodeFlags.emplace_back(name, flag);
    };
}

std::string withTag() {
    return id3v2Tag(100) + mpegAudio(20);
}
std::string withTrailer() {
    return mpegAudio(20) + id3v1Tag();
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
    std::error_code writeOut(std::vector<int>& toFlush) override {
        toFlush.clear();
        return {};
    }
};

bool setInodeFlag(const std::string& path, unsigned flag, bool on) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    const bool done =
        fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
        (flags = on ? flags | static_cast<int>(flag) : flags & ~static_cast<int>(flag),
         ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (fd >= 0) {
        close(fd);
    }
    return done;
}

// Root acts as nobody until this goes, keeping root as the saved user to come back to.
class AsNobody {
public:
    explicit AsNobody(bool active) : m_active(active && geteuid() == 0) {
        const passwd* nobody = getpwnam("nobody");
        if (!m_active || nobody == nullptr) {
            m_active = false;
            return;
        }
        if (setresgid(-1, nobody->pw_gid, -1) != 0 || setresuid(-1, nobody->pw_uid, -1) != 0) {
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
    bool m_active;
};

}  // namespace

const std::vector<MessageCase>& messageCases() {
    static const std::vector<MessageCase> cases = {
        {"UnreadablePlaylist",
         {JobSwitch::cleanM3U},
         [](CaseSetup& setup) {
             // Writable, so that the walk does not pass it over as read-only.
             writeFile(setup.library + "list.m3u", playlistText, 0200);
             setup.otherUser = true;
         },
         "无法打开文件 @list.m3u.",
         "无法打开文件 @list.m3u - Permission denied"},
        {"UnreadableFolder",
         {JobSwitch::subdirectories},
         [](CaseSetup& setup) {
             makeDirectory(setup.library + "locked/", 0);
             setup.otherUser = true;
         },
         "Could not read directory @locked/ - Error #13",
         "Could not read directory @locked/ - Permission denied"},
        {"OpenFails",
         {JobSwitch::remove1},
         mp3(withTrailer(), Fault::open, EIO),
         "Could not open @a.mp3 - Error #5",
         "Could not open @a.mp3 - Input/output error"},
        {"CopyFails",
         {JobSwitch::remove2},
         mp3(withTag(), Fault::copy, EIO),
         "Could not copy @a.mp3 - I/O error 5 - ID3v2 Tag not removed!",
         "Could not copy @a.mp3 - Input/output error - ID3v2 Tag not removed!"},
        {"TemporaryCannotBeCreated",
         {JobSwitch::remove2},
         mp3(withTag(), Fault::createTemporary, EACCES),
         "Could not create @ID3_TEMP.$$$ - ID3v2 Tag not removed!",
         "Could not create @ID3_TEMP.$$$ - Permission denied - ID3v2 Tag not removed!"},
        {"RenameFails",
         {JobSwitch::remove2},
         mp3(withTag(), Fault::rename, EIO),
         "Could not delete @a.mp3 - ID3v2 Tag not removed!",
         "Could not delete @a.mp3 - Input/output error - ID3v2 Tag not removed!"},
        {"CutFlushFails",
         {JobSwitch::remove1},
         mp3(withTrailer(), Fault::sync, EIO),
         "Could not flush @a.mp3 - I/O error 5 - ID3v1 Tag removed, may not be on disk!",
         "Could not flush @a.mp3 - Input/output error - ID3v1 Tag removed, may not be on disk!"},
        {"FolderFlushFails",
         {JobSwitch::remove2},
         mp3(withTag(), Fault::syncDirectory, EIO),
         "Could not flush directory @ - Error #5",
         "Could not flush directory @ - Input/output error"},
        {"PlaylistCannotBeCreated",
         {JobSwitch::cleanM3U},
         playlist(Fault::createTemporary, EACCES),
         "Cannot create file @list.m3u.",
         "Cannot create file @list.m3u - Permission denied"},
        {"RemovedBytesCannotBeKept",
         {JobSwitch::remove2},
         [](CaseSetup& setup) {
             mp3(withTag())(setup);
             setup.failingRecorder = true;
         },
         nullptr,
         "@a.mp3 - could not keep the removed bytes: Input/output error, file not changed!"},
        {"ImmutableFileCut",
         {JobSwitch::remove1},
         flagged(mp3(withTrailer()), "a.mp3", FS_IMMUTABLE_FL),
         "Could not open @a.mp3 - Error #1",
         "@a.mp3 - immutable or append-only, file not changed!"},
        {"AppendOnlyFileRewritten",
         {JobSwitch::remove2},
         flagged(mp3(withTag()), "a.mp3", FS_APPEND_FL),
         "Could not open @a.mp3 - Error #1",
         "@a.mp3 - immutable or append-only, file not changed!"},
        {"ImmutableFolder",
         {JobSwitch::remove2},
         flagged(mp3(withTag()), "", FS_IMMUTABLE_FL),
         "Could not create @ID3_TEMP.$$$ - ID3v2 Tag not removed!",
         "@a.mp3 - folder is immutable or append-only, file not changed!"},
        {"AppendOnlyFolder",
         {JobSwitch::remove2},
         flagged(mp3(withTag()), "", FS_APPEND_FL),
         "Could not create @ID3_TEMP.$$$ - ID3v2 Tag not removed!",
         "@a.mp3 - folder is immutable or append-only, file not changed!"},
        {"ImmutablePlaylist",
         {JobSwitch::cleanM3U},
         flagged(playlist(), "list.m3u", FS_IMMUTABLE_FL),
         "Cannot create file @list.m3u.",
         "@list.m3u - immutable or append-only, file not changed!"},
    };
    return cases;
}

PreparedCase::PreparedCase(const MessageCase& messageCase) : m_case(messageCase) {
    // Another user must be able to reach the library.
    chmod(m_dir.path().c_str(), 0755);
    m_setup.library = m_dir.path();
    m_case.prepare(m_setup);
    if (m_setup.failingRecorder) {
        m_recorder = std::make_unique<FailingRecorder>();
    }
    for (const auto& [name, flag] : m_setup.inodeFlags) {
        if (!setInodeFlag(library() + name, flag, true)) {
            m_skip = "needs root and a file system with inode flags";
            return;
        }
        m_flagsSet.emplace_back(name, flag);
    }
}

PreparedCase::~PreparedCase() {
    for (const auto& [name, flag] : m_flagsSet) {
        setInodeFlag(library() + name, flag, false);
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
    FileSystem& fileSystem = *m_setup.fileSystem;
    playlist::PlaylistFiles playlists(fileSystem, m_recorder.get());
    NoStartDirectoryStore store;
    ProcessFlags flags;
    flags.SaveSettings = false;
    CleaningJob job(host, fileSystem, playlists, store, flags, m_recorder.get());
    const AsNobody asNobody(m_setup.otherUser);
    job.startClick();
}

}  // namespace tagsnip::test
