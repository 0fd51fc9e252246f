#include "cli_host.h"

#include "engine/line_escaping.h"

namespace tagsnip::cli {

CliHost::CliHost(const RunRequest& request, std::ostream& out, std::ostream& err,
                 ProgressLine* progress, const volatile std::sig_atomic_t* interrupt)
    : m_switches(request.switches),
      m_directory(request.directory),
      m_nullRecords(request.nullRecords),
      m_oneFileSystem(request.oneFileSystem),
      m_allTags(request.allTags),
      m_formats(request.formats),
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
        std::uint32_t files = counts.mp3Files + counts.m3uPlaylists + counts.plsPlaylists;
        for (const std::uint32_t audioFiles : counts.otherAudioFiles) {
            files += audioFiles;
        }
        m_progress->update(files, escapeForLine(m_job->currentDirectory()));
    }
}

int CliHost::stopSignal() const {
    if (m_stopSignal != 0 || m_interrupt == nullptr) {
        return m_stopSignal;
    }
    return *m_interrupt;
}

void CliHost::stop() {
    if (!m_stopped && m_job != nullptr) {
        m_stopped = true;
        m_job->requestStop();
    }
}

// The kinds stand before the path, so that the path stays the last field whatever it holds.
void CliHost::AddRow(const ResultRow& row) {
    if (m_progress != nullptr) {
        m_progress->erase();
    }
    m_out << row.id3v1Mark << '\t' << row.id3v2Mark << '\t';
    if (!row.tagKinds.empty()) {
        m_out << row.tagKinds << '\t';
    }
    if (m_nullRecords) {
        m_out << row.RowPath << '\0';
    } else {
        m_out << escapeForLine(row.RowPath) << '\n';
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
