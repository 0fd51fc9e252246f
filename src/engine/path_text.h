#pragma once

#include <string>
#include <string_view>

namespace tagsnip {

// Everything up to and including the last "/" of path; "" when it has none.
inline std::string directoryOf(std::string_view path) {
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

// A directory as the walk takes it: with a "/" at its end. "" stays "".
inline std::string withTrailingSlash(std::string directory) {
    if (!directory.empty() && directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

}  // namespace tagsnip
