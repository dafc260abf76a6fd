#include "ui/site_session.h"

#include <QApplication>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <utility>

#include "app/settings_file.h"
#include "app/settings_keys.h"
#include "devices/device_list_storage.h"
#include "devices/operator_site.h"
#include "ui/busy_wait.h"

namespace corvane {

namespace keys = settings_keys;

SiteSession::SiteSession(SettingsFile& settings, DeviceOperations operations, QObject* parent)
    : QObject(parent), m_settings(settings), m_operations(std::move(operations)) {
    loadDeviceList(m_settings, m_devices);
    connect(&m_background, &QFutureWatcher<std::size_t>::finished, this,
            &SiteSession::onBackgroundSweepFinished);
}

SiteSession::~SiteSession() {
    if (m_backgroundStop) {
        *m_backgroundStop = true;
    }
    // The worker returns within one pass (100 ms) once abandoned.
    m_background.waitForFinished();
    if (m_deferredBlocker) {
        QApplication::restoreOverrideCursor();
    }
}

bool SiteSession::openLocalAddresses(const AddressLister& listAddresses) {
    listAddresses(m_localAddresses);
    const SourceChoice choice = chooseSourceAddress(
        m_localAddresses, std::nullopt, storedLocalAddress(m_settings), UnchosenSource::takeFirst);
    m_selectedLocalIndex = -1;
    if (!choice.chosen()) {
        return false;
    }
    // The last entry with the chosen address, as the window has always picked it.
    for (std::size_t i = 0; i < m_localAddresses.size(); ++i) {
        if (m_localAddresses[i].address == choice.address.address) {
            m_selectedLocalIndex = static_cast<int>(i);
        }
    }
    if (choice.reason != SourceChoiceReason::stored) {
        m_settings.writeInt(keys::kConfig, keys::kLocalIp,
                            choice.address.address.settingsInteger());
    }
    return true;
}

LocalAddress SiteSession::selectedLocalAddress() const {
    if (m_selectedLocalIndex < 0) {
        return {};
    }
    return m_localAddresses[static_cast<std::size_t>(m_selectedLocalIndex)];
}

void SiteSession::chooseLocalAddress(int index) {
    if (index < 0 || index >= static_cast<int>(m_localAddresses.size())) {
        return;
    }
    m_selectedLocalIndex = index;
    m_settings.writeInt(
        keys::kConfig, keys::kLocalIp,
        m_localAddresses[static_cast<std::size_t>(index)].address.settingsInteger());
}

void SiteSession::addDevice(const DeviceRecord& record) {
    m_devices.push_back(record);
    saveDeviceList(m_settings, m_devices);
    emit listChanged(static_cast<int>(m_devices.size()) - 1);
}

void SiteSession::storeDevice(int row, const DeviceRecord& record) {
    m_devices[static_cast<std::size_t>(row)] = record;
    saveDeviceList(m_settings, m_devices);
    emit listChanged(row);
}

void SiteSession::removeDevice(int row) {
    m_devices.erase(m_devices.begin() + row);
    saveDeviceList(m_settings, m_devices);
    emit listChanged(-1);
}

bool SiteSession::storedLanguageRussian(bool fallback) const {
    return m_settings.readInt(keys::kLayout, keys::kLanguage, fallback ? 1 : 0) != 0;
}

void SiteSession::rememberLanguage(bool russian) {
    m_settings.writeInt(keys::kLayout, keys::kLanguage, russian ? 1 : 0);
}

std::optional<QRect> SiteSession::storedPlacement() const {
    const int left = m_settings.readInt(keys::kLayout, keys::kLeft, -1);
    const int top = m_settings.readInt(keys::kLayout, keys::kTop, -1);
    const int width = m_settings.readInt(keys::kLayout, keys::kWidth, -1);
    const int height = m_settings.readInt(keys::kLayout, keys::kHeight, -1);
    if (left == -1 || top == -1 || width == -1 || height == -1) {
        return std::nullopt;
    }
    return QRect(left, top, width, height);
}

void SiteSession::rememberPlacement(const QRect& placement) {
    SettingsBatch batch;
    batch.writeInt(keys::kLayout, keys::kLeft, placement.left());
    batch.writeInt(keys::kLayout, keys::kTop, placement.top());
    batch.writeInt(keys::kLayout, keys::kWidth, placement.width());
    batch.writeInt(keys::kLayout, keys::kHeight, placement.height());
    m_settings.write(batch);
}

bool SiteSession::storedWatch() const {
    return m_settings.readInt(keys::kConfig, keys::kWatch, 0) != 0;
}

void SiteSession::rememberWatch(bool ticked) {
    m_settings.writeInt(keys::kConfig, keys::kWatch, ticked ? 1 : 0);
}

void SiteSession::runBusy(std::function<void()> work, std::function<void()> done) {
    m_busy = true;
    corvane::runBusy(this, std::move(work), [this, done = std::move(done)] {
        m_busy = false;
        done();
    });
}

bool SiteSession::deferWhileSweeping(std::function<void()> command) {
    if (!m_sweeping || m_busy) {
        return false;
    }
    if (!m_deferredCommand) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_deferredBlocker = std::make_unique<InputBlocker>();
    }
    m_deferredCommand = std::move(command);
    return true;
}

std::function<std::size_t()> SiteSession::sweepWork(const SweepCall& call) {
    std::vector<Ipv4Address> targets;
    for (int row : call.rows) {
        targets.push_back(m_devices[static_cast<std::size_t>(row)].ipAddress);
    }
    SweepOptions options;
    options.maxInFlight = std::max(options.maxInFlight, targets.size());
    const bool background = call.mode == SweepMode::background;
    const auto run = background ? m_operations.backgroundSweep : m_operations.sweepStatus;
    const LocalAddress local = selectedLocalAddress();
    const QPointer<SiteSession> self(this);
    return [=] {
        return run(
            local, targets, options,
            [=](std::size_t index, const StatusReading& reading) {
                const bool answered = reading.outcome == StatusOutcome::answered;
                const StreamSettings reported = reading.settings;
                // Stored on the session's thread, as each answer comes.
                QMetaObject::invokeMethod(
                    self,
                    [=] {
                        if (!(background && call.stop->load())) {
                            self->storeReading(call.rows[index], targets[index], answered, reported,
                                               call);
                        }
                    },
                    Qt::QueuedConnection);
            },
            call.stop.get());
    };
}

void SiteSession::storeReading(int row, Ipv4Address deviceIp, bool answered,
                               const StreamSettings& reported, const SweepCall& call) {
    if (row < 0 || row >= static_cast<int>(m_devices.size()) ||
        m_devices[static_cast<std::size_t>(row)].ipAddress != deviceIp) {
        return;  // the list changed meanwhile; this reading is about nothing shown
    }
    applyStatusRead(m_devices[static_cast<std::size_t>(row)], answered, reported);
    emit rowRead(row, answered);
    if (call.onReading) {
        call.onReading(row, answered);
    }
}

void SiteSession::sweep(SweepCall call) {
    std::function<std::size_t()> work = sweepWork(call);
    if (call.mode == SweepMode::command) {
        runBusy([work = std::move(work)] { work(); },
                [end = std::move(call.onEnd)] {
                    if (end) {
                        end();
                    }
                });
        return;
    }
    m_sweeping = true;
    m_backgroundStop = call.stop;
    m_backgroundEnd = std::move(call.onEnd);
    m_background.setFuture(QtConcurrent::run(std::move(work)));
}

void SiteSession::onBackgroundSweepFinished() {
    m_sweeping = false;
    m_backgroundStop.reset();
    if (const std::function<void()> end = std::exchange(m_backgroundEnd, nullptr)) {
        end();
    }
    if (m_deferredCommand) {
        const std::function<void()> command = std::exchange(m_deferredCommand, nullptr);
        m_deferredBlocker.reset();
        QApplication::restoreOverrideCursor();
        command();
    }
}

void SiteSession::checkRow(int row, std::function<void(bool answered)> then) {
    auto answered = std::make_shared<bool>(false);
    SweepCall call;
    call.rows = {row};
    call.onReading = [answered](int, bool didAnswer) { *answered = didAnswer; };
    call.onEnd = [answered, then = std::move(then)] {
        if (then) {
            then(*answered);
        }
    };
    sweep(std::move(call));
}

}  // namespace corvane
