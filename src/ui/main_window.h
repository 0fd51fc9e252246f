#pragma once

#include "browse_folder.h"
#include "file_list.h"
#include "message_boxes.h"

#include "config/registry_store.h"
#include "config/settings.h"
#include "engine/cleaning_job.h"
#include "engine/file_system.h"
#include "engine/job_host.h"
#include "engine/process_flags.h"
#include "playlist/playlist_files.h"

#include <QElapsedTimer>
#include <QWidget>

#include <array>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tagsnip::ui {

class UiServices;

inline constexpr const char* windowCaption = "Tallowmere TagSnip v1.4";
inline constexpr const char* homePageHost = "www.tallowmere.example";

// What the window takes from the process at creation.
struct FormStartup {
    // The directory of the program's own file, ending in "/".
    std::string programDirectory;
    // The arguments without the program name.
    std::vector<std::string> arguments;
};

// The text of the directory field after it loses the focus.
std::string normalisedDirectory(std::string text);

// The main window: it holds the switches, the start directory, the counts and the result list,
// and is the host through which a cleaning run shows its progress.
class TForm1 final : public QWidget, public JobHost {
    Q_OBJECT

public:
    // Creation runs the whole start-up: reset, stored settings, command line and, with -r, a
    // run, all before the window is first shown.
    TForm1(UiServices& services, RegistryStore& store, FormStartup startup);
    ~TForm1() override;

    // EndProgram was asked for; during start-up the window must then never be shown.
    bool endRequested() const { return m_endRequested; }
    CleaningJob& job() { return m_job; }
    const ProcessFlags& flags() const { return m_flags; }
    FileList& fileList() { return *m_fileList; }

    void startClick();
    void directoryEnter();
    void directoryExit();
    void BitBtn1Click();
    void Button1Click();
    void helpClick();
    void homepageClick();
    void CleanRegistryClick();

    bool ReadSwitch(JobSwitch which) override;
    std::string ReadDirectory() override;
    void SetDirectory(const std::string& text) override;
    void FocusDirectory() override;
    std::string StartCaption() override;
    void StartCaption(const std::string& caption) override;
    void ShowCount(CountLabel label, const std::string& text) override;
    void PumpEvents() override;
    void AddRow(const ResultRow& row) override;
    void ExpandForRows() override;
    void CollapseWindow() override;
    void ShowCountPanel() override;
    void SetBusy(bool busy) override;
    void ShowNotice(const std::string& text) override;
    void ShowInfo(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void FocusWindow() override;
    void EndProgram() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void createCountPanel();
    void setTabOrderOfControls();
    QCheckBox* addSwitch(QWidget* parent, const char* name, const char* caption, QRect geometry,
                         bool checked, const char* hint = nullptr);
    QPushButton* addButton(const char* name, const char* caption, QRect geometry, const char* hint,
                           void (TForm1::*handler)());

    void runStartUp(const std::vector<std::string>& arguments);
    WindowSettings windowSettings() const;
    void applySettings(const WindowSettings& settings);
    void applySwitches(const SwitchStates& switches);
    QCheckBox* switchBox(JobSwitch which) const;
    void message(MessageKind kind, const std::string& text);
    std::string directoryBytes() const;

    // The border and title-bar buttons of the collapsed and of the listing shape.
    void setResizableBorder(bool resizable);
    void setClientSize(int width, int height);
    // Panel_Top, Panel_Count and FileList stacked from the top of the client area.
    void placeRegions();
    // Shows the counts and rows that wait, at most a few times a second during a run.
    void flushProgress(bool force);
    void releaseRows();

    UiServices& m_services;
    RegistryStore& m_store;
    std::string m_programDirectory;
    FileSystem m_fileSystem;
    playlist::PlaylistFiles m_playlists;
    RegistryStartDirectoryStore m_startDirectoryStore;
    ProcessFlags m_flags;

    QWidget* m_panelTop = nullptr;
    QFrame* m_panelMain = nullptr;
    QWidget* m_panelCount = nullptr;
    QLineEdit* m_directory = nullptr;
    QPushButton* m_browse = nullptr;
    QCheckBox* m_subdirectories = nullptr;
    QCheckBox* m_remove1 = nullptr;
    QCheckBox* m_remove2 = nullptr;
    QCheckBox* m_cleanM3U = nullptr;
    QCheckBox* m_cleanPLS = nullptr;
    QCheckBox* m_modonly = nullptr;
    QCheckBox* m_ignoreattributes = nullptr;
    QCheckBox* m_msgwhenfinished = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_quit = nullptr;
    QPushButton* m_help = nullptr;
    QPushButton* m_cleanRegistry = nullptr;
    QLabel* m_freeware = nullptr;
    QLabel* m_homepage = nullptr;
    std::array<QLabel*, 5> m_countLabels{};
    std::array<std::string, 5> m_countTexts{};
    FileList* m_fileList = nullptr;
    TBrowseFolder* m_browseFolder = nullptr;

    CleaningJob m_job;

    // The bytes last given to the field, kept while the user has not edited it, so that a
    // directory whose name is not valid UTF-8 reaches the run unchanged.
    std::string m_directoryBytes;
    QString m_directoryShown;
    // The field is the window's current control: re-activating the window does not enter it.
    bool m_directoryIsCurrentControl = false;
    bool m_resizable = false;
    bool m_countsWaiting = false;
    QElapsedTimer m_sinceFlush;
    bool m_endRequested = false;
    bool m_closed = false;
};

}  // namespace tagsnip::ui
