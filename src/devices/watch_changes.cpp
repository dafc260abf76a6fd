#include "devices/watch_changes.h"

namespace corvane {

ModuleChange WatchedModule::observe(bool answered, bool outputRunning) {
    ModuleChange change = ModuleChange::none;
    if (m_known) {
        if (m_answered && !answered) {
            change = ModuleChange::stoppedAnswering;
            m_reportedSilent = true;
        } else if (!m_answered && answered && m_reportedSilent) {
            change = ModuleChange::answersAgain;
            m_reportedSilent = false;
        } else if (m_answered && answered && m_running && !outputRunning) {
            change = ModuleChange::outputStopped;
        }
    }
    m_known = true;
    m_answered = answered;
    m_running = answered && outputRunning;
    return change;
}

}  // namespace corvane
