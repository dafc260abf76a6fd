// Drives modal windows from a test: the command under test runs its own event loop,
// so the test's steps run from timers inside that loop.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace corvane::testing {

// Calls `step` once `ready` holds (polled every 20 ms, for at most `timeoutMs`);
// gives up silently after that, so the test's own checks report what went wrong.
inline void whenReady(std::function<bool()> ready, std::function<void()> step,
                      int timeoutMs = 10000) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (ready()) {
            timer->stop();
            step();
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
        } else {
            return;
        }
        timer->deleteLater();
        delete clock;
    });
    timer->start(20);
}

// The modal window of type T once it is shown.
template <typename T>
T* activeModal() {
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

}  // namespace corvane::testing
