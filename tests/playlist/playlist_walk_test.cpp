#include "playlist/playlist_files.h"

#include "engine/cleaning_job.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace tagsnip {
namespace {

using test::modeOf;
using test::readFile;
using test::writeFile;

const std::string extendedM3u = "#EXTM3U\n#EXTINF:10,A\na.mp3\n";
const std::string plainM3u = "a.mp3\n";
const std::string titledPls = "[playlist]\nFile1=a.mp3\nTitle1=A\nLength1=10\nNumberOfEntries=1\n";
const std::string untitledPls = "[playlist]\nFile1=a.mp3\nNumberOfEntries=1\n";

// A run over the real files with the real playlist cleaner, both playlist switches on.
struct PlaylistRun {
    explicit PlaylistRun(const std::string& directory, FileSystem& files) : fileSystem(files) {
        host.directory = directory;
        host.set(JobSwitch::cleanM3U, true);
        host.set(JobSwitch::cleanPLS, true);
    }

    void start() {
        playlist::PlaylistFiles playlists(fileSystem);
        NoStartDirectoryStore store;
        ProcessFlags flags;
        CleaningJob job(host, fileSystem, playlists, store, flags);
        job.startClick();
        counters = job.state().counters;
    }

    std::vector<std::string> rowNames() const {
        std::vector<std::string> names;
        for (const ResultRow& row : host.rows) {
            EXPECT_EQ(row.id3v1Mark, "-") << row.caption;
            EXPECT_EQ(row.id3v2Mark, "-") << row.caption;
            EXPECT_EQ(row.RowPath, host.directory + row.caption);
            names.push_back(row.caption);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    FileSystem& fileSystem;
    test::RecordingHost host;
    JobCounters counters;
};

using Names = std::vector<std::string>;

TEST(PlaylistWalk, CleansAndCountsEveryKindOfPlaylistName) {
    test::TempDir dir;
    writeFile(dir / "a.m3u", extendedM3u);
    writeFile(dir / "B.M3U", extendedM3u);
    writeFile(dir / "c.m3u8", extendedM3u);
    writeFile(dir / "d.Pls", titledPls);
    writeFile(dir / "e.pls", untitledPls);
    writeFile(dir / "f.txt", extendedM3u);
    FileSystem fileSystem;
    PlaylistRun run(dir.path(), fileSystem);
    run.start();
    EXPECT_EQ(run.host.counts[CountLabel::M3Ufound], "3");
    EXPECT_EQ(run.host.counts[CountLabel::PLSfound], "2");
    EXPECT_EQ(run.counters.m3uPlaylists, 3u);
    EXPECT_EQ(run.counters.plsPlaylists, 2u);
    EXPECT_EQ(run.rowNames(), (Names{"B.M3U", "a.m3u", "c.m3u8", "d.Pls", "e.pls"}));
    for (const char* name : {"a.m3u", "B.M3U", "c.m3u8"}) {
        EXPECT_EQ(readFile(dir / name), "a.mp3\r\n") << name;
    }
    EXPECT_EQ(readFile(dir / "d.Pls"), untitledPls);
    EXPECT_EQ(readFile(dir / "f.txt"), extendedM3u);
    EXPECT_TRUE(run.host.errors.empty());
}

TEST(PlaylistWalk, ListsOnlyChangedPlaylistsUnderModonly) {
    test::TempDir dir;
    writeFile(dir / "changed.m3u", extendedM3u);
    writeFile(dir / "same.m3u", plainM3u);
    writeFile(dir / "changed.pls", titledPls);
    writeFile(dir / "same.pls", untitledPls);
    FileSystem fileSystem;
    {
        PlaylistRun run(dir.path(), fileSystem);
        run.host.set(JobSwitch::modonly, true);
        run.start();
        EXPECT_EQ(run.rowNames(), (Names{"changed.m3u", "changed.pls"}));
        EXPECT_EQ(run.host.counts[CountLabel::M3Ufound], "2");
        EXPECT_EQ(run.host.counts[CountLabel::PLSfound], "2");
    }
    // All clean now: listed regardless when modonly is off, not at all when it is on.
    PlaylistRun again(dir.path(), fileSystem);
    again.start();
    EXPECT_EQ(again.rowNames(), (Names{"changed.m3u", "changed.pls", "same.m3u", "same.pls"}));
    PlaylistRun onlyChanged(dir.path(), fileSystem);
    onlyChanged.host.set(JobSwitch::modonly, true);
    onlyChanged.start();
    EXPECT_TRUE(onlyChanged.host.rows.empty());
    EXPECT_EQ(onlyChanged.host.callsStartingWith("ExpandForRows").size(), 0u);
}

TEST(PlaylistWalk, ReadOnlyPlaylistIsCountedButNeitherCleanedNorListed) {
    test::TempDir dir;
    writeFile(dir / "locked.m3u", extendedM3u, 0444);
    writeFile(dir / "locked.pls", titledPls, 0444);
    writeFile(dir / "open.m3u", extendedM3u);
    FileSystem fileSystem;
    PlaylistRun run(dir.path(), fileSystem);
    run.start();
    EXPECT_EQ(run.host.counts[CountLabel::M3Ufound], "2");
    EXPECT_EQ(run.host.counts[CountLabel::PLSfound], "1");
    EXPECT_EQ(run.rowNames(), (Names{"open.m3u"}));
    EXPECT_EQ(readFile(dir / "locked.m3u"), extendedM3u);
    EXPECT_EQ(readFile(dir / "locked.pls"), titledPls);
    EXPECT_EQ(readFile(dir / "open.m3u"), "a.mp3\r\n");
}

TEST(PlaylistWalk, IgnoreAttributesCleansReadOnlyPlaylistsAndRestoresTheirMode) {
    test::TempDir dir;
    writeFile(dir / "locked.m3u", extendedM3u, 0444);
    writeFile(dir / "locked.pls", titledPls, 0440);
    FileSystem fileSystem;
    PlaylistRun run(dir.path(), fileSystem);
    run.host.set(JobSwitch::ignoreattributes, true);
    run.start();
    EXPECT_EQ(run.rowNames(), (Names{"locked.m3u", "locked.pls"}));
    EXPECT_EQ(readFile(dir / "locked.m3u"), "a.mp3\r\n");
    EXPECT_EQ(readFile(dir / "locked.pls"), untitledPls);
    EXPECT_EQ(modeOf(dir / "locked.m3u"), 0444u);
    EXPECT_EQ(modeOf(dir / "locked.pls"), 0440u);
    EXPECT_EQ(test::listNames(dir.path()), "locked.m3u locked.pls");
}

// Refuses to open one path for reading, as a playlist whose permissions shut us out would.
class OneUnreadableFile : public FileSystem {
public:
    explicit OneUnreadableFile(std::string name) : m_name(std::move(name)) {}
    std::error_code openAt(int directory, const std::string& name, bool writable, int& fd,
                           FileStatus& status) override {
        if (name == m_name) {
            return std::make_error_code(std::errc::permission_denied);
        }
        return FileSystem::openAt(directory, name, writable, fd, status);
    }

private:
    std::string m_name;
};

TEST(PlaylistWalk, UnreadableM3uIsReportedAndTheRunGoesOn) {
    test::TempDir dir;
    writeFile(dir / "bad.m3u", extendedM3u);
    writeFile(dir / "good.m3u", extendedM3u);
    writeFile(dir / "good.pls", titledPls);
    OneUnreadableFile fileSystem("bad.m3u");
    PlaylistRun run(dir.path(), fileSystem);
    run.start();
    EXPECT_EQ(run.host.errors, (Names{"无法打开文件 " + dir.path() + "bad.m3u."}));
    EXPECT_EQ(readFile(dir / "bad.m3u"), extendedM3u);
    EXPECT_EQ(readFile(dir / "good.m3u"), "a.mp3\r\n");
    EXPECT_EQ(readFile(dir / "good.pls"), untitledPls);
    EXPECT_EQ(run.host.counts[CountLabel::M3Ufound], "2");
}

TEST(PlaylistWalk, TenThousandEntryPlsIsCleanedWhole) {
    test::TempDir dir;
    constexpr int entries = 10000;
    std::string input = "[playlist]\r\n";
    std::string expected = input;
    for (int n = 1; n <= entries; ++n) {
        const std::string number = std::to_string(n);
        const std::string file = "File" + number + "=music/" + number + ".mp3\r\n";
        input += file + "Title" + number + "=Song " + number + "\r\nLength" + number + "=" +
                 std::to_string(n % 400) + "\r\n";
        expected += file;
    }
    input += "NumberOfEntries=10000\r\nVersion=2\r\n";
    expected += "NumberOfEntries=10000\r\nVersion=2\r\n";
    writeFile(dir / "big.pls", input);
    FileSystem fileSystem;
    PlaylistRun run(dir.path(), fileSystem);
    run.host.set(JobSwitch::modonly, true);
    run.start();
    EXPECT_EQ(run.rowNames(), (Names{"big.pls"}));
    EXPECT_EQ(readFile(dir / "big.pls"), expected);
}

}  // namespace
}  // namespace tagsnip
