#pragma once

namespace tagsnip {

// Process-wide flags that the run reads and the configuration (command line, settings store,
// directory field) changes.
struct ProcessFlags {
    bool SaveSettings = true;
    bool QuitWhenDone = false;
};

}  // namespace tagsnip
