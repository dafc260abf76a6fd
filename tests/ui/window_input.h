// Mouse and keyboard input as the window system delivers it: through Qt's platform
// layer (QWindowSystemInterface), so modality, double-click detection and Qt's record of
// the held buttons all take part, as they do for a person at the desk. Widget tests use
// these where the order and timing of input matter.
#pragma once

#include <QElapsedTimer>
#include <QTest>
#include <QWidget>
#include <QWindow>

// Exported by QtGui for the test library; delivers one mouse event synchronously.
Q_GUI_EXPORT void qt_handleMouseEvent(QWindow* window, const QPointF& local, const QPointF& global,
                                      Qt::MouseButtons state, Qt::MouseButton button,
                                      QEvent::Type type, Qt::KeyboardModifiers mods, int timestamp);

namespace corvane::testing {

inline constexpr int kPersonHoldMs = 100;    // a mouse button held down
inline constexpr int kPersonKeyHoldMs = 40;  // a key held down

// Event time stamps follow the real clock, so Qt judges double clicks by real intervals.
inline int eventTimestamp() {
    static QElapsedTimer clock;
    if (!clock.isValid()) {
        clock.start();
    }
    return static_cast<int>(clock.elapsed()) + 1000;
}

// One press or release of the left button at `at` in `widget`'s coordinates.
inline void sendMouse(QWidget* widget, QPoint at, QEvent::Type type) {
    QWidget* top = widget->window();
    const QPoint local = widget->mapTo(top, at);
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    qt_handleMouseEvent(top->windowHandle(), local, top->mapToGlobal(local), held, Qt::LeftButton,
                        type, Qt::NoModifier, eventTimestamp());
}

inline QPoint centreOf(const QWidget* widget) {
    return widget->rect().center();
}

// A click held for about 100 ms, as a person makes it.
inline void personClick(QWidget* widget, QPoint at) {
    sendMouse(widget, at, QEvent::MouseButtonPress);
    QTest::qWait(kPersonHoldMs);
    sendMouse(widget, at, QEvent::MouseButtonRelease);
    QTest::qWait(kPersonHoldMs / 2);
}
inline void personClick(QWidget* widget) {
    personClick(widget, centreOf(widget));
}

// Two clicks at a person's speed, well inside the double-click interval.
inline void personDoubleClick(QWidget* widget, QPoint at) {
    sendMouse(widget, at, QEvent::MouseButtonPress);
    QTest::qWait(kPersonHoldMs);
    sendMouse(widget, at, QEvent::MouseButtonRelease);
    QTest::qWait(kPersonHoldMs);
    personClick(widget, at);
}

// A key pressed and released through the window system, held for about 40 ms.
inline void personKey(QWidget* widget, Qt::Key key) {
    QWindow* window = widget->window()->windowHandle();
    QTest::keyPress(window, key);
    QTest::qWait(kPersonKeyHoldMs);
    QTest::keyRelease(window, key);
    QTest::qWait(kPersonKeyHoldMs);
}

}  // namespace corvane::testing
