#include "message_boxes.h"

#include <QPushButton>

namespace tagsnip::ui {

const char* const wipeQuestionText =
    "你将失去当前设置并使 TAGSNIP 关闭，除非你决定要卸载此软件，否则不要执行此步骤。"
    "                        \r\r\n你确实要移除所有 TAGSNIP 注册表项吗？";

namespace {

struct KindLook {
    const char* title;
    QMessageBox::Icon icon;
};

KindLook lookOf(MessageKind kind) {
    switch (kind) {
        case MessageKind::information:
            return {"Information", QMessageBox::Information};
        case MessageKind::warning:
            return {"Warning", QMessageBox::Warning};
        case MessageKind::error:
            return {"Error", QMessageBox::Critical};
        case MessageKind::plain:
            break;
    }
    return {applicationTitle, QMessageBox::NoIcon};
}

std::unique_ptr<QMessageBox> makeBox(MessageKind kind, const QString& text, QWidget* parent) {
    const KindLook look = lookOf(kind);
    auto box = std::make_unique<QMessageBox>(look.icon, QString::fromUtf8(look.title), text,
                                             QMessageBox::NoButton, parent);
    box->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::ApplicationModal);
    return box;
}

}  // namespace

QString displayText(const std::string& text) {
    QString shown = QString::fromUtf8(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.remove(QChar(u'\r'));
    return shown;
}

std::unique_ptr<QMessageBox> makeMessageBox(MessageKind kind, const std::string& text,
                                            QWidget* parent) {
    auto box = makeBox(kind, displayText(text), parent);
    QPushButton* ok = box->addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    return box;
}

std::unique_ptr<QMessageBox> makeWipeQuestion(QWidget* parent) {
    auto box = makeBox(MessageKind::warning, displayText(wipeQuestionText), parent);
    QPushButton* yes = box->addButton(QStringLiteral("是(&Y)"), QMessageBox::YesRole);
    QPushButton* cancel = box->addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box->setDefaultButton(yes);
    box->setEscapeButton(cancel);
    return box;
}

}  // namespace tagsnip::ui
