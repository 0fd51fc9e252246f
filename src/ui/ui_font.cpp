#include "ui_font.h"

#include <QStringList>

namespace tagsnip::ui {

QFont uiFont() {
    QFont font;
    font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                      QStringLiteral("AR PL UMing CN"), QStringLiteral("AR PL SungtiL GB"),
                      QStringLiteral("Noto Serif CJK SC")});
    font.setPixelSize(12);
    font.setStyleHint(QFont::Serif);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

}  // namespace tagsnip::ui
