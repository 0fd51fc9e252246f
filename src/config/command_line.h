#pragma once

#include "engine/process_flags.h"
#include "message_callback.h"
#include "settings.h"

#include <string>
#include <string_view>
#include <vector>

namespace tagsnip {

// The help shown for every unknown option; 416 bytes, lines ending in CR LF.
extern const std::string_view usageText;

enum class CommandLineItemKind {
    directory,
    subdirectories,
    ignoreattributes,
    startAtOnce,
    quitWhenDone,
    remove1,
    remove2,
    unknownOption,
};

struct CommandLineItem {
    CommandLineItemKind kind;
    // The directory with its trailing "/", or the option as given.
    std::string text;
};

// The arguments without the program name, in order; empty arguments are dropped. An argument
// starting with "-" is an option, any other a directory.
std::vector<CommandLineItem> parseCommandLine(const std::vector<std::string>& arguments);

// Applies the items in order, showing the usage text through showUsage once for every unknown
// option. Returns true when a run must start at once (the window then calls startClick).
[[nodiscard]] bool applyCommandLine(const std::vector<CommandLineItem>& items,
                                    WindowSettings& settings, ProcessFlags& flags,
                                    const MessageCallback& showUsage);

}  // namespace tagsnip
