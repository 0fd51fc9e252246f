#pragma once

#include "content_hash.h"
#include "manifest.h"

#include "engine/file_system.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>

namespace tagsnip::undo {

inline constexpr std::string_view keptDataFileName = "kept.data";

// The keeping side of a run: a folder KEEP/<date and time> holding the bytes the run removes
// (one data file) and the manifest that tells where they belong. A file's bytes and its record
// are appended before the file is replaced; a failed append leaves neither behind, and the file
// must then be left unchanged. Small appends wait in memory and are written out together, by
// flush() or writeOut() at the latest. Not thread-safe: the run keeps one file at a time.
class RemovedBytesKeeper {
public:
    // Opens keepDirectory, making it and missing folders above it (mode 0700), and makes the run
    // folder in it, refusing a keepDirectory inside the tree of startDirectory; writing the
    // manifest's first line and flushing it proves the folder writable before any file is changed.
    // Gives nullptr and a message for the user on failure.
    [[nodiscard]] static std::unique_ptr<RemovedBytesKeeper> open(FileSystem& fileSystem,
                                                                  const std::string& keepDirectory,
                                                                  const std::string& startDirectory,
                                                                  std::string& message);
    ~RemovedBytesKeeper();
    RemovedBytesKeeper(const RemovedBytesKeeper&) = delete;
    RemovedBytesKeeper& operator=(const RemovedBytesKeeper&) = delete;

    // Keeps the removed ranges of the MP3 open as fd (its first size bytes, read once), sorted by
    // offset, under relativePath, the file's path relative to the start directory; remaining
    // gets what stays from that read.
    [[nodiscard]] std::error_code keepMp3(int fd, const std::string& relativePath,
                                          std::uint64_t size, std::span<const ByteRange> removed,
                                          const RemainingBytesSink& remaining = {});
    // Keeps a playlist's whole original text; cleaned is what the run writes in its place.
    [[nodiscard]] std::error_code keepPlaylist(const std::string& relativePath,
                                               std::string_view original, std::string_view cleaned);

    // Makes everything kept so far durable; must succeed before the files kept are replaced. A
    // run that flushes several files together may flush descriptors() itself instead.
    [[nodiscard]] std::error_code flush();
    // Writes out what waits in memory, for a run that flushes descriptors() itself. An error
    // means that some of what was kept since the last writeOut is lost, possibly in an earlier
    // write-out: no file kept since then may be changed.
    [[nodiscard]] std::error_code writeOut();
    std::array<int, 2> descriptors() const { return {m_dataFd, m_manifestFd}; }
    // keepDirectory/<run folder name>, for messages and for the restore.
    const std::string& runPath() const { return m_runPath; }

private:
    RemovedBytesKeeper(FileSystem& fileSystem, std::string runPath);
    std::error_code create(int keepFd, const std::string& runName, const ManifestHeader& header);
    std::error_code append(const ManifestRecord& record, std::uint64_t dataEnd);
    std::error_code undoAppend(std::error_code error);
    std::error_code writeCutBytes();
    std::error_code writePending();
    std::error_code checkWritten();
    void startWritebackWhenDue();

    FileSystem& m_fileSystem;
    std::string m_runPath;
    int m_runFd = -1;
    int m_dataFd = -1;
    int m_manifestFd = -1;
    // The ends with what waits in memory, and without it.
    std::uint64_t m_dataEnd = 0;
    std::uint64_t m_dataWritten = 0;
    std::uint64_t m_writebackStarted = 0;
    std::uint64_t m_manifestEnd = 0;
    std::uint64_t m_manifestWritten = 0;
    // A file's cut bytes while it is read.
    std::string m_cutBytes;
    std::string m_pendingData;
    std::string m_pendingRecords;
    // A write-out failed since writeOut last answered.
    std::error_code m_lostPending;
    // Set when a failed append could not be taken back: nothing more may be appended after it.
    std::error_code m_broken;
};

}  // namespace tagsnip::undo
