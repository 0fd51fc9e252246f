#pragma once

#include "engine/cleaning_job.h"
#include "engine/file_system.h"
#include "engine/playlist_cleaner.h"
#include "support/mp3_bytes.h"
#include "support/recording_host.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// Compares file contents without dumping megabytes of binary on a mismatch.
#define EXPECT_BYTES(actual, expected)                                                      \
    do {                                                                                    \
        const std::string actualBytes = (actual);                                           \
        const std::string expectedBytes = (expected);                                       \
        EXPECT_TRUE(actualBytes == expectedBytes)                                           \
            << "got " << actualBytes.size() << " bytes, expected " << expectedBytes.size(); \
    } while (false)

namespace tagsnip::test {

// Records the playlists the walk hands over and answers with a preset outcome.
class RecordingPlaylists final : public PlaylistCleaner {
public:
    std::vector<std::string> cleaned;
    PlaylistOutcome outcome;

    PlaylistOutcome cleanM3U(const FileLocation& file, MessageStyle) override {
        cleaned.push_back("m3u:" + file.path);
        return outcome;
    }
    PlaylistOutcome cleanPLS(const FileLocation& file, MessageStyle) override {
        cleaned.push_back("pls:" + file.path);
        return outcome;
    }
};

class RecordingStore final : public StartDirectoryStore {
public:
    std::vector<std::string> written;
    void WriteStartDirectory(const std::string& directory) override {
        written.push_back(directory);
    }
};

// A temporary library, a recording host pointed at it, and a job over a file system that a test
// may replace to inject faults.
class EngineTest : public ::testing::Test {
protected:
    EngineTest() { host.directory = dir.path(); }

    void useFileSystem(std::unique_ptr<FileSystem> replacement) {
        // The job goes first: it holds on to the file system until it is gone.
        job.reset();
        fileSystem = std::move(replacement);
    }
    CleaningJob& cleaningJob() {
        if (!job) {
            job = std::make_unique<CleaningJob>(host, *fileSystem, playlists, store, flags);
        }
        return *job;
    }
    void run() { cleaningJob().startClick(); }
    void removeBoth() {
        host.set(JobSwitch::remove1, true);
        host.set(JobSwitch::remove2, true);
    }
    const RunState& state() { return cleaningJob().state(); }
    std::vector<std::string> rowPaths() const {
        std::vector<std::string> paths;
        for (const auto& row : host.rows) {
            paths.push_back(row.RowPath);
        }
        return paths;
    }
    std::vector<std::string> rowSummaries() const {
        std::vector<std::string> summaries;
        for (const auto& row : host.rows) {
            summaries.push_back(row.id3v1Mark + row.id3v2Mark + " " + row.caption);
        }
        return summaries;
    }

    TempDir dir;
    RecordingHost host;
    RecordingPlaylists playlists;
    RecordingStore store;
    ProcessFlags flags;
    std::unique_ptr<FileSystem> fileSystem = std::make_unique<FileSystem>();
    std::unique_ptr<CleaningJob> job;
};

}  // namespace tagsnip::test
