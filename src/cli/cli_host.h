#pragma once

#include "cli_options.h"
#include "progress_line.h"

#include "engine/cleaning_job.h"
#include "engine/job_host.h"

#include <csignal>
#include <ostream>
#include <string>

namespace tagsnip::cli {

// The engine's host for a terminal or a script: rows go to standard output, every message box
// becomes a line on standard error.
class CliHost final : public JobHost {
public:
    // interrupt, when given, holds the number of a signal that asked the program to stop.
    CliHost(const RunRequest& request, std::ostream& out, std::ostream& err, ProgressLine* progress,
            const volatile std::sig_atomic_t* interrupt);

    void attach(CleaningJob& job) { m_job = &job; }
    // The signal that stopped the run or came after its last file, 0 when none did.
    int stopSignal() const;
    void finish();

    bool ReadSwitch(JobSwitch which) override;
    std::string ReadDirectory() override { return m_directory; }
    void SetDirectory(const std::string& text) override { m_directory = text; }
    void FocusDirectory() override {}
    std::string StartCaption() override { return m_startCaption; }
    void StartCaption(const std::string& caption) override { m_startCaption = caption; }
    void ShowCount(CountLabel, const std::string&) override {}
    void PumpEvents() override;
    void AddRow(const ResultRow& row) override;
    void ExpandForRows() override {}
    void CollapseWindow() override {}
    void ShowCountPanel() override {}
    void SetBusy(bool) override {}
    void ShowNotice(const std::string& text) override { message(text); }
    void ShowInfo(const std::string& text) override { message(text); }
    void ShowError(const std::string& text) override { message(text); }
    void FocusWindow() override {}
    void EndProgram() override {}
    bool StaysOnOneFileSystem() override { return m_oneFileSystem; }
    bool RemovesEveryTag() override { return m_allTags; }
    FormatSet SelectedFormats() override { return m_formats; }
    MessageStyle Wording() override { return MessageStyle::words; }

private:
    void message(const std::string& text);
    void stop();

    SwitchStates m_switches;
    std::string m_directory;
    bool m_nullRecords;
    bool m_oneFileSystem;
    bool m_allTags;
    FormatSet m_formats;
    std::string m_startCaption = "开始(&G)";
    std::ostream& m_out;
    std::ostream& m_err;
    ProgressLine* m_progress;
    const volatile std::sig_atomic_t* m_interrupt;
    CleaningJob* m_job = nullptr;
    bool m_stopped = false;
    int m_stopSignal = 0;
};

}  // namespace tagsnip::cli
