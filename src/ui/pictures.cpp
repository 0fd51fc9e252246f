#include "pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tagsnip::ui {

namespace {

// Drawn on a 64-unit grid, the same shapes as the installed tagsnip.svg.
QPixmap drawTagsnip(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1f, 0x4e, 0x8c));
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);

    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(14, 38, 16, 12));
    painter.drawEllipse(QRectF(34, 34, 16, 12));
    QPainterPath beam;
    beam.moveTo(26, 44);
    beam.lineTo(26, 14);
    beam.lineTo(50, 10);
    beam.lineTo(50, 40);
    beam.lineTo(46, 40);
    beam.lineTo(46, 16);
    beam.lineTo(30, 19);
    beam.lineTo(30, 44);
    beam.closeSubpath();
    painter.drawPath(beam);

    QPen cut(QColor(0xd9, 0x30, 0x25), 5, Qt::SolidLine, Qt::RoundCap);
    painter.setPen(cut);
    painter.drawLine(QPointF(10, 56), QPointF(56, 8));
    return pixmap;
}

}  // namespace

QIcon tagsnipIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        icon.addPixmap(drawTagsnip(size));
    }
    return icon;
}

QIcon openFolderIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(0x80, 0x60, 0x00));
    painter.setBrush(QColor(0xf0, 0xc8, 0x40));
    // The folder's back with its tab, then the open front flap leaning forward.
    painter.drawPolygon(QPolygon({{1, 3}, {6, 3}, {7, 5}, {13, 5}, {13, 13}, {1, 13}}));
    painter.setBrush(QColor(0xff, 0xe0, 0x70));
    painter.drawPolygon(QPolygon({{3, 7}, {15, 7}, {13, 13}, {1, 13}}));
    return QIcon(pixmap);
}

}  // namespace tagsnip::ui
