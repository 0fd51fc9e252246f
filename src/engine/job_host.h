#pragma once

#include "audio_format.h"
#include "message_style.h"
#include "result_row.h"
#include "switch_states.h"

#include <string>

namespace tagsnip {

// The five count labels.
enum class CountLabel {
    filesfound,
    id3v1tags,
    id3v2tags,
    M3Ufound,
    PLSfound,
};

// Everything the engine needs from whoever drives it: the window, the command-line tool or a
// test. The engine never reaches its host any other way.
class JobHost {
public:
    virtual ~JobHost() = default;

    // The switch's state at the moment of each reading.
    virtual bool ReadSwitch(JobSwitch which) = 0;
    virtual std::string ReadDirectory() = 0;
    virtual void SetDirectory(const std::string& text) = 0;
    virtual void FocusDirectory() = 0;
    virtual std::string StartCaption() = 0;
    virtual void StartCaption(const std::string& caption) = 0;
    virtual void ShowCount(CountLabel label, const std::string& text) = 0;
    virtual void PumpEvents() = 0;
    virtual void AddRow(const ResultRow& row) = 0;
    virtual void ExpandForRows() = 0;
    virtual void CollapseWindow() = 0;
    virtual void ShowCountPanel() = 0;
    virtual void SetBusy(bool busy) = 0;
    virtual void ShowNotice(const std::string& text) = 0;
    virtual void ShowInfo(const std::string& text) = 0;
    virtual void ShowError(const std::string& text) = 0;
    virtual void FocusWindow() = 0;
    virtual void EndProgram() = 0;
    // Whether the walk leaves out folders on other mounts than the start directory's (bind
    // mounts too, which find -xdev enters); the window has no such switch.
    virtual bool StaysOnOneFileSystem() { return false; }
    // Whether every tag block a file carries goes in one pass (stacked and appended ID3v2, APE,
    // Lyrics3, extended ID3v1), not only an ID3v1 trailer and one ID3v2 tag per run; the window
    // has no such switch.
    virtual bool RemovesEveryTag() { return false; }
    // The audio formats whose files a folder's first pass takes; the window takes MP3 files only.
    virtual FormatSet SelectedFormats() { return FormatSet::only(AudioFormat::mp3); }
    // How messages word their causes; the window keeps the system's own texts.
    virtual MessageStyle Wording() { return MessageStyle::system; }
};

}  // namespace tagsnip
