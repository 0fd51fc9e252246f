#pragma once

namespace tagsnip {

// How the engine words a cause in the texts it shows its host.
enum class MessageStyle {
    // The system's own texts, error numbers included, exactly as the window shows them.
    system,
    // Every cause in words (strerror's), never a bare number: the command-line tool's.
    words,
};

}  // namespace tagsnip
