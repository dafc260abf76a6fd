// Commands wait for modules for up to a few seconds. The network operation runs on a
// worker thread while this thread keeps the windows painted and answers the desktop's
// liveness checks; every user input meanwhile is discarded and the wait cursor shown,
// so a command still runs to completion before the next input is taken.
#pragma once

#include <functional>

class QWidget;

namespace corvane {

// Runs `operation` and returns when it has finished. Input to `inputAllowed` and its
// children (a progress window's Cancel button) still gets through.
void runBusy(const std::function<void()>& operation, QWidget* inputAllowed = nullptr);

// True while runBusy is waiting.
bool isBusy();

}  // namespace corvane
