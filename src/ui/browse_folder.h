#pragma once

#include <QDialog>

#include <cstddef>
#include <memory>
#include <string>

class QDialogButtonBox;
class QFileSystemModel;
class QLabel;
class QPushButton;
class QTreeView;

namespace tagsnip::ui {

// A path fit for a status line of limit bytes: the parts after the first are replaced by "..."
// from the second on, one more at a time, while the text is too long and more than three parts
// remain. Lengths are counted in bytes.
std::string ShortenPath(const std::string& path, char separator = '/', std::size_t limit = 35);

// Where the dialog goes over the window in front: centred across it, a quarter of its height
// down. Both rectangles are outer (frame) rectangles; division truncates toward zero.
QPoint placeOver(const QRect& front, const QSize& dialog);

// The modal folder chooser: the title above a tree of every directory from "/", a status line
// with the shortened path of the selection, OK only while a directory is selected.
class BrowseFolderDialog final : public QDialog {
    Q_OBJECT

public:
    BrowseFolderDialog(const QString& title, bool showPathInStatusArea, QWidget* owner);

    // Selects path in the tree when it is an existing directory; true when it did.
    bool selectDirectory(const std::string& path);
    // The file-system path of the selected item, empty when nothing is selected.
    std::string selectedPath() const { return m_selection; }
    QString statusText() const;
    bool okEnabled() const;

private:
    void selectionChanged(const QModelIndex& current);

    QFileSystemModel* m_model;
    QTreeView* m_tree;
    QLabel* m_status;
    QDialogButtonBox* m_buttons;
    QPushButton* m_ok = nullptr;
    bool m_showPathInStatusArea;
    std::string m_selection;
};

// The window's folder chooser. Directory outlives each Execute: the folder chosen last is
// selected again the next time, as long as it still exists.
class TBrowseFolder final : public QObject {
    Q_OBJECT

public:
    explicit TBrowseFolder(QWidget* owner);

    std::string Directory;
    QString Title;
    bool ShowPathInStatusArea = false;

    // True with Directory set to the chosen folder, false with nothing changed.
    bool Execute();

    // Execute in two halves, so that a test can look at the open dialog and answer it.
    std::unique_ptr<BrowseFolderDialog> prepareDialog();
    bool takeResult(const BrowseFolderDialog& dialog, int result);

private:
    QWidget* m_owner;
};

}  // namespace tagsnip::ui
