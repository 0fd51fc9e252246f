#include "cli_process.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace tagsnip::fault {
namespace {

uid_t ownerOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_uid : static_cast<uid_t>(-1);
}

// A library directory that belongs to the unprivileged identity the program runs under, so that
// the mode bits decide and not root's privileges.
class PermissionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        chmod(m_dir.path().c_str(), 0755);
        test::makeDirectory(m_dir / "lib/");
        handOver(m_dir / "lib/");
    }

    std::string lib() const { return m_dir / "lib/"; }

    void handOver(const std::string& path) {
        if (runningAsRoot()) {
            ASSERT_EQ(lchown(path.c_str(), m_user.user, m_user.group), 0) << path;
        }
    }

    // Writes the file, owned by the program's identity unless foreignOwner is given.
    Mp3File add(const std::string& name, Tags tags, mode_t mode, bool foreignOwner = false) {
        Mp3File file =
            makeMp3(lib() + name, tags, 30'000, static_cast<unsigned>(m_files++), 512, mode);
        writeOriginal(file);
        if (foreignOwner) {
            EXPECT_EQ(lchown(file.path.c_str(), 4242, 4242), 0);
        } else {
            handOver(file.path);
        }
        return file;
    }

    CliResult run(std::vector<std::string> options) {
        options.push_back(lib());
        return runCli(options, m_output.path(), m_user);
    }

    Identity m_user = unprivilegedIdentity();
    test::TempDir m_dir;
    test::TempDir m_output;
    int m_files = 1;
};

TEST_F(PermissionsTest, UnreadableFileIsReportedByErrnoAndLeftAlone) {
    const Mp3File unreadable = add("unreadable.mp3", Tags::both, 0200);
    const Mp3File plain = add("plain.mp3", Tags::both, 0644);

    const CliResult result = run({"-t1", "-t2"});

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(
        linesContaining(result.err, {"Could not open " + unreadable.path + " - Permission denied"}),
        1)
        << result.err;
    EXPECT_EQ(contentOf(unreadable), Content::original);
    EXPECT_EQ(linesContaining(result.out, {"?\t?\t" + unreadable.path}), 1) << result.out;
    EXPECT_EQ(contentOf(plain), Content::stripped);
}

TEST_F(PermissionsTest, ReadOnlyFileIsSkippedWithoutIgnoreAndStrippedWithIt) {
    const Mp3File readOnly = add("readonly.mp3", Tags::both, 0444);

    const CliResult skipped = run({"-t1", "-t2"});
    EXPECT_EQ(skipped.exitCode, 0) << skipped.err;
    EXPECT_EQ(contentOf(readOnly), Content::original);
    EXPECT_EQ(linesContaining(skipped.out, {"?\t?\t" + readOnly.path}), 1) << skipped.out;

    const CliResult ignored = run({"-i", "-t1", "-t2"});
    EXPECT_EQ(ignored.exitCode, 0) << ignored.err;
    // contentOf also checks that the mode is back at 0444.
    EXPECT_EQ(contentOf(readOnly), Content::stripped);
    EXPECT_EQ(linesContaining(ignored.out, {"X\tX\t" + readOnly.path}), 1) << ignored.out;
}

TEST_F(PermissionsTest, FileOfAnotherUserIsNeverChanged) {
    if (!runningAsRoot()) {
        GTEST_SKIP() << "needs root to give a file another owner";
    }
    const Mp3File foreign = add("foreign.mp3", Tags::both, 0644, true);
    const Mp3File foreignReadOnly = add("foreign-ro.mp3", Tags::both, 0444, true);

    for (const auto& options :
         {std::vector<std::string>{"-t1", "-t2"}, std::vector<std::string>{"-i", "-t1", "-t2"}}) {
        const CliResult result = run(options);
        EXPECT_EQ(linesContaining(result.err, {foreign.path + " - owner or group cannot be kept, "
                                                              "file not changed!"}),
                  1)
            << result.err;
        EXPECT_EQ(contentOf(foreign), Content::original);
        EXPECT_EQ(contentOf(foreignReadOnly), Content::original);
        EXPECT_EQ(ownerOf(foreign.path), 4242u);
    }
}

// A file that others may write but whose owner we cannot give back is not replaced: it would
// silently change hands.
TEST_F(PermissionsTest, WorldWritableFileOfAnotherUserIsLeftToItsOwner) {
    if (!runningAsRoot()) {
        GTEST_SKIP() << "needs root to give a file another owner";
    }
    const Mp3File shared = add("shared.mp3", Tags::v2, 0666, true);

    const CliResult result = run({"-t2"});

    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(linesContaining(result.err, {shared.path +
                                           " - owner or group cannot be kept, file not changed!"}),
              1)
        << result.err;
    EXPECT_EQ(contentOf(shared), Content::original);
    EXPECT_EQ(ownerOf(shared.path), 4242u);
    EXPECT_EQ(test::modeOf(shared.path), 0666u);
}

TEST(Ownership, PrivilegedRunKeepsOwnerAndGroup) {
    if (!runningAsRoot()) {
        GTEST_SKIP() << "needs root to give a file another owner";
    }
    test::TempDir dir;
    test::TempDir output;
    const Mp3File file = makeMp3(dir / "owned.mp3", Tags::v2, 30'000, 1, 512, 02750);
    writeOriginal(file);
    ASSERT_EQ(lchown(file.path.c_str(), 4242, 4343), 0);
    ASSERT_EQ(chmod(file.path.c_str(), file.mode), 0);

    const CliResult result = runCli({"-t2", dir.path()}, output.path());

    EXPECT_EQ(result.exitCode, 0) << result.err;
    struct stat st {};
    ASSERT_EQ(lstat(file.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4242u);
    EXPECT_EQ(st.st_gid, 4343u);
    // Includes the set-group-id bit, which the change of owner cleared.
    EXPECT_EQ(contentOf(file), Content::stripped);
}

TEST_F(PermissionsTest, DirectoryWithoutWriteAccessKeepsTheID3v2Tag) {
    const Mp3File v2 = add("v2.mp3", Tags::v2, 0644);
    const Mp3File v1 = add("v1.mp3", Tags::v1, 0644);
    const Mp3File both = add("both.mp3", Tags::both, 0644);
    ASSERT_EQ(chmod(lib().c_str(), 0555), 0);

    const CliResult result = run({"-t1", "-t2"});

    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(
        linesContaining(result.err, {"Could not create " + lib() +
                                     "ID3_TEMP.$$$ - Permission denied - ID3v2 Tag not removed!"}),
        2)
        << result.err;
    EXPECT_EQ(contentOf(v2), Content::original);
    EXPECT_EQ(contentOf(v1), Content::stripped);
    // The trailer is cut in place; the tag in front stays.
    EXPECT_EQ(test::readFile(both.path), both.original.substr(0, both.original.size() - 128));
    EXPECT_TRUE(strangers(lib(), {v2, v1, both}).empty());
}

// Even root cannot change an immutable file: it is refused before anything is created.
TEST(Immutable, ImmutableFileIsReportedAndLeftAlone) {
    test::TempDir dir;
    test::TempDir output;
    const Mp3File file = makeMp3(dir / "frozen.mp3", Tags::both, 30'000, 1);
    writeOriginal(file);
    const int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    const bool frozen = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                        (flags |= FS_IMMUTABLE_FL, ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (!frozen) {
        close(fd);
        GTEST_SKIP() << "needs root and a file system with the immutable attribute";
    }

    const CliResult result = runCli({"-t1", "-t2", dir.path()}, output.path());

    flags &= ~FS_IMMUTABLE_FL;
    ioctl(fd, FS_IOC_SETFLAGS, &flags);
    close(fd);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(
        linesContaining(result.err, {file.path + " - immutable or append-only, file not changed!"}),
        1)
        << result.err;
    EXPECT_EQ(contentOf(file), Content::original);
    EXPECT_TRUE(strangers(dir.path(), {file}).empty());
}

}  // namespace
}  // namespace tagsnip::fault
