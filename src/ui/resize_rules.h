// How a control follows a change of its window's client size: each flag moves or
// grows it by the width or height change.
#pragma once

#include <QRect>

namespace corvane {

enum ResizeFlag : int {
    kMoveRight = 1,
    kMoveDown = 2,
    kWiden = 4,
    kMakeTaller = 8,
};

inline QRect applyResizeRule(QRect rect, int flags, int widthChange, int heightChange) {
    if (flags & kMoveRight) {
        rect.translate(widthChange, 0);
    }
    if (flags & kMoveDown) {
        rect.translate(0, heightChange);
    }
    if (flags & kWiden) {
        rect.setWidth(rect.width() + widthChange);
    }
    if (flags & kMakeTaller) {
        rect.setHeight(rect.height() + heightChange);
    }
    return rect;
}

}  // namespace corvane
