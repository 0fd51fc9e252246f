#include "engine_fixture.h"

#include "engine/directory_walk.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace tagsnip::test {
namespace {

class DirectoryWalkTest : public EngineTest {
protected:
    std::string tagged = id3v2Tag(40) + mpegAudio(3) + id3v1Tag();
    std::string plain = mpegAudio(3);

    std::vector<std::string> sortedRows() const {
        std::vector<std::string> rows = rowSummaries();
        std::sort(rows.begin(), rows.end());
        return rows;
    }
};

TEST(HasExtension, ComparesTheLastExtensionWithoutAsciiCase) {
    EXPECT_TRUE(hasExtension("a.mp3", "mp3"));
    EXPECT_TRUE(hasExtension("A.MP3", "mp3"));
    EXPECT_TRUE(hasExtension("x.Mp3", "mp3"));
    EXPECT_TRUE(hasExtension(".mp3", "mp3"));
    EXPECT_TRUE(hasExtension("a.b.mp3", "mp3"));
    EXPECT_FALSE(hasExtension("a.mp3.bak", "mp3"));
    EXPECT_FALSE(hasExtension("a.mp30", "mp3"));
    EXPECT_FALSE(hasExtension("amp3", "mp3"));
    EXPECT_FALSE(hasExtension("a.m3u8", "m3u"));
}

TEST_F(DirectoryWalkTest, PassesRunMp3ThenM3uThenPlsThenSubdirectoriesDepthFirst) {
    makeDirectory(dir / "sub");
    makeDirectory(dir / "sub/deeper");
    writeFile(dir / "sub/deeper/d.mp3", plain);
    writeFile(dir / "sub/c.mp3", plain);
    writeFile(dir / "list.pls", "[playlist]\n");
    writeFile(dir / "list.m3u", "a.mp3\n");
    writeFile(dir / "modern.M3U8", "a.mp3\n");
    writeFile(dir / "a.mp3", plain);
    host.set(JobSwitch::subdirectories, true);
    host.set(JobSwitch::cleanM3U, true);
    host.set(JobSwitch::cleanPLS, true);
    run();
    std::vector<std::string> captions;
    for (const auto& row : host.rows) {
        captions.push_back(row.caption);
    }
    ASSERT_EQ(captions.size(), 6u);
    EXPECT_EQ(captions[0], "a.mp3");
    std::vector<std::string> playlistsMet(captions.begin() + 1, captions.begin() + 3);
    std::sort(playlistsMet.begin(), playlistsMet.end());
    EXPECT_EQ(playlistsMet, (std::vector<std::string>{"list.m3u", "modern.M3U8"}));
    EXPECT_EQ(captions[3], "list.pls");
    EXPECT_EQ(captions[4], "c.mp3");
    EXPECT_EQ(captions[5], "d.mp3");
    EXPECT_EQ(host.counts[CountLabel::M3Ufound], "2");
    EXPECT_EQ(host.counts[CountLabel::PLSfound], "1");
    EXPECT_EQ(host.rows[3].id3v1Mark + host.rows[3].id3v2Mark, "--");
}

TEST_F(DirectoryWalkTest, RowsAndListedPathsAgreeAndGrowTheWindowFirst) {
    writeFile(dir / "a.mp3", tagged);
    writeFile(dir / "p.m3u", "x\n");
    host.set(JobSwitch::cleanM3U, true);
    run();
    const std::vector<std::string> expected = {"ExpandForRows()", "AddRow(a.mp3)",  "AddMark(X)",
                                               "AddMark(X)",      "AddRow(p.m3u)",  "AddMark(-)",
                                               "AddMark(-)",      "ExpandForRows()"};
    std::vector<std::string> rowCalls;
    for (const auto& call : host.calls) {
        if (call.rfind("AddRow", 0) == 0 || call.rfind("AddMark", 0) == 0 ||
            call.rfind("ExpandForRows", 0) == 0) {
            rowCalls.push_back(call);
        }
    }
    EXPECT_EQ(rowCalls, expected);
    ASSERT_EQ(state().listedPaths.size(), 2u);
    EXPECT_EQ(state().listedPaths[0], dir / "a.mp3");
    EXPECT_EQ(state().listedPaths[1], dir / "p.m3u");
    EXPECT_EQ(rowPaths(), (std::vector<std::string>{dir / "a.mp3", dir / "p.m3u"}));
    EXPECT_EQ(playlists.cleaned, std::vector<std::string>{"m3u:" + dir / "p.m3u"});
}

TEST_F(DirectoryWalkTest, FilesUnder128BytesAreCountedButNeitherExaminedNorListed) {
    writeFile(dir / "small1.mp3", id3v2Tag(20) + "x");
    writeFile(dir / "small2.mp3", std::string(127, 'x'));
    writeFile(dir / "exact.mp3", id3v1Tag());
    writeFile(dir / "big.mp3", tagged);
    removeBoth();
    run();
    EXPECT_EQ(host.counts[CountLabel::filesfound], "4");
    EXPECT_EQ(sortedRows(), (std::vector<std::string>{"X- exact.mp3", "XX big.mp3"}));
    EXPECT_BYTES(readFile(dir / "small1.mp3"), id3v2Tag(20) + "x");
}

TEST_F(DirectoryWalkTest, ReadOnlyFilesFollowTheAttributeGate) {
    writeFile(dir / "ro.mp3", tagged, 0444);
    writeFile(dir / "ro.m3u", "#EXTM3U\n", 0444);
    removeBoth();
    host.set(JobSwitch::cleanM3U, true);
    run();
    EXPECT_EQ(rowSummaries(), std::vector<std::string>{"?? ro.mp3"});
    EXPECT_TRUE(playlists.cleaned.empty());
    EXPECT_EQ(host.counts[CountLabel::M3Ufound], "1");
    EXPECT_BYTES(readFile(dir / "ro.mp3"), tagged);

    host.set(JobSwitch::modonly, true);
    run();
    EXPECT_TRUE(host.rows.empty());
}

TEST_F(DirectoryWalkTest, IgnoringAttributesWorksOnReadOnlyFilesAndRestoresTheirMode) {
    writeFile(dir / "ro.mp3", tagged, 0444);
    writeFile(dir / "ro.m3u", "#EXTM3U\n", 0440);
    removeBoth();
    host.set(JobSwitch::cleanM3U, true);
    host.set(JobSwitch::ignoreattributes, true);
    playlists.outcome.modified = true;
    run();
    EXPECT_EQ(rowSummaries(), (std::vector<std::string>{"XX ro.mp3", "-- ro.m3u"}));
    EXPECT_BYTES(readFile(dir / "ro.mp3"), mpegAudio(3));
    EXPECT_EQ(modeOf(dir / "ro.mp3"), 0444u);
    EXPECT_EQ(modeOf(dir / "ro.m3u"), 0440u);
}

TEST_F(DirectoryWalkTest, ListingFilterOfModifiedOnly) {
    writeFile(dir / "tagged.mp3", tagged);
    writeFile(dir / "plain.mp3", plain);
    writeFile(dir / "v1.mp3", plain + id3v1Tag());
    host.set(JobSwitch::modonly, true);
    run();
    EXPECT_EQ(sortedRows(), (std::vector<std::string>{"X- v1.mp3", "XX tagged.mp3"}));

    host.set(JobSwitch::remove2, true);
    run();
    EXPECT_EQ(rowSummaries(), std::vector<std::string>{"XX tagged.mp3"});
    EXPECT_EQ(state().counters.id3v1Tags, 2u);

    // Nothing is left to remove: nothing counts as modified.
    run();
    EXPECT_TRUE(host.rows.empty());
}

TEST_F(DirectoryWalkTest, PlaylistRowsOnlyWhenModifiedUnderModifiedOnly) {
    writeFile(dir / "a.pls", "[playlist]\n");
    host.set(JobSwitch::cleanPLS, true);
    host.set(JobSwitch::modonly, true);
    run();
    EXPECT_TRUE(host.rows.empty());
    playlists.outcome.modified = true;
    run();
    EXPECT_EQ(rowSummaries(), std::vector<std::string>{"-- a.pls"});
    EXPECT_TRUE(host.rows.back().modified);
}

TEST_F(DirectoryWalkTest, PlaylistErrorIsReportedAndTheWalkGoesOn) {
    writeFile(dir / "a.m3u", "#x\n");
    writeFile(dir / "b.mp3", tagged);
    host.set(JobSwitch::cleanM3U, true);
    host.set(JobSwitch::subdirectories, true);
    playlists.outcome.error = "无法打开文件 " + dir / "a.m3u" + ".";
    run();
    EXPECT_EQ(host.errors, std::vector<std::string>{playlists.outcome.error});
    EXPECT_EQ(host.startCaption, "继续");
    EXPECT_EQ(state().fileErrors, 1u);
    EXPECT_EQ(host.rows.size(), 2u);
}

TEST_F(DirectoryWalkTest, SubdirectoriesOnlyWhenAskedAndNeverHiddenOrLinked) {
    makeDirectory(dir / "sub");
    makeDirectory(dir / ".hidden");
    writeFile(dir / "sub/a.mp3", plain);
    writeFile(dir / ".hidden/b.mp3", plain);
    ASSERT_EQ(symlink(dir.path().c_str(), (dir / "loop").c_str()), 0);
    ASSERT_EQ(symlink((dir / "sub").c_str(), (dir / "link.mp3").c_str()), 0);
    ASSERT_EQ(symlink((dir / "sub/a.mp3").c_str(), (dir / "file-link.mp3").c_str()), 0);
    run();
    EXPECT_TRUE(host.rows.empty());
    EXPECT_EQ(state().counters.mp3Files, 0u);

    host.set(JobSwitch::subdirectories, true);
    run();
    EXPECT_EQ(rowPaths(), std::vector<std::string>{dir / "sub/a.mp3"});
    EXPECT_EQ(state().counters.mp3Files, 1u);
}

TEST_F(DirectoryWalkTest, DirectoryNamedLikeAnMp3IsWalkedOnce) {
    makeDirectory(dir / "album.mp3");
    writeFile(dir / "album.mp3/track.mp3", plain);
    makeDirectory(dir / "lists.m3u");
    writeFile(dir / "lists.m3u/inner.mp3", plain);
    host.set(JobSwitch::subdirectories, true);
    host.set(JobSwitch::cleanM3U, true);
    run();
    EXPECT_EQ(state().counters.mp3Files, 2u);
    EXPECT_EQ(host.rows.size(), 2u);
}

TEST_F(DirectoryWalkTest, NamesThatAreNotUtf8AreKeptAsBytes) {
    const std::string name = "\xff\xfe caf\xe9.mp3";
    makeDirectory(dir / "\xc3\x28");
    writeFile(dir / "\xc3\x28/" + name, tagged);
    removeBoth();
    host.set(JobSwitch::subdirectories, true);
    run();
    ASSERT_EQ(host.rows.size(), 1u);
    EXPECT_EQ(host.rows[0].caption, name);
    EXPECT_EQ(host.rows[0].RowPath, dir / "\xc3\x28/" + name);
    EXPECT_BYTES(readFile(dir / "\xc3\x28/" + name), mpegAudio(3));
}

TEST_F(DirectoryWalkTest, SpecialFilesAreNeverOpened) {
    ASSERT_EQ(mkfifo((dir / "pipe.mp3").c_str(), 0644), 0);
    ASSERT_EQ(mkfifo((dir / "pipe.m3u").c_str(), 0644), 0);
    writeFile(dir / "a.mp3", tagged);
    removeBoth();
    host.set(JobSwitch::cleanM3U, true);
    host.set(JobSwitch::ignoreattributes, true);
    run();
    EXPECT_EQ(state().counters.mp3Files, 2u);
    EXPECT_EQ(state().counters.m3uPlaylists, 1u);
    EXPECT_EQ(rowSummaries(), std::vector<std::string>{"XX a.mp3"});
    EXPECT_TRUE(playlists.cleaned.empty());
}

TEST_F(DirectoryWalkTest, EmptyDirectoryGivesNoRowAndKeepsTheWindowSmall) {
    run();
    EXPECT_TRUE(host.rows.empty());
    EXPECT_TRUE(host.callsStartingWith("ExpandForRows").empty());
    EXPECT_EQ(host.counts[CountLabel::filesfound], "0");
}

TEST_F(DirectoryWalkTest, StopDuringAFilesPumpFinishesThatFileOnly) {
    makeDirectory(dir / "sub");
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3", "sub/d.mp3"}) {
        writeFile(dir / name, tagged);
    }
    removeBoth();
    host.set(JobSwitch::subdirectories, true);
    host.set(JobSwitch::msgwhenfinished, true);
    host.onPump = [&] {
        if (host.pumps == 2) {
            cleaningJob().startClick();
        }
    };
    run();
    EXPECT_EQ(state().counters.mp3Files, 2u);
    EXPECT_EQ(host.rows.size(), 2u);
    EXPECT_EQ(host.rows[1].id3v1Mark + host.rows[1].id3v2Mark, "XX");
    EXPECT_EQ(host.startCaption, "继续");
    ASSERT_EQ(host.infos.size(), 1u);
    EXPECT_EQ(host.infos[0], "已经移除 2 个 ID3v1 标签和 2 个 ID3v2 标签，共计 2 个 MP3 文件。。");
}

TEST_F(DirectoryWalkTest, SwitchChangedDuringTheRunCountsFromItsNextReading) {
    writeFile(dir / "a.mp3", tagged);
    writeFile(dir / "b.mp3", tagged);
    host.onPump = [&] {
        if (host.pumps == 1) {
            host.set(JobSwitch::remove2, true);
        }
    };
    run();
    EXPECT_EQ(state().counters.id3v2Tags, 2u);
    std::vector<std::string> contents = {readFile(dir / "a.mp3"), readFile(dir / "b.mp3")};
    EXPECT_EQ(std::count(contents.begin(), contents.end(), mpegAudio(3) + id3v1Tag()), 2);
}

TEST_F(DirectoryWalkTest, CleanUpDuringTheRunKeepsListedPaths) {
    writeFile(dir / "a.mp3", tagged);
    writeFile(dir / "b.mp3", tagged);
    host.onPump = [&] {
        if (host.pumps == 2) {
            cleaningJob().CleanUp();
        }
    };
    run();
    EXPECT_EQ(host.rows.size(), 1u);
    EXPECT_EQ(state().listedPaths.size(), 2u);
    EXPECT_EQ(host.counts[CountLabel::filesfound], "0");
}

TEST_F(DirectoryWalkTest, UnreadableSubdirectoryIsReportedAndTheWalkGoesOn) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads every directory";
    }
    makeDirectory(dir / "locked", 0);
    writeFile(dir / "a.mp3", plain);
    host.set(JobSwitch::subdirectories, true);
    run();
    EXPECT_EQ(host.rows.size(), 1u);
    EXPECT_EQ(host.errors, std::vector<std::string>{"Could not read directory " + dir / "locked/" +
                                                    " - Error #13"});
    EXPECT_EQ(state().fileErrors, 1u);
}

// A folder from outside bind-mounted into the tree: find -xdev walks into it, as it has the
// tree's device number; one file system means one mount here.
struct BindMountCase {
    const char* name;
    bool oneFileSystem;
    bool entered;
};

class BindMountTest : public DirectoryWalkTest,
                      public ::testing::WithParamInterface<BindMountCase> {};

class BindMount {
public:
    BindMount(const std::string& from, const std::string& to) : m_point(to) {
        m_mounted = mount(from.c_str(), to.c_str(), nullptr, MS_BIND, nullptr) == 0;
    }
    ~BindMount() {
        if (m_mounted) {
            umount2(m_point.c_str(), MNT_DETACH);
        }
    }
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;
    bool mounted() const { return m_mounted; }

private:
    std::string m_point;
    bool m_mounted = false;
};

TEST_P(BindMountTest, OneFileSystemLeavesTheMountOut) {
    TempDir outside;
    writeFile(outside / "away.mp3", tagged);
    writeFile(dir / "here.mp3", tagged);
    makeDirectory(dir / "mounted");
    const BindMount bind(outside.path(), dir / "mounted");
    if (!bind.mounted()) {
        GTEST_SKIP() << "needs root to bind-mount a folder";
    }
    host.oneFileSystem = GetParam().oneFileSystem;
    host.set(JobSwitch::subdirectories, true);
    host.set(JobSwitch::remove1, true);
    run();
    EXPECT_EQ(readFile(outside / "away.mp3") != tagged, GetParam().entered);
    EXPECT_NE(readFile(dir / "here.mp3"), tagged);
    const std::vector<std::string> expected =
        GetParam().entered ? std::vector<std::string>{"XX away.mp3", "XX here.mp3"}
                           : std::vector<std::string>{"XX here.mp3"};
    EXPECT_EQ(sortedRows(), expected);
}

INSTANTIATE_TEST_SUITE_P(Walks, BindMountTest,
                         ::testing::Values(BindMountCase{"OneFileSystem", true, false},
                                           BindMountCase{"EveryMount", false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::test
