#include "engine_fixture.h"

namespace tagsnip::test {
namespace {

class CleaningJobTest : public EngineTest {};

TEST_F(CleaningJobTest, MissingTrailingSlashIsAddedBeforeTheCheckAndStored) {
    host.directory = dir.path().substr(0, dir.path().size() - 1);
    run();
    EXPECT_EQ(host.directory, dir.path());
    EXPECT_EQ(store.written, std::vector<std::string>{dir.path()});
    EXPECT_EQ(host.callsStartingWith("SetDirectory"),
              std::vector<std::string>{"SetDirectory(" + dir.path() + ")"});
}

TEST_F(CleaningJobTest, EmptyOrMissingDirectoryIsRejectedWithNothingReset) {
    host.directory = "";
    run();
    host.directory = dir / "nowhere";
    run();
    writeFile(dir / "file", "x");
    host.directory = dir / "file";
    run();
    EXPECT_EQ(host.notices,
              (std::vector<std::string>{"Directory  not found or empty.",
                                        "Directory " + dir / "nowhere/" + " not found or empty.",
                                        "Directory " + dir / "file/" + " not found or empty."}));
    EXPECT_EQ(host.callsStartingWith("FocusDirectory").size(), 3u);
    EXPECT_TRUE(host.callsStartingWith("CollapseWindow").empty());
    EXPECT_TRUE(host.callsStartingWith("StartCaption").empty());
    EXPECT_TRUE(store.written.empty());
}

TEST_F(CleaningJobTest, NothingIsStoredWhileSaveSettingsIsClear) {
    flags.SaveSettings = false;
    run();
    EXPECT_TRUE(store.written.empty());
    EXPECT_EQ(host.startCaption, "继续");
}

TEST_F(CleaningJobTest, RunStepsComeInOrder) {
    host.set(JobSwitch::msgwhenfinished, true);
    flags.QuitWhenDone = true;
    run();
    const std::vector<std::string> expected = {
        "SetBusy(on)",
        "CollapseWindow()",
        "ShowCount(id3v1tags=0)",
        "ShowCount(id3v2tags=0)",
        "ShowCount(M3Ufound=-)",
        "ShowCount(PLSfound=-)",
        "ShowCount(filesfound=0)",
        "StartCaption(稍等)",
        "ShowCountPanel()",
        "StartCaption(继续)",
        "SetBusy(off)",
        "PumpEvents()",
        "FocusWindow()",
        "ShowInfo(已经移除 ，共计 0 个 MP3 文件。。)",
        "EndProgram()",
    };
    EXPECT_EQ(host.calls, expected);
}

TEST_F(CleaningJobTest, CaptionReadsPleaseWaitOnlyDuringTheRun) {
    writeFile(dir / "a.mp3", mpegAudio(2));
    std::string duringRun;
    host.onPump = [&] {
        if (duringRun.empty()) {
            duringRun = host.startCaption;
        }
    };
    EXPECT_EQ(host.startCaption, "开始(&G)");
    run();
    EXPECT_EQ(duringRun, "稍等");
    EXPECT_EQ(host.startCaption, "继续");
    EXPECT_TRUE(host.infos.empty());
    EXPECT_FALSE(host.endRequested);
}

TEST_F(CleaningJobTest, PressDuringARunOnlyAsksForAStop) {
    writeFile(dir / "a.mp3", mpegAudio(2));
    host.onPump = [&] {
        if (host.startCaption != "稍等") {
            return;
        }
        const std::size_t callsBefore = host.calls.size();
        cleaningJob().startClick();
        EXPECT_EQ(host.calls.size(), callsBefore + 1);
        EXPECT_EQ(host.startCaption, "继续");
    };
    flags.QuitWhenDone = true;
    run();
    EXPECT_TRUE(host.endRequested);
    EXPECT_EQ(host.startCaption, "继续");
    // The next press starts a fresh run, which clears the stop request.
    host.onPump = nullptr;
    run();
    EXPECT_EQ(state().counters.mp3Files, 1u);
    EXPECT_FALSE(state().StopRequested);
}

TEST(SummaryText, CountsEveryActiveSwitchInItsLine) {
    JobCounters counters;
    counters.id3v1Tags = 2;
    counters.id3v2Tags = 3;
    counters.mp3Files = 10;
    counters.m3uPlaylists = 1;
    counters.plsPlaylists = 4;
    EXPECT_EQ(summaryText(counters, true, true, true, true),
              "已经移除 2 个 ID3v1 标签和 3 个 ID3v2 标签，共计 10 个 MP3 文件。\r\n"
              "已经检查和清除 1 个 M3U 文件和 4 个 PLS 文件。");
    EXPECT_EQ(summaryText(counters, false, false, false, false),
              "已经移除 ，共计 10 个 MP3 文件。。");
    EXPECT_EQ(summaryText(counters, false, true, false, true),
              "已经移除 3 个 ID3v2 标签，共计 10 个 MP3 文件。\r\n已经检查和清除 4 个 PLS 文件。");
    EXPECT_EQ(summaryText(counters, true, false, true, false),
              "已经移除 2 个 ID3v1 标签，共计 10 个 MP3 文件。\r\n已经检查和清除 1 个 M3U 文件。");
}

}  // namespace
}  // namespace tagsnip::test
