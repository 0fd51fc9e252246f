#pragma once

#include "result_list_model.h"

#include <QTableView>

#include <optional>
#include <string>

class QAction;
class QMenu;

namespace tagsnip::ui {

class UiServices;

// The raw bytes of a path as a file URL, so that a name that is not valid UTF-8 still reaches
// the desktop unchanged.
QUrl fileUrlOf(const std::string& path);

// The result list: its rows, its sort by a clicked header and its three actions, which always act
// on the focused row through that row's own path.
class FileList final : public QTableView {
    Q_OBJECT

public:
    FileList(UiServices& services, QWidget* parent);

    ResultListModel& rows() { return m_model; }
    QMenu* popupMenu() const { return m_popupMenu; }
    int SortColumn() const { return m_sortColumn; }

    void FileListColumnClick(int column);
    void openfile1Click();
    void copyfilepathtoclipboard1Click();
    void openpathinexplorer1Click();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QAction* addMenuAction(const char* objectName, const char* caption,
                           const QList<QKeySequence>& shortcuts, void (FileList::*handler)());
    std::optional<std::string> focusedRowPath() const;

    UiServices& m_services;
    ResultListModel m_model;
    QMenu* m_popupMenu;
    int m_sortColumn = 0;
};

}  // namespace tagsnip::ui
