#include "ui/busy_wait.h"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QWidget>
#include <thread>

namespace corvane {
namespace {

bool g_busy = false;

bool isUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::InputMethod:
        case QEvent::Drop:
            return true;
        default:
            return false;
    }
}

class InputBlocker : public QObject {
public:
    explicit InputBlocker(QWidget* allowed) : m_allowed(allowed) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        QWidget* widget = watched->isWidgetType() ? static_cast<QWidget*>(watched) : nullptr;
        if (widget != nullptr && m_allowed != nullptr &&
            (widget == m_allowed || m_allowed->isAncestorOf(widget))) {
            return false;
        }
        if (event->type() == QEvent::Close && widget != nullptr && widget->isWindow()) {
            // A window closed mid-command would lose the command's result.
            event->ignore();
            return true;
        }
        return isUserInput(event->type());
    }

private:
    QWidget* m_allowed;
};

}  // namespace

bool isBusy() {
    return g_busy;
}

void runBusy(const std::function<void()>& operation, QWidget* inputAllowed) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    InputBlocker blocker(inputAllowed);
    qApp->installEventFilter(&blocker);
    const bool wasBusy = g_busy;
    g_busy = true;

    QEventLoop loop;
    std::thread worker([&operation, &loop] {
        operation();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();

    g_busy = wasBusy;
    qApp->removeEventFilter(&blocker);
    QApplication::restoreOverrideCursor();
}

}  // namespace corvane
