#pragma once

#include "job_counters.h"
#include "listed_paths.h"
#include "tag_state.h"

#include <sys/types.h>

namespace tagsnip {

// What the walk clears before each file, the work on the file sets, and the listing reads after.
struct FileState {
    mode_t SavedAttributes = 0;
    bool FileModified = false;
    TagState id3v1 = TagState::notExamined;
    TagState id3v2 = TagState::notExamined;
};

// State shared by the run, the walk and the work on each file.
struct RunState {
    JobCounters counters;
    bool StopRequested = false;
    ListedPaths listedPaths;
    FileState file;
    // Files whose work was reported through an error box during this run.
    unsigned fileErrors = 0;
};

}  // namespace tagsnip
