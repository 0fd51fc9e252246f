#pragma once

#include "job_host.h"

#include <string>

namespace tagsnip {

// The start directory and the switches of a run. Nothing is copied: every question goes to the
// host at the moment of the decision, so a switch changed during a run counts from then on.
class JobOptions {
public:
    explicit JobOptions(JobHost& host) : m_host(host) {}

    std::string directory() const { return m_host.ReadDirectory(); }
    bool subdirectories() const { return m_host.ReadSwitch(JobSwitch::subdirectories); }
    bool remove1() const { return m_host.ReadSwitch(JobSwitch::remove1); }
    bool remove2() const { return m_host.ReadSwitch(JobSwitch::remove2); }
    bool ignoreattributes() const { return m_host.ReadSwitch(JobSwitch::ignoreattributes); }
    bool modonly() const { return m_host.ReadSwitch(JobSwitch::modonly); }
    bool msgwhenfinished() const { return m_host.ReadSwitch(JobSwitch::msgwhenfinished); }
    bool cleanM3U() const { return m_host.ReadSwitch(JobSwitch::cleanM3U); }
    bool cleanPLS() const { return m_host.ReadSwitch(JobSwitch::cleanPLS); }
    bool oneFileSystem() const { return m_host.StaysOnOneFileSystem(); }
    bool allTags() const { return m_host.RemovesEveryTag(); }
    MessageStyle wording() const { return m_host.Wording(); }
    FormatSet formats() const { return m_host.SelectedFormats(); }
    // Rows name the tag kinds found beside the two marks, and the total counts them.
    bool listsTagKinds() const { return allTags() || formats().beyondMp3(); }

private:
    JobHost& m_host;
};

}  // namespace tagsnip
