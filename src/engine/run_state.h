#pragma once

#include "job_counters.h"
#include "listed_paths.h"

namespace tagsnip {

// State shared by the run, the walk and the work on each file.
struct RunState {
    JobCounters counters;
    bool StopRequested = false;
    ListedPaths listedPaths;
    // Files whose work was reported through an error box during this run.
    unsigned fileErrors = 0;
};

}  // namespace tagsnip
