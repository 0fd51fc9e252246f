#pragma once

#include "manifest.h"

#include "engine/file_system.h"

#include <functional>
#include <string>
#include <vector>

namespace tagsnip::undo {

enum class RestoreOutcome {
    restored,
    // Already as before the run (restored earlier): counts as restored.
    alreadyOriginal,
    // Neither as the run left it nor as before: someone changed it since, so it is left alone.
    changed,
    missing,
    // Unreadable, kept bytes that do not rebuild the original, or a replacement that failed.
    failed,
};

struct RestoreResult {
    // The start directory and the recorded path, as rows show paths.
    std::string path;
    RestoreOutcome outcome = RestoreOutcome::failed;
    // Why a file was not restored; "" for restored and alreadyOriginal.
    std::string message;
    FileKind kind = FileKind::mp3;
    // Whether bytes are put back at the start (an ID3v2 tag) and at the end (an ID3v1 trailer).
    bool startPutBack = false;
    bool endPutBack = false;
};

struct RestoreReport {
    // Why no record could be tried (run folder, manifest or start directory unreadable); "" else.
    std::string error;
    // A record the run was still writing when it was stopped; its file was not changed.
    bool unfinishedTail = false;
    // Stopped on request: the records after the last result were not tried, and their files
    // stay as the run left them for a later restore.
    bool stopped = false;
    std::vector<RestoreResult> results;
    // What the clean-up of leftovers of killed runs in the folders reached tells the user.
    std::vector<std::string> notices;

    bool allRestored() const;
};

// Puts back what the run in runDirectory (KEEP/<run folder>) removed: each file that is exactly
// as the run left it is rebuilt from its remaining bytes and the kept ones, checked against the
// original's hash and replaced atomically, its flush batched with others' as a run's are; every
// other file is left as it is. A file's outcome is final once the report is returned.
// stopRequested, asked before each record, ends the restore early; what is queued is committed.
RestoreReport restoreRun(FileSystem& fileSystem, const std::string& runDirectory,
                         const std::function<bool()>& stopRequested = {});

}  // namespace tagsnip::undo
