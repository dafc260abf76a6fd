// Commands wait for modules for up to a few seconds. The network operation runs on a
// worker thread; what the command does with its result runs afterwards from the event
// loop, never from a nested one, so no timer or queued call can run a second command in
// the middle of the first.
//
// While the operation runs, an application-modal window that is never seen blocks input
// to every other window of the program: Qt's own modality, which drops the input for
// blocked windows while keeping its record of the mouse buttons and keys true, and which
// tells each window it is blocked so that none waits for a button release that went to
// nobody. The windows keep painting and answering the desktop's liveness checks, and the
// wait cursor shows. That window is made once and only shown and hidden afterwards: no
// native window comes or goes per command.
#pragma once

#include <QObject>
#include <functional>

namespace corvane {

// Blocks input to every window shown before it, for as long as it lives; blockers may
// nest, and the program's one blocker window shows while any of them lives.
class InputBlocker {
public:
    InputBlocker();
    ~InputBlocker();
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;
};

// Runs `work` on a worker thread and then, on this thread, `done`, unless `context` has
// been destroyed by then. Input is blocked and the wait cursor shown from the call until
// `done` begins; a window that `done` opens, a message box say, takes input again.
// `work` must not touch widgets: it gets copies of what it needs and leaves its result
// where `done` finds it.
void runBusy(QObject* context, std::function<void()> work, std::function<void()> done);

}  // namespace corvane
