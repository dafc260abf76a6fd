#include "ui/stream_readout_line.h"

#include <QSocketNotifier>

namespace corvane {
namespace {

class MonitorSource : public StreamSource {
public:
    bool start(const StreamDestination& destination, const StreamReceiveOptions& options,
               StreamTime now, std::string& error) {
        return m_monitor.start(destination, options, now, error);
    }
    int fd() const override { return m_monitor.fd(); }
    bool pump(const std::function<StreamTime()>& clock, std::string& error) override {
        return m_monitor.pump(clock, error);
    }
    StreamSnapshot snapshot(StreamTime now) const override { return m_monitor.snapshot(now); }

private:
    StreamMonitor m_monitor;
};

}  // namespace

std::unique_ptr<StreamSource> openStreamMonitor(const StreamDestination& destination,
                                                const StreamReceiveOptions& options, StreamTime now,
                                                std::string& error) {
    auto source = std::make_unique<MonitorSource>();
    if (!source->start(destination, options, now, error)) {
        return nullptr;
    }
    return source;
}

CStreamReadoutLine::CStreamReadoutLine(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("streamReadout"));
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    hide();
    m_timer.setInterval(kRefreshMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { refresh(m_clock()); });
}

void CStreamReadoutLine::start(const StreamSourceOpener& opener,
                               const std::function<StreamTime()>& clock,
                               const StreamDestination& destination,
                               const StreamReceiveOptions& options) {
    stop();
    m_clock = clock;
    m_readout = StreamReadout{};
    setText(QString::fromStdString(streamReadoutText(m_readout.figures())));
    show();
    if (!destination.isMulticast() && destination.address != options.localAddress) {
        return;  // sent to another computer: nothing can arrive here
    }
    std::string error;
    m_source = opener(destination, options, m_clock(), error);
    if (m_source == nullptr) {
        // No socket (the port is taken, the adapter is gone): the line would only guess.
        qWarning("stream readout: %s", error.c_str());
        hide();
        return;
    }
    if (m_source->fd() >= 0) {
        m_notifier = new QSocketNotifier(m_source->fd(), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &CStreamReadoutLine::pump);
    }
    m_timer.start();
}

void CStreamReadoutLine::stop() {
    m_timer.stop();
    // The notifier goes before the socket it watches.
    delete m_notifier;
    m_notifier = nullptr;
    m_source.reset();
    hide();
}

void CStreamReadoutLine::pump() {
    std::string error;
    if (!m_source->pump(m_clock, error)) {
        // The socket failed; what was measured stays readable, so the line goes on
        // saying that nothing more arrives.
        qWarning("stream readout: %s", error.c_str());
        m_notifier->setEnabled(false);
    }
}

void CStreamReadoutLine::refresh(StreamTime now) {
    if (m_source == nullptr) {
        return;
    }
    if (m_notifier != nullptr && m_notifier->isEnabled()) {
        pump();  // what is queued now belongs to this second
    }
    m_readout.add(m_source->snapshot(now), now);
    setText(QString::fromStdString(streamReadoutText(m_readout.figures())));
}

}  // namespace corvane
