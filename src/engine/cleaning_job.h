#pragma once

#include "directory_walk.h"
#include "file_system.h"
#include "id3_work.h"
#include "job_host.h"
#include "job_options.h"
#include "messages.h"
#include "playlist_cleaner.h"
#include "process_flags.h"
#include "removal_recorder.h"
#include "run_state.h"
#include "start_directory_store.h"

#include <string>

namespace tagsnip {

inline constexpr const char* captionRunning = "稍等";
inline constexpr const char* captionIdle = "继续";

enum class RunResult {
    // The run ended, or was stopped, or only a stop was asked of a running one.
    done,
    // The start directory is not a directory: nothing ran.
    directoryRefused,
};

// A cleaning run, started and stopped by the Start button of its host.
class CleaningJob {
public:
    // recorder, when given, keeps what the run removes from MP3 files; the playlist cleaner
    // keeps what it removes from playlists itself.
    CleaningJob(JobHost& host, FileSystem& fileSystem, PlaylistCleaner& playlistCleaner,
                StartDirectoryStore& store, ProcessFlags& flags,
                RemovalRecorder* recorder = nullptr);

    // Starts a run, or, while one is in progress, only asks it to stop.
    RunResult startClick();
    // Puts the window back into its collapsed shape and resets the counts.
    void CleanUp();
    // Makes every level of a running walk return at its next test (window close, Ctrl+C).
    void requestStop() { m_state.StopRequested = true; }

    bool walking() const { return m_walking; }
    const RunState& state() const { return m_state; }
    const std::string& currentDirectory() const { return m_walk.currentDirectory(); }

private:
    JobHost& m_host;
    JobOptions m_options;
    FileSystem& m_fileSystem;
    StartDirectoryStore& m_store;
    ProcessFlags& m_flags;
    RunState m_state;
    Id3Work m_id3Work;
    DirectoryWalk m_walk;
    bool m_walking = false;
};

}  // namespace tagsnip
