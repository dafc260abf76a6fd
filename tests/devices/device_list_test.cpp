#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "devices/device_list_storage.h"
#include "devices/watch_changes.h"
#include "packed_value.h"
#include "reports/address_formats.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;

class DeviceListStorage : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/corvane-devices-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_path = m_folder / "corvane-control.ini";
    }
    void TearDown() override { fs::remove_all(m_folder); }

    void writeFile(const std::string& text) { std::ofstream(m_path, std::ios::binary) << text; }
    std::string fileText() const {
        std::ifstream in(m_path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    static DeviceRecord record(std::uint8_t lastOctet, const std::string& mac) {
        DeviceRecord added = DeviceRecord::newRecord();
        added.ipAddress = Ipv4Address::fromOctets(192, 168, 1, lastOctet);
        added.macAddress = mac;
        return added;
    }

    fs::path m_folder;
    fs::path m_path;
};

TEST_F(DeviceListStorage, AbsentOrZeroTotalGivesAnEmptyList) {
    for (const char* text : {"[List]\nIP0=5\nMAC0=AA\n", "[List]\nTotal=0\nIP0=5\n", ""}) {
        writeFile(text);
        SettingsFile settings(m_path.string());
        DeviceList list{record(1, "x")};
        loadDeviceList(settings, list);
        EXPECT_TRUE(list.empty()) << text;
    }
}

TEST_F(DeviceListStorage, RemovingTheMiddleRecordLeavesStaleKeysThatAreNeverRead) {
    SettingsFile settings(m_path.string());
    DeviceList list{record(10, "00:11:22:33:44:01"), record(11, "00:11:22:33:44:02"),
                    record(200, "00:11:22:33:44:03")};
    ASSERT_TRUE(saveDeviceList(settings, list));
    list.erase(list.begin() + 1);
    ASSERT_TRUE(saveDeviceList(settings, list));

    EXPECT_EQ(settings.readInt("List", "Total", -1), 2);
    EXPECT_EQ(settings.readString("List", "MAC1"), "00:11:22:33:44:03");
    EXPECT_EQ(settings.readInt("List", "IP1", 0), -939415360);            // 192.168.1.200
    EXPECT_EQ(settings.readString("List", "MAC2"), "00:11:22:33:44:03");  // stale, kept

    DeviceList loaded;
    loadDeviceList(settings, loaded);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].macAddress, "00:11:22:33:44:01");
    EXPECT_EQ(loaded[1].ipAddress, Ipv4Address::fromOctets(192, 168, 1, 200));
    EXPECT_FALSE(loaded[1].queried);
}

TEST_F(DeviceListStorage, KeysAndValuesRoundTrip) {
    SettingsFile settings(m_path.string());
    DeviceRecord added = record(10, "0A:1B:2C:3D:4E:5F");
    DeviceRecord changed = record(11, "");
    changed.savedSettings.destinationIp = Ipv4Address::fromOctets(192, 168, 1, 200).networkOrder();
    changed.savedSettings.destinationPort = 65535;
    changed.savedSettings.protocol = 2;
    changed.savedSettings.flags = 1;
    ASSERT_TRUE(saveDeviceList(settings, {added, changed}));

    const std::string text = fileText();
    for (const char* line : {"Total=2", "IP0=167880896", "MAC0=0A:1B:2C:3D:4E:5F",
                             "DestIP0=16777440", "Port0=1234", "Protocol0=1", "Flags0=0", "MAC1=",
                             "DestIP1=-939415360", "Port1=65535", "Protocol1=2", "Flags1=1"}) {
        EXPECT_NE(text.find(std::string(line) + "\n"), std::string::npos) << line;
    }
    DeviceList loaded;
    loadDeviceList(settings, loaded);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(Ipv4Address::fromNetworkOrder(loaded[0].savedSettings.destinationIp),
              Ipv4Address::fromOctets(224, 0, 0, 1));
    EXPECT_EQ(Ipv4Address::fromNetworkOrder(loaded[1].savedSettings.destinationIp),
              Ipv4Address::fromOctets(192, 168, 1, 200));
    EXPECT_EQ(packed(loaded[1].savedSettings.destinationPort), 65535);
    EXPECT_EQ(loaded[1].macAddress, "");
}

TEST_F(DeviceListStorage, AbsentKeysLoadAsZeroAndValuesAreCutToTheirWidth) {
    writeFile("[List]\nTotal=2\nIP0=167880896\nIP1=1\nPort1=70000\nProtocol1=257\nFlags1=-1\n");
    SettingsFile settings(m_path.string());
    DeviceList loaded;
    loadDeviceList(settings, loaded);
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(packed(loaded[0].savedSettings.destinationPort), 0);  // not the 1234 of a new record
    EXPECT_EQ(loaded[0].savedSettings.protocol, 0);
    EXPECT_EQ(packed(loaded[0].savedSettings.destinationIp), 0u);
    EXPECT_EQ(packed(loaded[1].savedSettings.destinationPort), 70000 & 0xFFFF);
    EXPECT_EQ(loaded[1].savedSettings.protocol, 1);
    EXPECT_EQ(loaded[1].savedSettings.flags, 0xFF);
}

// Each stored number is taken in its field's width: both edges of every width.
TEST_F(DeviceListStorage, StoredNumbersAtTheEdgesOfTheirWidths) {
    struct Row {
        const char* line;
        int port, protocol, flags;
    };
    const Row rows[] = {
        {"Port0=65535", 65535, 0, 0}, {"Port0=65536", 0, 0, 0},   {"Port0=-1", 65535, 0, 0},
        {"Protocol0=255", 0, 255, 0}, {"Protocol0=256", 0, 0, 0}, {"Flags0=255", 0, 0, 255},
        {"Flags0=256", 0, 0, 0},
    };
    for (const Row& row : rows) {
        writeFile(std::string("[List]\nTotal=1\n") + row.line + "\n");
        SettingsFile settings(m_path.string());
        DeviceList loaded;
        loadDeviceList(settings, loaded);
        ASSERT_EQ(loaded.size(), 1u) << row.line;
        EXPECT_EQ(packed(loaded[0].savedSettings.destinationPort), row.port) << row.line;
        EXPECT_EQ(loaded[0].savedSettings.protocol, row.protocol) << row.line;
        EXPECT_EQ(loaded[0].savedSettings.flags, row.flags) << row.line;
    }
}

TEST_F(DeviceListStorage, AbsurdTotalIsCapped) {
    const std::string cap = std::to_string(kMaxLoadedDevices);
    const std::string beyond = std::to_string(kMaxLoadedDevices + 1);
    for (const std::string& total :
         {cap, beyond, std::string("-1"), std::string("2147483647"), std::string("-2147483648")}) {
        writeFile("[List]\nTotal=" + total + "\nIP0=1\n");
        SettingsFile settings(m_path.string());
        DeviceList loaded;
        loadDeviceList(settings, loaded);
        EXPECT_EQ(loaded.size(), kMaxLoadedDevices) << total;
        EXPECT_EQ(loaded[0].ipAddress, Ipv4Address::fromOctets(1, 0, 0, 0));
    }
    // Just below the cap, the list is as long as "Total" says.
    writeFile("[List]\nTotal=" + std::to_string(kMaxLoadedDevices - 1) + "\n");
    SettingsFile settings(m_path.string());
    DeviceList loaded;
    loadDeviceList(settings, loaded);
    EXPECT_EQ(loaded.size(), kMaxLoadedDevices - 1);
}

TEST(DeviceRecordTest, NewRecordValues) {
    const DeviceRecord added = DeviceRecord::newRecord();
    EXPECT_EQ(added.savedSettings.protocol, 1);
    EXPECT_EQ(Ipv4Address::fromNetworkOrder(added.savedSettings.destinationIp).text(), "224.0.0.1");
    EXPECT_EQ(packed(added.savedSettings.destinationPort), 1234);
    EXPECT_FALSE(added.queried);
    EXPECT_FALSE(isOutputActive(added));
}

TEST(DeviceRecordTest, OutputActivity) {
    auto output = [](unsigned state) {
        OutputEntry entry;
        entry.control = static_cast<std::uint16_t>(0x1000 | state << 8 | 0x2A);
        return entry;
    };
    struct Row {
        const char* name;
        StreamSettings status;
        bool active;
    };
    std::vector<Row> rows;
    StreamSettings single{};
    single.mode = 3;
    rows.push_back({"single form, mode 3", single, true});
    single.mode = 1;
    rows.push_back({"single form, mode 1", single, false});
    single.mode = 0xFF;
    rows.push_back({"single form, mode 0xFF", single, true});
    StreamSettings two{};
    two.outputCount = 2;
    two.outputs[0] = output(0);
    two.outputs[1] = output(1);
    rows.push_back({"second of two outputs running", two, true});
    two.outputs[1] = output(2);
    two.mode = 3;  // the single-form mode does not count once entries exist
    rows.push_back({"two outputs, state 2", two, false});
    StreamSettings beyondCount{};
    beyondCount.outputCount = 1;
    beyondCount.outputs[1] = output(1);
    rows.push_back({"running entry beyond the count", beyondCount, false});
    StreamSettings inputsOnly{};
    inputsOnly.inputCount = 2;
    inputsOnly.inputs[0].control = 0x2100;
    inputsOnly.mode = 3;
    rows.push_back({"only input entries", inputsOnly, false});
    for (const Row& row : rows) {
        EXPECT_EQ(isOutputActive(row.status), row.active) << row.name;
    }
}

TEST(DeviceRecordTest, StatusReadResults) {
    DeviceRecord device = DeviceRecord::newRecord();
    StreamSettings reported{};
    reported.mode = 3;
    reported.destinationPort = 1234;
    applyStatusRead(device, true, reported);
    EXPECT_TRUE(device.queried);
    EXPECT_TRUE(device.responded);
    EXPECT_EQ(packed(device.liveStatus.destinationPort), 1234);
    applyStatusRead(device, false, reported);
    EXPECT_TRUE(device.queried);
    EXPECT_FALSE(device.responded);
    EXPECT_EQ(packed(device.liveStatus.destinationPort), 0);
    EXPECT_EQ(device.liveStatus.mode, 0);
}

// Sweep after sweep, each change of a watched module is told once.
TEST(WatchedModuleTest, EachChangeIsToldOnce) {
    struct Step {
        bool answered, running;
        ModuleChange told;
    };
    using C = ModuleChange;
    const struct {
        const char* name;
        std::vector<Step> steps;
    } rows[] = {
        {"the first sweep only learns", {{false, false, C::none}, {true, true, C::none}}},
        {"falls silent once, comes back once",
         {{true, true, C::none},
          {false, false, C::stoppedAnswering},
          {false, false, C::none},
          {true, false, C::answersAgain},
          {true, false, C::none}}},
        {"output stops once",
         {{true, true, C::none}, {true, false, C::outputStopped}, {true, false, C::none}}},
        {"silent from the start: its first answer is nothing to tell",
         {{false, false, C::none}, {true, true, C::none}}},
        {"silent while running: no output change told on its return",
         {{true, true, C::none},
          {false, false, C::stoppedAnswering},
          {true, false, C::answersAgain}}},
    };
    for (const auto& row : rows) {
        WatchedModule module;
        for (std::size_t i = 0; i < row.steps.size(); ++i) {
            const Step& step = row.steps[i];
            EXPECT_EQ(module.observe(step.answered, step.running), step.told)
                << row.name << ", sweep " << i + 1;
        }
    }
}

}  // namespace
}  // namespace corvane
