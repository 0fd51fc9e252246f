#include "engine/replacement_batch.h"

#include "engine_fixture.h"
#include "support/mp3_bytes.h"
#include "support/temp_dir.h"

#include <linux/fs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tagsnip::test {
namespace {

// Logs each flush round and fails every directory flush.
class RoundLoggingFileSystem final : public FileSystem {
public:
    std::vector<std::string> rounds;

    void syncTogether(const std::vector<int>& files, const std::vector<int>& directories,
                      std::vector<std::error_code>& errors) override {
        rounds.push_back(std::to_string(files.size()) + " files, " +
                         std::to_string(directories.size()) + " folders");
        FileSystem::syncTogether(files, directories, errors);
        std::fill(errors.begin() + static_cast<std::ptrdiff_t>(files.size()), errors.end(),
                  std::make_error_code(std::errc::io_error));
    }
};

// A batch's renames are made to last by the next batch's flush, or by settle() after the last:
// one flush round per batch. A folder whose flush fails is named when that round comes.
class ReplacementBatchTest : public ::testing::Test {
protected:
    TempDir dir;
    RoundLoggingFileSystem fileSystem;
    ReplacementBatch batch{fileSystem, {}};
    std::vector<std::string> failures;

    ReplacementBatch::FailureReport report() {
        return [this](const std::string& path, const char* tag, const AtomicReplacement::Failure&) {
            failures.push_back(path + (tag == nullptr ? " (folder)" : ""));
        };
    }

    // Queues new content for folder/name, which exists with other content.
    void queue(const std::string& folder, const std::string& name) {
        makeDirectory(dir / folder);
        writeFile(dir / (folder + "/" + name), "old");
        FileStatus folderStatus;
        FileStatus status;
        int folderFd = -1;
        int fd = -1;
        ASSERT_FALSE(fileSystem.openStartDirectory(dir / folder, folderFd, folderStatus));
        ASSERT_FALSE(fileSystem.openAt(folderFd, name, false, fd, status));
        const std::string path = dir / (folder + "/" + name);
        int batchFolder = -1;
        ASSERT_FALSE(batch.directoryOf({folderFd, name, path, &folderStatus}, batchFolder));
        fileSystem.close(folderFd);
        auto replacement = std::make_unique<AtomicReplacement>(fileSystem, batchFolder, name,
                                                               "ID3_TEMP.$$$", fd, status);
        replacement->keepOriginalOpen();
        AtomicReplacement::Failure failure;
        ASSERT_TRUE(replacement->create(failure));
        ASSERT_FALSE(fileSystem.write(replacement->fd(), "new", 3, 0));
        ASSERT_TRUE(replacement->finish(failure));
        batch.add(std::move(replacement), batchFolder, path, "ID3v2", 3);
    }
};

TEST_F(ReplacementBatchTest, EachBatchFlushesTheFoldersTheLastOneRenamedInto) {
    queue("one", "a.mp3");
    ASSERT_FALSE(batch.commit(report()));
    EXPECT_EQ(readFile(dir / "one/a.mp3"), "new");
    queue("two", "b.mp3");
    ASSERT_FALSE(batch.commit(report()));
    EXPECT_EQ(readFile(dir / "two/b.mp3"), "new");
    EXPECT_EQ(failures, std::vector<std::string>{dir / "one/ (folder)"});
    batch.settle(report());
    EXPECT_EQ(failures, (std::vector<std::string>{dir / "one/ (folder)", dir / "two/ (folder)"}));
    batch.settle(report());
    EXPECT_EQ(fileSystem.rounds,
              (std::vector<std::string>{"1 files, 0 folders", "1 files, 1 folders",
                                        "0 files, 1 folders"}));
}

// A default ACL in the kernel's xattr form that a new file turns into an access ACL of its own:
// owner rwx, user 4242 r, owning group r-x, mask r-x, others r-x.
std::string defaultAcl() {
    struct Entry {
        std::uint16_t tag;
        std::uint16_t permissions;
        std::uint32_t id;
    };
    constexpr std::uint32_t undefined = 0xffffffff;
    const Entry entries[] = {
        {0x01, 7, undefined}, {0x02, 4, 4242},      {0x04, 5, undefined},
        {0x10, 5, undefined}, {0x20, 5, undefined},
    };
    const std::uint32_t version = 2;
    std::string bytes(reinterpret_cast<const char*>(&version), sizeof version);
    bytes.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return bytes;
}

// Another program changes the folder once the first new file waits in the batch.
class FolderChangedMidBatch final : public FileSystem {
public:
    explicit FolderChangedMidBatch(std::function<void()> change) : m_change(std::move(change)) {}
    void startWriteback(int fd) override {
        FileSystem::startWriteback(fd);
        if (const auto change = std::exchange(m_change, nullptr)) {
            change();
        }
    }

private:
    std::function<void()> m_change;
};

struct FolderChange {
    const char* name;
    bool needsRoot;
    // false where the file system refuses the change.
    std::function<bool(const std::string& folder)> change;
    std::function<void(const std::string& folder)> undo;
    // Both files must stay as they were, each refused for the folder's flags.
    bool refused;
};

void PrintTo(const FolderChange& row, std::ostream* out) {
    *out << row.name;
}

class FolderChangeTest : public EngineTest, public ::testing::WithParamInterface<FolderChange> {};

// The replacements of one folder take its flags and what it gives new files from the first of
// them; a folder changed while they wait must neither keep a copy beside its files nor give a
// file an ACL that its original lacked.
TEST_P(FolderChangeTest, NoCopyIsLeftOrGivenWhatItsOriginalLacked) {
    const FolderChange& row = GetParam();
    if (row.needsRoot && geteuid() != 0) {
        GTEST_SKIP() << "needs root to change inode flags";
    }
    const std::string audio = mpegAudio(20);
    const std::string original = id3v2Tag(40) + audio;
    writeFile(dir / "a.mp3", original);
    writeFile(dir / "b.mp3", original);
    bool changed = false;
    useFileSystem(
        std::make_unique<FolderChangedMidBatch>([&] { changed = row.change(dir.path()); }));
    host.set(JobSwitch::remove2, true);
    run();
    row.undo(dir.path());
    if (!changed) {
        GTEST_SKIP() << "the file system here refuses the change";
    }
    EXPECT_EQ(listNames(dir.path()), "a.mp3 b.mp3");
    std::vector<std::string> refused;
    for (const char* name : {"a.mp3", "b.mp3"}) {
        const std::string bytes = readFile(dir / name);
        EXPECT_TRUE(bytes == original || bytes == audio) << name;
        EXPECT_LT(getxattr((dir / name).c_str(), "system.posix_acl_access", nullptr, 0), 0) << name;
        if (row.refused) {
            EXPECT_EQ(bytes, original) << name;
            // The words of the folder's lock in this wording.
            refused.push_back("Could not create " + dir / "ID3_TEMP.$$$" +
                              " - ID3v2 Tag not removed!");
        }
    }
    if (row.refused) {
        EXPECT_EQ(host.errors, refused);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, FolderChangeTest,
    ::testing::Values(
        FolderChange{"AppendOnly", true,
                     [](const auto& f) { return setInodeFlag(f, FS_APPEND_FL, true); },
                     [](const auto& f) { setInodeFlag(f, FS_APPEND_FL, false); }, true},
        FolderChange{"Immutable", true,
                     [](const auto& f) { return setInodeFlag(f, FS_IMMUTABLE_FL, true); },
                     [](const auto& f) { setInodeFlag(f, FS_IMMUTABLE_FL, false); }, true},
        FolderChange{"DefaultAcl", false,
                     [](const auto& f) {
                         const std::string acl = defaultAcl();
                         return setxattr(f.c_str(), "system.posix_acl_default", acl.data(),
                                         acl.size(), 0) == 0;
                     },
                     [](const auto&) {}, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::test
