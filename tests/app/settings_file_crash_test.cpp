// A writer killed at random moments never leaves a damaged or half-updated settings file,
// and the temporary files of killed writers do not pile up.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <thread>

#include "app/settings_file.h"
#include "app/settings_test_support.h"
#include "kill_writer.h"

namespace corvane {
namespace {

using testing::folderEntries;
using testing::readWholeFile;
using testing::ScratchFolder;
using testing::writeWholeFile;

constexpr int kKills = 200;
constexpr auto kMinDelayRange = std::chrono::microseconds(15'000);
constexpr auto kMaxDelayRange = std::chrono::microseconds(60'000);  // keeps the test short
constexpr int kWriteFailedExit = 3;

std::string expectedFile(int batchValue, int soloValue) {
    const std::string n = std::to_string(batchValue);
    return "; kept comment\r\n[Batch]\r\nA=" + n + "\r\nB=" + n + "\r\nC=" + n + "\r\nText=value " +
           n + "\r\n[Solo]\r\nK=" + std::to_string(soloValue) + "\r\n";
}

// A batch of four keys, then one single key.
bool writeRound(SettingsFile& settings, std::int32_t n) {
    SettingsBatch batch;
    batch.writeInt("Batch", "A", n);
    batch.writeInt("Batch", "B", n);
    batch.writeInt("Batch", "C", n);
    batch.writeString("Batch", "Text", "value " + std::to_string(n));
    return settings.write(batch) && settings.writeInt("Solo", "K", n);
}

// Says when it starts, then writes ever larger values until killed.
[[noreturn]] void writeForever(const std::string& path, int startedFd) {
    SettingsFile settings(path);
    std::int32_t n = settings.readInt("Batch", "A", 0) + 1;
    if (::write(startedFd, "s", 1) != 1) {
        ::_exit(kWriteFailedExit);
    }
    for (;; ++n) {
        if (!writeRound(settings, n)) {
            ::_exit(kWriteFailedExit);
        }
    }
}

// Kill moments are spread over about two write rounds, however fast this machine writes.
std::chrono::microseconds delayRange(const std::string& folder) {
    SettingsFile probe(folder + "/probe.ini");
    const auto begin = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) {
        writeRound(probe, i);
    }
    const auto round = (std::chrono::steady_clock::now() - begin) / 3;
    ::unlink(probe.path().c_str());
    return std::clamp(std::chrono::duration_cast<std::chrono::microseconds>(round * 2),
                      kMinDelayRange, kMaxDelayRange);
}

TEST(SettingsFileCrashTest, KilledWriterLeavesOldOrNewCompleteValues) {
    ScratchFolder folder;
    const std::string path = folder.file("corvane-control.ini");
    writeWholeFile(path, expectedFile(0, 0));
    std::mt19937 random(20261208);
    std::uniform_int_distribution<std::int64_t> delayUs(0, delayRange(folder.path()).count());
    int started[2];
    ASSERT_EQ(::pipe(started), 0);
    int last = 0;
    int lastSolo = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        ASSERT_EQ(testing::killWriterAfter([&] { writeForever(path, started[1]); }, started[0],
                                           std::chrono::microseconds(delayUs(random))),
                  "");

        SettingsFile reader(path);
        const std::int32_t a = reader.readInt("Batch", "A", -1);
        const std::int32_t k = reader.readInt("Solo", "K", -1);
        SCOPED_TRACE("kill " + std::to_string(kill) + ", A=" + std::to_string(a));
        ASSERT_GE(a, last);
        // The single key is written after its batch, so it never runs ahead of it; a
        // writer killed between the two leaves it behind.
        ASSERT_LE(k, a);
        ASSERT_GE(k, lastSolo);
        ASSERT_EQ(readWholeFile(path), expectedFile(a, k));
        // At most the one temporary file that this killed writer may have left.
        ASSERT_LE(folderEntries(folder.path()).size(), 2u);
        last = a;
        lastSolo = k;
    }
    ::close(started[0]);
    ::close(started[1]);
    EXPECT_GT(last, 0) << "no write finished before any kill: nothing was tested";
    // The next write clears what the last killed writer left.
    ASSERT_TRUE(SettingsFile(path).writeInt("Solo", "K", last));
    EXPECT_EQ(folderEntries(folder.path()).size(), 1u);
}

}  // namespace
}  // namespace corvane
