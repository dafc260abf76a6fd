// The IP output dialog's foot line: measures the stream at its destination on this
// computer while the dialog shows the output running, and says once a second what
// arrives. The socket is read on the GUI thread when the notifier says datagrams are
// queued; a pump takes only what is there, so the dialog never waits on it.
#pragma once

#include <QLabel>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "streams/stream_monitor.h"
#include "ui/stream_readout.h"

class QSocketNotifier;

namespace corvane {

// Where the line's measurement comes from: a StreamMonitor on a socket, or in tests a
// scripted one. fd() is -1 for a source without a socket.
class StreamSource {
public:
    virtual ~StreamSource() = default;
    virtual int fd() const = 0;
    virtual bool pump(const std::function<StreamTime()>& clock, std::string& error) = 0;
    virtual StreamSnapshot snapshot(StreamTime now) const = 0;
};

// Opens a source on a destination; null, with the reason in `error`, when it cannot.
using StreamSourceOpener = std::function<std::unique_ptr<StreamSource>(
    const StreamDestination&, const StreamReceiveOptions&, StreamTime, std::string&)>;

// The real one: a StreamMonitor joining or binding as the destination asks.
std::unique_ptr<StreamSource> openStreamMonitor(const StreamDestination& destination,
                                                const StreamReceiveOptions& options, StreamTime now,
                                                std::string& error);

class CStreamReadoutLine : public QLabel {
    Q_OBJECT

public:
    static constexpr int kRefreshMs = 1000;

    explicit CStreamReadoutLine(QWidget* parent);

    // Starts measuring and shows the line. A unicast destination other than this
    // computer's `localAddress` gets nothing here, and says so without a socket.
    void start(const StreamSourceOpener& opener, const std::function<StreamTime()>& clock,
               const StreamDestination& destination, const StreamReceiveOptions& options);
    // Stops measuring, closes the socket and hides the line.
    void stop();
    bool measuring() const { return m_source != nullptr; }

    // One refresh as of `now`: the timer calls it every second.
    void refresh(StreamTime now);

private:
    void pump();

    std::unique_ptr<StreamSource> m_source;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_timer;
    std::function<StreamTime()> m_clock;
    StreamReadout m_readout;
};

}  // namespace corvane
