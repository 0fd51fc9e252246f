#include "leftovers.h"

#include "messages.h"
#include "temporary_names.h"

namespace tagsnip {

std::vector<std::string> removeLeftoversIn(FileSystem& fileSystem, int directory,
                                           const std::vector<DirectoryEntry>& entries,
                                           const std::string& path) {
    std::vector<std::string> texts;
    unsigned removed = 0;
    for (const DirectoryEntry& entry : entries) {
        if (entry.kind != EntryKind::regular || !isTemporaryName(entry.name)) {
            continue;
        }
        const Leftover leftover = fileSystem.removeLeftover(directory, entry.name);
        if (leftover == Leftover::removed) {
            ++removed;
        } else if (leftover == Leftover::unmarked) {
            texts.push_back(notOurTemporaryText(path + entry.name));
        }
    }
    if (removed > 0) {
        texts.insert(texts.begin(), leftoversRemovedText(removed, path));
    }
    return texts;
}

}  // namespace tagsnip
