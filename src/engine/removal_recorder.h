#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace tagsnip {

struct RemovedRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// Receives what stays of a file, in order, piece by piece.
using StayingBytesSink = std::function<std::error_code(std::string_view bytes)>;

// Keeps what a run removes from a user's files so that it can be put back. The run asks it to
// keep a file's removed bytes before the change, leaves the file unchanged when that fails, and
// makes what was kept durable before any change it protects becomes durable itself.
class RemovalRecorder {
public:
    virtual ~RemovalRecorder() = default;

    // fd is the MP3 at path (as rows show it) as opened, size its length then; removed is sorted
    // by offset. staying gets what stays from the same read, so that a copy of it costs no
    // read of its own; its error ends the keeping with that error.
    [[nodiscard]] virtual std::error_code keepMp3(int fd, const std::string& path,
                                                  std::uint64_t size,
                                                  std::span<const RemovedRange> removed,
                                                  const StayingBytesSink& staying = {}) = 0;
    [[nodiscard]] virtual std::error_code keepPlaylist(const std::string& path,
                                                       std::string_view original,
                                                       std::string_view cleaned) = 0;
    [[nodiscard]] virtual std::error_code makeDurable() = 0;
    // Writes out what was kept and gives the descriptors whose flush makes it durable, for a
    // caller that flushes them with its own files before any change they protect is installed;
    // none when nothing was kept since. An error means that no file kept since the last call may
    // be changed.
    [[nodiscard]] virtual std::error_code writeOut(std::vector<int>& toFlush) = 0;
};

}  // namespace tagsnip
