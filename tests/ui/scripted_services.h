#pragma once

#include "ui/ui_services.h"

#include <QMessageBox>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tagsnip::test {

// Answers every modal box and folder dialog from a script and records what the window showed
// and what it handed to the desktop.
class ScriptedServices final : public ui::UiServices {
public:
    struct ShownBox {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QStringList buttons;
    };

    std::vector<ShownBox> boxes;
    // The roles to answer with, in order; once used up, the first button of each box.
    std::deque<QMessageBox::ButtonRole> answers;
    // Runs while a box is open, as a user could act while looking at it.
    std::function<void(const ShownBox&)> onBox;
    // A folder to confirm, or nothing for a cancel.
    std::deque<std::optional<std::string>> folderAnswers;
    int folderDialogs = 0;
    std::vector<QUrl> opened;

    QMessageBox::ButtonRole runMessageBox(QMessageBox& box) override;
    bool runFolderDialog(ui::TBrowseFolder& dialog) override;
    void openUrl(const QUrl& url) override { opened.push_back(url); }

    // The texts of the boxes shown so far with the given title.
    QStringList textsTitled(const QString& title) const;
};

}  // namespace tagsnip::test
