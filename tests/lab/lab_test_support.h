// GoogleTest side of the lab: a fixture that skips with the reason when there is no
// lab, starts simulated modules on a segment, and small helpers for building the
// bytes the tests expect.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "lab/lab_environment.h"
#include "net/wire_types.h"

namespace corvane::lab {

using Bytes = std::vector<std::uint8_t>;

class LabTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string reason;
        if (!LabEnvironment::load(m_lab, reason)) {
            GTEST_SKIP() << reason;
        }
    }

    // The kernel's neighbour table is shared by every namespace: a test that reached a
    // thousand modules leaves an entry for each, and a full table leaves the next test,
    // here or in a lab running beside this one, unable to reach its modules. The entries
    // of this lab's program side are its own to drop.
    void TearDown() override {
        if (!IsSkipped()) {
            EXPECT_EQ(std::system("ip neigh flush all"), 0) << "cannot flush the lab's neighbours";
        }
    }

    const LabSegment& segment(std::size_t index = 0) const { return m_lab.segments.at(index); }

    LocalAddress local(std::size_t index = 0) const {
        return LocalAddress{ipv4Of(segment(index).programAddress),
                            ipv4Of(segment(index).programMask), 0};
    }

    // The n-th module address of a segment, as an address and as text.
    Ipv4Address moduleIp(std::uint32_t n, std::size_t index = 0) const {
        return ipv4Of(segment(index).moduleAddress(n));
    }
    std::string moduleText(std::uint32_t n, std::size_t index = 0) const {
        return segment(index).moduleAddress(n);
    }

    void startModsim(ModsimProcess& modsim, const std::vector<std::string>& arguments,
                     const std::string& config, std::size_t index = 0) {
        std::string error;
        ASSERT_TRUE(modsim.start(m_lab, segment(index), arguments, config, error)) << error;
    }

    LabEnvironment m_lab;
};

// Milliseconds taken by `operation`.
template <typename Operation>
double timedMs(Operation&& operation) {
    const auto start = std::chrono::steady_clock::now();
    operation();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

inline Bytes tagBytes(std::string_view tag) {
    return Bytes(tag.begin(), tag.end());
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

inline Bytes zeros(std::size_t count) {
    return Bytes(count, 0);
}

inline Bytes ipBytes(const std::string& dotted) {
    const std::uint32_t stored = storedIpv4(dotted);
    const auto* octets = reinterpret_cast<const std::uint8_t*>(&stored);
    return Bytes(octets, octets + 4);
}

inline Bytes macBytes(const MacAddress& mac) {
    return Bytes(mac.begin(), mac.end());
}

inline Bytes helloBytes(const DeviceHello& hello) {
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&hello);
    return Bytes(raw, raw + sizeof hello);
}

inline std::string macText(const MacAddress& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

inline bool isFrom(const LoggedDatagram& d, std::string_view tag) {
    return d.bytes.size() >= tag.size() && std::equal(tag.begin(), tag.end(), d.bytes.begin());
}

}  // namespace corvane::lab
