#include "cli_process.h"
#include "mp3_library.h"
#include "name_exchange.h"
#include "support/mp3_bytes.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <thread>

namespace tagsnip::fault {
namespace {

constexpr std::size_t largeFile = 24 << 20;
constexpr std::size_t stampSize = 16;

// The other program's version number, in the last bytes of the audio, where stripping either tag
// leaves it.
std::string stamped(const std::string& bytes, long version) {
    char stamp[stampSize + 1];
    std::snprintf(stamp, sizeof stamp, "VERSION%08ld\n", version);
    std::string result = bytes;
    result.replace(result.size() - stampSize, stampSize, stamp, stampSize);
    return result;
}

long versionAt(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st {};
    char stamp[stampSize + 1] = {};
    long version = -1;
    if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(stampSize) &&
        pread(fd, stamp, stampSize, st.st_size - static_cast<off_t>(stampSize)) ==
            static_cast<ssize_t>(stampSize)) {
        std::sscanf(stamp, "VERSION%ld", &version);
    }
    close(fd);
    return version;
}

// Every line of a run's errors names the file as changed meanwhile or in use, the only
// complaints a run racing another program may make.
void expectOnlyChangedReports(const CliResult& result, const std::string& path) {
    if (result.exitCode == 0) {
        EXPECT_EQ(result.err, "");
        return;
    }
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_GE(linesContaining(result.err, {""}), 1);
    EXPECT_EQ(linesContaining(result.err, {""}),
              linesContaining(result.err, {path + " - changed by another program meanwhile"}) +
                  linesContaining(result.err, {path + " - in use by another program"}))
        << result.err;
}

// Blocks until someone opens name in the watched directory, or stop is set.
bool waitForOpen(int watch, const std::string& name, const std::atomic<bool>& stop) {
    while (!stop.load()) {
        if (visitNamedEvents(watch, 20, [&](const char* opened) { return name == opened; })) {
            return true;
        }
    }
    return false;
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// Another program saves a new version the safe way (write a temporary file, rename it over the
// old one) each time someone opens the file, so that its save falls into the run's work on the
// file. Before each save it checks that the file it saved last is still there: an old version
// renamed back over a newer one is a lost update.
TEST(LostUpdate, VersionSavedByAnotherProgramIsNeverReplaced) {
    test::TempDir dir;
    test::TempDir output;
    test::makeDirectory(dir / "tree/");
    const std::string path = dir / "tree/song.mp3";
    const std::string temporary = dir / "tree/.song.saving";
    const Mp3File base = makeMp3(path, Tags::v2, largeFile, 1);
    const std::size_t tagSize = base.original.size() - base.stripped.size();

    int conclusive = 0;
    for (int round = 0; round < 3; ++round) {
        test::writeFile(path, stamped(base.original, 0));
        const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        ASSERT_GE(watch, 0);
        ASSERT_GE(inotify_add_watch(watch, (dir / "tree").c_str(), IN_OPEN), 0);
        std::atomic<bool> stop{false};
        std::atomic<long> saved{0};
        std::atomic<bool> replaced{false};
        // The next version is ready before the run starts, so that the save can follow the
        // run's open at once however fast the run is.
        test::writeFile(temporary, stamped(base.original, 1));
        std::thread writer([&] {
            ino_t savedInode = inodeOf(path);
            while (!stop.load()) {
                if (!waitForOpen(watch, "song.mp3", stop)) {
                    return;
                }
                // Replaced before the first save: the run was simply done first.
                if (inodeOf(path) != savedInode) {
                    replaced = saved.load() > 0;
                    return;
                }
                savedInode = inodeOf(temporary);
                if (rename(temporary.c_str(), path.c_str()) != 0) {
                    return;
                }
                ++saved;
                test::writeFile(temporary, stamped(base.original, saved.load() + 1));
            }
        });
        const CliResult result = runCli({"-t2", dir / "tree/"}, output.path());
        stop = true;
        writer.join();
        close(watch);
        unlink(temporary.c_str());
        std::cout << "[ writer   ] round " << round << ": " << saved.load()
                  << " versions saved during the run, exit " << result.exitCode << "\n";

        if (saved.load() == 0) {
            continue;
        }
        ++conclusive;
        ASSERT_FALSE(replaced.load()) << "version " << saved.load() << " was replaced by version "
                                      << versionAt(path) << " in round " << round << "\nstderr:\n"
                                      << result.err;
        const std::string latest = stamped(base.original, saved.load());
        const std::string bytes = test::readFile(path);
        ASSERT_TRUE(bytes == latest || bytes == latest.substr(tagSize))
            << "holds version " << versionAt(path) << " instead of " << saved.load() << " in round "
            << round << "\nstderr:\n"
            << result.err;
        expectOnlyChangedReports(result, path);
    }
    if (conclusive == 0) {
        GTEST_SKIP() << "every run was done with the file before the other program saved";
    }
}

struct AppendCase {
    const char* name;
    Tags tags;
    std::vector<std::string> options;
};

void PrintTo(const AppendCase& appendCase, std::ostream* out) {
    *out << appendCase.name;
}

class ConcurrentAppender : public ::testing::TestWithParam<AppendCase> {};

// Another program appends records (each opening the file anew, as a logger does) while the run
// works on the file. The records look like ID3v1 trailers so that the file always ends in one;
// the run may remove the one trailer that was last when it looked, never any other record.
TEST_P(ConcurrentAppender, NoAppendedRecordIsLost) {
    test::TempDir dir;
    test::TempDir output;
    test::makeDirectory(dir / "tree/");
    const Mp3File file = makeMp3(dir / "tree/log.mp3", GetParam().tags, largeFile, 2);
    const std::size_t trailer = test::id3v1Tag().size();
    const std::string head = file.original.substr(0, file.original.size() - trailer);
    const std::string strippedHead = file.stripped;
    std::vector<std::string> options = GetParam().options;
    options.push_back(dir / "tree/");

    for (int round = 0; round < 3; ++round) {
        writeOriginal(file);
        std::atomic<bool> stop{false};
        std::vector<std::string> records{file.original.substr(head.size())};
        std::thread appender([&] {
            while (!stop.load()) {
                const std::string record = test::id3v1Tag("REC" + std::to_string(records.size()));
                const int fd = open(file.path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
                const bool written = fd >= 0 && write(fd, record.data(), record.size()) ==
                                                    static_cast<ssize_t>(record.size());
                if (fd >= 0) {
                    close(fd);
                }
                if (!written) {
                    return;
                }
                records.push_back(record);
            }
        });
        const CliResult result = runCli(options, output.path());
        stop = true;
        appender.join();

        const std::string bytes = test::readFile(file.path);
        const bool keptHead = bytes.compare(0, head.size(), head) == 0;
        const bool strippedTag =
            !keptHead && bytes.compare(0, strippedHead.size(), strippedHead) == 0;
        ASSERT_TRUE(keptHead || strippedTag) << "audio damaged in round " << round;
        const std::size_t start = keptHead ? head.size() : strippedHead.size();
        ASSERT_EQ((bytes.size() - start) % trailer, 0u) << "a record cut in two in round " << round;
        std::size_t missing = 0;
        std::size_t at = start;
        for (const auto& record : records) {
            if (at < bytes.size() && bytes.compare(at, trailer, record) == 0) {
                at += trailer;
            } else {
                ++missing;
            }
        }
        std::cout << "[ appender ] round " << round << ": " << records.size() - 1
                  << " records appended, " << missing << " missing, exit " << result.exitCode
                  << "\n";
        ASSERT_LE(missing, 1u) << "of " << records.size() << " records in round " << round
                               << "\nstderr:\n"
                               << result.err;
        EXPECT_EQ(at, bytes.size()) << "bytes that were never appended";
        expectOnlyChangedReports(result, file.path);
    }
}

INSTANTIATE_TEST_SUITE_P(
    DuringTheWork, ConcurrentAppender,
    ::testing::Values(AppendCase{"CopyWithoutTheID3v2Tag", Tags::both, {"-t2"}},
                      AppendCase{"CopyWithoutBothTags", Tags::both, {"-t1", "-t2"}}),
    [](const ::testing::TestParamInfo<AppendCase>& info) { return info.param.name; });

}  // namespace
}  // namespace tagsnip::fault
