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
// owner rwx, user 4242 r, owning group, mask and others r-x.
std::string defaultAcl() {
    const std::uint32_t words[] = {2,   0x70001, ~0U, 0x40002, 4242, 0x50004,
                                   ~0U, 0x50010, ~0U, 0x50020, ~0U};
    return {reinterpret_cast<const char*>(words), sizeof words};
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

// The inode flag the folder takes; none for a default ACL instead.
struct FolderChange {
    const char* name;
    unsigned flag;
};

class FolderChangeTest : public EngineTest, public ::testing::WithParamInterface<FolderChange> {};

// The replacements of one folder take its flags and what it gives new files from the first of
// them; a folder changed while they wait must neither keep a copy beside its files nor give a
// file an ACL that its original lacked. A locked folder refuses both.
TEST_P(FolderChangeTest, NoCopyIsLeftOrGivenWhatItsOriginalLacked) {
    const unsigned flag = GetParam().flag;
    if (flag != 0 && geteuid() != 0) {
        GTEST_SKIP() << "needs root to change inode flags";
    }
    const std::string audio = mpegAudio(20);
    const std::string original = id3v2Tag(40) + audio;
    writeFile(dir / "a.mp3", original);
    writeFile(dir / "b.mp3", original);
    bool changed = false;
    useFileSystem(std::make_unique<FolderChangedMidBatch>([&] {
        const std::string acl = defaultAcl();
        changed = flag != 0 ? setInodeFlag(dir.path(), flag, true)
                            : setxattr(dir.path().c_str(), "system.posix_acl_default", acl.data(),
                                       acl.size(), 0) == 0;
    }));
    host.set(JobSwitch::remove2, true);
    run();
    if (flag != 0) {
        setInodeFlag(dir.path(), flag, false);
    }
    if (!changed) {
        GTEST_SKIP() << "the file system here refuses the change";
    }
    EXPECT_EQ(listNames(dir.path()), "a.mp3 b.mp3");
    for (const char* name : {"a.mp3", "b.mp3"}) {
        const std::string bytes = readFile(dir / name);
        EXPECT_TRUE(bytes == (flag != 0 ? original : audio) || bytes == original) << name;
        EXPECT_LT(getxattr((dir / name).c_str(), "system.posix_acl_access", nullptr, 0), 0) << name;
    }
    if (flag != 0) {
        // The words for a locked folder in this wording.
        const std::string refused =
            "Could not create " + dir / "ID3_TEMP.$$$" + " - ID3v2 Tag not removed!";
        EXPECT_EQ(host.errors, std::vector<std::string>(2, refused));
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, FolderChangeTest,
                         ::testing::Values(FolderChange{"AppendOnly", FS_APPEND_FL},
                                           FolderChange{"Immutable", FS_IMMUTABLE_FL},
                                           FolderChange{"DefaultAcl", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::test
