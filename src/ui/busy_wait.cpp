#include "ui/busy_wait.h"

#include <QApplication>
#include <QFutureWatcher>
#include <QPointer>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>

namespace corvane {

namespace {

// The one blocker window of the program and who holds it. The window is made at the
// first wait and kept for the program's life, only shown and hidden: a native window
// destroyed while it holds the keyboard focus makes Qt's X11 plugin hand the focus on
// through the dying window, which gives it a new native window whose next event then
// reaches a freed QWindow. It is never destroyed, so that can never happen.
struct Blocker {
    QWindow* window = nullptr;
    int holders = 0;
    QPointer<QWindow> previousFocus;
};

Blocker& blocker() {
    static Blocker state;
    return state;
}

QWindow* makeBlockerWindow() {
    auto* window = new QWindow;
    window->setObjectName(QStringLiteral("inputBlocker"));
    // A window manager never sees it (override-redirect), it lets every click through,
    // and it sits off screen: all that is left of it is its place on Qt's modal stack.
    // It can take the keyboard focus: Qt hands the focus to the modal window when a
    // blocked one is clicked, and keys typed meanwhile then go to it and are lost.
    window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                     Qt::WindowTransparentForInput);
    window->setModality(Qt::ApplicationModal);
    window->setGeometry(-64, -64, 1, 1);
    return window;
}

}  // namespace

InputBlocker::InputBlocker() {
    Blocker& state = blocker();
    if (state.holders++ > 0) {
        return;  // already blocking for an outer wait
    }
    if (state.window == nullptr) {
        state.window = makeBlockerWindow();
    }
    state.previousFocus = QGuiApplication::focusWindow();
    state.window->show();
}

InputBlocker::~InputBlocker() {
    Blocker& state = blocker();
    if (--state.holders > 0) {
        return;
    }
    state.window->hide();
    // If the blocker took the focus, it goes back to the window that had it; nobody
    // else would give it back, and without it the window takes no keys or shortcuts.
    QWindow* previous = state.previousFocus;
    state.previousFocus = nullptr;
    if (previous != nullptr && previous->isVisible() &&
        QGuiApplication::focusWindow() != previous) {
        previous->requestActivate();
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
