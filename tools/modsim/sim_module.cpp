#include "sim_module.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace corvane::modsim {

namespace {

// Offsets inside the single form (whole datagram).
constexpr std::size_t kProtocolAt = 8;
constexpr std::size_t kModeAt = 9;
constexpr std::size_t kPortAt = 10;
constexpr std::size_t kDestinationAt = 12;
constexpr std::size_t kFlagWordAt = 16;
constexpr std::size_t kUnsentByteAt = 27;  // 0 in a request; the module keeps its own

}  // namespace

std::string SimModule::macText() const {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

Bytes buildHello(const SimModule& module) {
    Bytes out;
    putTag(out, kHelloTag);
    out.insert(out.end(), module.mac.begin(), module.mac.end());
    out.resize(kHelloLength);
    putIpv4(&out[14], module.ip);
    putIpv4(&out[18], module.mask);
    putIpv4(&out[22], module.gateway);
    out[26] = 0x01;  // not interpreted by the program; a fixed firmware byte pair
    out[27] = 0x00;
    putU16(&out[28], module.deviceClass);
    // A longer hello (some firmware pads it) carries a recognisable filler.
    for (std::size_t i = kHelloLength; i < module.helloLength; ++i) {
        out.push_back(static_cast<std::uint8_t>(0xA0 + (i & 0x0F)));
    }
    return out;
}

Bytes buildStatusReply(const SimModule& module) {
    Bytes out;
    putTag(out, kStatusReplyTag);
    if (module.entries.empty()) {
        out.insert(out.end(), module.single.begin(), module.single.end());
        return out;
    }
    for (const auto& entry : module.entries) {
        out.insert(out.end(), entry.begin(), entry.end());
    }
    return out;
}

Bytes passportBody(const std::array<std::uint8_t, 6>& mac, std::size_t length) {
    // FNV-1a of the MAC seeds a small linear congruential sequence.
    std::uint32_t state = 2166136261u;
    for (std::uint8_t octet : mac) {
        state = (state ^ octet) * 16777619u;
    }
    Bytes body(length);
    for (auto& byte : body) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return body;
}

Bytes buildPassportReply(const SimModule& module) {
    Bytes out;
    putTag(out, kPassportReplyTag);
    out.insert(out.end(), module.mac.begin(), module.mac.end());
    const std::size_t header = out.size();
    if (module.passportLength <= header) {
        out.resize(module.passportLength);
        return out;
    }
    Bytes body = passportBody(module.mac, module.passportLength - header);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes applyReplyFaults(const SimModule& module, Bytes reply) {
    if (module.wrongTag && reply.size() > 4) {
        // Flip the case of the fifth letter: "WiZnHeLo" becomes "WiZnheLo".
        const auto letter = static_cast<unsigned char>(reply[4]);
        reply[4] = static_cast<std::uint8_t>(std::isupper(letter) ? std::tolower(letter)
                                                                  : std::toupper(letter));
    }
    if (module.shortLength && reply.size() > *module.shortLength) {
        reply.resize(*module.shortLength);
    }
    return reply;
}

bool takeNetworkSettings(SimModule& module, const std::uint8_t* request, std::size_t length) {
    if (length < kShortRequestLength ||
        !std::equal(module.mac.begin(), module.mac.end(), request + 8)) {
        return false;
    }
    module.ip = getIpv4(request + 14);
    module.mask = getIpv4(request + 18);
    module.gateway = getIpv4(request + 22);
    return true;
}

bool takeStreamSettings(SimModule& module, const std::uint8_t* request, std::size_t length) {
    if (length < kStreamSettingsRequestLength) {
        return false;
    }
    // The single form is shared by the request and the reply; the module keeps its own
    // byte 27, which the request always sends as 0.
    for (std::size_t at = kTagLength; at < kSingleStatusLength; ++at) {
        if (at != kUnsentByteAt) {
            module.single[at - kTagLength] = request[at];
        }
    }
    if (!module.entries.empty()) {
        // An entry-list module applies the request to its first output.
        for (auto& entry : module.entries) {
            if ((getU16(entry.data()) & 0xF000) != 0x1000) {
                continue;
            }
            const bool running = request[kModeAt] == 3;
            const std::uint16_t flagWord = getU16(request + kFlagWordAt);
            std::uint16_t control = getU16(entry.data());
            control = static_cast<std::uint16_t>((control & 0xF0FF) | (running ? 0x0100 : 0));
            putU16(entry.data(), control);
            std::copy(request + kDestinationAt, request + kDestinationAt + 4, entry.begin() + 2);
            std::copy(request + kPortAt, request + kPortAt + 2, entry.begin() + 6);
            std::uint16_t tx = getU16(entry.data() + 10);
            tx = static_cast<std::uint16_t>((tx & 0x00FF) | (request[kProtocolAt] & 0x0F) << 8 |
                                            ((flagWord & 0x0010) ? 0x1000 : 0));
            putU16(entry.data() + 10, tx);
            break;
        }
    }
    return true;
}

std::vector<OutputTarget> runningOutputs(const SimModule& module) {
    std::vector<OutputTarget> running;
    if (module.entries.empty()) {
        // Fields by their offset in the reply, which starts with the tag.
        auto at = [&module](std::size_t offset) { return &module.single[offset - kTagLength]; };
        if (*at(kModeAt) == 3) {
            running.push_back(OutputTarget{getIpv4(at(kDestinationAt)), getU16(at(kPortAt)),
                                           *at(kProtocolAt),
                                           (getU16(at(kFlagWordAt)) & 0x0010) != 0});
        }
        return running;
    }
    for (const auto& entry : module.entries) {
        const std::uint16_t control = getU16(entry.data());
        if ((control & 0xF000) != 0x1000 || (control & 0x0F00) != 0x0100) {
            continue;
        }
        const std::uint16_t tx = getU16(entry.data() + 10);
        running.push_back(OutputTarget{getIpv4(entry.data() + 2), getU16(entry.data() + 6),
                                       tx >> 8 & 0x0F, (tx & 0x1000) != 0});
    }
    return running;
}

void setSingleFlagWord(SimModule& module, std::uint16_t flagWord) {
    putU16(&module.single[kFlagWordAt - kTagLength], flagWord);
}

std::array<std::uint8_t, kStatusEntryLength> outputEntry(std::uint16_t control, std::uint32_t ip,
                                                         std::uint16_t port, std::uint16_t txParams,
                                                         std::uint16_t auxWord) {
    std::array<std::uint8_t, kStatusEntryLength> entry{};
    putU16(&entry[0], control);
    putIpv4(&entry[2], ip);
    putU16(&entry[6], port);
    putU16(&entry[8], auxWord);
    putU16(&entry[10], txParams);
    return entry;
}

std::array<std::uint8_t, kStatusEntryLength> inputEntry(std::uint16_t control, std::uint32_t ip,
                                                        std::uint16_t port) {
    std::array<std::uint8_t, kStatusEntryLength> entry{};
    putU16(&entry[0], control);
    putIpv4(&entry[2], ip);
    putU16(&entry[6], port);
    return entry;
}

}  // namespace corvane::modsim
