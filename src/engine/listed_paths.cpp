#include "listed_paths.h"

namespace tagsnip {

void ListedPaths::append(const std::string& path) {
    m_paths.push_back(path);
    m_index.insert(m_paths.back());
}

void ListedPaths::clear() {
    m_index.clear();
    m_paths.clear();
}

}  // namespace tagsnip
