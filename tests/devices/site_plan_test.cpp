// The site file's comparison and the plan that apply sends from: what differs, what is
// sent for it (the same records as the IP output dialog's Start and Stop), what is not
// applied and why, and the plans refused before anything is sent.
#include <gtest/gtest.h>

#include <algorithm>

#include "devices/output_settings.h"
#include "devices/site_diff.h"
#include "devices/site_plan.h"
#include "reports/address_formats.h"

namespace corvane {
namespace {

MacAddress mac(std::uint8_t last) {
    return {0x02, 0xC0, 0x7A, 0xDE, 0x00, last};
}

Ipv4Address ip(std::uint8_t last) {
    return Ipv4Address::fromOctets(10, 77, 64, last);
}

// Module `n` at 10.77.64.n, /16, running RTP to 239.10.1.n:1234.
SiteModule module(std::uint8_t n) {
    SiteModule m;
    m.mac = mac(n);
    m.ip = ip(n);
    m.mask = Ipv4Address::fromOctets(255, 255, 0, 0);
    m.output.running = true;
    m.output.protocol = 1;
    m.output.destinationIp = Ipv4Address::fromOctets(239, 10, 1, n);
    m.output.destinationPort = 1234;
    return m;
}

SiteModule entries(std::uint8_t n, bool firstRunning) {
    SiteModule m = module(n);
    m.output = SiteOutput{};
    m.output.entries = true;
    m.output.outputs = {{Ipv4Address::fromOctets(239, 10, 2, 1), 1234, firstRunning}};
    m.output.inputs = {{Ipv4Address(), 5000}};
    return m;
}

template <typename Change>
SiteModule changed(SiteModule m, Change change) {
    change(m);
    return m;
}

SiteModule silent(std::uint8_t n) {
    return changed(module(n), [](SiteModule& m) { m.answered = false; });
}

TEST(SiteDiff, WhatAPersonReads) {
    struct Row {
        const char* name;
        std::vector<SiteModule> before, after;
        std::string text;
    };
    const Row rows[] = {
        {"the same; a stopped output's settings are not in effect",
         {module(1), changed(module(2), [](SiteModule& m) { m.output.running = false; })},
         {module(1), changed(module(2),
                             [](SiteModule& m) {
                                 m.output = SiteOutput{};  // as Stop leaves it
                             })},
         "No differences.\n"},
        {"fields in the file's order, a stopped output's settings not compared; one module only on "
         "each side",
         {module(1), module(3)},
         {changed(module(1),
                  [](SiteModule& m) {
                      m.output.running = false;
                      m.ip = ip(50);
                      m.output.protocol = 2;
                      m.output.noStuffing = true;
                  }),
          module(2)},
         "02:C0:7A:DE:00:01\n"
         "  ip: 10.77.64.1 \u2192 10.77.64.50\n"
         "  running: true \u2192 false\n"
         "02:C0:7A:DE:00:02  only in B\n"
         "02:C0:7A:DE:00:03  only in A\n"
         "1 module changed, 1 only in A, 1 only in B.\n"},
        {"a silent side: its output is not known, so only 'answered' differs",
         {module(1)},
         {changed(silent(1),
                  [](SiteModule& m) { m.gateway = Ipv4Address::fromOctets(10, 77, 0, 2); })},
         "02:C0:7A:DE:00:01\n"
         "  gateway: 0.0.0.0 \u2192 10.77.0.2\n"
         "  answered: true \u2192 false\n"
         "1 module changed, 0 only in A, 0 only in B.\n"},
        {"the entry-list form against the single form, and entries between themselves",
         {module(1), entries(2, true)},
         {entries(1, true), entries(2, false)},
         "02:C0:7A:DE:00:01\n"
         "  form: single \u2192 entries\n"
         "  protocol: rtp \u2192 -\n"
         "  destination: 239.10.1.1:1234 \u2192 -\n"
         "  no_stuffing: false \u2192 -\n"
         "  running: true \u2192 -\n"
         "  outputs: - \u2192 239.10.2.1:1234 running\n"
         "  inputs: - \u2192 0.0.0.0:5000\n"
         "02:C0:7A:DE:00:02\n"
         "  outputs: 239.10.2.1:1234 running \u2192 239.10.2.1:1234 stopped\n"
         "2 modules changed, 0 only in A, 0 only in B.\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(diffText(diffSites(row.before, row.after), "A", "B"), row.text);
    }
}

std::string bytesOf(const StreamSettings& settings) {
    return std::string(reinterpret_cast<const char*>(&settings), sizeof settings);
}

TEST(SitePlan, WhatIsSentWhatIsNotAndWhatIsRefused) {
    const LocalAddress local{Ipv4Address::fromOctets(10, 77, 0, 1),
                             Ipv4Address::fromOctets(255, 255, 0, 0), 0};
    struct Sends {
        std::uint8_t module;  // last octet of the MAC sent to
        bool network;
        std::optional<StreamSettings> output;
    };
    struct Row {
        const char* name;
        std::vector<SiteModule> wanted, live;
        std::vector<Replacement> replacements;
        std::vector<Sends> sends;
        std::vector<std::string> notApplied;  // "MAC-last-octet what"
        std::vector<std::string> refusals;    // parts of each refusal, in order
    };
    const SiteModule moved = changed(module(1), [](SiteModule& m) { m.ip = ip(60); });
    const SiteModule stopped = changed(module(1), [](SiteModule& m) { m.output.running = false; });
    const SiteModule otherPlace = changed(module(2), [](SiteModule& m) {
        m.output.destinationIp = Ipv4Address::fromOctets(239, 20, 0, 2);
        m.output.noStuffing = true;
    });
    const Row rows[] = {
        {"nothing differs: nothing sent",
         {module(1), entries(2, true)},
         {module(1), entries(2, true)},
         {},
         {},
         {},
         {}},
        {"a new address and a new destination: the broadcast, and Start with every field",
         {moved, otherPlace},
         {module(1), module(2), module(3)},
         {},
         {{1, true, std::nullopt},
          {2, false, outputStartSettings(1, Ipv4Address::fromOctets(239, 20, 0, 2), 1234, true)}},
         {},
         {}},
        {"stopped in the file: Stop, whatever its settings",
         {changed(stopped, [](SiteModule& m) { m.output.destinationPort = 5000; })},
         {module(1)},
         {},
         {{1, false, outputStopSettings()}},
         {},
         {}},
        {"the entry-list form, silent modules and a module not found: not applied",
         {entries(1, false), module(2), silent(3), module(4)},
         {entries(1, true), silent(2), module(3)},
         {},
         {},
         {"1 outputs", "2 answered", "3 answered", "4 module"},
         {}},
        {"a replacement takes the old module's address and output",
         {module(1)},
         {changed(module(9), [](SiteModule& m) { m.output.running = false; })},
         {{mac(1), mac(9)}},
         {{9, true, outputStartSettings(1, Ipv4Address::fromOctets(239, 10, 1, 1), 1234, false)}},
         {},
         {}},
        {"two modules one address: refused",
         {changed(module(1), [](SiteModule& m) { m.ip = ip(2); })},
         {module(1), module(2)},
         {},
         {{1, true, std::nullopt}},
         {},
         {"02:C0:7A:DE:00:01 and 02:C0:7A:DE:00:02 would all have the address 10.77.64.2"}},
        {"an address outside the local subnet: refused",
         {changed(module(1), [](SiteModule& m) { m.ip = Ipv4Address::fromOctets(10, 78, 64, 1); })},
         {module(1)},
         {},
         {{1, true, std::nullopt}},
         {},
         {"would get 10.78.64.1, outside the subnet of the local address 10.77.0.1/255.255.0.0"}},
        {"a replaced module still on the segment keeps the address: refused",
         {module(1)},
         {module(1), module(9)},
         {{mac(1), mac(9)}},
         {{9, true, outputStartSettings(1, Ipv4Address::fromOctets(239, 10, 1, 1), 1234, false)}},
         {},
         {"would all have the address 10.77.64.1"}},
        {"replacements that name no module, or one twice: refused",
         {module(1), module(2)},
         {module(1), module(2)},
         {{mac(7), mac(2)}, {mac(1), mac(8)}, {mac(1), mac(2)}},
         {},
         {},
         {"02:C0:7A:DE:00:07 is not in the file", "02:C0:7A:DE:00:02 has an entry of its own",
          "the search did not find 02:C0:7A:DE:00:08", "02:C0:7A:DE:00:02 has an entry of its own",
          "a module is named in two replacements"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SitePlan plan = planSite(row.wanted, row.live, row.replacements, local);
        ASSERT_EQ(plan.modules.size(), row.sends.size());
        for (std::size_t i = 0; i < row.sends.size(); ++i) {
            EXPECT_EQ(plan.modules[i].mac, mac(row.sends[i].module));
            EXPECT_EQ(plan.modules[i].setNetwork, row.sends[i].network);
            EXPECT_EQ(plan.modules[i].setOutput, row.sends[i].output.has_value());
            if (row.sends[i].output) {
                EXPECT_EQ(bytesOf(plan.modules[i].output), bytesOf(*row.sends[i].output));
            }
        }
        std::vector<std::string> notApplied;
        for (const NotApplied& item : plan.notApplied) {
            notApplied.push_back(std::to_string(item.mac[5]) + " " + item.what);
            EXPECT_FALSE(item.reason.empty());
        }
        EXPECT_EQ(notApplied, row.notApplied);
        ASSERT_EQ(plan.refusals.size(), row.refusals.size());
        for (std::size_t i = 0; i < row.refusals.size(); ++i) {
            EXPECT_NE(plan.refusals[i].find(row.refusals[i]), std::string::npos)
                << plan.refusals[i];
        }
    }
}

TEST(SitePlan, ReadBackVerifiesOnlyWhatWasSent) {
    const LocalAddress local{Ipv4Address::fromOctets(10, 77, 0, 1),
                             Ipv4Address::fromOctets(255, 255, 0, 0), 0};
    const SiteModule wanted = changed(module(1), [](SiteModule& m) {
        m.ip = ip(60);
        m.output.destinationPort = 6000;
    });
    const ModulePlan plan = planSite({wanted}, {module(1)}, {}, local).modules.at(0);
    struct Row {
        const char* name;
        std::optional<SiteModule> after;
        std::vector<std::string> unverified;
    };
    const Row rows[] = {
        {"as wanted", wanted, {}},
        {"not found after", std::nullopt, {"module"}},
        {"moved, output not taken",
         changed(wanted, [](SiteModule& m) { m.output.destinationPort = 1234; }),
         {"destination"}},
        {"silent at its new address",
         changed(wanted, [](SiteModule& m) { m.answered = false; }),
         {"answered"}},
        {"the mask, sent with the address, did not take",
         changed(wanted, [](SiteModule& m) { m.mask = Ipv4Address::fromOctets(255, 255, 255, 0); }),
         {"mask"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> fields;
        for (const FieldChange& change : unverifiedChanges(plan, row.after)) {
            fields.push_back(change.field);
        }
        EXPECT_EQ(fields, row.unverified);
    }
}

}  // namespace
}  // namespace corvane
