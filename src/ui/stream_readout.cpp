#include "ui/stream_readout.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>

#include "app/string_tables.h"

namespace corvane {
namespace {

constexpr std::uint16_t kNullPid = 0x1FFF;
constexpr double kBitsPerPacket = 188.0 * 8.0;

std::uint64_t nullPacketsOf(const StreamSnapshot& snapshot) {
    const auto found = std::find_if(snapshot.pids.begin(), snapshot.pids.end(),
                                    [](const PidReading& pid) { return pid.pid == kNullPid; });
    return found == snapshot.pids.end() ? 0 : found->packets;
}

std::string text(ExtraText id) {
    return loadText(static_cast<int>(id));
}

// Fills the "%s" places of a table text, in order.
std::string fill(std::string format, std::initializer_list<std::string> arguments) {
    std::size_t from = 0;
    for (const std::string& argument : arguments) {
        const std::size_t place = format.find("%s", from);
        if (place == std::string::npos) {
            break;
        }
        format.replace(place, 2, argument);
        from = place + argument.size();
    }
    return format;
}

std::string errorsText(const StreamReadoutFigures& figures) {
    const std::uint64_t all = figures.continuityErrors + figures.otherErrors;
    if (all == 0) {
        return text(ExtraText::streamNoErrors);
    }
    const bool continuityOnly = figures.otherErrors == 0;
    if (all == 1) {
        return text(continuityOnly ? ExtraText::streamOneContinuityError
                                   : ExtraText::streamOneError);
    }
    return fill(text(continuityOnly ? ExtraText::streamContinuityErrors : ExtraText::streamErrors),
                {std::to_string(all)});
}

}  // namespace

void StreamReadout::add(const StreamSnapshot& snapshot, StreamTime now) {
    Sample sample;
    sample.at = now;
    sample.packets = snapshot.packets;
    sample.nullPackets = nullPacketsOf(snapshot);
    sample.continuityErrors = snapshot.errors.continuityCountError;
    sample.otherErrors =
        snapshot.errors.total() - snapshot.errors.continuityCountError + snapshot.rtpLost;
    sample.arrivedRecently =
        snapshot.arrived && snapshot.sinceLastDatagramMs.value_or(0) < kQuietMs;
    sample.bitrate = snapshot.bitrate;
    sample.netBitrate = snapshot.netBitrate;
    sample.onlyStuffing = snapshot.onlyStuffing;
    m_samples.push_back(sample);
    while (m_samples.size() > kWindowSeconds + 1) {
        m_samples.pop_front();
    }
}

StreamReadoutFigures StreamReadout::figures() const {
    StreamReadoutFigures figures;
    if (m_samples.empty() || !m_samples.back().arrivedRecently) {
        return figures;
    }
    const Sample& newest = m_samples.back();
    // Until ten seconds have passed, the window reaches back to the start, where every
    // counter was zero.
    const Sample start{};
    const Sample& oldest = m_samples.size() > kWindowSeconds ? m_samples.front() : start;
    figures.continuityErrors = newest.continuityErrors - oldest.continuityErrors;
    figures.otherErrors = newest.otherErrors - oldest.otherErrors;
    bool onlyStuffing = newest.onlyStuffing;
    figures.bitrate = newest.bitrate;
    figures.netBitrate = newest.netBitrate;
    if (m_samples.size() >= 2) {
        const Sample& previous = m_samples[m_samples.size() - 2];
        const double seconds = std::chrono::duration<double>(newest.at - previous.at).count();
        const auto packets = static_cast<double>(newest.packets - previous.packets);
        const auto nulls = static_cast<double>(newest.nullPackets - previous.nullPackets);
        if (seconds > 0) {
            figures.bitrate = packets * kBitsPerPacket / seconds;
            figures.netBitrate = (packets - nulls) * kBitsPerPacket / seconds;
        }
        onlyStuffing = packets > 0 && packets == nulls;
    }
    figures.kind = onlyStuffing ? StreamReadoutKind::onlyStuffing : StreamReadoutKind::arriving;
    return figures;
}

std::string megabitsText(double bitsPerSecond, bool russian) {
    const double megabits = bitsPerSecond / 1e6;
    // Decided on the rounded value, so 999.96 shows as "1000", not "1000.0".
    const int decimals = megabits < 0.995 ? 2 : (megabits < 999.95 ? 1 : 0);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, megabits);
    std::string result(buffer);
    if (russian) {
        std::replace(result.begin(), result.end(), '.', ',');
    }
    return result;
}

std::string streamReadoutText(const StreamReadoutFigures& figures) {
    switch (figures.kind) {
        case StreamReadoutKind::nothing:
            return text(ExtraText::streamNothingArrives);
        case StreamReadoutKind::onlyStuffing:
            return text(ExtraText::streamOnlyStuffing);
        case StreamReadoutKind::arriving:
            break;
    }
    const bool russian = useRussian();
    return fill(text(ExtraText::streamArriving),
                {fill(text(ExtraText::streamMegabits), {megabitsText(figures.bitrate, russian)}),
                 megabitsText(figures.netBitrate, russian), errorsText(figures)});
}

}  // namespace corvane
