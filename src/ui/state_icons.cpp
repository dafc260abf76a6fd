#include "ui/state_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace corvane {
namespace {

QColor fillOf(StateIcon state) {
    switch (state) {
        case StateIcon::running:
            return QColor(0x2E, 0xB8, 0x3E);  // green
        case StateIcon::notQueried:
            return QColor(0x9A, 0x9A, 0x9A);  // grey
        case StateIcon::silent:
            return QColor(0xE0, 0x30, 0x2A);  // red
        case StateIcon::stopped:
            return QColor(0xF2, 0xC0, 0x1E);  // yellow
    }
    return Qt::transparent;
}

QPixmap drawMark(StateIcon state, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal margin = size / 8.0;
    const QRectF disc(margin, margin, size - 2 * margin, size - 2 * margin);
    painter.setPen(QPen(QColor(0x20, 0x20, 0x20), size / 12.0));
    painter.setBrush(fillOf(state));
    painter.drawEllipse(disc);
    // A white ring inside the rim keeps the mark visible on a dark background too.
    painter.setPen(QPen(QColor(255, 255, 255, 170), size / 16.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(disc.adjusted(size / 10.0, size / 10.0, -size / 10.0, -size / 10.0));
    return pixmap;
}

}  // namespace

QIcon stateIcon(StateIcon state) {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        icon.addPixmap(drawMark(state, size));
    }
    return icon;
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal unit = size / 16.0;
        // A rack module: a dark front panel with a status light and two ports.
        painter.setPen(QPen(QColor(0x10, 0x20, 0x30), unit * 0.6));
        painter.setBrush(QColor(0x2C, 0x4A, 0x6E));
        painter.drawRoundedRect(QRectF(unit, unit * 4, unit * 14, unit * 8), unit, unit);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x3C, 0xD0, 0x4E));
        painter.drawEllipse(QRectF(unit * 2.5, unit * 6.5, unit * 3, unit * 3));
        painter.setBrush(QColor(0xE8, 0xEE, 0xF4));
        painter.drawRect(QRectF(unit * 7.5, unit * 6.5, unit * 2.5, unit * 3));
        painter.drawRect(QRectF(unit * 11, unit * 6.5, unit * 2.5, unit * 3));
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace corvane
