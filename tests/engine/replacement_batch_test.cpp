#include "engine/replacement_batch.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
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

}  // namespace
}  // namespace tagsnip::test
