#include "cleaning_job.h"

#include "messages.h"
#include "path_text.h"

namespace tagsnip {

CleaningJob::CleaningJob(JobHost& host, FileSystem& fileSystem, PlaylistCleaner& playlistCleaner,
                         StartDirectoryStore& store, ProcessFlags& flags, RemovalRecorder* recorder)
    : m_host(host),
      m_options(host),
      m_fileSystem(fileSystem),
      m_store(store),
      m_flags(flags),
      m_id3Work(host, fileSystem, m_state, recorder),
      m_walk(host, fileSystem, m_state, m_id3Work, playlistCleaner) {}

RunResult CleaningJob::startClick() {
    if (m_host.StartCaption() == captionRunning) {
        m_state.StopRequested = true;
        m_host.StartCaption(captionIdle);
        return RunResult::done;
    }
    const std::string typed = m_host.ReadDirectory();
    const std::string directory = withTrailingSlash(typed);
    if (directory != typed) {
        m_host.SetDirectory(directory);
    }
    if (directory.empty() || !m_fileSystem.isDirectory(directory)) {
        m_host.ShowNotice(directoryNotFoundText(directory));
        m_host.FocusDirectory();
        return RunResult::directoryRefused;
    }
    if (m_flags.SaveSettings) {
        m_store.WriteStartDirectory(directory);
    }
    m_host.SetBusy(true);
    CleanUp();
    m_state.listedPaths.clear();
    m_state.fileErrors = 0;
    m_host.StartCaption(captionRunning);
    m_host.ShowCountPanel();

    m_walking = true;
    m_walk.getfiles(directory);
    m_id3Work.commitPending();
    m_walking = false;

    m_host.StartCaption(captionIdle);
    m_host.SetBusy(false);
    m_host.PumpEvents();
    if (m_options.msgwhenfinished()) {
        m_host.FocusWindow();
        m_host.ShowInfo(summaryText(m_state.counters, m_options.remove1(), m_options.remove2(),
                                    m_options.cleanM3U(), m_options.cleanPLS()));
    }
    if (m_flags.QuitWhenDone) {
        m_host.EndProgram();
    }
    return RunResult::done;
}

void CleaningJob::CleanUp() {
    m_host.CollapseWindow();
    m_state.StopRequested = false;
    m_state.counters = JobCounters{};
    m_host.ShowCount(CountLabel::id3v1tags, "0");
    m_host.ShowCount(CountLabel::id3v2tags, "0");
    m_host.ShowCount(CountLabel::M3Ufound, "-");
    m_host.ShowCount(CountLabel::PLSfound, "-");
    m_host.ShowCount(CountLabel::filesfound, "0");
}

}  // namespace tagsnip
