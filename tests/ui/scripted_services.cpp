#include "scripted_services.h"

#include "ui/browse_folder.h"

#include <QAbstractButton>

namespace tagsnip::test {

QMessageBox::ButtonRole ScriptedServices::runMessageBox(QMessageBox& box) {
    ShownBox shown{box.windowTitle(), box.text(), box.icon(), {}};
    for (QAbstractButton* button : box.buttons()) {
        shown.buttons << button->text();
    }
    boxes.push_back(shown);
    if (onBox) {
        onBox(shown);
    }
    if (!answers.empty()) {
        const QMessageBox::ButtonRole role = answers.front();
        answers.pop_front();
        return role;
    }
    const QList<QAbstractButton*> buttons = box.buttons();
    return buttons.isEmpty() ? QMessageBox::InvalidRole : box.buttonRole(buttons.front());
}

bool ScriptedServices::runFolderDialog(ui::TBrowseFolder& dialog) {
    ++folderDialogs;
    std::optional<std::string> answer;
    if (!folderAnswers.empty()) {
        answer = folderAnswers.front();
        folderAnswers.pop_front();
    }
    if (!answer) {
        return false;
    }
    dialog.Directory = *answer;
    return true;
}

QStringList ScriptedServices::textsTitled(const QString& title) const {
    QStringList texts;
    for (const ShownBox& box : boxes) {
        if (box.title == title) {
            texts << box.text;
        }
    }
    return texts;
}

}  // namespace tagsnip::test
