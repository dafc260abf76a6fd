// Window layouts are given in dialog units, which scale with the window's font: a
// horizontal unit is a quarter of the average character width, a vertical unit an
// eighth of the character height. Converting from the font keeps the proportions
// whatever font the desktop uses.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QSize>

namespace corvane {

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        m_charWidth = metrics.averageCharWidth();
        m_charHeight = metrics.height();
    }
    int x(int units) const { return (units * m_charWidth + 2) / 4; }
    int y(int units) const { return (units * m_charHeight + 4) / 8; }
    QSize size(int width, int height) const { return {x(width), y(height)}; }
    QRect rect(int left, int top, int width, int height) const {
        return {x(left), y(top), x(width), y(height)};
    }

private:
    int m_charWidth = 6;
    int m_charHeight = 13;
};

}  // namespace corvane
