#include "undo/removed_bytes_keeper.h"
#include "undo/restore_run.h"

#include "support/mp3_bytes.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>

namespace tagsnip::undo {
namespace {

using test::readFile;
using test::writeFile;

const char* const outcomeNames[] = {"restored", "alreadyOriginal", "changed", "missing", "failed"};

}  // namespace

void PrintTo(RestoreOutcome outcome, std::ostream* out) {
    *out << outcomeNames[static_cast<int>(outcome)];
}

namespace {

// What befalls a restore's batch as it commits.
enum class AtCommit { nothing, flushFails, reTagged, folderFlushFails, recordedTwice };

// Fails writes to the data file while full is set, as a full disk would; records a restore's
// batches and makes atCommit happen to them.
class FillingFileSystem final : public FileSystem {
public:
    bool full = false;
    bool refuseCreate = false;
    AtCommit atCommit = AtCommit::nothing;
    // Opened for writing by another program as its batch is flushed, before the renames.
    std::string reTagged;
    std::vector<std::size_t> batchSizes;
    int directoryFlushes = 0;
    std::vector<std::string> openedNames;

    std::error_code openAt(int directory, const std::string& name, bool writable, int& fd,
                           FileStatus& status) override {
        openedNames.push_back(name);
        return FileSystem::openAt(directory, name, writable, fd, status);
    }

    std::error_code syncDirectory(int fd) override {
        ++directoryFlushes;
        return FileSystem::syncDirectory(fd);
    }

    // A restore's batch flushes its files before the renames, then its folders after them, the
    // MP3's first.
    void syncTogether(const std::vector<int>& files, const std::vector<int>& directories,
                      std::vector<std::error_code>& errors) override {
        if (!files.empty()) {
            batchSizes.push_back(files.size());
        }
        if (!files.empty() && atCommit == AtCommit::reTagged) {
            writeFile(reTagged, "re-tagged");
        }
        FileSystem::syncTogether(files, directories, errors);
        if (!files.empty() && atCommit == AtCommit::flushFails) {
            errors.front() = std::make_error_code(std::errc::no_space_on_device);
        }
        if (!directories.empty() &&
            std::exchange(atCommit, AtCommit::nothing) == AtCommit::folderFlushFails) {
            errors[files.size()] = std::make_error_code(std::errc::io_error);
        }
    }

    std::error_code write(int fd, const void* data, std::size_t length,
                          std::uint64_t offset) override {
        if (full && offset > 0) {
            (void)FileSystem::write(fd, data, length / 2, offset);
            return std::make_error_code(std::errc::no_space_on_device);
        }
        return FileSystem::write(fd, data, length, offset);
    }
    std::error_code createTemporary(int directory, const std::string& fallbackName,
                                    mode_t unnamedMode, int& fd, bool& named) override {
        return refuseCreate
                   ? std::make_error_code(std::errc::permission_denied)
                   : FileSystem::createTemporary(directory, fallbackName, unnamedMode, fd, named);
    }
};

// Public: the restore scenarios act on the fixture from outside.
class KeepTest : public ::testing::Test {
public:
    KeepTest() {
        test::makeDirectory(dir / "music");
        test::makeDirectory(dir / "music/Album");
        test::makeDirectory(dir / "keep");
        writeFile(mp3Path(), original);
        writeFile(dir / "music/car.m3u", playlist);
    }

    std::string mp3Path() const { return dir / "music/Album/01 Track.mp3"; }
    std::string stripped() const { return original.substr(v2.size(), audio.size()); }

    std::unique_ptr<RemovedBytesKeeper> openKeeper(const std::string& keep) {
        std::string message;
        auto keeper = RemovedBytesKeeper::open(fileSystem, keep, dir / "music", message);
        EXPECT_EQ(keeper == nullptr, !message.empty()) << message;
        return keeper;
    }

    std::error_code keepMp3(RemovedBytesKeeper& keeper) {
        const int fd = ::open(mp3Path().c_str(), O_RDONLY | O_CLOEXEC);
        const std::vector<ByteRange> ranges{{0, v2.size()}, {original.size() - 128, 128}};
        const auto error = keeper.keepMp3(fd, "Album/01 Track.mp3", original.size(), ranges);
        ::close(fd);
        return error;
    }

    // Keeps both files and strips them as a run would.
    std::string keepAndStrip() {
        auto keeper = openKeeper(dir / "keep");
        EXPECT_FALSE(keepMp3(*keeper));
        EXPECT_FALSE(keeper->keepPlaylist("car.m3u", playlist, "a.mp3\n"));
        EXPECT_FALSE(keeper->flush());
        writeFile(mp3Path(), stripped());
        writeFile(dir / "music/car.m3u", "a.mp3\n");
        return keeper->runPath();
    }

    test::TempDir dir;
    FillingFileSystem fileSystem;
    const std::string v2 = test::id3v2Tag(2000);
    const std::string audio = test::mpegAudio(40);
    const std::string original = v2 + audio + test::id3v1Tag("Kept");
    const std::string playlist = "#EXTM3U\n#EXTINF:1,A\na.mp3\n";
};

struct Scenario {
    const char* name;
    std::function<void(KeepTest&, const std::string& run)> between;
    RestoreOutcome outcome;
    // What the MP3 holds afterwards: "original", "stripped", or the bytes themselves.
    std::string content;
};

void PrintTo(const Scenario& scenario, std::ostream* out) {
    *out << scenario.name;
}

class RestoreTest : public KeepTest, public ::testing::WithParamInterface<Scenario> {};

TEST_P(RestoreTest, RestoresOnlyWhatIsAsTheRunLeftIt) {
    const Scenario& scenario = GetParam();
    const std::string run = keepAndStrip();
    scenario.between(*this, run);

    const RestoreReport report = restoreRun(fileSystem, run);
    ASSERT_EQ(report.error, "");
    ASSERT_EQ(report.results.size(), 2u);
    const RestoreResult& mp3 = report.results[0];
    EXPECT_EQ(mp3.path, dir / "music/Album/01 Track.mp3");
    EXPECT_EQ(mp3.outcome, scenario.outcome) << mp3.message;
    // The playlist is restored alongside; on the second restore it too is already original.
    EXPECT_EQ(report.results[1].outcome, scenario.outcome == RestoreOutcome::alreadyOriginal
                                             ? RestoreOutcome::alreadyOriginal
                                             : RestoreOutcome::restored);
    EXPECT_EQ(readFile(dir / "music/car.m3u"), playlist);
    const bool restored = scenario.outcome == RestoreOutcome::restored ||
                          scenario.outcome == RestoreOutcome::alreadyOriginal;
    EXPECT_EQ(report.allRestored(), restored);
    EXPECT_EQ(mp3.message.empty(), restored);
    const std::string expected = scenario.content == "original"   ? original
                                 : scenario.content == "stripped" ? stripped()
                                                                  : scenario.content;
    const bool missing = scenario.outcome == RestoreOutcome::missing;
    EXPECT_EQ(test::listNames(dir / "music/Album"), missing ? "" : "01 Track.mp3");
    if (!missing) {
        EXPECT_TRUE(readFile(mp3Path()) == expected);
    }
}

void corruptKeptByte(const std::string& run) {
    std::string data = readFile(run + "/kept.data");
    data[100] ^= 1;
    writeFile(run + "/kept.data", data);
}

INSTANTIATE_TEST_SUITE_P(
    Decisions, RestoreTest,
    ::testing::Values(
        Scenario{"restored", [](KeepTest&, const std::string&) {}, RestoreOutcome::restored,
                 "original"},
        Scenario{"secondRestore",
                 [](KeepTest& test, const std::string& run) {
                     ASSERT_TRUE(restoreRun(test.fileSystem, run).allRestored());
                 },
                 RestoreOutcome::alreadyOriginal, "original"},
        Scenario{"changedSince",
                 [](KeepTest& test, const std::string&) {
                     writeFile(test.mp3Path(), "re-tagged by someone else");
                 },
                 RestoreOutcome::changed, "re-tagged by someone else"},
        Scenario{"deleted",
                 [](KeepTest& test, const std::string&) { ::unlink(test.mp3Path().c_str()); },
                 RestoreOutcome::missing, ""},
        // Found through the link, the file would look untouched: the link is never followed.
        Scenario{"folderReplacedByLink",
                 [](KeepTest& test, const std::string&) {
                     ::rename((test.dir / "music/Album").c_str(), (test.dir / "moved").c_str());
                     ::symlink((test.dir / "moved").c_str(), (test.dir / "music/Album").c_str());
                 },
                 RestoreOutcome::changed, "stripped"},
        Scenario{"keptBytesCorrupted",
                 [](KeepTest&, const std::string& run) { corruptKeptByte(run); },
                 RestoreOutcome::failed, "stripped"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BatchCase {
    AtCommit event;
    // One per manifest record, in its order: the MP3's first, the playlist's last.
    std::vector<RestoreOutcome> outcomes;
    bool mp3Original;
    std::vector<std::size_t> batchSizes;
    const char* mp3Message = "";
};

class BatchedRestoreTest : public KeepTest, public ::testing::WithParamInterface<BatchCase> {};

// A queued file's outcome is settled when its batch commits: each file is told what befell it
// there, in the manifest's order, and the others are restored regardless.
TEST_P(BatchedRestoreTest, FlushesTogetherAndTellsEachFileItsOutcomeAfterTheCommit) {
    const BatchCase& row = GetParam();
    const std::string run = keepAndStrip();
    // Only the restore's flushes count.
    fileSystem.batchSizes.clear();
    if (row.event == AtCommit::recordedTwice) {
        std::string manifest = readFile(run + "/manifest.txt");
        const std::size_t mp3 = manifest.find('\n') + 1;
        manifest.insert(mp3, manifest.substr(mp3, manifest.find('\n', mp3) + 1 - mp3));
        writeFile(run + "/manifest.txt", manifest);
    }
    fileSystem.atCommit = row.event;
    fileSystem.reTagged = mp3Path();

    const RestoreReport report = restoreRun(fileSystem, run);
    std::vector<RestoreOutcome> outcomes;
    for (const RestoreResult& result : report.results) {
        outcomes.push_back(result.outcome);
    }
    ASSERT_EQ(outcomes, row.outcomes) << report.error;
    // The row names the file; the message begins with the cause.
    EXPECT_TRUE(report.results[0].message.starts_with(row.mp3Message)) << report.results[0].message;
    EXPECT_EQ(readFile(mp3Path()) == original, row.mp3Original);
    // Flushed in batches, never file by file.
    EXPECT_EQ(fileSystem.batchSizes, row.batchSizes);
}

using enum RestoreOutcome;

INSTANTIATE_TEST_SUITE_P(
    Commit, BatchedRestoreTest,
    ::testing::Values(
        BatchCase{AtCommit::nothing, {restored, restored}, true, {2}},
        BatchCase{AtCommit::flushFails,
                  {failed, restored},
                  false,
                  {2},
                  "No space left on device, left alone"},
        // Its lease gives way.
        BatchCase{AtCommit::reTagged, {failed, restored}, false, {2}, "in use by another program"},
        // Renamed, but not durably: not counted as restored.
        BatchCase{AtCommit::folderFlushFails, {failed, restored}, true, {2}, "restored, but its"},
        // The second record waits for the first's rename, and finds the file back as before.
        BatchCase{AtCommit::recordedTwice, {restored, alreadyOriginal, restored}, true, {1, 1}}));

// A stop between two records commits what is queued and leaves the rest as the run left it, for
// a later restore to finish.
TEST_F(KeepTest, AStoppedRestoreFinishesWhatItBeganAndALaterOneTheRest) {
    const std::string run = keepAndStrip();
    int asked = 0;
    const RestoreReport stopped = restoreRun(fileSystem, run, [&] { return ++asked > 1; });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_FALSE(stopped.allRestored());
    ASSERT_EQ(stopped.results.size(), 1u);
    EXPECT_EQ(stopped.results[0].outcome, RestoreOutcome::restored);
    EXPECT_TRUE(readFile(mp3Path()) == original);
    EXPECT_EQ(readFile(dir / "music/car.m3u"), "a.mp3\n");

    EXPECT_TRUE(restoreRun(fileSystem, run).allRestored());
    EXPECT_EQ(readFile(dir / "music/car.m3u"), playlist);
}

// Each folder made on the way holds its name durably before anything is kept in it.
TEST_F(KeepTest, MissingKeepFoldersAreMadeAndTheirParentsFlushed) {
    ASSERT_TRUE(openKeeper(dir / "keep/a/b"));
    EXPECT_EQ(fileSystem.directoryFlushes, 2);
    EXPECT_EQ(test::listNames(dir / "keep/a"), "b");
}

// A folder of the tree, however it is reached: through the tree, a link, or a bind mount of it
// outside the tree, or an outside folder that a bind mount shows inside the tree.
struct KeepPlace {
    const char* name;
    // Binds the first of the pair (relative to the test folder) onto the second, before the run.
    std::optional<std::pair<const char*, const char*>> bind;
    const char* keep;
    bool refused;
};

void PrintTo(const KeepPlace& place, std::ostream* out) {
    *out << place.name;
}

class KeepPlaceTest : public KeepTest, public ::testing::WithParamInterface<KeepPlace> {
public:
    ~KeepPlaceTest() override {
        if (!m_mountPoint.empty()) {
            ::umount2(m_mountPoint.c_str(), MNT_DETACH);
        }
    }

    bool bind(const std::string& from, const std::string& onto) {
        test::makeDirectory(onto);
        if (::mount(from.c_str(), onto.c_str(), nullptr, MS_BIND, nullptr) != 0) {
            return false;
        }
        m_mountPoint = onto;
        return true;
    }

private:
    std::string m_mountPoint;
};

TEST_P(KeepPlaceTest, RefusesAKeepFolderInsideTheTreeHoweverReached) {
    const KeepPlace& place = GetParam();
    test::makeDirectory(dir / "outside");
    ASSERT_EQ(::symlink((dir / "music/Album").c_str(), (dir / "link").c_str()), 0);
    if (place.bind && !bind(dir / place.bind->first, dir / place.bind->second)) {
        GTEST_SKIP() << "needs a bind mount, which takes root: " << std::strerror(errno);
    }
    const std::string musicBefore = test::listNames(dir / "music");
    const std::string albumBefore = test::listNames(dir / "music/Album");
    std::string message;
    const auto keeper =
        RemovedBytesKeeper::open(fileSystem, dir / place.keep, dir / "music", message);
    EXPECT_EQ(keeper == nullptr, place.refused) << message;
    if (place.refused) {
        EXPECT_NE(message.find("lies inside the folder being cleaned"), std::string::npos)
            << message;
        EXPECT_EQ(test::listNames(dir / "music"), musicBefore);
        EXPECT_EQ(test::listNames(dir / "music/Album"), albumBefore);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Places, KeepPlaceTest,
    ::testing::Values(KeepPlace{"TheTree", std::nullopt, "music", true},
                      KeepPlace{"ItsFolder", std::nullopt, "music/Album", true},
                      KeepPlace{"ALinkToItsFolder", std::nullopt, "link", true},
                      KeepPlace{"AMissingFolderInIt", std::nullopt, "music/new/keep", true},
                      KeepPlace{"ItsFolderBoundOutside", std::pair{"music/Album", "outside/mnt"},
                                "outside/mnt/keep", true},
                      KeepPlace{"TheTreeBoundOutside", std::pair{"music", "outside/mnt"},
                                "outside/mnt", true},
                      KeepPlace{"AnOutsideFolderBoundIntoIt",
                                std::pair{"outside", "music/Album/mnt"}, "outside/keep", true},
                      KeepPlace{"AnOutsideFolder", std::nullopt, "outside/keep", false},
                      KeepPlace{"AnOutsideFolderBesideABoundOne",
                                std::pair{"music/Album", "outside/mnt"}, "outside/keep", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(KeepTest, AnUnwritableKeepFolderFailsAtOpeningAndLeavesNothing) {
    fileSystem.refuseCreate = true;
    std::string message;
    EXPECT_EQ(RemovedBytesKeeper::open(fileSystem, dir / "keep", dir / "music", message), nullptr);
    EXPECT_NE(message.find("Permission denied"), std::string::npos) << message;
    EXPECT_EQ(test::listNames(dir / "keep"), "");
    fileSystem.refuseCreate = false;
    EXPECT_NE(RemovedBytesKeeper::open(fileSystem, dir / "absent/keep", dir / "music", message),
              nullptr)
        << message;
}

TEST_F(KeepTest, AFullDiskKeepsNeitherBytesNorRecordOfThatFile) {
    auto keeper = openKeeper(dir / "keep");
    const std::string run = keeper->runPath();
    const std::string header = readFile(run + "/manifest.txt");
    fileSystem.full = true;
    EXPECT_FALSE(keepMp3(*keeper));
    EXPECT_EQ(keeper->flush(), std::errc::no_space_on_device);
    EXPECT_EQ(keeper->writeOut(), std::errc::no_space_on_device);
    EXPECT_FALSE(keeper->writeOut());
    EXPECT_EQ(readFile(run + "/manifest.txt"), header);
    EXPECT_EQ(readFile(run + "/kept.data"), "");

    fileSystem.full = false;
    ASSERT_FALSE(keepMp3(*keeper));
    ASSERT_FALSE(keeper->flush());
    EXPECT_TRUE(readFile(run + "/kept.data") == v2 + original.substr(original.size() - 128));
    writeFile(mp3Path(), stripped());
    const RestoreReport report = restoreRun(fileSystem, run);
    ASSERT_EQ(report.results.size(), 1u);
    EXPECT_EQ(report.results[0].outcome, RestoreOutcome::restored) << report.results[0].message;
    EXPECT_TRUE(readFile(mp3Path()) == original);
}

constexpr uid_t nobody = 65534;

// Changes what keepAndStrip left; gives the run folder to restore.
using Prepare = std::function<std::string(KeepTest&, const std::string& run)>;

struct Distrust {
    const char* name;
    Prepare prepare;
    // In the refusal, or in the MP3's message where the rest is restored.
    std::string message;
    bool refused = true;
    bool needsRoot = false;
    // Restored by nobody rather than by root.
    bool asNobody = false;
};

void PrintTo(const Distrust& row, std::ostream* out) {
    *out << row.name;
}

Prepare changeMode(std::string name, mode_t mode) {
    return [=](KeepTest&, const std::string& run) {
        ::chmod((run + name).c_str(), mode);
        return run;
    };
}

Prepare giveToNobody(std::vector<std::string> names) {
    return [=](KeepTest&, const std::string& run) {
        for (const std::string& name : names) {
            EXPECT_EQ(::chown((run + name).c_str(), nobody, nobody), 0) << name;
        }
        return run;
    };
}

// Puts what plant makes where the MP3 was.
Prepare replaceMp3(std::function<int(KeepTest&, const char* path)> plant) {
    return [=](KeepTest& test, const std::string& run) {
        EXPECT_EQ(::rename(test.mp3Path().c_str(), (test.dir / "moved.mp3").c_str()), 0);
        EXPECT_EQ(plant(test, test.mp3Path().c_str()), 0);
        return run;
    };
}

int bindSocket(const char* path) {
    sockaddr_un address{AF_UNIX, {}};
    std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const int bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
    return bound;
}

// The error of a restore by nobody, in a child so that the tests keep their own user.
std::string errorAsNobody(FileSystem& fileSystem, const std::string& run) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return "no pipe";
    }
    if (::fork() == 0) {
        const bool user =
            ::setresgid(nobody, nobody, nobody) == 0 && ::setresuid(nobody, nobody, nobody) == 0;
        const std::string error = user ? restoreRun(fileSystem, run).error : "still root";
        ::_exit(::write(fds[1], error.data(), error.size()) < 0);
    }
    ::close(fds[1]);
    std::string error;
    char buffer[4096];
    for (ssize_t got = 0; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
        error.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fds[0]);
    ::wait(nullptr);
    return error;
}

class DistrustTest : public KeepTest, public ::testing::WithParamInterface<Distrust> {};

// A refused restore reads nothing into the tree; a file's place taken by something that is not a
// regular file is never opened, and the other files are restored.
TEST_P(DistrustTest, OpensAndChangesNothingItCannotTrust) {
    const Distrust& row = GetParam();
    if (row.needsRoot && ::geteuid() != 0) {
        GTEST_SKIP() << "needs root to change an owner or make a device";
    }
    const std::string run = row.prepare(*this, keepAndStrip());
    struct stat before {};
    ASSERT_EQ(::lstat(mp3Path().c_str(), &before), 0);
    fileSystem.openedNames.clear();
    std::string said = row.asNobody ? errorAsNobody(fileSystem, run) : "";
    if (!row.asNobody) {
        const RestoreReport report = restoreRun(fileSystem, run);
        said = report.error;
        for (const RestoreResult& result : report.results) {
            said += "\n" + result.message;
        }
    }
    EXPECT_NE(said.find(row.message), std::string::npos) << said;
    const auto& opened = fileSystem.openedNames;
    EXPECT_EQ(std::count(opened.begin(), opened.end(), "01 Track.mp3"), 0);
    struct stat after {};
    ASSERT_EQ(::lstat(mp3Path().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    if (S_ISREG(after.st_mode)) {
        EXPECT_TRUE(readFile(mp3Path()) == stripped());
    }
    EXPECT_EQ(readFile(dir / "music/car.m3u"), row.refused ? "a.mp3\n" : playlist);
}

INSTANTIATE_TEST_SUITE_P(
    Trust, DistrustTest,
    ::testing::Values(
        Distrust{"runFolderOfAnotherUser", giveToNobody({""}),
                 " - owned by another user (uid 65534), not trusted for a restore", true, true},
        Distrust{"runFolderWritableByAll", changeMode("", 0777),
                 " - writable by other users, not trusted for a restore"},
        Distrust{"manifestOfAnotherUser", giveToNobody({"/manifest.txt"}),
                 "manifest.txt - owned by another user (uid 65534)", true, true},
        Distrust{"dataWritableByGroup", changeMode("/kept.data", 0664),
                 "kept.data - writable by its group, not trusted for a restore"},
        Distrust{"manifestALink",
                 [](KeepTest&, const std::string& run) {
                     ::rename((run + "/manifest.txt").c_str(), (run + "/real.txt").c_str());
                     ::symlink("real.txt", (run + "/manifest.txt").c_str());
                     return run;
                 },
                 "manifest.txt - a symbolic link, not trusted for a restore"},
        Distrust{"dataHardLinked",
                 [](KeepTest& test, const std::string& run) {
                     ::link((run + "/kept.data").c_str(), (test.dir / "secret").c_str());
                     return run;
                 },
                 "kept.data - has 2 names (hard links), not trusted for a restore"},
        // Another user's copy of the run, left in a folder anyone may write.
        Distrust{"forgedByAnotherUser",
                 [](KeepTest& test, const std::string& run) {
                     test::makeDirectory(test.dir / "drop", 0777);
                     test::makeDirectory(test.dir / "drop/run", 0700);
                     for (const char* name : {"/manifest.txt", "/kept.data"}) {
                         writeFile(test.dir / "drop/run" + name, readFile(run + name), 0600);
                     }
                     return giveToNobody({"", "/run", "/run/manifest.txt", "/run/kept.data"})(
                                test, test.dir / "drop") +
                            "/run";
                 },
                 "run - owned by another user (uid 65534), not trusted for a restore", true, true},
        Distrust{"startFolderOfAnotherUser",
                 [](KeepTest& test, const std::string& run) {
                     ::chmod(test.dir.path().c_str(), 0755);
                     return giveToNobody({"", "/manifest.txt", "/kept.data"})(test, run);
                 },
                 "music - owned by another user (uid 0), a restore goes only into folders of "
                 "your own",
                 true, true, true}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Bounds, DistrustTest,
    ::testing::Values(
        Distrust{"sparseManifestOf64GiB",
                 [](KeepTest&, const std::string& run) {
                     EXPECT_EQ(::truncate((run + "/manifest.txt").c_str(), 0), 0);
                     EXPECT_EQ(::truncate((run + "/manifest.txt").c_str(), 64LL << 30), 0);
                     return run;
                 },
                 "manifest.txt:1: line longer than 65536 bytes"},
        Distrust{
            "oneHugeLine",
            [](KeepTest&, const std::string& run) {
                std::string path = "a";
                for (int level = 0; level < 40'000; ++level) {
                    path += "/a";
                }
                const ManifestRecord record{FileKind::mp3, path, 10, {}, 6, {}, {{{0, 4}, {}, 0}}};
                writeFile(run + "/manifest.txt",
                          readFile(run + "/manifest.txt") + recordLine(record), 0600);
                return run;
            },
            "manifest.txt:4: line longer than 65536 bytes"},
        Distrust{"moreRecordsThanKeptBytes",
                 [](KeepTest&, const std::string& run) {
                     EXPECT_EQ(::truncate((run + "/kept.data").c_str(), 1), 0);
                     return run;
                 },
                 "manifest.txt:3: more records than kept.data has bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    NotRegular, DistrustTest,
    ::testing::Values(
        Distrust{"fifo",
                 replaceMp3([](KeepTest&, const char* path) { return ::mkfifo(path, 0644); }),
                 "no longer a regular file, left alone", false},
        Distrust{"characterDevice", replaceMp3([](KeepTest&, const char* path) {
                     return ::mknod(path, S_IFCHR | 0644, makedev(1, 3));
                 }),
                 "no longer a regular file, left alone", false, true},
        Distrust{"socket", replaceMp3([](KeepTest&, const char* path) { return bindSocket(path); }),
                 "no longer a regular file, left alone", false},
        Distrust{"symlink", replaceMp3([](KeepTest& test, const char* path) {
                     return ::symlink((test.dir / "moved.mp3").c_str(), path);
                 }),
                 "no longer a regular file, left alone", false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::undo
