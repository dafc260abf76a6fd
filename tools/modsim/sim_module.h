// One simulated module: its network identity, what it reports and the faults it
// shows on demand. The reply builders produce the exact datagrams a module sends.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "wire_bytes.h"

namespace corvane::modsim {

inline constexpr std::uint16_t kPortA = 9100;
inline constexpr std::uint16_t kPortB = 9101;

struct Endpoint {
    std::uint32_t ip = 0;  // host order
    std::uint16_t port = 0;
};

// What a running output sends, and the faults its stream can show.
enum class StreamFault { none, silent, onlyNull, noPat, burst };

struct StreamBehaviour {
    double rate = 2000000;  // bits per second of all packets, null packets included
    int dropPerSecond = 0;  // datagrams left out each second, evenly spread
    StreamFault fault = StreamFault::none;
};

// One running output: where its stream goes and how (host-order address).
struct OutputTarget {
    std::uint32_t ip = 0;
    std::uint16_t port = 0;
    int protocol = 0;  // 0 RTP+, 1 RTP, 2 UDP
    bool noStuffing = false;
    bool operator==(const OutputTarget&) const = default;
};

struct SimModule {
    std::array<std::uint8_t, 6> mac{};
    std::uint32_t ip = 0;  // host order, like mask and gateway
    std::uint32_t mask = 0xFFFFFF00;
    std::uint32_t gateway = 0;
    std::uint16_t deviceClass = 3;
    bool answersAnyClass = false;
    bool onPortA = true;
    bool onPortB = true;

    // Bytes 8..29 of the single-form status reply (byte 27 of the reply is index 19).
    std::array<std::uint8_t, kSingleStatusLength - kTagLength> single{};
    // Non-empty: the module reports in the entry-list form, one 16-byte entry each.
    std::vector<std::array<std::uint8_t, kStatusEntryLength>> entries;

    std::size_t helloLength = kHelloLength;
    std::size_t passportLength = kPassportMaxLength;
    int delayMs = 0;

    // Faults.
    bool silent = false;
    bool wrongTag = false;   // the reply tag differs from the right one in one letter's case
    bool duplicate = false;  // every reply goes out twice
    std::optional<std::size_t> shortLength;  // every reply is cut to this many bytes
    std::optional<Endpoint> strayFrom;       // a decoy from this address and port precedes replies
    StreamBehaviour stream;

    bool answersOn(std::uint16_t port) const { return port == kPortA ? onPortA : onPortB; }
    std::string macText() const;
};

// The replies, before faults are applied.
Bytes buildHello(const SimModule& module);
Bytes buildStatusReply(const SimModule& module);
Bytes buildPassportReply(const SimModule& module);
// Content of the passport block after "WiZnPaSs" and the MAC: deterministic from the MAC.
Bytes passportBody(const std::array<std::uint8_t, 6>& mac, std::size_t length);

// The faults that change a reply's bytes: wrong tag, then short length.
Bytes applyReplyFaults(const SimModule& module, Bytes reply);

// Requests that change the module. Both return whether the module took the request.
bool takeNetworkSettings(SimModule& module, const std::uint8_t* request, std::size_t length);
bool takeStreamSettings(SimModule& module, const std::uint8_t* request, std::size_t length);

// The outputs the module's status reports as running, in status order.
std::vector<OutputTarget> runningOutputs(const SimModule& module);

// Helpers for building the status in either form.
void setSingleFlagWord(SimModule& module, std::uint16_t flagWord);
std::array<std::uint8_t, kStatusEntryLength> outputEntry(std::uint16_t control, std::uint32_t ip,
                                                         std::uint16_t port, std::uint16_t txParams,
                                                         std::uint16_t auxWord);
std::array<std::uint8_t, kStatusEntryLength> inputEntry(std::uint16_t control, std::uint32_t ip,
                                                        std::uint16_t port);

}  // namespace corvane::modsim
