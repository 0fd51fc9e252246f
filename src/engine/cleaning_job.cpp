#include "cleaning_job.h"

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

void CleaningJob::startClick() {
    if (m_host.StartCaption() == captionRunning) {
        m_state.StopRequested = true;
        m_host.StartCaption(captionIdle);
        return;
    }
    const std::string typed = m_host.ReadDirectory();
    const std::string directory = withTrailingSlash(typed);
    if (directory != typed) {
        m_host.SetDirectory(directory);
    }
    if (directory.empty() || !m_fileSystem.isDirectory(directory)) {
        m_host.ShowNotice("Directory " + directory + " not found or empty.");
        m_host.FocusDirectory();
        return;
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

std::string summaryText(const JobCounters& counters, bool remove1, bool remove2, bool cleanM3U,
                        bool cleanPLS) {
    std::string text;
    if (remove1) {
        text += std::to_string(counters.id3v1Tags) + " 个 ID3v1 标签";
        if (remove2) {
            text += "和 ";
        }
    }
    if (remove2) {
        text += std::to_string(counters.id3v2Tags) + " 个 ID3v2 标签";
    }
    text += "，共计 " + std::to_string(counters.mp3Files) + " 个 MP3 文件。";
    if (cleanM3U || cleanPLS) {
        text += "\r\n已经检查和清除 ";
    }
    if (cleanM3U) {
        text += std::to_string(counters.m3uPlaylists) + " 个 M3U 文件";
        if (cleanPLS) {
            text += "和 ";
        }
    }
    if (cleanPLS) {
        text += std::to_string(counters.plsPlaylists) + " 个 PLS 文件";
    }
    text += "。";
    return "已经移除 " + text;
}

}  // namespace tagsnip
