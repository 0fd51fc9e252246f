#include "recording_host.h"

namespace tagsnip::test {

const char* labelName(CountLabel label) {
    switch (label) {
        case CountLabel::filesfound:
            return "filesfound";
        case CountLabel::id3v1tags:
            return "id3v1tags";
        case CountLabel::id3v2tags:
            return "id3v2tags";
        case CountLabel::M3Ufound:
            return "M3Ufound";
        case CountLabel::PLSfound:
            return "PLSfound";
    }
    return "?";
}

RecordingHost::RecordingHost() {
    // Every switch off unless a test turns it on.
    for (auto which : {JobSwitch::subdirectories, JobSwitch::remove1, JobSwitch::remove2,
                       JobSwitch::ignoreattributes, JobSwitch::modonly, JobSwitch::msgwhenfinished,
                       JobSwitch::cleanM3U, JobSwitch::cleanPLS}) {
        switches[which] = false;
    }
}

std::vector<std::string> RecordingHost::callsStartingWith(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const auto& call : calls) {
        if (call.rfind(prefix, 0) == 0) {
            matching.push_back(call);
        }
    }
    return matching;
}

bool RecordingHost::ReadSwitch(JobSwitch which) {
    return switches.at(which);
}
std::string RecordingHost::ReadDirectory() {
    return directory;
}

void RecordingHost::SetDirectory(const std::string& text) {
    calls.push_back("SetDirectory(" + text + ")");
    directory = text;
}

void RecordingHost::FocusDirectory() {
    calls.push_back("FocusDirectory()");
}
std::string RecordingHost::StartCaption() {
    return startCaption;
}

void RecordingHost::StartCaption(const std::string& caption) {
    calls.push_back("StartCaption(" + caption + ")");
    startCaption = caption;
}

void RecordingHost::ShowCount(CountLabel label, const std::string& text) {
    calls.push_back(std::string("ShowCount(") + labelName(label) + "=" + text + ")");
    counts[label] = text;
}

void RecordingHost::PumpEvents() {
    calls.push_back("PumpEvents()");
    ++pumps;
    if (onPump) {
        onPump();
    }
}

// Logged as the caption followed by the two marks, the order in which the list shows them.
void RecordingHost::AddRow(const ResultRow& row) {
    calls.push_back("AddRow(" + row.caption + ")");
    calls.push_back("AddMark(" + row.id3v1Mark + ")");
    calls.push_back("AddMark(" + row.id3v2Mark + ")");
    rows.push_back(row);
}

void RecordingHost::ExpandForRows() {
    calls.push_back("ExpandForRows()");
}

void RecordingHost::CollapseWindow() {
    calls.push_back("CollapseWindow()");
    rows.clear();
}

void RecordingHost::ShowCountPanel() {
    calls.push_back("ShowCountPanel()");
}
void RecordingHost::SetBusy(bool busy) {
    calls.push_back(busy ? "SetBusy(on)" : "SetBusy(off)");
}

void RecordingHost::ShowNotice(const std::string& text) {
    calls.push_back("ShowNotice(" + text + ")");
    notices.push_back(text);
}

void RecordingHost::ShowInfo(const std::string& text) {
    calls.push_back("ShowInfo(" + text + ")");
    infos.push_back(text);
}

void RecordingHost::ShowError(const std::string& text) {
    calls.push_back("ShowError(" + text + ")");
    errors.push_back(text);
}

void RecordingHost::FocusWindow() {
    calls.push_back("FocusWindow()");
}

void RecordingHost::EndProgram() {
    calls.push_back("EndProgram()");
    endRequested = true;
}

}  // namespace tagsnip::test
