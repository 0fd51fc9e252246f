#include "cli_process.h"
#include "mp3_library.h"
#include "support/mp3_bytes.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>

namespace tagsnip::fault {
namespace {

std::string xattrOf(const std::string& path, const char* name) {
    char buffer[4096];
    const ssize_t n = lgetxattr(path.c_str(), name, buffer, sizeof buffer);
    return n < 0 ? std::string("<") + std::strerror(errno) + ">"
                 : std::string(buffer, static_cast<std::size_t>(n));
}

// An access ACL in the kernel's xattr form: owner rw, user uid rw, owning group r, mask rw,
// others nothing. The mask makes the mode's group bits rw while the group itself may only read.
std::string accessAcl(uid_t uid) {
    struct Entry {
        std::uint16_t tag;
        std::uint16_t permissions;
        std::uint32_t id;
    };
    constexpr std::uint32_t undefined = 0xffffffff;
    const Entry entries[] = {{0x01, 6, undefined},
                             {0x02, 6, uid},
                             {0x04, 4, undefined},
                             {0x10, 6, undefined},
                             {0x20, 0, undefined}};
    const std::uint32_t version = 2;
    std::string bytes(reinterpret_cast<const char*>(&version), sizeof version);
    bytes.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return bytes;
}

struct RewriteCase {
    const char* name;
    std::vector<std::string> options;
    std::string fileName;
    // The bytes before and after a run.
    std::function<std::pair<std::string, std::string>()> contents;
};

void PrintTo(const RewriteCase& rewriteCase, std::ostream* out) {
    *out << rewriteCase.name;
}

std::pair<std::string, std::string> mp3Contents(Tags tags) {
    const Mp3File file = makeMp3("", tags, 40'000, 3);
    return {file.original, file.stripped};
}

class RewrittenFile : public ::testing::TestWithParam<RewriteCase> {};

// A file given a new content keeps its identity: the ACL and a user attribute byte for byte, and
// the mode, whose group bits an ACL turns into its mask.
TEST_P(RewrittenFile, KeepsAclAndExtendedAttributes) {
    test::TempDir dir;
    test::TempDir output;
    const std::string path = dir / GetParam().fileName;
    const auto [before, after] = GetParam().contents();
    test::writeFile(path, before, 0640);
    const std::string acl = accessAcl(unprivilegedIdentity().user);
    const std::string note = "kept by every rewrite";
    if (lsetxattr(path.c_str(), "user.tagsnip.note", note.data(), note.size(), 0) != 0 ||
        lsetxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
        GTEST_SKIP() << "the file system of " << dir.path()
                     << " refuses extended attributes or ACLs: " << std::strerror(errno);
    }
    const std::string aclBefore = xattrOf(path, "system.posix_acl_access");
    const mode_t modeBefore = test::modeOf(path);
    ASSERT_EQ(modeBefore, 0660u) << "the ACL mask shows as the group bits";

    std::vector<std::string> arguments = GetParam().options;
    arguments.push_back(dir.path());
    const CliResult result = runCli(arguments, output.path());

    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(test::readFile(path), after) << "the run did not do its work";
    EXPECT_EQ(xattrOf(path, "user.tagsnip.note"), note);
    EXPECT_EQ(xattrOf(path, "system.posix_acl_access"), aclBefore);
    EXPECT_EQ(test::modeOf(path), modeBefore);
}

INSTANTIATE_TEST_SUITE_P(
    Rewrite, RewrittenFile,
    ::testing::Values(
        RewriteCase{"ID3v2Removed", {"-t2"}, "song.mp3", [] { return mp3Contents(Tags::v2); }},
        RewriteCase{
            "BothTagsRemoved", {"-t1", "-t2"}, "song.mp3", [] { return mp3Contents(Tags::both); }},
        RewriteCase{"PlaylistCleaned",
                    {"-m"},
                    "list.m3u",
                    [] {
                        return std::pair<std::string, std::string>{
                            "#EXTM3U\n#EXTINF:1,One\none.mp3\n", "one.mp3\r\n"};
                    }}),
    [](const ::testing::TestParamInfo<RewriteCase>& info) { return info.param.name; });

bool supportsHoles(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    const bool holes = fd >= 0 && fstat(fd, &st) == 0 && lseek(fd, 0, SEEK_HOLE) < st.st_size;
    if (fd >= 0) {
        close(fd);
    }
    return holes;
}

std::string bytesAt(const std::string& path, off_t offset, std::size_t size) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::string bytes(size, '\0');
    const ssize_t n = fd >= 0 ? pread(fd, bytes.data(), size, offset) : -1;
    if (fd >= 0) {
        close(fd);
    }
    bytes.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return bytes;
}

struct stat statusOf(const std::string& path) {
    struct stat st {};
    lstat(path.c_str(), &st);
    return st;
}

// A large file that is mostly a hole stays mostly a hole once its tags are gone.
TEST(SparseFile, KeepsItsHoleWhenTagsAreRemoved) {
    test::TempDir dir;
    test::TempDir output;
    const std::string path = dir / "sparse.mp3";
    constexpr off_t tailAt = off_t{1} << 30;
    const std::string tag = test::id3v2Tag(4096);
    const std::string head = test::mpegAudio(200, 1);
    const std::string tail = test::mpegAudio(200, 2);
    const std::string trailer = test::id3v1Tag();
    {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const std::string front = tag + head;
        const std::string back = tail + trailer;
        ASSERT_EQ(pwrite(fd, front.data(), front.size(), 0), static_cast<ssize_t>(front.size()));
        ASSERT_EQ(pwrite(fd, back.data(), back.size(), tailAt), static_cast<ssize_t>(back.size()));
        close(fd);
    }
    if (!supportsHoles(path) || statusOf(path).st_blocks * 512 > (1 << 20)) {
        GTEST_SKIP() << "the file system of " << dir.path() << " does not keep holes";
    }
    const off_t allocatedBefore = statusOf(path).st_blocks * 512;

    const CliResult result = runCli({"-t1", "-t2", dir.path()}, output.path());

    EXPECT_EQ(result.exitCode, 0) << result.err;
    const struct stat after = statusOf(path);
    const off_t newTailAt = tailAt - static_cast<off_t>(tag.size());
    ASSERT_EQ(after.st_size, newTailAt + static_cast<off_t>(tail.size()))
        << "the tags were not removed";
    EXPECT_EQ(bytesAt(path, 0, head.size()), head);
    EXPECT_EQ(bytesAt(path, newTailAt, tail.size()), tail);
    EXPECT_EQ(bytesAt(path, newTailAt / 2, 1 << 16), std::string(1 << 16, '\0'));
    EXPECT_LT(after.st_blocks * 512, allocatedBefore + (4 << 20))
        << "allocated " << after.st_blocks * 512 << " bytes instead of " << allocatedBefore;
}

struct ForeignCase {
    const char* name;
    bool folderOurs;
    bool ownerOurs;
};

void PrintTo(const ForeignCase& foreignCase, std::ostream* out) {
    *out << foreignCase.name;
}

class OwnerCannotBeKept : public ::testing::TestWithParam<ForeignCase> {};

// An unprivileged run may write a file that it cannot give back its owner or group: it leaves
// the file exactly as it is and says why, instead of handing the file over to itself.
TEST_P(OwnerCannotBeKept, FileIsReportedAndLeftAlone) {
    if (!runningAsRoot()) {
        GTEST_SKIP() << "needs root to give files and folders other owners";
    }
    const Identity user = unprivilegedIdentity();
    test::TempDir dir;
    test::TempDir output;
    chmod(dir.path().c_str(), 0755);
    const std::string lib = dir / "lib/";
    test::makeDirectory(lib, 0755);
    if (GetParam().folderOurs) {
        ASSERT_EQ(lchown(lib.c_str(), user.user, user.group), 0);
    }
    const Mp3File file = makeMp3(lib + "shared.mp3", Tags::v2, 30'000, 1, 512, 0666);
    writeOriginal(file);
    const uid_t owner = GetParam().ownerOurs ? user.user : 0;
    ASSERT_EQ(lchown(file.path.c_str(), owner, 0), 0);
    ASSERT_EQ(chmod(file.path.c_str(), file.mode), 0);

    const CliResult result = runCli({"-t2", lib}, output.path(), user);

    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(linesContaining(result.err,
                              {file.path + " - owner or group cannot be kept, file not changed!"}),
              1)
        << result.err;
    EXPECT_EQ(contentOf(file), Content::original);
    const struct stat st = statusOf(file.path);
    EXPECT_EQ(st.st_uid, owner);
    EXPECT_EQ(st.st_gid, 0u);
    EXPECT_EQ(test::listNames(lib), "shared.mp3");
}

INSTANTIATE_TEST_SUITE_P(Unprivileged, OwnerCannotBeKept,
                         ::testing::Values(ForeignCase{"RootsFileInOurFolder", true, false},
                                           ForeignCase{"RootsFileInRootsFolder", false, false},
                                           ForeignCase{"OurFileOfRootsGroup", true, true}),
                         [](const ::testing::TestParamInfo<ForeignCase>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace tagsnip::fault
