#include "browse_folder.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <vector>

namespace tagsnip::ui {

namespace {

constexpr const char* filler = "...";
constexpr int dialogWidth = 320;
constexpr int dialogHeight = 400;

std::vector<std::string> splitKeepingEmpty(const std::string& path, char separator) {
    std::vector<std::string> parts;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = path.find(separator, begin);
        parts.push_back(path.substr(begin, end - begin));
        if (end == std::string::npos) {
            return parts;
        }
        begin = end + 1;
    }
}

std::string join(const std::vector<std::string>& parts, char separator) {
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            joined += separator;
        }
        joined += parts[i];
    }
    return joined;
}

std::string bytesOf(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace

std::string ShortenPath(const std::string& path, char separator, std::size_t limit) {
    if (path.size() <= limit) {
        return path;
    }
    std::vector<std::string> parts = splitKeepingEmpty(path, separator);
    if (parts.size() < 3) {
        return path;
    }
    parts[1] = filler;
    std::string shortened = join(parts, separator);
    while (shortened.size() > limit && parts.size() > 3) {
        parts.erase(parts.begin() + 2);
        shortened = join(parts, separator);
    }
    return shortened;
}

QPoint placeOver(const QRect& front, const QSize& dialog) {
    return {front.left() + front.width() / 2 - dialog.width() / 2,
            front.top() + front.height() / 4};
}

BrowseFolderDialog::BrowseFolderDialog(const QString& title, bool showPathInStatusArea,
                                       QWidget* owner)
    : QDialog(owner),
      m_model(new QFileSystemModel(this)),
      m_tree(new QTreeView(this)),
      m_status(new QLabel(this)),
      m_buttons(new QDialogButtonBox(this)),
      m_showPathInStatusArea(showPathInStatusArea) {
    setObjectName(QStringLiteral("BrowseFolder1"));
    setWindowTitle(title);
    setModal(true);
    resize(dialogWidth, dialogHeight);

    auto* titleLabel = new QLabel(title, this);
    titleLabel->setObjectName(QStringLiteral("title"));
    titleLabel->setWordWrap(true);

    m_model->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
    m_model->setReadOnly(true);
    m_model->setRootPath(QStringLiteral("/"));
    m_tree->setObjectName(QStringLiteral("folderTree"));
    m_tree->setModel(m_model);
    m_tree->setHeaderHidden(true);
    for (int column = 1; column < m_model->columnCount(); ++column) {
        m_tree->hideColumn(column);
    }
    m_tree->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { selectionChanged(current); });

    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setTextFormat(Qt::PlainText);

    m_buttons->setObjectName(QStringLiteral("buttons"));
    m_ok = m_buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    m_ok->setObjectName(QStringLiteral("ok"));
    m_ok->setEnabled(false);
    m_ok->setDefault(true);
    m_buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole)
        ->setObjectName(QStringLiteral("cancel"));
    connect(m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(titleLabel);
    layout->addWidget(m_tree, 1);
    layout->addWidget(m_status);
    layout->addWidget(m_buttons);
}

bool BrowseFolderDialog::selectDirectory(const std::string& path) {
    const QString name = QFile::decodeName(QByteArray::fromStdString(path));
    if (path.empty() || !QFileInfo(name).isDir()) {
        return false;
    }
    const QModelIndex found = m_model->index(name);
    if (!found.isValid()) {
        return false;
    }
    m_tree->setCurrentIndex(found);
    m_tree->scrollTo(found);
    return true;
}

void BrowseFolderDialog::selectionChanged(const QModelIndex& current) {
    m_selection = current.isValid() ? bytesOf(m_model->filePath(current)) : std::string();
    if (m_showPathInStatusArea) {
        m_status->setText(QString::fromUtf8(ShortenPath(m_selection)));
    }
    const bool isFolder = !m_selection.empty() && QFileInfo(m_model->filePath(current)).isDir();
    m_ok->setEnabled(isFolder);
}

QString BrowseFolderDialog::statusText() const {
    return m_status->text();
}

bool BrowseFolderDialog::okEnabled() const {
    return m_ok->isEnabled();
}

TBrowseFolder::TBrowseFolder(QWidget* owner) : QObject(owner), m_owner(owner) {}

std::unique_ptr<BrowseFolderDialog> TBrowseFolder::prepareDialog() {
    QWidget* owner = m_owner != nullptr ? m_owner->window() : QApplication::activeWindow();
    auto dialog = std::make_unique<BrowseFolderDialog>(Title, ShowPathInStatusArea, owner);
    dialog->selectDirectory(Directory);
    QWidget* front = QApplication::activeWindow() != nullptr ? QApplication::activeWindow() : owner;
    if (front != nullptr) {
        // The dialog's frame is not known before it is shown; it takes the front window's.
        const QRect frame = front->frameGeometry();
        const QSize decoration = frame.size() - front->size();
        dialog->move(placeOver(frame, dialog->size() + decoration));
    }
    return dialog;
}

bool TBrowseFolder::takeResult(const BrowseFolderDialog& dialog, int result) {
    if (result != QDialog::Accepted || dialog.selectedPath().empty()) {
        return false;
    }
    Directory = dialog.selectedPath();
    return true;
}

bool TBrowseFolder::Execute() {
    const std::unique_ptr<BrowseFolderDialog> dialog = prepareDialog();
    return takeResult(*dialog, dialog->exec());
}

}  // namespace tagsnip::ui
