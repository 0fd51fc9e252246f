#include "keeping_recorder.h"

#include "engine/path_text.h"

#include <vector>

namespace tagsnip::undo {

KeepingRecorder::KeepingRecorder(std::unique_ptr<RemovedBytesKeeper> keeper,
                                 const std::string& startDirectory)
    : m_keeper(std::move(keeper)), m_prefix(withTrailingSlash(startDirectory)) {}

bool KeepingRecorder::relative(const std::string& path, std::string& relativePath) const {
    if (!path.starts_with(m_prefix) || path.size() == m_prefix.size()) {
        return false;
    }
    relativePath = path.substr(m_prefix.size());
    return true;
}

std::error_code KeepingRecorder::keepMp3(int fd, const std::string& path, std::uint64_t size,
                                         std::span<const RemovedRange> removed,
                                         const StayingBytesSink& staying) {
    std::string relativePath;
    if (!relative(path, relativePath)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    std::vector<ByteRange> ranges;
    for (const RemovedRange& range : removed) {
        ranges.push_back({range.offset, range.length});
    }
    m_unflushed = true;
    return m_keeper->keepMp3(fd, relativePath, size, ranges, staying);
}

std::error_code KeepingRecorder::keepPlaylist(const std::string& path, std::string_view original,
                                              std::string_view cleaned) {
    std::string relativePath;
    if (!relative(path, relativePath)) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    m_unflushed = true;
    return m_keeper->keepPlaylist(relativePath, original, cleaned);
}

std::error_code KeepingRecorder::makeDurable() {
    if (!m_unflushed) {
        return {};
    }
    if (const auto error = m_keeper->flush()) {
        return error;
    }
    m_unflushed = false;
    return {};
}

// A flush of them that fails drops the changes they protect, and whatever is kept next sets
// m_unflushed anew.
std::error_code KeepingRecorder::writeOut(std::vector<int>& toFlush) {
    toFlush.clear();
    if (!m_unflushed) {
        return {};
    }
    m_unflushed = false;
    if (const auto error = m_keeper->writeOut()) {
        return error;
    }
    const auto fds = m_keeper->descriptors();
    toFlush.assign(fds.begin(), fds.end());
    return {};
}

}  // namespace tagsnip::undo
