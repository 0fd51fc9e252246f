#pragma once

#include <QMessageBox>
#include <QString>

#include <memory>
#include <string>

namespace tagsnip::ui {

// The caption of plain message boxes and of the program's taskbar entry.
inline constexpr const char* applicationTitle = "Tallowmere TAGSNIP";

enum class MessageKind {
    plain,
    information,
    warning,
    error,
};

// A modal box of the given kind with one button "确定".
std::unique_ptr<QMessageBox> makeMessageBox(MessageKind kind, const std::string& text,
                                            QWidget* parent);

// The question of the settings wipe: a warning with "是(&Y)" and "取消", Escape meaning Cancel.
std::unique_ptr<QMessageBox> makeWipeQuestion(QWidget* parent);

// The engine's texts end their lines in CR LF; a Qt label breaks lines at LF alone and would show
// a stray CR as a glyph.
QString displayText(const std::string& text);

// The wipe question exactly as the program has always asked it.
extern const char* const wipeQuestionText;

}  // namespace tagsnip::ui
