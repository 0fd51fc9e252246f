#include "playlist/playlist_files.h"

#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace tagsnip::playlist {
namespace {

using test::listNames;
using test::modeOf;
using test::readFile;
using test::writeFile;

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

// The walk hands a playlist over by its directory's descriptor and its own name.
template <typename Clean>
PlaylistOutcome cleanAt(const std::string& path, Clean clean) {
    const std::string directory = path.substr(0, path.rfind('/') + 1);
    const std::string name = path.substr(directory.size());
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_GE(fd, 0) << directory;
    const PlaylistOutcome outcome = clean(FileLocation{fd, name, path});
    ::close(fd);
    return outcome;
}
PlaylistOutcome cleanM3U(PlaylistFiles& playlists, const std::string& path) {
    return cleanAt(path, [&](const FileLocation& file) {
        return playlists.cleanM3U(file, MessageStyle::system);
    });
}
PlaylistOutcome cleanPLS(PlaylistFiles& playlists, const std::string& path) {
    return cleanAt(path, [&](const FileLocation& file) {
        return playlists.cleanPLS(file, MessageStyle::system);
    });
}

const std::string m3uWithExtensions = "#EXTM3U\n#EXTINF:10,A\na.mp3\n";
const std::string plsWithTitles = "[playlist]\nFile1=a.mp3\nTitle1=A\nNumberOfEntries=1\n";

TEST(PlaylistFiles, RewrittenM3uKeepsItsModeAndLeavesNothingBeside) {
    test::TempDir dir;
    writeFile(dir / "list.m3u", m3uWithExtensions, 0640);
    FileSystem fileSystem;
    PlaylistFiles playlists(fileSystem);
    const PlaylistOutcome outcome = cleanM3U(playlists, dir / "list.m3u");
    EXPECT_TRUE(outcome.modified);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(readFile(dir / "list.m3u"), "a.mp3\r\n");
    EXPECT_EQ(modeOf(dir / "list.m3u"), 0640u);
    EXPECT_EQ(listNames(dir.path()), "list.m3u");
}

TEST(PlaylistFiles, UntouchedPlaylistsAreNotEvenRewritten) {
    test::TempDir dir;
    writeFile(dir / "plain.m3u", "a.mp3\nb#.mp3");
    writeFile(dir / "plain.pls", "[playlist]\nFile1=a.mp3\nNumberOfEntries=1\n");
    const ino_t m3uInode = inodeOf(dir / "plain.m3u");
    const ino_t plsInode = inodeOf(dir / "plain.pls");
    FileSystem fileSystem;
    PlaylistFiles playlists(fileSystem);
    EXPECT_FALSE(cleanM3U(playlists, dir / "plain.m3u").modified);
    EXPECT_FALSE(cleanPLS(playlists, dir / "plain.pls").modified);
    EXPECT_EQ(inodeOf(dir / "plain.m3u"), m3uInode);
    EXPECT_EQ(inodeOf(dir / "plain.pls"), plsInode);
    EXPECT_EQ(readFile(dir / "plain.m3u"), "a.mp3\nb#.mp3");
}

TEST(PlaylistFiles, RewrittenPlsKeepsItsModeAndOtherLines) {
    test::TempDir dir;
    writeFile(dir / "list.pls", plsWithTitles, 0604);
    FileSystem fileSystem;
    PlaylistFiles playlists(fileSystem);
    const PlaylistOutcome outcome = cleanPLS(playlists, dir / "list.pls");
    EXPECT_TRUE(outcome.modified);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(readFile(dir / "list.pls"), "[playlist]\nFile1=a.mp3\nNumberOfEntries=1\n");
    EXPECT_EQ(modeOf(dir / "list.pls"), 0604u);
    EXPECT_EQ(listNames(dir.path()), "list.pls");
}

TEST(PlaylistFiles, UnreadableM3uIsAnErrorButUnreadablePlsIsNot) {
    test::TempDir dir;
    FileSystem fileSystem;
    PlaylistFiles playlists(fileSystem);
    const PlaylistOutcome m3u = cleanM3U(playlists, dir / "gone.m3u");
    EXPECT_FALSE(m3u.modified);
    EXPECT_EQ(m3u.error, "无法打开文件 " + dir.path() + "gone.m3u.");
    const PlaylistOutcome pls = cleanPLS(playlists, dir / "gone.pls");
    EXPECT_FALSE(pls.modified);
    EXPECT_EQ(pls.error, "");
    EXPECT_EQ(listNames(dir.path()), "");
}

TEST(PlaylistFiles, LargePlaylistIsReadWhole) {
    test::TempDir dir;
    std::string input = "#EXTM3U\n";
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        input += "#EXTINF:1,Song " + std::to_string(i) + "\nmusic/" + std::to_string(i) + ".mp3\n";
        expected += "music/" + std::to_string(i) + ".mp3\r\n";
    }
    writeFile(dir / "big.m3u", input);
    FileSystem fileSystem;
    PlaylistFiles playlists(fileSystem);
    EXPECT_TRUE(cleanM3U(playlists, dir / "big.m3u").modified);
    EXPECT_EQ(readFile(dir / "big.m3u"), expected);
}

// A file system that cannot make unnamed files, so that the temporary file has a name and a
// failure must clean it up; and that fails at the chosen step.
class FailingFileSystem : public FileSystem {
public:
    enum class Step { write, sync, rename };
    explicit FailingFileSystem(Step step) : m_step(step) {}

    std::error_code createTemporary(int directory, const std::string& fallbackName, mode_t, int& fd,
                                    bool& named) override {
        fd = ::openat(directory, fallbackName.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        named = fd >= 0;
        return named ? std::error_code{} : std::error_code(errno, std::generic_category());
    }
    std::error_code write(int fd, const void* data, std::size_t length,
                          std::uint64_t offset) override {
        if (m_step == Step::write) {
            // Half of it reaches the disk before the disk is full.
            (void)FileSystem::write(fd, data, length / 2, offset);
            return std::make_error_code(std::errc::no_space_on_device);
        }
        return FileSystem::write(fd, data, length, offset);
    }
    std::error_code sync(int fd) override {
        return m_step == Step::sync ? std::make_error_code(std::errc::io_error)
                                    : FileSystem::sync(fd);
    }
    std::error_code renameAt(int directory, const std::string& from,
                             const std::string& to) override {
        return m_step == Step::rename ? std::make_error_code(std::errc::permission_denied)
                                      : FileSystem::renameAt(directory, from, to);
    }

private:
    Step m_step;
};

class FailedRewrite : public testing::TestWithParam<FailingFileSystem::Step> {};

TEST_P(FailedRewrite, LeavesTheM3uIntactAndNoTemporaryFile) {
    test::TempDir dir;
    writeFile(dir / "list.m3u", m3uWithExtensions, 0640);
    FailingFileSystem fileSystem(GetParam());
    PlaylistFiles playlists(fileSystem);
    const PlaylistOutcome outcome = cleanM3U(playlists, dir / "list.m3u");
    EXPECT_FALSE(outcome.modified);
    EXPECT_EQ(outcome.error, "Cannot create file " + dir.path() + "list.m3u.");
    EXPECT_EQ(readFile(dir / "list.m3u"), m3uWithExtensions);
    EXPECT_EQ(modeOf(dir / "list.m3u"), 0640u);
    EXPECT_EQ(listNames(dir.path()), "list.m3u");
}

TEST_P(FailedRewrite, LeavesThePlsIntactAndSaysSo) {
    test::TempDir dir;
    writeFile(dir / "list.pls", plsWithTitles);
    FailingFileSystem fileSystem(GetParam());
    PlaylistFiles playlists(fileSystem);
    const PlaylistOutcome outcome = cleanPLS(playlists, dir / "list.pls");
    EXPECT_FALSE(outcome.modified);
    EXPECT_EQ(outcome.error, "Cannot create file " + dir.path() + "list.pls.");
    EXPECT_EQ(readFile(dir / "list.pls"), plsWithTitles);
    EXPECT_EQ(listNames(dir.path()), "list.pls");
}

INSTANTIATE_TEST_SUITE_P(AtEachStep, FailedRewrite,
                         testing::Values(FailingFileSystem::Step::write,
                                         FailingFileSystem::Step::sync,
                                         FailingFileSystem::Step::rename));

// The rename is done and stays done; only whether it lasts a crash is in doubt.
class FolderFlushFails final : public FileSystem {
public:
    std::error_code syncDirectory(int) override {
        return std::make_error_code(std::errc::io_error);
    }
};

TEST(PlaylistFiles, ACleanedPlaylistsFolderIsFlushedAndAFailureNamed) {
    test::TempDir dir;
    writeFile(dir / "list.m3u", m3uWithExtensions);
    writeFile(dir / "list.pls", plsWithTitles);
    FolderFlushFails fileSystem;
    PlaylistFiles playlists(fileSystem);
    for (const PlaylistOutcome& outcome :
         {cleanM3U(playlists, dir / "list.m3u"), cleanPLS(playlists, dir / "list.pls")}) {
        EXPECT_TRUE(outcome.modified);
        EXPECT_EQ(outcome.error, "Could not flush directory " + dir.path() + " - Error #5");
    }
    EXPECT_NE(readFile(dir / "list.m3u"), m3uWithExtensions);
    EXPECT_NE(readFile(dir / "list.pls"), plsWithTitles);
}

}  // namespace
}  // namespace tagsnip::playlist
