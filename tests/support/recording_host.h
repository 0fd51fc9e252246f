#pragma once

#include "engine/job_host.h"
#include "engine/result_row.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tagsnip::test {

// A host that records every call in order, for tests to assert on; switches and the directory
// are set by the test, and onPump lets a test act from inside the walk's event pumping.
class RecordingHost : public JobHost {
public:
    RecordingHost();

    std::map<JobSwitch, bool> switches;
    std::string directory;
    std::string startCaption = "开始(&G)";
    std::map<CountLabel, std::string> counts;
    std::vector<ResultRow> rows;
    // Every call, as "Name(argument)".
    std::vector<std::string> calls;
    std::vector<std::string> notices, infos, errors;
    std::function<void()> onPump;
    int pumps = 0;
    bool endRequested = false;

    void set(JobSwitch which, bool on) { switches[which] = on; }
    // The calls whose names start with prefix, in order.
    std::vector<std::string> callsStartingWith(const std::string& prefix) const;

    bool ReadSwitch(JobSwitch which) override;
    std::string ReadDirectory() override;
    void SetDirectory(const std::string& text) override;
    void FocusDirectory() override;
    std::string StartCaption() override;
    void StartCaption(const std::string& caption) override;
    void ShowCount(CountLabel label, const std::string& text) override;
    void PumpEvents() override;
    void AddRow(const ResultRow& row) override;
    void ExpandForRows() override;
    void CollapseWindow() override;
    void ShowCountPanel() override;
    void SetBusy(bool busy) override;
    void ShowNotice(const std::string& text) override;
    void ShowInfo(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void FocusWindow() override;
    void EndProgram() override;
    bool StaysOnOneFileSystem() override { return oneFileSystem; }
    bool RemovesEveryTag() override { return allTags; }
    MessageStyle Wording() override { return wording; }

    bool oneFileSystem = false;
    bool allTags = false;
    MessageStyle wording = MessageStyle::system;
};

const char* labelName(CountLabel label);

}  // namespace tagsnip::test
