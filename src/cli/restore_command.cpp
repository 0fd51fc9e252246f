#include "restore_command.h"

#include "exit_status.h"

#include "engine/line_escaping.h"

#include "engine/file_system.h"
#include "undo/restore_run.h"

namespace tagsnip::cli {
namespace {

using undo::RestoreOutcome;

const char* mark(bool putBack) {
    return putBack ? "X" : "-";
}

// The row of a run: the ID3v1 and ID3v2 marks, then the path; X marks a tag put back.
void writeRow(std::ostream& out, const undo::RestoreResult& result, bool nullRecords) {
    const bool mp3 = result.kind == undo::FileKind::mp3;
    out << mark(mp3 && result.endPutBack) << '\t' << mark(mp3 && result.startPutBack) << '\t';
    if (nullRecords) {
        out << result.path << '\0';
    } else {
        out << escapeForLine(result.path) << '\n';
    }
}

}  // namespace

int restoreCommand(const RestoreRequest& request, std::ostream& out, std::ostream& err,
                   const volatile std::sig_atomic_t* interrupt) {
    FileSystem fileSystem;
    const auto stopRequested = [interrupt] { return interrupt != nullptr && *interrupt != 0; };
    const undo::RestoreReport report =
        undo::restoreRun(fileSystem, request.runDirectory, stopRequested);
    if (!report.error.empty()) {
        err << escapeForLine(report.error) << '\n';
        return exitUsage;
    }
    for (const std::string& notice : report.notices) {
        err << escapeForLine(notice) << '\n';
    }
    std::size_t restored = 0;
    std::size_t already = 0;
    for (const undo::RestoreResult& result : report.results) {
        if (result.outcome == RestoreOutcome::restored) {
            ++restored;
            writeRow(out, result, request.nullRecords);
        } else if (result.outcome == RestoreOutcome::alreadyOriginal) {
            ++already;
        } else {
            out.flush();
            err << escapeForLine(result.path + " - " + result.message) << '\n';
        }
    }
    if (restored == 0 && already > 0 && report.allRestored()) {
        err << escapeForLine(request.runDirectory +
                             " - already restored: every file is as before the run, nothing "
                             "changed")
            << '\n';
    }
    out << "total restored=" << restored << " already=" << already
        << " not-restored=" << report.results.size() - restored - already
        << (request.nullRecords ? '\0' : '\n');
    if (report.stopped) {
        return exitSignalBase + *interrupt;
    }
    return report.allRestored() ? exitDone : exitFileErrors;
}

}  // namespace tagsnip::cli
