#pragma once

#include <QMessageBox>
#include <QUrl>

namespace tagsnip::ui {

class TBrowseFolder;

// Everything the window hands to the desktop or runs modally. Tests give a scripted version so
// that no box ever waits for a user and no file browser is ever started.
class UiServices {
public:
    virtual ~UiServices() = default;

    // Runs a message box built by the window and returns the role of the button that closed it.
    virtual QMessageBox::ButtonRole runMessageBox(QMessageBox& box) = 0;
    virtual bool runFolderDialog(TBrowseFolder& dialog) = 0;
    // Opens a document, a folder or a web address with the desktop's own program.
    virtual void openUrl(const QUrl& url) = 0;
};

class DesktopServices final : public UiServices {
public:
    QMessageBox::ButtonRole runMessageBox(QMessageBox& box) override;
    bool runFolderDialog(TBrowseFolder& dialog) override;
    void openUrl(const QUrl& url) override;
};

}  // namespace tagsnip::ui
