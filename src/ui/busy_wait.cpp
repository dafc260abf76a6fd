#include "ui/busy_wait.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QPointer>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>

namespace corvane {

InputBlocker::InputBlocker() : m_window(std::make_unique<QWindow>()) {
    m_window->setObjectName(QStringLiteral("inputBlocker"));
    // A window manager never sees it (override-redirect), it lets every click through,
    // and it sits off screen: all that is left of it is its place on Qt's modal stack.
    // It can take the keyboard focus: Qt hands the focus to the modal window when a
    // blocked one is clicked, and keys typed meanwhile then go to it and are lost.
    m_window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                       Qt::WindowTransparentForInput);
    m_window->setModality(Qt::ApplicationModal);
    m_window->setGeometry(-64, -64, 1, 1);
    m_previousFocus = QGuiApplication::focusWindow();
    m_window->show();
}

InputBlocker::~InputBlocker() {
    m_window->hide();
    // If the blocker took the focus, it goes back to the window that had it; nobody
    // else would give it back, and without it the window takes no keys or shortcuts.
    if (m_previousFocus && m_previousFocus->isVisible() &&
        QGuiApplication::focusWindow() != m_previousFocus) {
        m_previousFocus->requestActivate();
    }
}

void runBusy(QObject* context, std::function<void()> work, std::function<void()> done) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto blocker = std::make_shared<InputBlocker>();
    auto* watcher = new QFutureWatcher<void>;
    const QPointer<QObject> alive(context);
    // Connected without a context object: the cursor and the blocker must go away even
    // when `context` has gone first.
    QObject::connect(watcher, &QFutureWatcher<void>::finished,
                     [watcher, blocker, alive, done = std::move(done)]() mutable {
                         watcher->deleteLater();
                         blocker.reset();
                         QApplication::restoreOverrideCursor();
                         if (alive) {
                             done();
                         }
                     });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

}  // namespace corvane
