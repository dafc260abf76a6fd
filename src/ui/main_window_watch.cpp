#include "ui/main_window_watch.h"

#include <QGuiApplication>
#include <QPointer>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <vector>

#include "app/settings_file.h"
#include "app/string_tables.h"
#include "devices/device_record.h"
#include "reports/address_formats.h"
#include "ui/desktop_notification.h"
#include "ui/dlg_main.h"
#include "ui/message_box.h"

namespace corvane {
namespace {

constexpr char kNotificationSummary[] = "Corvane Control";

QString text(ExtraText id) {
    return QString::fromStdString(loadText(static_cast<int>(id)));
}

}  // namespace

int watchPeriodSeconds(const SettingsFile& settings) {
    const int seconds = settings.readInt("Config", "WatchSeconds", kWatchDefaultSeconds);
    return seconds >= kWatchMinSeconds && seconds <= kWatchMaxSeconds ? seconds
                                                                      : kWatchDefaultSeconds;
}

MainWindowWatch::MainWindowWatch(CDlgMain& window) : QObject(&window), m_window(window) {
    connect(&m_timer, &QTimer::timeout, this, &MainWindowWatch::startSweep);
    connect(&m_sweep, &QFutureWatcher<void>::finished, this, &MainWindowWatch::onSweepFinished);
}

MainWindowWatch::~MainWindowWatch() {
    if (m_abandon) {
        *m_abandon = true;
    }
    // The worker returns within one pass (100 ms) once abandoned.
    m_sweep.waitForFinished();
}

void MainWindowWatch::setActive(bool active) {
    m_active = active;
    if (!active) {
        m_timer.stop();
        if (m_abandon) {
            *m_abandon = true;
        }
        return;
    }
    m_timer.start(watchPeriodSeconds(m_window.settings()) * 1000);
    startSweep();
}

void MainWindowWatch::startSweep() {
    const DeviceList& devices = m_window.devices();
    // Never in the way of the operator: no sweep while a command runs or waits, or
    // while a modal window other than the main window itself (which the program runs
    // modally) is open; the next tick tries again.
    const QWindow* modal = QGuiApplication::modalWindow();
    const bool otherModalOpen = modal != nullptr && modal != m_window.windowHandle();
    if (!m_active || m_sweeping || devices.empty() || m_window.selectedLocalIndex() < 0 ||
        m_window.isBusy() || m_window.hasDeferredCommand() || otherModalOpen) {
        return;
    }
    std::vector<std::uint32_t> targets;
    for (const DeviceRecord& record : devices) {
        targets.push_back(record.ipAddress);
    }
    SweepOptions options;
    options.maxInFlight = std::max(options.maxInFlight, targets.size());
    const LocalAddress local = m_window.selectedLocalAddress();
    const auto sweep = m_window.operations().backgroundSweep;
    m_abandon = std::make_shared<std::atomic<bool>>(false);
    const auto abandon = m_abandon;
    const QPointer<MainWindowWatch> self(this);
    m_sweeping = true;
    m_sweep.setFuture(QtConcurrent::run([=] {
        sweep(
            local, targets, options,
            [=](std::size_t index, const StatusReading& reading) {
                const bool answered = reading.outcome == StatusOutcome::answered;
                const StreamSettings reported = reading.settings;
                const std::uint32_t deviceIp = targets[index];
                QMetaObject::invokeMethod(
                    self,
                    [=] {
                        if (!abandon->load()) {
                            self->applyReading(static_cast<int>(index), deviceIp, answered,
                                               reported);
                        }
                    },
                    Qt::QueuedConnection);
            },
            abandon.get());
    }));
}

void MainWindowWatch::applyReading(int row, std::uint32_t deviceIp, bool answered,
                                   const StreamSettings& reported) {
    const DeviceList& devices = m_window.devices();
    if (row < 0 || row >= static_cast<int>(devices.size()) ||
        devices[static_cast<std::size_t>(row)].ipAddress != deviceIp) {
        return;  // the list changed meanwhile; this reading is about nothing shown
    }
    m_window.applyStatusToRow(row, answered, reported);
    const ModuleChange change =
        m_modules[deviceIp].observe(answered, answered && isOutputActive(reported));
    if (change != ModuleChange::none) {
        tell(change, row);
    }
}

void MainWindowWatch::tell(ModuleChange change, int row) {
    const DeviceRecord& record = m_window.devices()[static_cast<std::size_t>(row)];
    ExtraText body = ExtraText::notifySilent;
    if (change == ModuleChange::outputStopped) {
        body = ExtraText::notifyOutputStopped;
    } else if (change == ModuleChange::answersAgain) {
        body = ExtraText::notifyAnswersAgain;
    }
    const QString mac =
        record.macAddress.empty() ? QStringLiteral("-") : QString::fromStdString(record.macAddress);
    sendDesktopNotification(
        QString::fromLatin1(kNotificationSummary),
        fillTextArguments(text(body), {QString::number(row + 1), mac,
                                       QString::fromStdString(formatIpAddress(record.ipAddress))}));
}

void MainWindowWatch::onSweepFinished() {
    m_sweeping = false;
    m_abandon.reset();
    emit sweepEnded();
}

void MainWindowWatch::noteRead(std::uint32_t deviceIp, bool answered) {
    if (answered) {
        m_lastAnswer[deviceIp] = QDateTime::currentDateTime();
    }
}

QString MainWindowWatch::lastAnswerText(std::uint32_t deviceIp) const {
    const auto found = m_lastAnswer.find(deviceIp);
    if (found == m_lastAnswer.end()) {
        return text(ExtraText::noAnswerYet);
    }
    return fillTextArguments(text(ExtraText::lastAnswer),
                             {found->second.toString(QStringLiteral("HH:mm:ss"))});
}

}  // namespace corvane
