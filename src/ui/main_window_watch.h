// The main window's Watch mode: while ticked, the whole list is read in the background
// every few seconds ("Config"/"WatchSeconds", 2 to 3600, 10 when absent or out of
// range) and each row is updated in place, without the wait cursor, a progress window
// or a change of the selection. A module that falls silent, whose output stops, or
// that answers again after falling silent raises one desktop notification.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

#include "devices/watch_changes.h"
#include "net/wire_types.h"
#include "ui/desktop_notification.h"

namespace corvane {

class SettingsFile;
class SiteSession;

inline constexpr int kWatchDefaultSeconds = 10;
inline constexpr int kWatchMinSeconds = 2;
inline constexpr int kWatchMaxSeconds = 3600;

// "Config"/"WatchSeconds" as the window uses it.
int watchPeriodSeconds(const SettingsFile& settings);

// What starts Watch's sweeps: a timer in the program, a scripted clock in tests.
class WatchTicker {
public:
    virtual ~WatchTicker() = default;
    // Calls `tick` every `periodMs` from the event loop until stopped or started again.
    virtual void start(int periodMs, std::function<void()> tick) = 0;
    virtual void stop() = 0;
};

// The program's ticker: a QTimer.
std::unique_ptr<WatchTicker> timerTicker();

// How a change is told to the operator: a desktop notification in the program.
using WatchNotifier = std::function<void(const QString& summary, const QString& body)>;

class MainWindowWatch : public QObject {
    Q_OBJECT

public:
    // Sweeps `session`'s list through its sweep routine; `view` is the window whose own
    // modality does not hold a sweep back.
    MainWindowWatch(SiteSession& session, QWidget& view,
                    std::unique_ptr<WatchTicker> ticker = timerTicker(),
                    WatchNotifier notify = sendDesktopNotification);
    // Drops a sweep in flight at once (its results are not wanted any more).
    ~MainWindowWatch() override;

    // Ticked: a sweep now, then one every period. Unticked: no sweep starts, and one
    // in flight is dropped.
    void setActive(bool active);
    bool active() const { return m_active; }

    // Every status read of a module, by any command: keeps the time of its last answer.
    void noteRead(Ipv4Address deviceIp, bool answered);
    // The row's tooltip line about the last answer (only while watching).
    QString lastAnswerText(Ipv4Address deviceIp) const;

signals:
    // A sweep has ended and its results are in the rows.
    void sweepEnded();

private:
    void startSweep();
    void observe(int row, bool answered);
    void tell(ModuleChange change, int row);

    SiteSession& m_session;
    QWidget& m_view;
    std::unique_ptr<WatchTicker> m_ticker;
    WatchNotifier m_notify;
    bool m_active = false;
    std::shared_ptr<std::atomic<bool>> m_abandon;    // of the sweep this watch started
    std::map<Ipv4Address, WatchedModule> m_modules;  // by address
    std::map<Ipv4Address, QDateTime> m_lastAnswer;   // by address, this run only
};

}  // namespace corvane
