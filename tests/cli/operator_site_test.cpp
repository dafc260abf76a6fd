// Where a front end reads the operator's settings and which local address it sends from.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "devices/found_modules.h"
#include "devices/operator_site.h"
#include "reports/address_formats.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

TEST(OperatorSite, SourceAddressChoice) {
    const LocalAddress a{Ipv4Address::fromOctets(10, 77, 0, 1),
                         Ipv4Address::fromOctets(255, 255, 0, 0), 0};
    const LocalAddress b{Ipv4Address::fromOctets(10, 78, 0, 1),
                         Ipv4Address::fromOctets(255, 255, 0, 0), 0};
    const Ipv4Address other = Ipv4Address::fromOctets(192, 168, 1, 5);
    struct Row {
        const char* name;
        std::vector<LocalAddress> usable;
        std::optional<Ipv4Address> requested;
        Ipv4Address stored;
        UnchosenSource unchosen;
        SourceChoiceStatus status;
        Ipv4Address chosen;
        const char* problem;  // part of the message
    };
    using S = SourceChoiceStatus;
    constexpr UnchosenSource kRefuse = UnchosenSource::refuse;
    constexpr UnchosenSource kFirst = UnchosenSource::takeFirst;  // the window's rule
    const Row rows[] = {
        {"requested wins over stored",
         {a, b},
         b.address,
         a.address,
         kRefuse,
         S::chosen,
         b.address,
         ""},
        {"stored", {a, b}, {}, b.address, kRefuse, S::chosen, b.address, ""},
        {"the only one", {a}, {}, {}, kRefuse, S::chosen, a.address, ""},
        {"stale stored, the only one", {a}, {}, other, kRefuse, S::chosen, a.address, ""},
        {"requested not local",
         {a, b},
         other,
         a.address,
         kRefuse,
         S::requestedNotLocal,
         {},
         "192.168.1.5 is not one of this computer's usable addresses (10.77.0.1, 10.78.0.1)"},
        {"several, none stored",
         {a, b},
         {},
         {},
         kRefuse,
         S::severalUnchosen,
         {},
         "several local addresses could send (10.77.0.1, 10.78.0.1); choose one with --from"},
        {"several, stale stored",
         {a, b},
         {},
         other,
         kRefuse,
         S::severalUnchosen,
         {},
         "the stored choice 192.168.1.5 is not one of them"},
        {"none", {}, {}, a.address, kRefuse, S::noneUsable, {}, "no usable IPv4 address"},
        {"window: stored", {a, b}, {}, b.address, kFirst, S::chosen, b.address, ""},
        {"window: several, none stored", {a, b}, {}, {}, kFirst, S::chosen, a.address, ""},
        {"window: several, stale stored", {a, b}, {}, other, kFirst, S::chosen, a.address, ""},
        {"window: none", {}, {}, {}, kFirst, S::noneUsable, {}, "no usable IPv4 address"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SourceChoice choice =
            chooseSourceAddress(row.usable, row.requested, row.stored, row.unchosen);
        EXPECT_EQ(choice.status, row.status);
        EXPECT_EQ(choice.chosen() ? choice.address.address : Ipv4Address(), row.chosen);
        EXPECT_NE(sourceChoiceProblem(choice).find(row.problem), std::string::npos)
            << sourceChoiceProblem(choice);
        EXPECT_EQ(choice.chosen(), sourceChoiceProblem(choice).empty());
    }
}

TEST(OperatorSite, SettingsFileOfAFrontEnd) {
    char pattern[] = "/tmp/corvane-site-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    const std::string beside = (folder / "corvane-control.ini").string();
    EXPECT_EQ(frontEndSettingsLocation((folder / "corvanectl").string(), std::nullopt).path,
              beside);
    EXPECT_EQ(frontEndSettingsLocation((folder / "corvanectl").string(), "/x/y.ini").path,
              "/x/y.ini");

    struct Row {
        const char* name;
        std::function<void()> prepare;
        SettingsState state;
    };
    const Row rows[] = {
        {"absent", [] {}, SettingsState::absent},
        {"readable", [&] { std::ofstream(beside) << "[List]\nTotal=0\n"; },
         SettingsState::readable},
        {"a folder", [&] { fs::remove(beside), fs::create_directory(beside); },
         SettingsState::unreadable},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.prepare();
        const SettingsAccess access = checkSettingsAccess(SettingsLocation{beside, {}});
        EXPECT_EQ(access.state, row.state);
        EXPECT_EQ(access.path, beside);
    }
    // A per-user file not made yet: the reads come from the original beside the program.
    const SettingsAccess original =
        checkSettingsAccess(SettingsLocation{(folder / "user.ini").string(), beside});
    EXPECT_EQ(original.path, beside);
    fs::remove_all(folder);
}

TEST(OperatorSite, FoundModulesSortedByMacWithSharedAddressesMarked) {
    const auto hello = [](std::uint8_t last, std::uint8_t ipLast) {
        DeviceHello h;
        h.mac = {0x02, 0xC0, 0x7A, 0xDE, 0x00, last};
        h.ipAddress = Ipv4Address::fromOctets(10, 77, 64, ipLast).networkOrder();
        return h;
    };
    const auto modules =
        sortFoundModules({hello(3, 20), hello(1, 11), hello(2, 20), hello(0x10, 12)});
    std::vector<std::pair<int, bool>> seen;
    for (const FoundModule& m : modules) {
        seen.emplace_back(m.hello.mac[5], m.duplicateAddress);
    }
    EXPECT_EQ(seen,
              (std::vector<std::pair<int, bool>>{{1, false}, {2, true}, {3, true}, {0x10, false}}));
}

}  // namespace
}  // namespace corvane
