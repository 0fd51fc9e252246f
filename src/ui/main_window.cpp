#include "main_window.h"

#include "pictures.h"
#include "ui_font.h"
#include "ui_services.h"

#include "config/command_line.h"
#include "engine/path_text.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QWindow>

namespace tagsnip::ui {

namespace {

constexpr int panelMainWidth = 313;
constexpr int panelTopHeight = 220;
constexpr int panelCountHeight = 56;
constexpr int listingListHeight = 250;
constexpr int designedLeft = 221;
constexpr int designedTop = 128;
// Counts and rows are shown this often during a run; more often only costs time.
constexpr qint64 flushIntervalMs = 40;

constexpr const char* homePageHint = "打开 www.tallowmere.example";
constexpr const char* helpMissingText = "readme.html not found in TAGSNIP directory.";

Qt::WindowFlags windowFlagsFor(bool resizable) {
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                            Qt::WindowCloseButtonHint;
    if (resizable) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    return flags;
}

QLabel* addLabel(QWidget* parent, const char* name, const char* caption, QPoint position,
                 int height) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setTextFormat(Qt::PlainText);
    label->move(position);
    label->resize(label->sizeHint().width(), height);
    return label;
}

QGroupBox* addGroup(QWidget* parent, const char* name, const char* caption, QRect geometry) {
    auto* group = new QGroupBox(QString::fromUtf8(caption), parent);
    group->setObjectName(QString::fromLatin1(name));
    group->setGeometry(geometry);
    return group;
}

// The help page beside the program; an installed program finds it in its documentation
// directory.
QString helpFile(const std::string& programDirectory) {
    const QString directory = QString::fromUtf8(programDirectory);
    const QString beside = directory + QStringLiteral("readme.html");
    if (QFileInfo::exists(beside)) {
        return beside;
    }
    const QString installed =
        directory + QStringLiteral(TAGSNIP_DOC_FROM_BIN) + QStringLiteral("/readme.html");
    return QFileInfo::exists(installed) ? installed : QString();
}

}  // namespace

std::string normalisedDirectory(std::string text) {
    return text.empty() ? "/" : withTrailingSlash(std::move(text));
}

TForm1::TForm1(UiServices& services, RegistryStore& store, FormStartup startup)
    : QWidget(nullptr, windowFlagsFor(false)),
      m_services(services),
      m_store(store),
      m_programDirectory(std::move(startup.programDirectory)),
      m_playlists(m_fileSystem),
      m_startDirectoryStore(store, [this](const std::string& text) { ShowError(text); }),
      m_job(*this, m_fileSystem, m_playlists, m_startDirectoryStore, m_flags) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(windowCaption));
    setWindowIcon(tagsnipIcon());
    setFont(uiFont());
    createControls();
    move(designedLeft, designedTop);
    m_sinceFlush.start();
    m_start->setFocus();
    runStartUp(startup.arguments);
}

TForm1::~TForm1() = default;

void TForm1::createControls() {
    m_panelTop = new QWidget(this);
    m_panelTop->setObjectName(QStringLiteral("Panel_Top"));
    m_panelMain = new QFrame(m_panelTop);
    m_panelMain->setObjectName(QStringLiteral("Panel_Main"));
    m_panelMain->setFrameStyle(QFrame::Panel | QFrame::Raised);
    m_panelMain->setLineWidth(1);
    m_panelMain->setGeometry(0, 0, panelMainWidth, panelTopHeight);

    m_directory = new QLineEdit(m_panelMain);
    m_directory->setObjectName(QStringLiteral("directory"));
    m_directory->setGeometry(8, 8, 270, 20);
    m_directory->setToolTip(QStringLiteral("输入路径"));
    m_directory->installEventFilter(this);

    m_browse = addButton("BitBtn1", "", {278, 8, 24, 20}, "浏览", &TForm1::BitBtn1Click);
    m_browse->setIcon(openFolderIcon());
    m_browse->setIconSize({16, 16});

    m_subdirectories =
        addSwitch(m_panelMain, "subdirectories", "包含子目录(&S)", {8, 30, 129, 17}, true);

    QGroupBox* tags = addGroup(m_panelMain, "GroupBox1", " 标签 ", {8, 52, 138, 57});
    m_remove1 = addSwitch(tags, "remove1", "移除 ID3v1 标签(&1)", {8, 16, 125, 17}, true);
    m_remove2 = addSwitch(tags, "remove2", "移除 ID3v2 标签(&2)", {8, 32, 125, 17}, true);

    QGroupBox* playlists = addGroup(m_panelMain, "GroupBox3", " 播放列表 ", {152, 52, 145, 57});
    m_cleanM3U = addSwitch(playlists, "cleanM3U", "清除 M3U 列表(&M)", {16, 16, 115, 17}, true,
                           "移除 M3U 文件的每一行 (eg. EXTINF)");
    m_cleanPLS = addSwitch(playlists, "cleanPLS", "清除 PLS 列表(&P)", {16, 32, 115, 17}, true,
                           "从 PLS 文件移除 '标题' 和 '长度' 信息");

    QGroupBox* options = addGroup(m_panelMain, "GroupBox2", " 选项 ", {8, 109, 289, 56});
    m_modonly = addSwitch(options, "modonly", "列出已修改文件(&L)", {160, 16, 121, 17}, true);
    m_ignoreattributes = addSwitch(options, "ignoreattributes", "忽略文件属性(&I)",
                                   {12, 16, 113, 17}, false, "如果你希望忽略 '只读' 属性");
    m_msgwhenfinished = addSwitch(options, "msgwhenfinished", "完成后弹出消息框(&P)",
                                  {12, 33, 173, 17}, true, "完成后弹出消息框");

    m_start = addButton("start", "开始(&G)", {8, 172, 65, 25}, "开始移除", &TForm1::startClick);
    m_start->setDefault(true);
    m_quit =
        addButton("Button1", "退出(&Q)", {78, 172, 67, 25}, "退出 TAGSNIP", &TForm1::Button1Click);
    m_help =
        addButton("help", "帮助(&H)", {152, 172, 66, 25}, "打开 HTML 帮助", &TForm1::helpClick);
    m_cleanRegistry = addButton("CleanRegistry", "清除(&C)", {226, 172, 72, 25},
                                "移除 TAGSNIP 注册表项", &TForm1::CleanRegistryClick);

    // The domain is longer than the designed one: the pair keeps the designed right edge, so the
    // label stays inside the panel.
    m_homepage = addLabel(m_panelMain, "homepage", homePageHost, {248, 203}, 12);
    m_homepage->move(248 + 59 - m_homepage->width(), 203);
    m_freeware = addLabel(m_panelMain, "Label2", "免费软件", {195, 203}, 12);
    m_freeware->move(m_homepage->x() - 3 - m_freeware->width(), 203);
    QFont underlined = m_homepage->font();
    underlined.setUnderline(true);
    m_homepage->setFont(underlined);
    QPalette navy = m_homepage->palette();
    navy.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x80));
    m_homepage->setPalette(navy);
    QPalette black = m_freeware->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    m_freeware->setPalette(black);
    m_homepage->setCursor(Qt::PointingHandCursor);
    m_freeware->setCursor(Qt::ArrowCursor);
    for (QLabel* label : {m_freeware, m_homepage}) {
        label->setToolTip(QString::fromUtf8(homePageHint));
        label->installEventFilter(this);
    }

    createCountPanel();
    m_fileList = new FileList(m_services, this);

    m_browseFolder = new TBrowseFolder(this);
    m_browseFolder->setObjectName(QStringLiteral("BrowseFolder1"));
    m_browseFolder->Title = QStringLiteral("选择移除 ID3 的文件夹");
    m_browseFolder->ShowPathInStatusArea = true;

    setTabOrderOfControls();
}

void TForm1::createCountPanel() {
    m_panelCount = new QWidget(this);
    m_panelCount->setObjectName(QStringLiteral("Panel_Count"));
    addLabel(m_panelCount, "Label9", "MP3 文件:", {8, 6}, 14);
    addLabel(m_panelCount, "Label10", "ID3v1标签:", {8, 22}, 14);
    addLabel(m_panelCount, "Label1", "ID3v2 标签:", {8, 38}, 14);
    addLabel(m_panelCount, "Label3", "M3U 列表:", {192, 6}, 14);
    addLabel(m_panelCount, "Label5", "PLS 列表:", {192, 22}, 14);
    struct CountPlace {
        CountLabel label;
        const char* name;
        const char* initial;
        QPoint position;
    };
    const CountPlace places[] = {
        {CountLabel::filesfound, "filesfound", "0", {73, 6}},
        {CountLabel::id3v1tags, "id3v1tags", "0", {73, 22}},
        {CountLabel::id3v2tags, "id3v2tags", "0", {73, 38}},
        {CountLabel::M3Ufound, "M3Ufound", "-", {246, 6}},
        {CountLabel::PLSfound, "PLSfound", "-", {246, 22}},
    };
    for (const CountPlace& place : places) {
        const auto slot = static_cast<std::size_t>(place.label);
        m_countLabels[slot] = addLabel(m_panelCount, place.name, place.initial, place.position, 14);
        m_countTexts[slot] = place.initial;
    }
}

QCheckBox* TForm1::addSwitch(QWidget* parent, const char* name, const char* caption, QRect geometry,
                             bool checked, const char* hint) {
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(geometry);
    box->setChecked(checked);
    if (hint != nullptr) {
        box->setToolTip(QString::fromUtf8(hint));
    }
    return box;
}

QPushButton* TForm1::addButton(const char* name, const char* caption, QRect geometry,
                               const char* hint, void (TForm1::*handler)()) {
    auto* button = new QPushButton(QString::fromUtf8(caption), m_panelMain);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setToolTip(QString::fromUtf8(hint));
    // A focused push button takes Enter itself; elsewhere Enter goes to start.
    button->setAutoDefault(true);
    connect(button, &QPushButton::clicked, this, handler);
    return button;
}

void TForm1::setTabOrderOfControls() {
    const std::vector<QWidget*> order = {
        m_start,           m_directory,     m_browse,   m_subdirectories, m_remove2,
        m_remove1,         m_cleanRegistry, m_quit,     m_modonly,        m_ignoreattributes,
        m_msgwhenfinished, m_cleanM3U,      m_cleanPLS, m_help,           m_fileList,
    };
    for (std::size_t i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }
}

// Reset, stored settings with the directory fallback, command line, in that order; the run
// state's ListedPaths already exists with the job.
void TForm1::runStartUp(const std::vector<std::string>& arguments) {
    m_job.CleanUp();
    WindowSettings settings = windowSettings();
    loadSettings(m_store, settings, m_programDirectory,
                 [this](const std::string& text) { ShowError(text); });
    applySettings(settings);
    move(settings.posX, settings.posY);

    const std::vector<CommandLineItem> items = parseCommandLine(arguments);
    settings = windowSettings();
    const bool startAtOnce = applyCommandLine(
        items, settings, m_flags,
        [this](const std::string& text) { message(MessageKind::information, text); });
    applySettings(settings);
    if (startAtOnce) {
        startClick();
    }
}

WindowSettings TForm1::windowSettings() const {
    WindowSettings settings;
    for (const JobSwitch which : allSwitches) {
        settings.switches[which] = switchBox(which)->isChecked();
    }
    settings.directory = directoryBytes();
    settings.posX = x();
    settings.posY = y();
    return settings;
}

void TForm1::applySettings(const WindowSettings& settings) {
    applySwitches(settings.switches);
    if (settings.directory != ReadDirectory()) {
        SetDirectory(settings.directory);
    }
}

void TForm1::applySwitches(const SwitchStates& switches) {
    for (const JobSwitch which : allSwitches) {
        switchBox(which)->setChecked(switches[which]);
    }
}

void TForm1::startClick() {
    m_job.startClick();
    if (m_closed && !m_job.walking()) {
        releaseRows();
    }
}

void TForm1::directoryEnter() {
    m_job.CleanUp();
    m_flags.SaveSettings = true;
    flushProgress(true);
}

void TForm1::directoryExit() {
    const std::string normalised = normalisedDirectory(ReadDirectory());
    if (normalised != ReadDirectory()) {
        SetDirectory(normalised);
    }
}

void TForm1::BitBtn1Click() {
    if (!m_services.runFolderDialog(*m_browseFolder)) {
        return;
    }
    SetDirectory(withTrailingSlash(m_browseFolder->Directory));
}

void TForm1::Button1Click() {
    close();
}

void TForm1::helpClick() {
    const QString page = helpFile(m_programDirectory);
    if (page.isEmpty()) {
        ShowError(helpMissingText);
        return;
    }
    m_services.openUrl(QUrl::fromLocalFile(page));
}

void TForm1::homepageClick() {
    m_services.openUrl(
        QUrl(QStringLiteral("http://") + QString::fromLatin1(homePageHost) + QStringLiteral("/")));
}

void TForm1::CleanRegistryClick() {
    const std::unique_ptr<QMessageBox> question = makeWipeQuestion(this);
    if (m_services.runMessageBox(*question) == QMessageBox::YesRole) {
        wipeSettings(m_store);
        SwitchStates switches = windowSettings().switches;
        switches.subdirectories = true;
        switches.remove1 = true;
        switches.remove2 = true;
        switches.modonly = true;
        switches.ignoreattributes = false;
        applySwitches(switches);
        m_flags.SaveSettings = false;
        close();
    }
    m_start->setFocus();
}

bool TForm1::ReadSwitch(JobSwitch which) {
    return switchBox(which)->isChecked();
}

QCheckBox* TForm1::switchBox(JobSwitch which) const {
    switch (which) {
        case JobSwitch::subdirectories:
            return m_subdirectories;
        case JobSwitch::remove1:
            return m_remove1;
        case JobSwitch::remove2:
            return m_remove2;
        case JobSwitch::ignoreattributes:
            return m_ignoreattributes;
        case JobSwitch::modonly:
            return m_modonly;
        case JobSwitch::msgwhenfinished:
            return m_msgwhenfinished;
        case JobSwitch::cleanM3U:
            return m_cleanM3U;
        case JobSwitch::cleanPLS:
            break;
    }
    return m_cleanPLS;
}

std::string TForm1::ReadDirectory() {
    return directoryBytes();
}

std::string TForm1::directoryBytes() const {
    const QString text = m_directory->text();
    return text == m_directoryShown ? m_directoryBytes : text.toUtf8().toStdString();
}

void TForm1::SetDirectory(const std::string& text) {
    m_directoryBytes = text;
    m_directoryShown = QString::fromUtf8(text);
    m_directory->setText(m_directoryShown);
}

void TForm1::FocusDirectory() {
    m_directory->setFocus(Qt::OtherFocusReason);
}

std::string TForm1::StartCaption() {
    return m_start->text().toUtf8().toStdString();
}

void TForm1::StartCaption(const std::string& caption) {
    m_start->setText(QString::fromUtf8(caption));
    flushProgress(true);
}

void TForm1::ShowCount(CountLabel label, const std::string& text) {
    m_countTexts[static_cast<std::size_t>(label)] = text;
    m_countsWaiting = true;
}

void TForm1::PumpEvents() {
    flushProgress(false);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TForm1::AddRow(const ResultRow& row) {
    m_fileList->rows().AddRow(row);
}

void TForm1::ExpandForRows() {
    if (m_resizable) {
        return;
    }
    setResizableBorder(true);
    // The client size stands for the outer size: the frame does not change with the border.
    setMinimumSize(size());
    setClientSize(width(), panelTopHeight + panelCountHeight + listingListHeight);
    flushProgress(true);
}

void TForm1::CollapseWindow() {
    if (isMaximized()) {
        setWindowState(windowState() & ~Qt::WindowMaximized);
    }
    setResizableBorder(false);
    setMinimumSize(0, 0);
    setClientSize(panelMainWidth, panelTopHeight);
    m_fileList->rows().removeAllRows();
}

void TForm1::ShowCountPanel() {
    setClientSize(width(), panelTopHeight + panelCountHeight);
    flushProgress(true);
}

void TForm1::SetBusy(bool busy) {
    if (busy) {
        setCursor(Qt::WaitCursor);
    } else {
        unsetCursor();
    }
}

void TForm1::ShowNotice(const std::string& text) {
    message(MessageKind::plain, text);
}

void TForm1::ShowInfo(const std::string& text) {
    message(MessageKind::information, text);
}

void TForm1::ShowError(const std::string& text) {
    message(MessageKind::error, text);
}

void TForm1::FocusWindow() {
    if (!isVisible()) {
        return;
    }
    raise();
    activateWindow();
}

// exit, not quit: Qt's quit would close the window and so run the save at close, which an
// unattended run must not do. Outside the event loop (start-up) exit would make the next modal
// loop return at once; the caller reads endRequested instead.
void TForm1::EndProgram() {
    m_endRequested = true;
    if (QThread::currentThread()->loopLevel() > 0) {
        QCoreApplication::exit(0);
    }
}

void TForm1::message(MessageKind kind, const std::string& text) {
    // A run that goes on after the window was closed reports to nobody.
    if (m_closed) {
        return;
    }
    flushProgress(true);
    const std::unique_ptr<QMessageBox> box = makeMessageBox(kind, text, this);
    m_services.runMessageBox(*box);
}

void TForm1::setResizableBorder(bool resizable) {
    m_resizable = resizable;
    const Qt::WindowFlags flags = windowFlagsFor(resizable);
    if (windowFlags() == flags) {
        return;
    }
    // Changed in place: setWindowFlags would hide and re-create a window that is on screen.
    overrideWindowFlags(flags);
    if (QWindow* handle = windowHandle()) {
        handle->setFlags(flags);
    }
}

void TForm1::setClientSize(int width, int height) {
    if (m_resizable) {
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        resize(width, height);
    } else {
        setFixedSize(width, height);
    }
    // A hidden window gets its resize event only when shown; the regions must fit already.
    placeRegions();
}

void TForm1::flushProgress(bool force) {
    if (!force && m_sinceFlush.elapsed() < flushIntervalMs) {
        return;
    }
    m_sinceFlush.restart();
    if (m_countsWaiting) {
        m_countsWaiting = false;
        for (std::size_t i = 0; i < m_countLabels.size(); ++i) {
            QLabel* label = m_countLabels[i];
            const QString text = QString::fromUtf8(m_countTexts[i]);
            if (label->text() != text) {
                label->setText(text);
                label->resize(label->sizeHint().width(), label->height());
            }
        }
    }
    m_fileList->rows().flushPending();
}

void TForm1::releaseRows() {
    m_fileList->rows().removeAllRows();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_directory) {
        switch (event->type()) {
            case QEvent::FocusIn:
                if (!m_directoryIsCurrentControl) {
                    m_directoryIsCurrentControl = true;
                    directoryEnter();
                }
                break;
            case QEvent::FocusOut:
                if (static_cast<QFocusEvent*>(event)->reason() != Qt::ActiveWindowFocusReason &&
                    static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
                    m_directoryIsCurrentControl = false;
                    directoryExit();
                }
                break;
            case QEvent::KeyPress: {
                const int key = static_cast<QKeyEvent*>(event)->key();
                if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                    startClick();
                    return true;
                }
                break;
            }
            default:
                break;
        }
    } else if ((watched == m_homepage || watched == m_freeware) &&
               event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        homepageClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            startClick();
            event->accept();
            return;
        case Qt::Key_Escape:
            event->accept();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

void TForm1::resizeEvent(QResizeEvent* event) {
    placeRegions();
    QWidget::resizeEvent(event);
}

void TForm1::placeRegions() {
    const int width = this->width();
    m_panelTop->setGeometry(0, 0, width, panelTopHeight);
    m_panelCount->setGeometry(0, panelTopHeight, width, panelCountHeight);
    const int listTop = panelTopHeight + panelCountHeight;
    m_fileList->setGeometry(0, listTop, width, std::max(0, height() - listTop));
}

// The close is always allowed. A walk in progress is asked to stop; it returns only after this
// handler, so the rows it still adds are released once it has.
void TForm1::closeEvent(QCloseEvent* event) {
    m_job.requestStop();
    saveAtClose(m_store, windowSettings(), m_flags,
                [this](const std::string& text) { ShowError(text); });
    m_closed = true;
    if (!m_job.walking()) {
        releaseRows();
    }
    event->accept();
}

}  // namespace tagsnip::ui
