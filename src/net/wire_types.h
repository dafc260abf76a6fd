// Records exchanged with the modules and kept by the device list. Each is a packed
// record of a fixed size whose layout is checked at compile time. They are never
// filled by casting a datagram buffer: the encoders and decoders read and write the
// bytes one field at a time (16-bit numbers big-endian on the wire).
//
// The address fields of the packed records keep the four octets in wire order, so the
// lowest-addressed byte of the 32-bit value is the first dotted octet: they are read and
// written with Ipv4Address::fromNetworkOrder and networkOrder().
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "net/ipv4_address.h"

namespace corvane {

// One IPv4 address of this computer: the source of every datagram.
struct LocalAddress {
    Ipv4Address address;
    Ipv4Address mask;
    std::uint32_t spare = 0;  // always 0

    friend bool operator==(const LocalAddress&, const LocalAddress&) = default;
};
static_assert(sizeof(LocalAddress) == 12);

using MacAddress = std::array<std::uint8_t, 6>;

#pragma pack(push, 1)

// The first 30 bytes of a module's search reply, exactly as they arrived.
struct DeviceHello {
    std::array<char, 8> tag{};                  // "WiZnHeLo"
    MacAddress mac{};                           // wire order
    std::uint32_t ipAddress = 0;                // network order
    std::uint32_t networkMask = 0;              // network order
    std::uint32_t defaultGateway = 0;           // network order
    std::array<std::uint8_t, 2> reserved{};     // not interpreted
    std::array<std::uint8_t, 2> deviceClass{};  // big-endian, as received

    std::uint16_t deviceClassValue() const {
        return static_cast<std::uint16_t>(deviceClass[0] << 8 | deviceClass[1]);
    }
};

// One output stream of a multi-stream module.
struct OutputEntry {
    std::uint16_t control = 0;       // bits 12-15 kind (1), bits 8-11 state (1 running)
    std::uint32_t ip = 0;            // destination, network order
    std::uint16_t port = 0;          // destination port
    std::uint16_t auxEntryWord = 0;  // carried, not interpreted
    std::uint16_t txParams = 0;      // bit 12 no stuffing, bits 8-11 protocol, bits 0-7 ToS
    std::array<std::uint8_t, 4> spare{};
};

// One input stream of a multi-stream module.
struct InputEntry {
    std::uint16_t control = 0;  // bits 12-15 kind (2), bits 8-11 state
    std::uint32_t ip = 0;       // the only accepted source, network order; 0 for any
    std::uint16_t port = 0;     // receiving port
    std::array<std::uint8_t, 8> spare{};
};

inline constexpr int kMaxStreamEntries = 16;

// StreamSettings::mode of a single-output module, and its flags bit for "No stuffings".
inline constexpr std::uint8_t kModeRunning = 3;
inline constexpr std::uint8_t kModeStopped = 0;
inline constexpr std::uint8_t kNoStuffingFlag = 0x01;

// A module's IP output settings and state. A module reports either the single form
// (mode .. auxByte3, both counts 0) or the entry-list form (counts and entries only).
struct StreamSettings {
    std::uint8_t mode = 0;  // single output: 3 running, 0 stopped
    std::uint8_t spare0 = 0;
    std::uint16_t flagWord = 0;  // wire flag word without bits 4 and 5
    std::uint8_t protocol = 0;   // index into "RTP+", "RTP", "UDP"
    std::array<std::uint8_t, 3> spare1{};
    std::uint32_t destinationIp = 0;    // network order
    std::uint16_t destinationPort = 0;  // host order
    std::uint8_t flags = 0;             // bit 0 no stuffing, bit 1 second option bit
    std::uint8_t spare2 = 0;
    std::uint16_t auxWord1 = 0;
    std::array<std::uint8_t, 2> spare3{};
    std::uint32_t auxAddress = 0;  // 4 bytes carried unchanged
    std::uint16_t auxWord2 = 0;
    std::uint8_t auxByte1 = 0;
    std::uint8_t auxByte2 = 0;
    std::uint8_t auxByte3 = 0;
    std::uint8_t outputCount = 0;
    std::uint8_t inputCount = 0;
    std::array<OutputEntry, kMaxStreamEntries> outputs{};
    std::array<InputEntry, kMaxStreamEntries> inputs{};
    std::uint8_t spare4 = 0;
};

#pragma pack(pop)

// The passport data reply, zero beyond the bytes received: "WiZnPaSs", the MAC at
// bytes 8 to 13, the rest not interpreted.
inline constexpr std::size_t kPassportDataSize = 418;
using PassportData = std::array<std::uint8_t, kPassportDataSize>;

static_assert(sizeof(DeviceHello) == 30);
static_assert(offsetof(DeviceHello, mac) == 8);
static_assert(offsetof(DeviceHello, ipAddress) == 14);
static_assert(offsetof(DeviceHello, networkMask) == 18);
static_assert(offsetof(DeviceHello, defaultGateway) == 22);
static_assert(offsetof(DeviceHello, reserved) == 26);
static_assert(offsetof(DeviceHello, deviceClass) == 28);

static_assert(sizeof(OutputEntry) == 16);
static_assert(offsetof(OutputEntry, ip) == 2);
static_assert(offsetof(OutputEntry, port) == 6);
static_assert(offsetof(OutputEntry, auxEntryWord) == 8);
static_assert(offsetof(OutputEntry, txParams) == 10);

static_assert(sizeof(InputEntry) == 16);
static_assert(offsetof(InputEntry, ip) == 2);
static_assert(offsetof(InputEntry, port) == 6);

static_assert(sizeof(StreamSettings) == 544);
static_assert(offsetof(StreamSettings, flagWord) == 2);
static_assert(offsetof(StreamSettings, protocol) == 4);
static_assert(offsetof(StreamSettings, destinationIp) == 8);
static_assert(offsetof(StreamSettings, destinationPort) == 12);
static_assert(offsetof(StreamSettings, flags) == 14);
static_assert(offsetof(StreamSettings, auxWord1) == 16);
static_assert(offsetof(StreamSettings, auxAddress) == 20);
static_assert(offsetof(StreamSettings, auxWord2) == 24);
static_assert(offsetof(StreamSettings, auxByte1) == 26);
static_assert(offsetof(StreamSettings, auxByte2) == 27);
static_assert(offsetof(StreamSettings, auxByte3) == 28);
static_assert(offsetof(StreamSettings, outputCount) == 29);
static_assert(offsetof(StreamSettings, inputCount) == 30);
static_assert(offsetof(StreamSettings, outputs) == 31);
static_assert(offsetof(StreamSettings, inputs) == 287);
static_assert(offsetof(StreamSettings, spare4) == 543);

}  // namespace corvane
