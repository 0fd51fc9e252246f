#include "cli_process.h"
#include "mp3_library.h"
#include "support/temp_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>

namespace tagsnip::fault {
namespace {

constexpr int directoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Removes everything below dirfd by descriptors, as the paths are too long for nftw.
void emptyDirectory(int dirfd) {
    DIR* dir = fdopendir(dup(dirfd));
    if (dir == nullptr) {
        return;
    }
    std::vector<std::pair<std::string, bool>> entries;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            entries.emplace_back(name, entry->d_type == DT_DIR);
        }
    }
    closedir(dir);
    for (const auto& [name, isDirectory] : entries) {
        if (isDirectory) {
            const int child = openat(dirfd, name.c_str(), directoryFlags);
            if (child >= 0) {
                fchmod(child, 0700);
                emptyDirectory(child);
                close(child);
            }
        }
        unlinkat(dirfd, name.c_str(), isDirectory ? AT_REMOVEDIR : 0);
    }
}

// A chain of directories levels deep below root, built and read by descriptors; files hold the
// MP3 files placed at some levels (1 is the first directory below root).
class DeepTree {
public:
    DeepTree(const std::string& root, int levels, std::size_t nameLength) : m_root(root) {
        test::makeDirectory(root);
        for (int level = 1; level <= levels; ++level) {
            std::string name(1, 'd');
            name += std::to_string(level);
            name.resize(nameLength, 'x');
            m_names.push_back(name);
        }
        int fd = open(root.c_str(), directoryFlags);
        for (const auto& name : m_names) {
            mkdirat(fd, name.c_str(), 0755);
            const int child = openat(fd, name.c_str(), directoryFlags);
            close(fd);
            fd = child;
        }
        close(fd);
    }
    ~DeepTree() {
        const int fd = open(m_root.c_str(), directoryFlags);
        if (fd >= 0) {
            emptyDirectory(fd);
            close(fd);
        }
    }
    DeepTree(const DeepTree&) = delete;
    DeepTree& operator=(const DeepTree&) = delete;

    std::string directoryPath(int level) const {
        std::string path = m_root;
        for (int i = 0; i < level; ++i) {
            path += m_names[static_cast<std::size_t>(i)] + "/";
        }
        return path;
    }

    // A descriptor of the directory at level, or -1.
    int openLevel(int level) const {
        int fd = open(m_root.c_str(), directoryFlags);
        for (int i = 0; i < level && fd >= 0; ++i) {
            const int child =
                openat(fd, m_names[static_cast<std::size_t>(i)].c_str(), directoryFlags);
            close(fd);
            fd = child;
        }
        return fd;
    }

    void write(int level, const std::string& name, const std::string& bytes) const {
        const int dirfd = openLevel(level);
        const int fd = openat(dirfd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::write(fd, bytes.data(), bytes.size());
            close(fd);
        }
        close(dirfd);
    }

    std::string read(int level, const std::string& name) const {
        const int dirfd = openLevel(level);
        const int fd = openat(dirfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        close(dirfd);
        std::string bytes;
        char buffer[65536];
        ssize_t n = 0;
        while (fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
        if (fd >= 0) {
            close(fd);
        }
        return bytes;
    }

private:
    std::string m_root;
    std::vector<std::string> m_names;
};

struct DepthCase {
    const char* name;
    int levels;
    std::size_t nameLength;
    std::vector<int> fileLevels;
    std::optional<rlim_t> descriptorLimit;
};

void PrintTo(const DepthCase& depthCase, std::ostream* out) {
    *out << depthCase.name;
}

class TreeDeeperThanPathMax : public ::testing::TestWithParam<DepthCase> {};

// Files whose full path is longer than PATH_MAX are found, stripped and listed by that full path,
// also when the run may hold only a few descriptors at once.
TEST_P(TreeDeeperThanPathMax, FilesAtTheBottomAreStrippedAndListed) {
    test::TempDir dir;
    test::TempDir output;
    const DepthCase& depth = GetParam();
    const DeepTree tree(dir / "deep/", depth.levels, depth.nameLength);
    ASSERT_GT(tree.directoryPath(depth.levels).size(), static_cast<std::size_t>(PATH_MAX));

    struct Placed {
        int level;
        std::string name;
        Mp3File file;
    };
    std::vector<Placed> placed;
    unsigned seed = 1;
    for (const int level : depth.fileLevels) {
        for (const Tags tags : {Tags::both, Tags::v2}) {
            const std::string name = "song" + std::to_string(seed) + ".mp3";
            placed.push_back({level, name, makeMp3(name, tags, 20'000, seed, 300)});
            tree.write(level, name, placed.back().file.original);
            ++seed;
        }
    }

    const CliResult result = runCli({"-s", "-t1", "-t2", dir / "deep/"}, output.path(),
                                    std::nullopt, depth.descriptorLimit);

    EXPECT_EQ(result.exitCode, 0) << result.err.substr(0, 2000);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(linesContaining(result.out, {"total mp3=" + std::to_string(placed.size()) + " "}), 1)
        << result.out.substr(0, 2000);
    for (const auto& [level, name, file] : placed) {
        const std::string fullPath = tree.directoryPath(level) + name;
        EXPECT_TRUE(tree.read(level, name) == file.stripped)
            << name << " at level " << level << " was not stripped";
        EXPECT_EQ(linesContaining(result.out, {"\t" + fullPath}), 1)
            << name << " at level " << level << " is not listed by its full path";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Walk, TreeDeeperThanPathMax,
    ::testing::Values(DepthCase{"LongNames", 25, 200, {5, 21, 25}, std::nullopt},
                      DepthCase{"ManyLevelsFewDescriptors", 300, 20, {100, 200, 300}, 64}),
    [](const ::testing::TestParamInfo<DepthCase>& info) { return info.param.name; });

// A folder that cannot be read is named with the cause, and the rest of the tree is still done.
TEST(UnreadableFolder, IsReportedAndTheWalkGoesOn) {
    const Identity user = unprivilegedIdentity();
    test::TempDir dir;
    test::TempDir output;
    chmod(dir.path().c_str(), 0755);
    const std::string lib = dir / "lib/";
    std::vector<Mp3File> done;
    test::makeDirectory(lib);
    test::makeDirectory(lib + "locked/");
    test::makeDirectory(lib + "open/");
    done.push_back(makeMp3(lib + "a.mp3", Tags::both, 20'000, 1));
    done.push_back(makeMp3(lib + "open/b.mp3", Tags::v2, 20'000, 2));
    const Mp3File hidden = makeMp3(lib + "locked/c.mp3", Tags::both, 20'000, 3);
    writeOriginal(done[0]);
    writeOriginal(done[1]);
    writeOriginal(hidden);
    if (runningAsRoot()) {
        const std::vector<std::string> owned{lib,          lib + "locked/", lib + "open/",
                                             done[0].path, done[1].path,    hidden.path};
        for (const auto& path : owned) {
            ASSERT_EQ(lchown(path.c_str(), user.user, user.group), 0) << path;
        }
    }
    ASSERT_EQ(chmod((lib + "locked/").c_str(), 0), 0);

    const CliResult result = runCli({"-s", "-t1", "-t2", lib}, output.path(), user);

    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(linesContaining(result.err,
                              {"Could not read directory " + lib + "locked/ - Permission denied"}),
              1)
        << result.err;
    for (const auto& file : done) {
        EXPECT_EQ(contentOf(file), Content::stripped) << file.path;
    }
    chmod((lib + "locked/").c_str(), 0755);
    EXPECT_EQ(contentOf(hidden), Content::original);
}

}  // namespace
}  // namespace tagsnip::fault
