#pragma once

#include "atomic_replacement.h"
#include "job_counters.h"
#include "message_style.h"
#include "tag_blocks.h"

#include <string>
#include <system_error>

namespace tagsnip {

// Every text the engine and the playlist work show the user, so that wording stays consistent and
// can be reviewed in one file.

// The text shown for an input/output error on a file, chosen by the error's meaning.
std::string ioErrorText(std::error_code error);
// The cause of an error in words (strerror's, or the engine's own), never a bare number: for the
// texts of the command-line tool that the window does not share.
std::string causeText(std::error_code error);
// The cause as style words it: ioErrorText's text for the system's, causeText's words otherwise.
std::string causeText(std::error_code error, MessageStyle style);
// "<path> - <cause>", with ", file not changed!" when the cause left the file alone.
std::string fileErrorText(const std::string& path, std::error_code error, MessageStyle style);
std::string couldNotOpenText(const std::string& path, std::error_code error, MessageStyle style);
std::string id3v2BeyondEndText(const std::string& path);
std::string id3v2IntoId3v1Text(const std::string& path);
// "APE tag size reaches before the start of the file", for the error message of a file.
std::string tagProblemText(const TagProblem& problem);
std::string tagProblemFileText(const std::string& path, const TagProblem& problem);

// The label of a replacement that removes every tag block, for replacementFailureText.
inline constexpr const char* allTagsLabel = "All";
// Why a replacement of path that was to remove the tag labelled tag failed.
std::string replacementFailureText(const std::string& path,
                                   const AtomicReplacement::Failure& failure, const char* tag,
                                   MessageStyle style);
// The message for a replacement that was refused to keep the user's file as it is (its owner or
// an extended attribute cannot be kept, its flags forbid it, or another program changed it or
// has it open), or "" for any other failure, which each kind of file words in its own way.
std::string refusalText(const std::string& path, const AtomicReplacement::Failure& failure);
std::string couldNotFlushDirectoryText(const std::string& path, std::error_code error,
                                       MessageStyle style);
// The bytes a change would remove could not be kept for a later restore, so the file stays.
std::string couldNotKeepText(const std::string& path, std::error_code error);
std::string couldNotKeepPlaylistText(const std::string& path, std::error_code error);

std::string couldNotReadDirectoryText(const std::string& directory, std::error_code error,
                                      MessageStyle style);
std::string leftoversRemovedText(unsigned removed, const std::string& directory);
// A file that has a temporary name but lacks the mark every temporary file of ours carries.
std::string notOurTemporaryText(const std::string& path);
std::string directoryNotFoundText(const std::string& directory);

std::string playlistCannotOpenText(const std::string& path, std::error_code error,
                                   MessageStyle style);
// Why the rewritten playlist could not take the place of the one at path.
std::string playlistCannotCreateText(const std::string& path,
                                     const AtomicReplacement::Failure& failure, MessageStyle style);

// The message shown when a run ends with the message switch on; lines end in CR LF.
std::string summaryText(const JobCounters& counters, bool remove1, bool remove2, bool cleanM3U,
                        bool cleanPLS);

}  // namespace tagsnip
