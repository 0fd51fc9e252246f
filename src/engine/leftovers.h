#pragma once

#include "file_system.h"

#include <string>
#include <vector>

namespace tagsnip {

// Removes from directory, whose entries are entries and whose path (ending in "/") is path,
// the temporary files that killed runs of ours left there, and gives what the user is told:
// how many went, and each file that has a temporary name without being ours.
std::vector<std::string> removeLeftoversIn(FileSystem& fileSystem, int directory,
                                           const std::vector<DirectoryEntry>& entries,
                                           const std::string& path);

}  // namespace tagsnip
