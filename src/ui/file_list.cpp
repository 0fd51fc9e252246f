#include "file_list.h"

#include "ui_services.h"

#include "engine/path_text.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>

namespace tagsnip::ui {

namespace {

constexpr int markColumnWidth = 38;
constexpr int listRowHeight = 17;

}  // namespace

QUrl fileUrlOf(const std::string& path) {
    const QByteArray raw(path.data(), static_cast<qsizetype>(path.size()));
    return QUrl::fromEncoded("file://" + raw.toPercentEncoding("/"), QUrl::StrictMode);
}

FileList::FileList(UiServices& services, QWidget* parent)
    : QTableView(parent), m_services(services), m_model(this), m_popupMenu(new QMenu(this)) {
    setObjectName(QStringLiteral("FileList"));
    setModel(&m_model);
    setShowGrid(true);
    setWordWrap(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setTabKeyNavigation(false);

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(listRowHeight);
    QHeaderView* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(false);
    header->setHighlightSections(false);
    header->setMinimumSectionSize(0);
    header->setSectionResizeMode(ResultListModel::fileNameColumn, QHeaderView::Stretch);
    for (int column : {ResultListModel::id3v1Column, ResultListModel::id3v2Column}) {
        header->setSectionResizeMode(column, QHeaderView::Fixed);
        header->resizeSection(column, markColumnWidth);
    }
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(header, &QHeaderView::sectionClicked, this, &FileList::FileListColumnClick);

    m_popupMenu->setObjectName(QStringLiteral("PopupMenu1"));
    addMenuAction("openfile1", "打开/运行 文件", {QKeySequence(Qt::Key_Enter), Qt::Key_Return},
                  &FileList::openfile1Click);
    addMenuAction("copyfilepathtoclipboard1", "将路径复制到剪贴板",
                  {QKeySequence(Qt::CTRL | Qt::Key_C)}, &FileList::copyfilepathtoclipboard1Click);
    addMenuAction("openpathinexplorer1", "在浏览器中打开路径", {QKeySequence(Qt::CTRL | Qt::Key_E)},
                  &FileList::openpathinexplorer1Click);
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        m_popupMenu->popup(viewport()->mapToGlobal(position));
    });
}

QAction* FileList::addMenuAction(const char* objectName, const char* caption,
                                 const QList<QKeySequence>& shortcuts,
                                 void (FileList::*handler)()) {
    auto* action = new QAction(QString::fromUtf8(caption), this);
    action->setObjectName(QString::fromLatin1(objectName));
    action->setShortcuts(shortcuts);
    // The list's own shortcuts win over every other use of these keys while it has the focus.
    action->setShortcutContext(Qt::WidgetShortcut);
    action->setShortcutVisibleInContextMenu(true);
    connect(action, &QAction::triggered, this, handler);
    addAction(action);
    m_popupMenu->addAction(action);
    return action;
}

void FileList::FileListColumnClick(int column) {
    m_sortColumn = column;
    m_model.sortBy(m_sortColumn);
}

std::optional<std::string> FileList::focusedRowPath() const {
    const QModelIndex focused = currentIndex();
    if (!focused.isValid()) {
        return std::nullopt;
    }
    return m_model.row(focused.row()).RowPath;
}

void FileList::openfile1Click() {
    if (const auto path = focusedRowPath()) {
        m_services.openUrl(fileUrlOf(*path));
    }
}

void FileList::copyfilepathtoclipboard1Click() {
    const auto path = focusedRowPath();
    if (!path) {
        return;
    }
    // The path's own bytes, so that a name that is not valid UTF-8 pastes as it is on disk.
    auto* data = new QMimeData;
    data->setData(QStringLiteral("text/plain"),
                  QByteArray(path->data(), static_cast<qsizetype>(path->size())));
    QGuiApplication::clipboard()->setMimeData(data);
}

void FileList::openpathinexplorer1Click() {
    if (const auto path = focusedRowPath()) {
        m_services.openUrl(fileUrlOf(directoryOf(*path)));
    }
}

// Anywhere in the rows' area, below the last row too: the focused row is opened, never the row
// under the pointer unless the first click of the double click made it the focused one.
void FileList::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        openfile1Click();
        event->accept();
        return;
    }
    QTableView::mouseDoubleClickEvent(event);
}

}  // namespace tagsnip::ui
