#pragma once

#include "removed_bytes_keeper.h"

#include "engine/removal_recorder.h"

#include <memory>
#include <string>

namespace tagsnip::undo {

// What a run removes, handed to a keeper under paths relative to the start directory.
class KeepingRecorder final : public RemovalRecorder {
public:
    // startDirectory as the run's rows begin with it.
    KeepingRecorder(std::unique_ptr<RemovedBytesKeeper> keeper, const std::string& startDirectory);

    [[nodiscard]] std::error_code keepMp3(int fd, const std::string& path, std::uint64_t size,
                                          std::span<const RemovedRange> removed,
                                          const StayingBytesSink& staying = {}) override;
    [[nodiscard]] std::error_code keepPlaylist(const std::string& path, std::string_view original,
                                               std::string_view cleaned) override;
    // Flushes only when something was kept since the last time.
    [[nodiscard]] std::error_code makeDurable() override;
    [[nodiscard]] std::error_code writeOut(std::vector<int>& toFlush) override;

    const std::string& runPath() const { return m_keeper->runPath(); }

private:
    [[nodiscard]] bool relative(const std::string& path, std::string& relativePath) const;

    std::unique_ptr<RemovedBytesKeeper> m_keeper;
    std::string m_prefix;
    bool m_unflushed = false;
};

}  // namespace tagsnip::undo
