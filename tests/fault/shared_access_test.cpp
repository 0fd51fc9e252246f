#include "cli_process.h"
#include "mounted_image.h"
#include "mp3_library.h"
#include "name_exchange.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

namespace tagsnip::fault {
namespace {

using test::setInodeFlag;

const std::string record = "RECORD WRITTEN BY ANOTHER PROGRAM\n";

void appendRecord(int fd) {
    ASSERT_EQ(write(fd, record.data(), record.size()), static_cast<ssize_t>(record.size()));
}

constexpr off_t updateOffset = 64 << 10;

// The same bytes written over the file at updateOffset, as the update of a program that keeps
// the size.
std::string updated(std::string bytes) {
    return bytes.replace(updateOffset, record.size(), record);
}

// An update that keeps the size and the modification time, as a tag editor that restores the
// time (or a file system whose coarse timestamps cannot tell) would leave it.
void updateInPlace(int fd) {
    struct stat before {};
    fstat(fd, &before);
    ASSERT_EQ(pwrite(fd, record.data(), record.size(), updateOffset),
              static_cast<ssize_t>(record.size()));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    futimens(fd, times);
}

// Another program that opens the file for writing the moment the run touches trigger (opens the
// file, or writes the copy), so that its open falls into the run's work on the file.
class WriterOnTouch {
public:
    WriterOnTouch(const std::string& directory, const std::string& name, bool keepsSize,
                  const std::string& trigger, std::uint32_t events) {
        m_watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        inotify_add_watch(m_watch, directory.c_str(), events);
        m_thread = std::thread([this, path = directory + name, trigger, keepsSize] {
            // Once stopped, an open already queued is still answered: a run faster than this
            // thread is met by a late writer instead.
            for (bool stopping = false; !stopping;) {
                stopping = m_stop.load();
                if (visitNamedEvents(m_watch, stopping ? 0 : 20,
                                     [&](const char* touched) { return trigger == touched; })) {
                    const int fd =
                        open(path.c_str(), O_WRONLY | O_CLOEXEC | (keepsSize ? 0 : O_APPEND));
                    if (keepsSize) {
                        updateInPlace(fd);
                    } else {
                        appendRecord(fd);
                    }
                    close(fd);
                    return;
                }
            }
        });
    }
    ~WriterOnTouch() {
        m_stop = true;
        m_thread.join();
        close(m_watch);
    }
    WriterOnTouch(const WriterOnTouch&) = delete;
    WriterOnTouch& operator=(const WriterOnTouch&) = delete;

private:
    int m_watch = -1;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct SharedAccess;

struct Case {
    const char* name;
    // Prepares the library under root (a folder ending in "/") and gives the run's arguments;
    // sets skip to say why the case cannot run here.
    std::function<std::vector<std::string>(SharedAccess&)> prepare;
    std::function<void(SharedAccess&, const CliResult&)> verify;
};

void PrintTo(const Case& row, std::ostream* out) {
    *out << row.name;
}

// One library per case, each file with its own tags; cases put another program, another user
// or another kind of file system beside the run.
struct SharedAccess : ::testing::TestWithParam<Case> {
    test::TempDir dir;
    test::TempDir output;
    std::string root = dir / "lib/";
    std::vector<Mp3File> files;
    std::optional<Identity> identity;
    std::string skip;
    std::vector<std::unique_ptr<Mount>> mounts;
    std::unique_ptr<WriterOnTouch> writer;
    int heldFd = -1;

    void SetUp() override {
        chmod(dir.path().c_str(), 0755);
        test::makeDirectory(root);
    }
    void TearDown() override {
        if (heldFd >= 0) {
            close(heldFd);
        }
    }

    Mp3File& add(const std::string& name, Tags tags, std::size_t size = 30'000) {
        files.push_back(makeMp3(root + name, tags, size, static_cast<unsigned>(files.size() + 1)));
        writeOriginal(files.back());
        return files.back();
    }
    Mount& newMount(const std::string& point) {
        mounts.push_back(std::make_unique<Mount>(point));
        return *mounts.back();
    }
    // The three kinds of tag, for cases that must leave every file as it was.
    void addLibrary() {
        add("v1.mp3", Tags::v1);
        add("v2.mp3", Tags::v2);
        add("both.mp3", Tags::both);
    }
    void expectAll(Content content) {
        for (const auto& file : files) {
            EXPECT_EQ(contentOf(file), content) << file.path;
        }
    }
    void expectOnlyLine(const std::string& text, const std::string& line) {
        EXPECT_EQ(linesContaining(text, {""}), 1) << text;
        EXPECT_EQ(linesContaining(text, {line}), 1) << text;
    }
};

TEST_P(SharedAccess, NothingIsLostAndEveryRefusalIsNamed) {
    if (!runningAsRoot()) {
        GTEST_SKIP() << "needs root for mounts, inode flags and other users";
    }
    std::vector<std::string> arguments = GetParam().prepare(*this);
    if (!skip.empty()) {
        GTEST_SKIP() << skip;
    }
    const CliResult result = runCli(arguments, output.path(), identity);
    writer.reset();
    GetParam().verify(*this, result);
}

std::vector<std::string> strip(const std::string& root) {
    return {"-s", "-t1", "-t2", root};
}

// A writer that holds the file open (a download, a recorder) while the run meets it, and writes
// once more after the run: nothing it wrote may land in a file that the path no longer names.
Case heldOpenWriter(const char* name, Tags tags) {
    return {name,
            [tags](SharedAccess& t) {
                t.heldFd =
                    open(t.add("held.mp3", tags).path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
                return strip(t.root);
            },
            [](SharedAccess& t, const CliResult& result) {
                appendRecord(t.heldFd);
                EXPECT_EQ(result.exitCode, 1);
                t.expectOnlyLine(result.err, t.files[0].path +
                                                 " - in use by another program, file not changed!");
                EXPECT_EQ(test::readFile(t.files[0].path), t.files[0].original + record);
            }};
}

// The writer's open comes while the run works on the file: the run lets go at once and leaves
// the file, or the write came before the run's lease (and is in what it copies), or after the
// run; either way what the writer wrote is in the file the path names. On exFAT
// (through FUSE, timestamps of whole seconds, no change time) an update that keeps the size is
// invisible to any check of size and times: only the lease sees it.
Case writerDuringCopy(const char* name, bool onExfat) {
    return {name,
            [onExfat](SharedAccess& t) {
                if (onExfat && !mountImage(t.newMount(t.root), t.dir / "exfat.img", "mkfs.exfat",
                                           "mount.exfat-fuse", t.root, true)) {
                    t.skip = "needs exfatprogs and exfat-fuse";
                }
                // exFAT through FUSE has no unnamed files: the copy goes to a named one, and the
                // update comes once the copy is written. The files after it keep the run busy
                // before its batch is committed, so that the update falls before the rename and
                // not into the moment of the rename itself, which no check can guard. exfat-fuse
                // lists the newest entry first, so they are made first.
                for (int i = 0; onExfat && i < 8; ++i) {
                    t.add("after" + std::to_string(i) + ".mp3", Tags::v2, 2 << 20);
                }
                t.add("big.mp3", Tags::v2, (onExfat ? 8 : 24) << 20);
                std::rotate(t.files.begin(), t.files.end() - 1, t.files.end());
                t.writer = onExfat ? std::make_unique<WriterOnTouch>(t.root, "big.mp3", true,
                                                                     "ID3_TEMP.$$$", IN_MODIFY)
                                   : std::make_unique<WriterOnTouch>(t.root, "big.mp3", false,
                                                                     "big.mp3", IN_OPEN);
                return strip(t.root);
            },
            [onExfat](SharedAccess& t, const CliResult& result) {
                const Mp3File& file = t.files[0];
                const auto written = [&](const std::string& bytes) {
                    return onExfat ? updated(bytes) : bytes + record;
                };
                const std::string now = test::readFile(file.path);
                const bool left = now == written(file.original);
                // A write before the run's lease is in what the run copies.
                const std::string strippedAfterWrite =
                    written(file.original).substr(file.original.size() - file.stripped.size());
                EXPECT_TRUE(left || now == written(file.stripped) || now == strippedAfterWrite)
                    << now.size();
                if (left) {
                    t.expectOnlyLine(result.err, " - in use by another program, file not changed!");
                }
                for (std::size_t i = 1; i < t.files.size(); ++i) {
                    // By content alone: exFAT has no modes to compare.
                    EXPECT_TRUE(test::readFile(t.files[i].path) == t.files[i].stripped)
                        << t.files[i].path;
                }
            }};
}

// Report-only must need nothing but reading: no error, no write, not even an open for writing
// that would copy the file up or wake a watcher.
Case reportOnly(const char* name, const std::function<void(SharedAccess&)>& restrictAccess) {
    return {name,
            [restrictAccess](SharedAccess& t) {
                t.addLibrary();
                restrictAccess(t);
                const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
                inotify_add_watch(watch, t.root.c_str(), IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB);
                t.heldFd = watch;
                return std::vector<std::string>{t.root};
            },
            [](SharedAccess& t, const CliResult& result) {
                EXPECT_FALSE(visitNamedEvents(t.heldFd, 0, [](const char*) { return true; }));
                for (const auto& file : t.files) {
                    setInodeFlag(file.path, FS_IMMUTABLE_FL, false);
                }
                EXPECT_EQ(result.exitCode, 0) << result.err;
                EXPECT_EQ(result.err, "");
                EXPECT_EQ(linesContaining(result.out, {"-\tX\t"}) +
                              linesContaining(result.out, {"X\t-\t"}) +
                              linesContaining(result.out, {"X\tX\t"}),
                          3)
                    << result.out;
                t.expectAll(Content::original);
            }};
}

const Case cases[] = {
    heldOpenWriter("HeldOpenWriterTrailerOnly", Tags::v1),
    heldOpenWriter("HeldOpenWriterBothTags", Tags::both),
    writerDuringCopy("WriterOpensDuringCopy", false),
    writerDuringCopy("SameSizeUpdateOnExfat", true),
    reportOnly("ReportOnlyOnReadOnlyBindMount",
               [](SharedAccess& t) {
                   Mount& bind = t.newMount(t.root);
                   if (!bind.bySystemCall(t.root.c_str(), nullptr, MS_BIND, nullptr) ||
                       mount(nullptr, t.root.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                             nullptr) != 0) {
                       t.skip = "bind mounts refused here";
                   }
               }),
    reportOnly("ReportOnlyAsAnotherUser",
               [](SharedAccess& t) { t.identity = unprivilegedIdentity(); }),
    reportOnly("ReportOnlyOnImmutableFiles",
               [](SharedAccess& t) {
                   for (const auto& file : t.files) {
                       if (!setInodeFlag(file.path, FS_IMMUTABLE_FL, true)) {
                           t.skip = "no immutable attribute on this file system";
                       }
                   }
               }),
    {"FatThroughFuse",
     [](SharedAccess& t) {
         if (!mountImage(t.newMount(t.root), t.dir / "fat.img", "mkfs.vfat -F 32", "fusefat -o rw+",
                         t.root, false)) {
             t.skip = "needs dosfstools and fusefat";
         }
         t.addLibrary();
         return strip(t.root);
     },
     [](SharedAccess& t, const CliResult& result) {
         EXPECT_EQ(result.exitCode, 0) << result.err;
         // FAT has no modes of its own: the bytes are what counts.
         for (const auto& file : t.files) {
             EXPECT_EQ(test::readFile(file.path), file.stripped) << file.path;
         }
         EXPECT_TRUE(strangers(t.root, t.files).empty()) << test::listNames(t.root);
     }},
    {"FolderListedButNotSearchable",
     [](SharedAccess& t) {
         t.identity = unprivilegedIdentity();
         test::makeDirectory(t.root + "closed/", 0755);
         t.add("closed/a.mp3", Tags::v1);
         chmod((t.root + "closed/").c_str(), 0644);
         return strip(t.root);
     },
     [](SharedAccess& t, const CliResult& result) {
         chmod((t.root + "closed/").c_str(), 0755);
         EXPECT_EQ(result.exitCode, 1);
         t.expectOnlyLine(result.err,
                          "Could not read directory " + t.root + "closed/ - Permission denied");
         t.expectAll(Content::original);
     }},
    {"AppendOnlyFolder",
     [](SharedAccess& t) {
         t.add("v2.mp3", Tags::v2);
         t.add("v1.mp3", Tags::v1);
         if (!setInodeFlag(t.root, FS_APPEND_FL, true)) {
             t.skip = "no append-only attribute on this file system";
         }
         return strip(t.root);
     },
     [](SharedAccess& t, const CliResult& result) {
         setInodeFlag(t.root, FS_APPEND_FL, false);
         EXPECT_EQ(result.exitCode, 1);
         t.expectOnlyLine(result.err, t.files[0].path +
                                          " - folder is immutable or append-only, "
                                          "file not changed!");
         EXPECT_EQ(contentOf(t.files[0]), Content::original);
         EXPECT_EQ(contentOf(t.files[1]), Content::stripped);
         EXPECT_TRUE(strangers(t.root, t.files).empty()) << test::listNames(t.root);
     }},
    {"SecondNameOutsideTheTreeKeepsItsContent",
     [](SharedAccess& t) {
         link(t.add("linked.mp3", Tags::v1).path.c_str(), (t.dir / "outside.mp3").c_str());
         return strip(t.root);
     },
     [](SharedAccess& t, const CliResult& result) {
         EXPECT_EQ(result.exitCode, 0) << result.err;
         EXPECT_EQ(contentOf(t.files[0]), Content::stripped);
         EXPECT_EQ(test::readFile(t.dir / "outside.mp3"), t.files[0].original);
     }},
    {"OneFileSystemLeavesMountsOut",
     [](SharedAccess& t) {
         test::makeDirectory(t.root + "mounted/");
         if (!t.newMount(t.root + "mounted/").bySystemCall("tagsnip-test", "tmpfs", 0, "size=1m")) {
             t.skip = "needs a tmpfs of its own";
         }
         t.add("mounted/other.mp3", Tags::v1);
         t.add("here.mp3", Tags::v1);
         return std::vector<std::string>{"-s", "-x", "-t1", t.root};
     },
     [](SharedAccess& t, const CliResult& result) {
         EXPECT_EQ(result.exitCode, 0) << result.err;
         EXPECT_EQ(linesContaining(result.out, {"other.mp3"}), 0) << result.out;
         EXPECT_EQ(contentOf(t.files[0]), Content::original);
         EXPECT_EQ(contentOf(t.files[1]), Content::stripped);
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, SharedAccess, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::fault
