// What a watching window tells the operator about: from one background sweep to the
// next, a module that stops answering, one whose output stops, and one that answers
// again after it was reported silent. Each change is told once, not at every sweep.
#pragma once

namespace corvane {

enum class ModuleChange { none, stoppedAnswering, outputStopped, answersAgain };

// One module's state as the sweeps have seen it.
class WatchedModule {
public:
    // The result of the latest sweep; gives the change to tell, if any. The first
    // sweep only learns the state: nothing has changed yet.
    ModuleChange observe(bool answered, bool outputRunning);

private:
    bool m_known = false;
    bool m_answered = false;
    bool m_running = false;
    bool m_reportedSilent = false;
};

}  // namespace corvane
