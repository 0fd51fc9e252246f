#pragma once

#include <string>
#include <variant>
#include <vector>

namespace tagsnip::cli {

struct CliSwitches {
    bool subdirectories = false;
    bool remove1 = false;
    bool remove2 = false;
    bool ignoreattributes = false;
    bool modonly = false;
    bool cleanM3U = false;
    bool cleanPLS = false;
};

struct RunRequest {
    CliSwitches switches;
    std::string directory;
    // Records end in NUL and carry the path's raw bytes, instead of escaped lines.
    bool nullRecords = false;
};
struct HelpRequest {};
struct VersionRequest {};
struct UsageError {
    std::string message;
};

using CliCommand = std::variant<RunRequest, HelpRequest, VersionRequest, UsageError>;

// Options may stand before or after the directory; "--" ends the options, so that a directory
// whose name begins with "-" can still be named.
CliCommand parseCliArguments(const std::vector<std::string>& arguments);

extern const char* const cliUsageText;

}  // namespace tagsnip::cli
