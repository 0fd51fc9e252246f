#include "command_line.h"

#include "engine/ascii_case.h"
#include "engine/path_text.h"

#include <array>
#include <utility>

namespace tagsnip {

const std::string_view usageText =
    "tagsnip <directory> -s -t1 -t2 -i -r -q\r\n"
    "\r\n"
    "\r\n"
    "Explanation:\r\n"
    "\r\n"
    "<directory>           starting directory\r\n"
    "-s                    include subdirectories\r\n"
    "-t1                   remove ID3V1 Tags\r\n"
    "-t2                   remove ID3V2 Tags\r\n"
    "-i                    ignore file attributes\r\n"
    "-r                    start removal immediately\r\n"
    "-q                    close/end programm after job done\r\n"
    "-?                    this help\r\n";

namespace {

// Compared in this order; the first equal one decides.
constexpr std::array<std::pair<std::string_view, CommandLineItemKind>, 6> options{{
    {"-s", CommandLineItemKind::subdirectories},
    {"-i", CommandLineItemKind::ignoreattributes},
    {"-r", CommandLineItemKind::startAtOnce},
    {"-q", CommandLineItemKind::quitWhenDone},
    {"-t1", CommandLineItemKind::remove1},
    {"-t2", CommandLineItemKind::remove2},
}};

CommandLineItem parseArgument(const std::string& argument) {
    if (argument.front() != '-') {
        return {CommandLineItemKind::directory, withTrailingSlash(argument)};
    }
    for (const auto& [literal, kind] : options) {
        if (equalIgnoringAsciiCase(argument, literal)) {
            return {kind, argument};
        }
    }
    return {CommandLineItemKind::unknownOption, argument};
}

}  // namespace

std::vector<CommandLineItem> parseCommandLine(const std::vector<std::string>& arguments) {
    std::vector<CommandLineItem> items;
    for (const std::string& argument : arguments) {
        if (!argument.empty()) {
            items.push_back(parseArgument(argument));
        }
    }
    return items;
}

bool applyCommandLine(const std::vector<CommandLineItem>& items, WindowSettings& settings,
                      ProcessFlags& flags, const MessageCallback& showUsage) {
    bool startAtOnce = false;
    for (const CommandLineItem& item : items) {
        switch (item.kind) {
            case CommandLineItemKind::directory:
                settings.directory = item.text;
                break;
            case CommandLineItemKind::subdirectories:
                settings.switches.subdirectories = true;
                break;
            case CommandLineItemKind::ignoreattributes:
                settings.switches.ignoreattributes = true;
                break;
            case CommandLineItemKind::startAtOnce:
                startAtOnce = true;
                break;
            case CommandLineItemKind::quitWhenDone:
                flags.QuitWhenDone = true;
                flags.SaveSettings = false;
                break;
            case CommandLineItemKind::remove1:
                settings.switches.remove1 = true;
                break;
            case CommandLineItemKind::remove2:
                settings.switches.remove2 = true;
                break;
            case CommandLineItemKind::unknownOption:
                flags.SaveSettings = false;
                if (showUsage) {
                    showUsage(std::string(usageText));
                }
                break;
        }
    }
    return startAtOnce;
}

}  // namespace tagsnip
