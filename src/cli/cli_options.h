#pragma once

#include "engine/audio_format.h"
#include "engine/switch_states.h"

#include <string>
#include <variant>
#include <vector>

namespace tagsnip::cli {

struct RunRequest {
    // All off unless given; the message switch stays off, the total line takes its place.
    SwitchStates switches;
    std::string directory;
    // Records end in NUL and carry the path's raw bytes, instead of escaped lines.
    bool nullRecords = false;
    // Folders on other mounts than the directory's are left out, bind mounts included.
    bool oneFileSystem = false;
    // Every tag block a file carries goes, not only the ID3v1 trailer and one ID3v2 tag; the
    // switches remove1 and remove2 are on with it.
    bool allTags = false;
    // The audio formats whose files the run takes.
    FormatSet formats = FormatSet::only(AudioFormat::mp3);
    // Where the bytes the run removes are kept for --restore; "" keeps nothing.
    std::string keepDirectory;
};
// Puts back what the run whose folder is runDirectory removed.
struct RestoreRequest {
    std::string runDirectory;
    bool nullRecords = false;
};
struct HelpRequest {};
struct VersionRequest {};
struct UsageError {
    std::string message;
};

using CliCommand =
    std::variant<RunRequest, RestoreRequest, HelpRequest, VersionRequest, UsageError>;

// Options may stand before or after the directory; "--" ends the options, so that a directory
// whose name begins with "-" can still be named.
CliCommand parseCliArguments(const std::vector<std::string>& arguments);

extern const char* const cliUsageText;

}  // namespace tagsnip::cli
