#pragma once

#include "engine/faulty_file_system.h"
#include "support/temp_dir.h"

#include "engine/job_host.h"
#include "engine/message_style.h"
#include "engine/removal_recorder.h"

#include <memory>
#include <string>
#include <vector>

namespace tagsnip::test {

// What the library of a case holds. The unreadable ones are read as another user (nobody), so
// that their modes refuse root too.
enum class Library { tagged, trailer, playlist, unreadablePlaylist, unreadableFolder };

// One fault the engine reports, with the text each wording gives it ("@" for the library): the
// system's own for the window, the cause in words for the command-line tool.
struct MessageCase {
    const char* name;
    JobSwitch on;
    Library library;
    FaultyFileSystem::Fault fault;
    int error;
    // An inode flag (chattr) set on library + flagged, unless null.
    const char* flagged;
    unsigned flag;
    // Keeping what the run removes fails; only the command-line tool keeps, so the window has
    // no text (null) for it.
    bool keepFails;
    const char* systemText;
    const char* wordsText;
};

const std::vector<MessageCase>& messageCases();

// A case made in a fresh library; its inode flag is cleared again when it goes.
class PreparedCase {
public:
    explicit PreparedCase(const MessageCase& messageCase);
    ~PreparedCase();
    PreparedCase(const PreparedCase&) = delete;
    PreparedCase& operator=(const PreparedCase&) = delete;

    // Why the case cannot be made here, or "".
    const std::string& skipReason() const { return m_skip; }
    const std::string& library() const { return m_dir.path(); }
    std::string expected(MessageStyle style) const;
    // A run over the library, host's switches and directory being the case's.
    void run(JobHost& host);

private:
    const MessageCase& m_case;
    TempDir m_dir;
    std::unique_ptr<FileSystem> m_fileSystem;
    std::unique_ptr<RemovalRecorder> m_recorder;
    bool m_flagSet = false;
    std::string m_skip;
};

}  // namespace tagsnip::test
