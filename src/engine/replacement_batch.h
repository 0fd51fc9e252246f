#pragma once

#include "atomic_replacement.h"
#include "file_system.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tagsnip {

// Replacements made durable together: each new file is written and its writeback started, then
// it waits, still unnamed, until the batch is committed with one flush for all of them; only then
// is each renamed over its original, and each directory touched is flushed once. A path thus
// still holds its complete old or complete new content at every moment, at the cost of one
// flush per batch instead of one per file.
class ReplacementBatch {
public:
    struct Bounds {
        std::size_t files = 64;
        std::uint64_t bytes = std::uint64_t{256} << 20;
        std::chrono::milliseconds age{500};
    };
    // Told of every replacement that failed at its commit, with the path and the tag text given
    // to add(); a directory whose flush failed comes with its path and no tag.
    using FailureReport = std::function<void(const std::string& path, const char* tag,
                                             const AtomicReplacement::Failure& failure)>;

    ReplacementBatch(FileSystem& fileSystem, Bounds bounds);
    ~ReplacementBatch();
    ReplacementBatch(const ReplacementBatch&) = delete;
    ReplacementBatch& operator=(const ReplacementBatch&) = delete;

    // A descriptor of the file's directory that stays open until the batch is committed.
    [[nodiscard]] std::error_code directoryOf(const FileLocation& file, int& fd);
    // Queues a replacement made in a directory descriptor that directoryOf gave, once its
    // content is complete.
    void add(std::unique_ptr<AtomicReplacement> replacement, int directoryFd,
             const std::string& path, const char* tag, std::uint64_t bytes);
    // Whether a bound is reached: commit now.
    bool due() const;
    void commit(const FailureReport& report);

private:
    struct Pending;
    struct Directory;

    void flushAll(const FailureReport& report);

    FileSystem& m_fileSystem;
    Bounds m_bounds;
    std::vector<Pending> m_pending;
    std::vector<Directory> m_directories;
    std::uint64_t m_bytes = 0;
    std::chrono::steady_clock::time_point m_oldest;
};

// What a run may queue given the descriptors the process may open: each queued file holds its
// own and, at worst, one of its directory.
ReplacementBatch::Bounds batchBoundsForDescriptorLimit();

}  // namespace tagsnip
