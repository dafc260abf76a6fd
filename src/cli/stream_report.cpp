#include "cli/stream_report.h"

#include <cmath>
#include <utility>

#include "reports/address_formats.h"

namespace corvane::cli {
namespace {

// Whole bits per second, and times to the microsecond: the measurement says no more.
std::int64_t wholeBits(double bitsPerSecond) {
    return std::llround(bitsPerSecond);
}

double toMicroseconds(double value) {
    return std::round(value * 1000) / 1000;
}

const std::vector<std::pair<const char*, std::uint64_t IndicatorCounts::*>> kIndicators = {
    {"ts_sync_loss", &IndicatorCounts::tsSyncLoss},
    {"sync_byte_error", &IndicatorCounts::syncByteError},
    {"pat_error", &IndicatorCounts::patError},
    {"continuity_count_error", &IndicatorCounts::continuityCountError},
    {"pmt_error", &IndicatorCounts::pmtError},
    {"pid_error", &IndicatorCounts::pidError},
};

Json nullOr(const std::string& text) {
    return text.empty() ? Json(nullptr) : Json(text);
}

Json servicesJson(const std::vector<ServiceInfo>& services) {
    Json array = Json::array();
    for (const ServiceInfo& service : services) {
        Json streams = Json::array();
        for (const ElementaryStream& stream : service.streams) {
            streams.push_back({{"pid", stream.pid}, {"type", stream.type}});
        }
        array.push_back({{"program", service.program},
                         {"pmt_pid", service.pmtPid},
                         {"pcr_pid", service.pcrPid ? Json(*service.pcrPid) : Json(nullptr)},
                         {"streams", std::move(streams)}});
    }
    return array;
}

Json pidsJson(const std::vector<PidReading>& pids) {
    Json array = Json::array();
    for (const PidReading& pid : pids) {
        array.push_back({{"pid", pid.pid},
                         {"bitrate", wholeBits(pid.bitrate)},
                         {"continuity_count_error", pid.continuityCountErrors}});
    }
    return array;
}

std::string targetText(const StreamRow& row) {
    return row.target ? row.target->text() : "";
}

std::string encapsulationText(const StreamSnapshot& s) {
    return s.encapsulation ? std::string(encapsulationName(*s.encapsulation)) : "";
}

std::string megabits(double bitsPerSecond) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", bitsPerSecond / 1e6);
    return text;
}

std::string oneDecimal(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// "1 (PMT 256, PCR 257, 2 streams)", one per programme.
std::string servicesText(const std::vector<ServiceInfo>& services) {
    std::string text;
    for (const ServiceInfo& service : services) {
        text += (text.empty() ? "" : ", ") + std::to_string(service.program) + " (PMT " +
                std::to_string(service.pmtPid) +
                (service.pcrPid ? ", PCR " + std::to_string(*service.pcrPid) : "") + ", " +
                std::to_string(service.streams.size()) +
                (service.streams.size() == 1 ? " stream)" : " streams)");
    }
    return text;
}

std::vector<std::string> peopleCells(const StreamRow& row) {
    const StreamSnapshot& s = row.snapshot;
    if (!s.arrived) {
        return {targetText(row), s.destination.text(), "no", "", "", "", "", "", "", "", ""};
    }
    return {
        targetText(row),        s.destination.text(),      s.onlyStuffing ? "only stuffing" : "yes",
        encapsulationText(s),   megabits(s.bitrate),       megabits(s.netBitrate),
        errorsText(s.errors),   std::to_string(s.rtpLost), std::to_string(s.socketDrops),
        oneDecimal(s.maxGapMs), servicesText(s.services)};
}

std::vector<std::string> csvCells(const StreamRow& row) {
    const StreamSnapshot& s = row.snapshot;
    std::vector<std::string> cells = {targetText(row),
                                      s.destination.text(),
                                      !row.source.isUnspecified() ? row.source.text() : "",
                                      s.arrived ? "true" : "false",
                                      encapsulationText(s),
                                      oneDecimal(s.seconds),
                                      std::to_string(s.datagrams),
                                      std::to_string(s.packets),
                                      std::to_string(wholeBits(s.bitrate)),
                                      std::to_string(wholeBits(s.netBitrate)),
                                      s.onlyStuffing ? "true" : "false"};
    for (const auto& [name, counter] : kIndicators) {
        cells.push_back(std::to_string(s.errors.*counter));
    }
    cells.insert(cells.end(), {std::to_string(s.rtpLost), std::to_string(s.socketDrops),
                               oneDecimal(s.maxGapMs)});
    return cells;
}

}  // namespace

Json streamJson(const StreamRow& row) {
    const StreamSnapshot& s = row.snapshot;
    Json errors = Json::object();
    for (const auto& [name, counter] : kIndicators) {
        errors[name] = s.errors.*counter;
    }
    Json object = Json::object();
    object["target"] = row.target ? Json(row.target->text()) : Json(nullptr);
    object["destination"] = s.destination.text();
    object["source"] = !row.source.isUnspecified() ? Json(row.source.text()) : Json(nullptr);
    object["arrived"] = s.arrived;
    object["encapsulation"] = s.arrived ? nullOr(encapsulationText(s)) : Json(nullptr);
    object["seconds"] = toMicroseconds(s.seconds);
    object["datagrams"] = s.datagrams;
    object["packets"] = s.packets;
    object["bitrate"] = wholeBits(s.bitrate);
    object["net_bitrate"] = wholeBits(s.netBitrate);
    object["only_stuffing"] = s.onlyStuffing;
    object["errors"] = std::move(errors);
    object["rtp_lost"] = s.rtpLost;
    object["socket_drops"] = s.socketDrops;
    object["max_gap_ms"] = toMicroseconds(s.maxGapMs);
    object["services"] = servicesJson(s.services);
    object["pids"] = pidsJson(s.pids);
    return object;
}

std::string errorsText(const IndicatorCounts& errors) {
    std::string text;
    for (const auto& [name, counter] : kIndicators) {
        if (errors.*counter != 0) {
            text += (text.empty() ? "" : ", ") + std::to_string(errors.*counter) + " " + name;
        }
    }
    return text.empty() ? "none" : text;
}

Table streamTable(const std::vector<StreamRow>& rows, OutputForm form) {
    Table table;
    if (form == OutputForm::csv) {
        for (const char* key :
             {"target", "destination", "source", "arrived", "encapsulation", "seconds", "datagrams",
              "packets", "bitrate", "net_bitrate", "only_stuffing"}) {
            table.columns.push_back({key, key});
        }
        for (const auto& [name, counter] : kIndicators) {
            table.columns.push_back({name, name});
        }
        for (const char* key : {"rtp_lost", "socket_drops", "max_gap_ms"}) {
            table.columns.push_back({key, key});
        }
    } else {
        table.columns = {
            {"TARGET", "target"},         {"DESTINATION", "destination"}, {"ARRIVED", "arrived"},
            {"ENCAP", "encapsulation"},   {"MBIT/S", "bitrate"},          {"NET", "net_bitrate"},
            {"ERRORS", "errors"},         {"RTP LOST", "rtp_lost"},       {"DROPS", "socket_drops"},
            {"MAX GAP MS", "max_gap_ms"}, {"SERVICES", "services"}};
    }
    for (const StreamRow& row : rows) {
        table.rows.push_back(form == OutputForm::csv ? csvCells(row) : peopleCells(row));
    }
    return table;
}

}  // namespace corvane::cli
