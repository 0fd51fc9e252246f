#include "engine/removal_recorder.h"
#include "engine_fixture.h"

#include <fcntl.h>
#include <unistd.h>

#include <functional>

namespace tagsnip::test {
namespace {

// Hands what stays of a file with one removed range to the engine, as a keeper would, and logs
// each call, so that the order of keeping, flushing and changing shows. What it keeps is made
// durable by the flush of one descriptor: a file, or a pipe, whose flush fails.
class LoggingRecorder final : public RemovalRecorder {
public:
    LoggingRecorder(std::vector<std::string>& log, const std::string& keptPath) : m_log(log) {
        m_file = ::open(keptPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        EXPECT_EQ(::pipe(m_pipe), 0);
    }
    ~LoggingRecorder() override {
        for (const int fd : {m_file, m_pipe[0], m_pipe[1]}) {
            ::close(fd);
        }
    }

    std::function<void()> beforeFlush;
    bool flushFails = false;

    std::error_code keepMp3(int fd, const std::string& path, std::uint64_t size,
                            std::span<const RemovedRange> removed,
                            const StayingBytesSink& staying) override {
        m_log.push_back("keep " + path.substr(path.rfind('/') + 1));
        std::string bytes(size, '\0');
        EXPECT_EQ(pread(fd, bytes.data(), size, 0), static_cast<ssize_t>(size));
        const RemovedRange& cut = removed.front();
        const std::string stays =
            cut.offset == 0 ? bytes.substr(cut.length) : bytes.substr(0, cut.offset);
        return staying ? staying(stays) : std::error_code{};
    }
    std::error_code keepPlaylist(const std::string&, std::string_view, std::string_view) override {
        return {};
    }
    std::error_code makeDurable() override { return {}; }
    std::error_code writeOut(std::vector<int>& toFlush) override {
        m_log.push_back("kept");
        if (beforeFlush) {
            beforeFlush();
        }
        toFlush = {flushFails ? m_pipe[0] : m_file};
        return {};
    }

private:
    std::vector<std::string>& m_log;
    int m_file = -1;
    int m_pipe[2] = {-1, -1};
};

class LoggingFileSystem final : public FileSystem {
public:
    explicit LoggingFileSystem(std::vector<std::string>& log) : m_log(log) {}

    std::error_code truncate(int fd, std::uint64_t length) override {
        m_log.push_back("truncate");
        return FileSystem::truncate(fd, length);
    }
    std::error_code renameAt(int directory, const std::string& from,
                             const std::string& to) override {
        m_log.push_back("rename " + to);
        return FileSystem::renameAt(directory, from, to);
    }
    void syncTogether(const std::vector<int>& files, const std::vector<int>& directories,
                      std::vector<std::error_code>& errors) override {
        std::string round = "flush " + std::to_string(files.size());
        if (!directories.empty()) {
            round += " with folders " + std::to_string(directories.size());
        }
        m_log.push_back(round);
        FileSystem::syncTogether(files, directories, errors);
    }

private:
    std::vector<std::string>& m_log;
};

struct KeepingCase {
    const char* name;
    bool flushFails;
    bool trailerWrittenMeanwhile;
    std::vector<std::string> log;
    std::size_t errors;
};

void PrintTo(const KeepingCase& keepingCase, std::ostream* out) {
    *out << keepingCase.name;
}

// A trailer is cut in place, and a header goes with a replacement filled from the read that
// keeps its bytes. The kept bytes are flushed with the replacement, the cut follows it and is
// flushed after it; nothing changes when the kept bytes cannot be made durable, and a file that
// another program wrote to since it was kept is not cut.
class KeepingWorkTest : public EngineTest, public ::testing::WithParamInterface<KeepingCase> {
protected:
    std::string audio = mpegAudio(30);
    std::vector<std::string> log;
    LoggingRecorder recorder{log, dir / "kept"};
};

TEST_P(KeepingWorkTest, ChangesFollowTheFlushOfWhatWasKept) {
    const KeepingCase& testCase = GetParam();
    const std::string trailer = audio + id3v1Tag();
    const std::string header = id3v2Tag(40) + audio;
    makeDirectory(dir / "music");
    writeFile(dir / "music/a.mp3", trailer);
    writeFile(dir / "music/b.mp3", header);
    const std::string written = trailer + "appended by another program";
    recorder.flushFails = testCase.flushFails;
    if (testCase.trailerWrittenMeanwhile) {
        recorder.beforeFlush = [&] { writeFile(dir / "music/a.mp3", written); };
    }
    useFileSystem(std::make_unique<LoggingFileSystem>(log));
    job = std::make_unique<CleaningJob>(host, *fileSystem, playlists, store, flags, &recorder);
    host.directory = dir / "music";
    removeBoth();
    run();

    EXPECT_EQ(log, testCase.log);
    const bool changed = !testCase.flushFails;
    const std::string trailerNow = testCase.trailerWrittenMeanwhile ? written : trailer;
    EXPECT_BYTES(readFile(dir / "music/a.mp3"),
                 changed && !testCase.trailerWrittenMeanwhile ? audio : trailerNow);
    EXPECT_BYTES(readFile(dir / "music/b.mp3"), changed ? audio : header);
    EXPECT_EQ(listNames(dir / "music"), "a.mp3 b.mp3");
    EXPECT_EQ(host.errors.size(), testCase.errors);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, KeepingWorkTest,
    ::testing::Values(
        KeepingCase{"flushed",
                    false,
                    false,
                    {"keep a.mp3", "keep b.mp3", "kept", "flush 2", "rename b.mp3", "truncate",
                     "flush 1 with folders 1"},
                    0},
        KeepingCase{"flushFails", true, false, {"keep a.mp3", "keep b.mp3", "kept", "flush 2"}, 2},
        KeepingCase{"trailerWrittenMeanwhile",
                    false,
                    true,
                    {"keep a.mp3", "keep b.mp3", "kept", "flush 2", "rename b.mp3",
                     "flush 0 with folders 1"},
                    1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tagsnip::test
