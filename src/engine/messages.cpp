#include "messages.h"

#include "file_system.h"
#include "path_text.h"
#include "temporary_names.h"

#include <cerrno>

namespace tagsnip {
namespace {

// The system's texts give the error's number where the command-line tool gives its cause.
std::string numberOrCause(std::error_code error, MessageStyle style) {
    return style == MessageStyle::system ? " - Error #" + std::to_string(error.value())
                                         : " - " + causeText(error);
}

// Only the command-line tool names a cause where the system's texts name none.
std::string causeInWords(std::error_code error, MessageStyle style) {
    return style == MessageStyle::words && error ? " - " + causeText(error) : std::string();
}

// A file or folder whose flags forbid the change: the system's own open of the file for
// writing, or its creation of the temporary file, fails then, and its text says so.
bool refusedForFlags(const AtomicReplacement::Failure& failure) {
    return failure.stage == AtomicReplacement::Stage::fileLocked ||
           failure.stage == AtomicReplacement::Stage::folderLocked;
}

std::string styledRefusalText(const std::string& path, const AtomicReplacement::Failure& failure,
                              MessageStyle style) {
    if (style == MessageStyle::system && refusedForFlags(failure)) {
        return {};
    }
    return refusalText(path, failure);
}

const char* streamName(AudioFormat format) {
    static constexpr const char* names[audioFormatCount] = {"MPEG audio", "FLAC", "Ogg",
                                                            "AAC",        "WAV",  "AIFF"};
    return names[static_cast<std::size_t>(format)];
}

}  // namespace

std::string ioErrorText(std::error_code error) {
    if (error.category() == make_error_code(EngineError::readBeyondEnd).category()) {
        return error.message();
    }
    switch (error.value()) {
        case ENOENT:
            return "File not found";
        case ENAMETOOLONG:
        case EINVAL:
            return "Invalid filename";
        case EMFILE:
        case ENFILE:
            return "Too many open files";
        case EACCES:
        case EPERM:
            return "File access denied";
        case ENOSPC:
        case EDQUOT:
            return "Disk full";
        default:
            return "I/O error " + std::to_string(error.value());
    }
}

std::string causeText(std::error_code error) {
    if (error.category() == make_error_code(EngineError::readBeyondEnd).category()) {
        return error.message();
    }
    return std::generic_category().message(error.value());
}

std::string causeText(std::error_code error, MessageStyle style) {
    return style == MessageStyle::system ? ioErrorText(error) : causeText(error);
}

std::string fileErrorText(const std::string& path, std::error_code error, MessageStyle style) {
    if (style == MessageStyle::system && error == EngineError::locked) {
        return couldNotOpenText(path, std::make_error_code(std::errc::operation_not_permitted),
                                style);
    }
    const bool leftAlone = error.category() == make_error_code(EngineError::inUse).category() &&
                           error != EngineError::readBeyondEnd;
    return path + " - " + causeText(error, style) + (leftAlone ? ", file not changed!" : "");
}

std::string couldNotOpenText(const std::string& path, std::error_code error, MessageStyle style) {
    return "Could not open " + path + numberOrCause(error, style);
}

std::string id3v2BeyondEndText(const std::string& path) {
    return path + " - ID3v2 Tag size reaches beyond end of file, file not changed!";
}

std::string id3v2IntoId3v1Text(const std::string& path) {
    return path + " - ID3v2 Tag size reaches into the ID3v1 tag, file not changed!";
}

std::string tagProblemText(const TagProblem& problem) {
    static constexpr const char* kinds[tagKindCount] = {"ID3v2", "ID3v1",   "Extended ID3v1",
                                                        "APE",   "Lyrics3", "Appended ID3v2"};
    static constexpr const char* faults[] = {
        "tag size field is malformed",
        "tag version is unknown",
        "tag size reaches before the start of the file",
        "tag size reaches beyond the end of the file",
        "tag reaches into the ID3v2 tag at the start",
        "tag does not begin where its size says",
        "tag has no beginning within the longest text allowed",
        "tag does not end where the %s stream begins",
        "tag does not begin where the %s stream ends",
    };
    std::string fault = faults[static_cast<std::size_t>(problem.fault)];
    if (const auto at = fault.find("%s"); at != std::string::npos) {
        fault.replace(at, 2, streamName(problem.format));
    }
    return std::string(kinds[static_cast<std::size_t>(problem.kind)]) + " " + fault;
}

// The two faults a run without every tag kind reports too are told in its words.
std::string tagProblemFileText(const std::string& path, const TagProblem& problem) {
    if (problem.kind == TagKind::id3v2 && problem.fault == TagFault::reachesBeyondEnd) {
        return id3v2BeyondEndText(path);
    }
    if (problem.kind == TagKind::id3v1 && problem.fault == TagFault::reachesIntoLeadingTags) {
        return id3v2IntoId3v1Text(path);
    }
    return path + " - " + tagProblemText(problem) + ", file not changed!";
}

std::string replacementFailureText(const std::string& path,
                                   const AtomicReplacement::Failure& failure, const char* tag,
                                   MessageStyle style) {
    const std::string notRemoved = tag == allTagsLabel
                                       ? " - Tags not removed!"
                                       : std::string(" - ") + tag + " Tag not removed!";
    if (std::string refusal = styledRefusalText(path, failure, style); !refusal.empty()) {
        return refusal;
    }
    if (failure.stage == AtomicReplacement::Stage::fileLocked) {
        return couldNotOpenText(path, failure.error, style);
    }
    if (failure.stage == AtomicReplacement::Stage::create ||
        failure.stage == AtomicReplacement::Stage::folderLocked) {
        return "Could not create " + directoryOf(path) + id3TemporaryName +
               causeInWords(failure.error, style) + notRemoved;
    }
    if (failure.stage == AtomicReplacement::Stage::rename) {
        return "Could not delete " + path + causeInWords(failure.error, style) + notRemoved;
    }
    if (failure.stage == AtomicReplacement::Stage::cutFlush) {
        const std::string removed =
            tag == allTagsLabel ? " - Tags removed" : std::string(" - ") + tag + " Tag removed";
        return "Could not flush " + path + " - " + causeText(failure.error, style) + removed +
               ", may not be on disk!";
    }
    return "Could not copy " + path + " - " + causeText(failure.error, style) + notRemoved;
}

std::string refusalText(const std::string& path, const AtomicReplacement::Failure& failure) {
    switch (failure.stage) {
        case AtomicReplacement::Stage::owner:
            return path + " - owner or group cannot be kept, file not changed!";
        case AtomicReplacement::Stage::changed:
            return path + " - changed by another program meanwhile, file not changed!";
        case AtomicReplacement::Stage::inUse:
            return path + " - " + make_error_code(EngineError::inUse).message() +
                   ", file not changed!";
        case AtomicReplacement::Stage::fileLocked:
            return path + " - " + make_error_code(EngineError::locked).message() +
                   ", file not changed!";
        case AtomicReplacement::Stage::folderLocked:
            return path + " - folder is immutable or append-only, file not changed!";
        case AtomicReplacement::Stage::attributes:
            if (failure.attribute.empty()) {
                return {};
            }
            return path + " - extended attribute " + failure.attribute +
                   " cannot be kept, file not changed!";
        default:
            return {};
    }
}

std::string couldNotKeepText(const std::string& path, std::error_code error) {
    return path + " - could not keep the removed bytes: " + causeText(error) +
           ", file not changed!";
}

std::string couldNotKeepPlaylistText(const std::string& path, std::error_code error) {
    return path + " - could not keep the removed text: " + causeText(error) + ", file not changed!";
}

std::string couldNotFlushDirectoryText(const std::string& path, std::error_code error,
                                       MessageStyle style) {
    return "Could not flush directory " + path + numberOrCause(error, style);
}

std::string couldNotReadDirectoryText(const std::string& directory, std::error_code error,
                                      MessageStyle style) {
    return "Could not read directory " + directory + numberOrCause(error, style);
}

std::string leftoversRemovedText(unsigned removed, const std::string& directory) {
    return "Removed " + std::to_string(removed) +
           " temporary file(s) left by an interrupted run in " + directory;
}

std::string notOurTemporaryText(const std::string& path) {
    return path +
           " - has the name of a temporary file but was not made by this program, left alone";
}

std::string directoryNotFoundText(const std::string& directory) {
    return "Directory " + directory + " not found or empty.";
}

// The window's error box ends a text without a full stop with one; the command-line tool puts
// the cause there.
std::string playlistCannotOpenText(const std::string& path, std::error_code error,
                                   MessageStyle style) {
    return "无法打开文件 " + path +
           (style == MessageStyle::system ? "." : causeInWords(error, style));
}

std::string playlistCannotCreateText(const std::string& path,
                                     const AtomicReplacement::Failure& failure,
                                     MessageStyle style) {
    if (std::string refusal = styledRefusalText(path, failure, style); !refusal.empty()) {
        return refusal;
    }
    return "Cannot create file " + path +
           (style == MessageStyle::system ? "." : causeInWords(failure.error, style));
}

std::string summaryText(const JobCounters& counters, bool remove1, bool remove2, bool cleanM3U,
                        bool cleanPLS) {
    std::string text;
    if (remove1) {
        text += std::to_string(counters.id3v1Tags) + " 个 ID3v1 标签";
        if (remove2) {
            text += "和 ";
        }
    }
    if (remove2) {
        text += std::to_string(counters.id3v2Tags) + " 个 ID3v2 标签";
    }
    text += "，共计 " + std::to_string(counters.mp3Files) + " 个 MP3 文件。";
    if (cleanM3U || cleanPLS) {
        text += "\r\n已经检查和清除 ";
    }
    if (cleanM3U) {
        text += std::to_string(counters.m3uPlaylists) + " 个 M3U 文件";
        if (cleanPLS) {
            text += "和 ";
        }
    }
    if (cleanPLS) {
        text += std::to_string(counters.plsPlaylists) + " 个 PLS 文件";
    }
    text += "。";
    return "已经移除 " + text;
}

}  // namespace tagsnip
