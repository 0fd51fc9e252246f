#include "ui_services.h"

#include "browse_folder.h"

#include <QDesktopServices>
#include <QMessageBox>

namespace tagsnip::ui {

QMessageBox::ButtonRole DesktopServices::runMessageBox(QMessageBox& box) {
    box.exec();
    return box.buttonRole(box.clickedButton());
}

bool DesktopServices::runFolderDialog(TBrowseFolder& dialog) {
    return dialog.Execute();
}

// xdg-open's answer is not examined: a file the desktop cannot open is the desktop's to report.
void DesktopServices::openUrl(const QUrl& url) {
    QDesktopServices::openUrl(url);
}

}  // namespace tagsnip::ui
