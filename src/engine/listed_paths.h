#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_set>

namespace tagsnip {

// The full paths of the rows listed in the current run, in the order they were listed. Paths are
// compared byte for byte; the index beside the list makes each membership test O(1).
class ListedPaths {
public:
    void append(const std::string& path);
    bool contains(std::string_view path) const { return m_index.count(path) != 0; }
    void clear();

    std::size_t size() const { return m_paths.size(); }
    const std::string& operator[](std::size_t position) const { return m_paths[position]; }

private:
    // A deque never moves its elements, so the index can refer to them.
    std::deque<std::string> m_paths;
    std::unordered_set<std::string_view> m_index;
};

}  // namespace tagsnip
