#pragma once

#include "support/temp_dir.h"

#include "engine/file_system.h"
#include "engine/job_host.h"
#include "engine/message_style.h"
#include "engine/removal_recorder.h"
#include "engine/switch_states.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tagsnip::test {

// What a case asks of the library it is made in, beyond its files.
struct CaseSetup {
    std::string library;
    // The file system the run goes through; the real one unless a fault is injected.
    std::unique_ptr<FileSystem> fileSystem = std::make_unique<FileSystem>();
    // The run is made as another user (nobody), so that modes refuse root too.
    bool otherUser = false;
    // Inode flags (chattr) to set, on library + name.
    std::vector<std::pair<std::string, unsigned>> inodeFlags;
    // A recorder whose keeping fails, as only the command-line tool keeps.
    bool failingRecorder = false;
};

// One fault the engine reports, with the text each wording gives it ("@" for the library):
// the system's own for the window, the cause in words for the command-line tool.
struct MessageCase {
    const char* name;
    std::vector<JobSwitch> switches;
    std::function<void(CaseSetup&)> prepare;
    const char* systemText;
    const char* wordsText;
};

const std::vector<MessageCase>& messageCases();

// A case made in a fresh library; its inode flags are cleared again when it goes.
class PreparedCase {
public:
    explicit PreparedCase(const MessageCase& messageCase);
    ~PreparedCase();
    PreparedCase(const PreparedCase&) = delete;
    PreparedCase& operator=(const PreparedCase&) = delete;

    // Why the case cannot be made here, or "".
    const std::string& skipReason() const { return m_skip; }
    const std::string& library() const { return m_setup.library; }
    bool keeps() const { return m_setup.failingRecorder; }
    std::string expected(MessageStyle style) const;
    // A run of host over the library, host's switches and directory being the case's.
    void run(JobHost& host);

private:
    const MessageCase& m_case;
    TempDir m_dir;
    CaseSetup m_setup;
    std::vector<std::pair<std::string, unsigned>> m_flagsSet;
    std::unique_ptr<RemovalRecorder> m_recorder;
    std::string m_skip;
};

}  // namespace tagsnip::test
