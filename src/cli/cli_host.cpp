#include "cli_host.h"

#include "escaping.h"

namespace tagsnip::cli {

CliHost::CliHost(const RunRequest& request, std::ostream& out, std::ostream& err,
                 ProgressLine* progress, const volatile std::sig_atomic_t* interrupt)
    : m_switches(request.switches),
      m_directory(request.directory),
      m_nullRecords(request.nullRecords),
      m_oneFileSystem(request.oneFileSystem),
      m_out(out),
      m_err(err),
      m_progress(progress),
      m_interrupt(interrupt) {}

bool CliHost::ReadSwitch(JobSwitch which) {
    return m_switches[which];
}

void CliHost::PumpEvents() {
    if (m_interrupt != nullptr && *m_interrupt != 0 && m_stopSignal == 0) {
        m_stopSignal = *m_interrupt;
        stop();
    }
    if (m_progress != nullptr && m_job != nullptr) {
        const JobCounters& counts = m_job->state().counters;
        m_progress->update(counts.mp3Files + counts.m3uPlaylists + counts.plsPlaylists,
                           escapeForLine(m_job->currentDirectory()));
    }
}

void CliHost::stop() {
    if (!m_stopped && m_job != nullptr) {
        m_stopped = true;
        m_job->requestStop();
    }
}

void CliHost::AddRow(const std::string&, const std::string& path) {
    m_rowPath = path;
    m_rowMarks.clear();
    m_marks = 0;
}

void CliHost::AddMark(const std::string& mark) {
    m_rowMarks += mark;
    m_rowMarks += '\t';
    if (++m_marks == 2) {
        writeRow();
    }
}

void CliHost::writeRow() {
    if (m_progress != nullptr) {
        m_progress->erase();
    }
    m_out << m_rowMarks;
    if (m_nullRecords) {
        m_out << m_rowPath << '\0';
    } else {
        m_out << escapeForLine(m_rowPath) << '\n';
    }
    if (m_progress != nullptr) {
        // Rows and the progress line share the terminal; keep them in order.
        m_out.flush();
    }
    if (!m_out) {
        // Nobody learns what the rest of the run would change: end it as Ctrl+C would.
        stop();
    }
}

void CliHost::ShowNotice(const std::string& text) {
    m_directoryRejected = true;
    message(text);
}

void CliHost::message(const std::string& text) {
    if (m_progress != nullptr) {
        m_progress->erase();
    }
    m_out.flush();
    m_err << escapeForLine(text) << '\n';
    m_err.flush();
}

void CliHost::finish() {
    if (m_progress != nullptr) {
        m_progress->erase();
    }
}

}  // namespace tagsnip::cli
