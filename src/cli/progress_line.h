#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>

namespace tagsnip::cli {

// A status line on a terminal, redrawn in place at most ten times a second.
class ProgressLine {
public:
    ProgressLine(std::ostream& terminal, std::size_t width);

    void update(std::uint32_t filesMet, const std::string& folder);
    void erase();

private:
    std::ostream& m_terminal;
    std::size_t m_width;
    std::chrono::steady_clock::time_point m_lastDraw{};
    bool m_shown = false;
};

}  // namespace tagsnip::cli
