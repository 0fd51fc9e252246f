#include "progress_line.h"

namespace tagsnip::cli {

ProgressLine::ProgressLine(std::ostream& terminal, std::size_t width)
    : m_terminal(terminal), m_width(width < 20 ? 20 : width) {}

void ProgressLine::update(std::uint32_t filesMet, const std::string& folder) {
    const auto now = std::chrono::steady_clock::now();
    if (m_shown && now - m_lastDraw < std::chrono::milliseconds(100)) {
        return;
    }
    m_lastDraw = now;
    std::string text = std::to_string(filesMet) + " files  " + folder;
    // Keep the end of the folder, the part that changes; one column stays free so the terminal
    // never wraps.
    if (text.size() > m_width - 1) {
        text = "..." + text.substr(text.size() - (m_width - 4));
    }
    m_terminal << "\r\033[K" << text;
    m_terminal.flush();
    m_shown = true;
}

void ProgressLine::erase() {
    if (!m_shown) {
        return;
    }
    m_terminal << "\r\033[K";
    m_terminal.flush();
    m_shown = false;
}

}  // namespace tagsnip::cli
