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
// it waits, still unnamed, until the batch is committed with one flush of all of its files issued
// at once; only then is each renamed over its original. The directories renamed into are flushed
// with the next batch's files, or by settle() after the last batch, so that each batch costs the
// journal one commit. A path thus still holds its complete old or complete new content at every
// moment, and a crash before a directory's flush can only bring back complete originals. Only the
// batch's own files are flushed, so another program's unwritten data never holds the run up.
class ReplacementBatch {
public:
    struct Bounds {
        std::size_t files = 256;
        std::uint64_t bytes = std::uint64_t{256} << 20;
        std::chrono::milliseconds age{500};
    };
    // Told of every replacement that failed at its commit and every cut whose flush failed, with
    // the path and the tag text given to add() or addCut(); a directory whose flush failed comes
    // with its path and no tag.
    using FailureReport = std::function<void(const std::string& path, const char* tag,
                                             const AtomicReplacement::Failure& failure)>;

    ReplacementBatch(FileSystem& fileSystem, Bounds bounds);
    ~ReplacementBatch();
    ReplacementBatch(const ReplacementBatch&) = delete;
    ReplacementBatch& operator=(const ReplacementBatch&) = delete;

    // A descriptor of the file's directory that stays open until the batch is committed.
    [[nodiscard]] std::error_code directoryOf(const FileLocation& file, int& fd);
    // What the replacements made in a directory descriptor that directoryOf gave share, until
    // the batch is committed.
    FolderFacts* folderFacts(int directoryFd);
    // Queues a replacement made in a directory descriptor that directoryOf gave, once its
    // content is complete.
    void add(std::unique_ptr<AtomicReplacement> replacement, int directoryFd,
             const std::string& path, const char* tag, std::uint64_t bytes);
    // Queues the flush of a file cut in place through fd, which the batch closes once flushed.
    void addCut(int fd, const std::string& path, const char* tag);
    // Closes fd with the next descriptors the batch is done with, a few dozen at the latest: a
    // file merely looked at costs no close of its own.
    void closeLater(int fd);
    // Counts a file that holds a descriptor until the batch is committed but is queued by the
    // caller, to be added to the batch at its commit.
    void hold();
    // Counts a replacement that was flushed and renamed on its own (a file system without unnamed
    // files) in a directory descriptor that directoryOf gave: the directory is flushed like
    // those the batch renamed into.
    void installedInto(int directoryFd);
    // Whether a bound is reached: commit now.
    bool due() const;
    // prerequisites are flushed with the batch's files and what the last commit left: when one
    // of them fails, nothing is installed and its error is returned, and the batch must be
    // dropped. afterInstall runs once the replacements are in place; what it adds is flushed and
    // installed before the commit ends. The cuts and the directories renamed into are left to
    // the next flush.
    [[nodiscard]] std::error_code commit(const FailureReport& report,
                                         const std::vector<int>& prerequisites = {},
                                         const std::function<void()>& afterInstall = {});
    // Drops every queued replacement, after a prerequisite could not be made durable; the cuts
    // already made and what the last commit left are still flushed by the next flush.
    void abandon();
    // Flushes what the last commit left to the next one, and closes what waits to be closed: due
    // after the last commit, before the run says that its changes are on disk.
    void settle(const FailureReport& report);

private:
    struct Pending;
    struct Cut;
    struct Directory;

    std::error_code flushAll(const FailureReport& report, const std::vector<int>& prerequisites);
    void installAll(const FailureReport& report);
    void endBatch();
    void startAgeIfEmpty();
    static void reportCutNotFlushed(const FailureReport& report, const Cut& cut,
                                    std::error_code error);
    std::error_code changeSinceTaken(const Directory& directory);
    void closeAll(const std::vector<int>& fds);
    // Empties the list, handing its descriptors to fds to be closed together.
    static void release(std::vector<Cut>& cuts, std::vector<int>& fds);
    static void release(std::vector<Directory>& directories, std::vector<int>& fds);

    FileSystem& m_fileSystem;
    Bounds m_bounds;
    std::vector<Pending> m_pending;
    std::vector<Cut> m_cuts;
    std::vector<Directory> m_directories;
    // Left by the last commit: flushed with the next batch's files.
    std::vector<Cut> m_cutsToSettle;
    std::vector<Directory> m_directoriesToSettle;
    std::vector<int> m_toClose;
    std::size_t m_held = 0;
    std::size_t m_installedAlone = 0;
    std::uint64_t m_bytes = 0;
    std::chrono::steady_clock::time_point m_oldest;
};

// What a run may queue given the descriptors the process may open: each queued file holds its
// own and, at worst, one of its directory. The soft limit is first raised toward what a full
// batch wants, as far as the hard limit allows: larger batches cost the journal fewer commits.
ReplacementBatch::Bounds batchBoundsRaisingDescriptorLimit();

}  // namespace tagsnip
