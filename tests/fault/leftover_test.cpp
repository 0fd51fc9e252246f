#include "cli_process.h"
#include "mounted_image.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace tagsnip::fault {
namespace {

constexpr const char* markName = "user.tagsnip.temporary";
constexpr const char* strace = "/usr/bin/strace";
const std::string notOurs =
    " - has the name of a temporary file but was not made by this program, left alone";
const std::string playlist = "#EXTM3U\n#EXTINF:1,One\nsong.mp3\n";

enum class RunKind { changing, reportOnly, restore };
// A file system that holds user extended attributes (the test folder's), or one that holds none.
enum class Disk { xattrs, fat, exfat };
// Planted: a file of the row's name in each state, in a folder of its own beside a song. Killed:
// the file that a run of the row's killed kind left, stopped by a tracer at the removal of the
// mark or at the rename.
enum class Source { planted, killedAtUnmark, killedAtRename };

struct Row {
    const char* name;
    Disk disk;
    Source source;
    // The run that meets the file.
    RunKind run;
    std::string temporaryName;
    RunKind killed = RunKind::changing;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

struct State {
    std::string folder;
    bool marked;
    bool locked;
};

bool hasMark(const std::string& path) {
    return getxattr(path.c_str(), markName, nullptr, 0) >= 0;
}

bool setMark(const std::string& path) {
    const std::string value = "tagsnip pid 1 started 0 run 0000000000000000";
    return setxattr(path.c_str(), markName, value.data(), value.size(), 0) == 0;
}

struct LeftoverCase : ::testing::TestWithParam<Row> {
    test::TempDir dir;
    test::TempDir output;
    std::string tree = dir / "tree/";
    std::string keep = dir / "keep";
    std::unique_ptr<Mount> mount;
    std::vector<Mp3File> songs;
    std::vector<int> locks;

    void TearDown() override {
        for (const int fd : locks) {
            close(fd);
        }
    }

    // Why the row cannot run here, or "".
    std::string prepareDisk() {
        test::makeDirectory(tree);
        const Disk disk = GetParam().disk;
        if (disk == Disk::xattrs) {
            test::writeFile(tree + "probe", "");
            const bool holds = setMark(tree + "probe");
            unlink((tree + "probe").c_str());
            return holds ? "" : "the test folder holds no user extended attributes";
        }
        if (!runningAsRoot()) {
            return "needs root to mount an image";
        }
        mount = std::make_unique<Mount>(tree);
        const bool mounted = disk == Disk::fat
                                 ? mountImage(*mount, dir / "fat.img", "mkfs.vfat -F 32",
                                              "fusefat -o rw+", tree, false)
                                 : mountImage(*mount, dir / "exfat.img", "mkfs.exfat",
                                              "mount.exfat-fuse", tree, true);
        return mounted ? "" : "needs dosfstools and fusefat, or exfatprogs and exfat-fuse";
    }

    std::vector<State> states() const {
        if (GetParam().disk != Disk::xattrs) {
            return {{"unmarked/", false, false}, {"unmarked-locked/", false, true}};
        }
        return {{"marked/", true, false},
                {"unmarked/", false, false},
                {"marked-locked/", true, true},
                {"unmarked-locked/", false, true}};
    }

    // mkdir alone, as FAT takes no chmod.
    void addSong(const std::string& folder) {
        ASSERT_EQ(mkdir((tree + folder).c_str(), 0755), 0) << folder;
        songs.push_back(makeMp3(tree + folder + "song.mp3", Tags::both, 20'000,
                                static_cast<unsigned>(songs.size() + 1)));
        writeOriginal(songs.back());
    }

    void plant(const std::string& path, bool marked, bool locked) {
        test::writeFile(path, "half a copy", 0600);
        if (marked) {
            ASSERT_TRUE(setMark(path));
        }
        if (locked) {
            locks.push_back(open(path.c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_EQ(flock(locks.back(), LOCK_EX | LOCK_NB), 0);
        }
    }

    // Links, folders and other users' files under such names are never ours, marked or not, and
    // pass without a word.
    void plantOthers() {
        addSong("others/");
        const std::string folder = tree + "others/";
        test::writeFile(dir / "victim.txt", "precious");
        ASSERT_EQ(symlink((dir / "victim.txt").c_str(), (folder + "ID3_TEMP.$$$.1-1").c_str()), 0);
        test::makeDirectory(folder + "ID3_TEMP.$$$.1-2");
        for (const bool marked : {false, true}) {
            const std::string path = folder + (marked ? "ID3_TEMP.$$$.1-4" : "ID3_TEMP.$$$.1-3");
            if (runningAsRoot()) {
                plant(path, marked, false);
                ASSERT_EQ(lchown(path.c_str(), 4242, 4242), 0);
            }
        }
    }

    void keepRun() {
        const CliResult kept =
            runCli({"-s", "-t1", "-t2", "-m", "--keep-removed", keep, tree}, output.path());
        ASSERT_EQ(kept.exitCode, 0) << kept.err;
    }

    std::vector<std::string> arguments(RunKind run) const {
        switch (run) {
            case RunKind::changing:
                return {"-s", "-t1", "-t2", "-m", tree};
            case RunKind::reportOnly:
                return {"-s", tree};
            default:
                return {"--restore", keep + "/" + test::listNames(keep)};
        }
    }

    // Whether the run removes a file of a temporary name, and whether it says that it is not ours.
    bool goes(bool marked, bool locked) const {
        return !locked && (marked || GetParam().disk != Disk::xattrs);
    }
    bool reported(bool marked, bool locked) const {
        return !locked && !marked && GetParam().disk == Disk::xattrs;
    }

    void expectMet(const CliResult& result, const std::string& folder, bool marked, bool locked) {
        const std::string path = tree + folder + GetParam().temporaryName;
        EXPECT_EQ(test::exists(path), !goes(marked, locked)) << path;
        EXPECT_EQ(linesContaining(result.err, {"Removed 1 temporary file(s) left by an "
                                               "interrupted run in " +
                                               tree + folder}),
                  goes(marked, locked) ? 1 : 0)
            << result.err;
        EXPECT_EQ(linesContaining(result.err, {path + notOurs}), reported(marked, locked) ? 1 : 0)
            << result.err;
    }

    // By their bytes: FAT has no modes of its own.
    void expectSongs(bool stripped) {
        for (const Mp3File& song : songs) {
            EXPECT_TRUE(test::readFile(song.path) == (stripped ? song.stripped : song.original))
                << song.path;
            if (GetParam().disk == Disk::xattrs) {
                EXPECT_FALSE(hasMark(song.path)) << song.path;
            }
        }
    }
};

TEST_P(LeftoverCase, OnlyOursGoAndAStrangerIsNamed) {
    const Row& row = GetParam();
    if (const std::string skip = prepareDisk(); !skip.empty()) {
        GTEST_SKIP() << skip;
    }
    if (row.source == Source::planted) {
        for (const State& state : states()) {
            addSong(state.folder);
        }
        if (row.disk == Disk::xattrs) {
            plantOthers();
        }
        if (row.run == RunKind::restore) {
            keepRun();
        }
        for (const State& state : states()) {
            plant(tree + state.folder + row.temporaryName, state.marked, state.locked);
        }
        const CliResult result = runCli(arguments(row.run), output.path());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        int lines = 0;
        for (const State& state : states()) {
            expectMet(result, state.folder, state.marked, state.locked);
            lines += goes(state.marked, state.locked) || reported(state.marked, state.locked);
        }
        EXPECT_EQ(linesContaining(result.err, {""}), lines) << result.err;
        expectSongs(row.run == RunKind::changing);
        if (row.disk == Disk::xattrs) {
            EXPECT_EQ(test::readFile(dir / "victim.txt"), "precious");
            const std::string foreign = runningAsRoot() ? "ID3_TEMP.$$$.1-3 ID3_TEMP.$$$.1-4 " : "";
            EXPECT_EQ(test::listNames(tree + "others/"),
                      "ID3_TEMP.$$$.1-1 ID3_TEMP.$$$.1-2 " + foreign + "song.mp3");
        }
        return;
    }

    if (std::system((std::string(strace) + " -o /dev/null true >/dev/null 2>&1").c_str()) != 0) {
        GTEST_SKIP() << "needs strace that may trace here";
    }
    // One file to replace, so that the tracer's first stop is in its replacement.
    const bool restoreKilled = row.killed == RunKind::restore;
    if (restoreKilled) {
        test::writeFile(tree + "list.m3u", playlist);
        keepRun();
    } else {
        songs.push_back(makeMp3(tree + "song.mp3", Tags::both, 20'000, 1));
        writeOriginal(songs.back());
    }
    const std::string cleaned = restoreKilled ? test::readFile(tree + "list.m3u") : "";
    const std::string call =
        row.source == Source::killedAtUnmark ? "fremovexattr" : "renameat,renameat2";
    const CliResult killed =
        runCli(arguments(row.killed), output.path(), std::nullopt, std::nullopt,
               {strace, "-f", "-o", "/dev/null", "-e", "trace=" + call, "-e",
                "inject=" + call + ":signal=KILL:when=1"});
    ASSERT_EQ(killed.exitCode, 128 + SIGKILL) << killed.err;
    const std::string leftover = tree + row.temporaryName;
    ASSERT_TRUE(test::exists(leftover)) << test::listNames(tree);
    const bool marked = row.source == Source::killedAtUnmark;
    if (row.disk == Disk::xattrs) {
        EXPECT_EQ(hasMark(leftover), marked);
    }

    const CliResult result = runCli(arguments(row.run), output.path());
    EXPECT_EQ(result.exitCode, 0) << result.err;
    expectMet(result, "", marked, false);
    if (restoreKilled) {
        EXPECT_EQ(test::readFile(tree + "list.m3u"),
                  row.run == RunKind::restore ? playlist : cleaned);
    } else {
        expectSongs(row.run == RunKind::changing);
    }
}

const Row rows[] = {
    {"StripLeavesUnmarked", Disk::xattrs, Source::planted, RunKind::changing, "ID3_TEMP.$$$"},
    {"StripLeavesUnmarkedPidForm", Disk::xattrs, Source::planted, RunKind::changing,
     "PLAYLIST_TEMP.$$$.123-4"},
    {"ReportOnlyRemovesMarked", Disk::xattrs, Source::planted, RunKind::reportOnly,
     "PLAYLIST_TEMP.$$$"},
    {"ReportOnlyRemovesMarkedPidForm", Disk::xattrs, Source::planted, RunKind::reportOnly,
     "ID3_TEMP.$$$.4242-0"},
    {"RestoreRemovesMarked", Disk::xattrs, Source::planted, RunKind::restore, "ID3_TEMP.$$$"},
    {"RestoreRemovesMarkedPidForm", Disk::xattrs, Source::planted, RunKind::restore,
     "PLAYLIST_TEMP.$$$.123-4"},
    // Where no mark can be held, the name, the owner and the lock decide, for every kind of run.
    {"FatReportOnlyRemovesByName", Disk::fat, Source::planted, RunKind::reportOnly,
     "PLAYLIST_TEMP.$$$.123-4"},
    {"FatRestoreRemovesByName", Disk::fat, Source::planted, RunKind::restore, "ID3_TEMP.$$$"},
    {"StripKilledMarkedThenReportOnly", Disk::xattrs, Source::killedAtUnmark, RunKind::reportOnly,
     "ID3_TEMP.$$$"},
    {"StripKilledAtRenameThenStrip", Disk::xattrs, Source::killedAtRename, RunKind::changing,
     "ID3_TEMP.$$$"},
    {"RestoreKilledMarkedThenRestore", Disk::xattrs, Source::killedAtUnmark, RunKind::restore,
     "PLAYLIST_TEMP.$$$", RunKind::restore},
    {"ExfatRestoreKilledThenRestore", Disk::exfat, Source::killedAtRename, RunKind::restore,
     "PLAYLIST_TEMP.$$$", RunKind::restore},
    {"ExfatRestoreKilledThenReportOnly", Disk::exfat, Source::killedAtRename, RunKind::reportOnly,
     "PLAYLIST_TEMP.$$$", RunKind::restore},
};

INSTANTIATE_TEST_SUITE_P(Leftovers, LeftoverCase, ::testing::ValuesIn(rows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::fault
