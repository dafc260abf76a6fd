// Whole device-list saves killed with SIGKILL at random moments: after every kill the
// settings file parses and holds exactly the list of the last save that finished or of
// the one that was under way, never a mixture, a cut-off file or a damaged line.
//
// The writer is a child process that saves list after list through saveDeviceList.
// Lists grow and shrink (1 to 128 records), so a save that were applied key by key
// would leave a "Total" that disagrees with the records. Before and after each save
// the writer notes the generation in shared memory, which tells the parent which two
// lists a killed save may have left.
//
// CORVANE_RELIABILITY_FULL=1 runs kFullKills kills instead of kShortKills;
// CORVANE_RELIABILITY_KILLS=N sets the number directly.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>

#include "app/settings_file.h"
#include "devices/device_list_storage.h"
#include "kill_writer.h"

namespace corvane {
namespace {

constexpr int kShortKills = 200;
constexpr int kFullKills = 3000;
constexpr int kWriterFailedExit = 3;
constexpr std::uint32_t kMaxGeneration = 0xFFFFFF;  // fits the MAC text below
constexpr auto kMinDelayRange = std::chrono::microseconds(5'000);
constexpr auto kMaxDelayRange = std::chrono::microseconds(100'000);

int killCount() {
    if (const char* kills = std::getenv("CORVANE_RELIABILITY_KILLS")) {
        return std::max(1, std::atoi(kills));
    }
    const char* full = std::getenv("CORVANE_RELIABILITY_FULL");
    return (full != nullptr && std::string(full) == "1") ? kFullKills : kShortKills;
}

std::size_t listLength(std::uint32_t generation) {
    return 1 + (generation * 53u + (generation >> 3) * 17u) % MAX_DEVICES;
}

std::string hexOctet(std::uint32_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// Every field depends on the generation and the position, with addresses whose last
// octet crosses 128 (stored as negative numbers) and ports and protocols of all sizes.
DeviceList listFor(std::uint32_t generation) {
    DeviceList list(listLength(generation));
    for (std::size_t n = 0; n < list.size(); ++n) {
        const auto i = static_cast<std::uint32_t>(n);
        DeviceRecord& record = list[n];
        record.ipAddress = Ipv4Address::fromSettingsInteger(static_cast<std::int32_t>(
            10u | ((generation & 0xFF) << 8) | (i << 16) | ((generation * 7 + i) << 24)));
        record.macAddress = "02:" + hexOctet(generation >> 16) + ":" + hexOctet(generation >> 8) +
                            ":" + hexOctet(generation) + ":" + hexOctet(i) + ":" + hexOctet(i * 3);
        record.savedSettings.destinationIp = 224u | (i << 8) | ((generation * 13) << 24);
        record.savedSettings.destinationPort = static_cast<std::uint16_t>(generation * 31 + i);
        record.savedSettings.protocol = static_cast<std::uint8_t>(generation + i);
        record.savedSettings.flags = static_cast<std::uint8_t>(generation ^ i);
    }
    return list;
}

// The generation named by the first record's MAC text, if it has that form.
std::optional<std::uint32_t> generationOf(const DeviceList& list) {
    if (list.empty() || list[0].macAddress.size() != 17) {
        return std::nullopt;
    }
    const std::string& mac = list[0].macAddress;
    const std::string hex = mac.substr(3, 2) + mac.substr(6, 2) + mac.substr(9, 2);
    return static_cast<std::uint32_t>(std::stoul(hex, nullptr, 16));
}

bool sameStoredFields(const DeviceList& a, const DeviceList& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.ipAddress == y.ipAddress && x.macAddress == y.macAddress &&
               x.savedSettings.destinationIp == y.savedSettings.destinationIp &&
               x.savedSettings.destinationPort == y.savedSettings.destinationPort &&
               x.savedSettings.protocol == y.savedSettings.protocol &&
               x.savedSettings.flags == y.savedSettings.flags;
    });
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every line is the section header or a key line, and the last line is complete.
bool wellFormed(const std::string& text, std::string& badLine) {
    if (text.empty() || text.back() != '\n') {
        badLine = "(file does not end with a line break)";
        return false;
    }
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        const std::size_t equals = line.find('=');
        const bool keyLine =
            equals != std::string::npos && equals > 0 &&
            std::all_of(line.begin(), line.begin() + static_cast<long>(equals),
                        [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
        if (line != "[List]" && !keyLine) {
            badLine = line;
            return false;
        }
    }
    return true;
}

// What the writer publishes: the generation whose save is under way, and the last one
// whose save returned. Lock-free atomics in a shared mapping work across fork.
struct WriterProgress {
    std::atomic<std::uint32_t> writing;
    std::atomic<std::uint32_t> done;
};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

class SharedProgress {
public:
    SharedProgress() {
        void* memory = ::mmap(nullptr, sizeof(WriterProgress), PROT_READ | PROT_WRITE,
                              MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        m_progress = memory == MAP_FAILED ? nullptr : new (memory) WriterProgress{};
    }
    ~SharedProgress() {
        if (m_progress != nullptr) {
            ::munmap(m_progress, sizeof(WriterProgress));
        }
    }
    SharedProgress(const SharedProgress&) = delete;
    SharedProgress& operator=(const SharedProgress&) = delete;
    WriterProgress* get() const { return m_progress; }

private:
    WriterProgress* m_progress = nullptr;
};

[[noreturn]] void saveForever(const std::string& path, std::uint32_t from, WriterProgress& progress,
                              int startedFd) {
    SettingsFile settings(path);
    if (::write(startedFd, "s", 1) != 1) {
        ::_exit(kWriterFailedExit);
    }
    for (std::uint32_t generation = from + 1; generation <= kMaxGeneration; ++generation) {
        const DeviceList list = listFor(generation);
        progress.writing.store(generation);
        if (!saveDeviceList(settings, list)) {
            ::_exit(kWriterFailedExit);
        }
        progress.done.store(generation);
    }
    ::_exit(kWriterFailedExit);
}

// Kill moments are spread over about two saves of an average list on this machine.
std::chrono::microseconds delayRange(const std::string& folder) {
    SettingsFile probe(folder + "/probe.ini");
    const auto begin = std::chrono::steady_clock::now();
    constexpr std::uint32_t kProbeSaves = 8;
    for (std::uint32_t g = 1; g <= kProbeSaves; ++g) {
        saveDeviceList(probe, listFor(g));
    }
    const auto save = (std::chrono::steady_clock::now() - begin) / kProbeSaves;
    std::filesystem::remove(probe.path());
    return std::clamp(std::chrono::duration_cast<std::chrono::microseconds>(save * 2),
                      kMinDelayRange, kMaxDelayRange);
}

class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "corvane-reliability-XXXXXX").string();
        m_path = ::mkdtemp(pattern.data()) != nullptr ? pattern : "";
    }
    ~ScratchFolder() {
        std::error_code ignored;  // a leftover scratch folder must not fail the test
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

std::size_t entriesIn(const std::string& folder) {
    const std::filesystem::directory_iterator entries(folder);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

TEST(DeviceListKillTest, KilledSaveLeavesTheOldOrTheNewWholeList) {
    ScratchFolder folder;
    ASSERT_FALSE(folder.path().empty());
    const std::string path = folder.path() + "/corvane-control.ini";
    {
        SettingsFile initial(path);
        ASSERT_TRUE(saveDeviceList(initial, listFor(0)));
    }
    SharedProgress shared;
    ASSERT_NE(shared.get(), nullptr);
    WriterProgress& progress = *shared.get();

    const int kills = killCount();
    const auto range = delayRange(folder.path());
    std::mt19937 random(20261209);
    std::uniform_int_distribution<std::int64_t> delayUs(0, range.count());
    int started[2];
    ASSERT_EQ(::pipe(started), 0);

    std::uint32_t current = 0;  // the generation in the file
    int betweenSaves = 0;       // killed while no save was under way
    int keptOld = 0;            // killed inside a save, the previous list stands
    int tookNew = 0;            // killed after the save's rename, before it returned
    for (int kill = 0; kill < kills; ++kill) {
        progress.writing.store(current);
        progress.done.store(current);
        ASSERT_EQ(
            testing::killWriterAfter([&] { saveForever(path, current, progress, started[1]); },
                                     started[0], std::chrono::microseconds(delayUs(random))),
            "");

        const std::uint32_t done = progress.done.load();
        const std::uint32_t writing = progress.writing.load();
        SettingsFile reader(path);
        DeviceList loaded;
        loadDeviceList(reader, loaded);
        const std::optional<std::uint32_t> generation = generationOf(loaded);
        SCOPED_TRACE("kill " + std::to_string(kill) + ": done " + std::to_string(done) +
                     ", writing " + std::to_string(writing));
        ASSERT_TRUE(generation.has_value()) << "the file holds no list of ours";
        ASSERT_TRUE(*generation == done || *generation == writing)
            << "the file holds generation " << *generation;
        ASSERT_EQ(static_cast<std::size_t>(reader.readInt("List", "Total", -1)),
                  listLength(*generation));
        ASSERT_TRUE(sameStoredFields(loaded, listFor(*generation)))
            << "generation " << *generation << " is not whole";
        std::string badLine;
        ASSERT_TRUE(wellFormed(readWholeFile(path), badLine)) << "damaged line: " << badLine;
        // The file, and at most the temporary file of the save that was killed.
        ASSERT_LE(entriesIn(folder.path()), 2u);

        if (writing == done) {
            ++betweenSaves;
        } else {
            (*generation == done ? keptOld : tookNew) += 1;
        }
        current = *generation;
    }
    ::close(started[0]);
    ::close(started[1]);
    std::printf(
        "[ figures  ] %d kills over moments of 0-%lld us: %d inside a save left the "
        "previous list, %d inside a save left the new one, %d between saves; "
        "%u saves finished in all\n",
        kills, static_cast<long long>(range.count()), keptOld, tookNew, betweenSaves, current);
    EXPECT_GT(current, 0u) << "no save finished before any kill: nothing was tested";
    EXPECT_GT(keptOld + tookNew, 0) << "no kill landed inside a save";
    // The next save clears what the last killed writer left behind.
    SettingsFile after(path);
    ASSERT_TRUE(saveDeviceList(after, listFor(current + 1)));
    EXPECT_EQ(entriesIn(folder.path()), 1u);
}

}  // namespace
}  // namespace corvane
