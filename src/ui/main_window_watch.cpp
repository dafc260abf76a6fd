#include "ui/main_window_watch.h"

#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include "app/settings_file.h"
#include "app/settings_keys.h"
#include "app/string_tables.h"
#include "devices/device_record.h"
#include "reports/address_formats.h"
#include "ui/desktop_notification.h"
#include "ui/message_box.h"
#include "ui/site_session.h"
#include "ui/ui_text.h"

namespace corvane {
namespace {

constexpr char kNotificationSummary[] = "Corvane Control";

}  // namespace

int watchPeriodSeconds(const SettingsFile& settings) {
    const int seconds = settings.readInt(settings_keys::kConfig, settings_keys::kWatchSeconds,
                                         kWatchDefaultSeconds);
    return seconds >= kWatchMinSeconds && seconds <= kWatchMaxSeconds ? seconds
                                                                      : kWatchDefaultSeconds;
}

namespace {

class TimerTicker : public WatchTicker {
public:
    TimerTicker() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { m_tick(); });
    }
    void start(int periodMs, std::function<void()> tick) override {
        m_tick = std::move(tick);
        m_timer.start(periodMs);
    }
    void stop() override { m_timer.stop(); }

private:
    QTimer m_timer;
    std::function<void()> m_tick;
};

}  // namespace

std::unique_ptr<WatchTicker> timerTicker() {
    return std::make_unique<TimerTicker>();
}

MainWindowWatch::MainWindowWatch(SiteSession& session, QWidget& view,
                                 std::unique_ptr<WatchTicker> ticker, WatchNotifier notify)
    : QObject(&view),
      m_session(session),
      m_view(view),
      m_ticker(std::move(ticker)),
      m_notify(std::move(notify)) {
    connect(&m_session, &SiteSession::rowRead, this, [this](int row, bool answered) {
        noteRead(m_session.devices()[static_cast<std::size_t>(row)].ipAddress, answered);
    });
}

MainWindowWatch::~MainWindowWatch() {
    if (m_abandon) {
        *m_abandon = true;
    }
}

void MainWindowWatch::setActive(bool active) {
    m_active = active;
    if (!active) {
        m_ticker->stop();
        if (m_abandon) {
            *m_abandon = true;
        }
        return;
    }
    m_ticker->start(watchPeriodSeconds(m_session.settings()) * 1000, [this] { startSweep(); });
    startSweep();
}

void MainWindowWatch::startSweep() {
    // Never in the way of the operator: no sweep while a command runs or waits, or
    // while a modal window other than the main window itself (which the program runs
    // modally) is open; the next tick tries again.
    const QWindow* modal = QGuiApplication::modalWindow();
    const bool otherModalOpen = modal != nullptr && modal != m_view.windowHandle();
    if (!m_active || m_session.sweeping() || m_session.devices().empty() ||
        !m_session.hasLocalAddress() || m_session.isBusy() || m_session.hasDeferredCommand() ||
        otherModalOpen) {
        return;
    }
    SiteSession::SweepCall call;
    call.mode = SiteSession::SweepMode::background;
    for (int row = 0; row < static_cast<int>(m_session.devices().size()); ++row) {
        call.rows.push_back(row);
    }
    m_abandon = call.stop;
    call.onReading = [this](int row, bool answered) { observe(row, answered); };
    call.onEnd = [this] {
        m_abandon.reset();
        emit sweepEnded();
    };
    m_session.sweep(std::move(call));
}

void MainWindowWatch::observe(int row, bool answered) {
    const DeviceRecord& record = m_session.devices()[static_cast<std::size_t>(row)];
    const ModuleChange change = m_modules[record.ipAddress].observe(
        answered, answered && isOutputActive(record.liveStatus));
    if (change != ModuleChange::none) {
        tell(change, row);
    }
}

void MainWindowWatch::tell(ModuleChange change, int row) {
    const DeviceRecord& record = m_session.devices()[static_cast<std::size_t>(row)];
    ExtraText body = ExtraText::notifySilent;
    if (change == ModuleChange::outputStopped) {
        body = ExtraText::notifyOutputStopped;
    } else if (change == ModuleChange::answersAgain) {
        body = ExtraText::notifyAnswersAgain;
    }
    const QString mac =
        record.macAddress.empty() ? QStringLiteral("-") : QString::fromStdString(record.macAddress);
    m_notify(QString::fromLatin1(kNotificationSummary),
             fillTextArguments(uiText(body), {QString::number(row + 1), mac,
                                              QString::fromStdString(record.ipAddress.text())}));
}

void MainWindowWatch::noteRead(Ipv4Address deviceIp, bool answered) {
    if (answered) {
        m_lastAnswer[deviceIp] = QDateTime::currentDateTime();
    }
}

QString MainWindowWatch::lastAnswerText(Ipv4Address deviceIp) const {
    const auto found = m_lastAnswer.find(deviceIp);
    if (found == m_lastAnswer.end()) {
        return uiText(ExtraText::noAnswerYet);
    }
    return fillTextArguments(uiText(ExtraText::lastAnswer),
                             {found->second.toString(QStringLiteral("HH:mm:ss"))});
}

}  // namespace corvane
