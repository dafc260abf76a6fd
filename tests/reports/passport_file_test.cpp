#include "reports/passport_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <string>
#include <vector>

#include "files/file_size_limit.h"
#include "files/scratch_folder.h"
#include "passport_test_data.h"

namespace corvane {
namespace {

using test::makePassport;
using test::storedAddress;

// Splits at CR LF; a line that would end in a bare LF or CR shows up as a
// line containing that character.
std::vector<std::string> crlfLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));  // unterminated last line
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Reads the block back from the 15 data lines of a passport text.
PassportBlockBytes blockFromText(const std::string& text) {
    const std::vector<std::string> lines = crlfLines(text);
    PassportBlockBytes bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::string& line = lines.at(1 + i / 32);
        bytes[i] = static_cast<std::uint8_t>(std::stoul(line.substr(i % 32 * 2, 2), nullptr, 16));
    }
    return bytes;
}

std::string passportTextFor(const char* address, std::size_t receivedLength) {
    return passportText(encodePassportBlock(
        makePassportBlock(storedAddress(address), makePassport(receivedLength))));
}

TEST(PassportFile, TextHasMarkersFifteenHexLinesAndCrLfEndings) {
    const std::size_t lengths[] = {418, 300, 290};
    for (std::size_t length : lengths) {
        SCOPED_TRACE(length);
        const std::string text = passportTextFor("192.168.1.10", length);
        ASSERT_EQ(text.size(), 1027u);
        ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
        const std::vector<std::string> lines = crlfLines(text);
        ASSERT_EQ(lines.size(), 17u);
        EXPECT_EQ(lines.front(), "---DEVICEPASSPORT---");
        EXPECT_EQ(lines.back(), "---DATAEND---");
        for (std::size_t i = 1; i <= 15; ++i) {
            SCOPED_TRACE(i);
            ASSERT_EQ(lines[i].size(), 64u);
            for (char c : lines[i]) {
                EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(c)) || (c >= 'A' && c <= 'F'))
                    << c;
            }
        }
        const PassportData data = makePassport(length);
        const PassportBlockBytes block = blockFromText(text);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), block.begin() + 62));
    }
}

TEST(PassportFile, FirstDataLineCarriesHeaderAddressAndCrc) {
    struct Row {
        const char* address;
        std::size_t receivedLength;
        const char* firstLine;  // CRC worked out independently of this code
    };
    const Row rows[] = {
        {"192.168.1.10", 418, "010000003E000000A2010000C0A8010A29A00000000000000000000000000000"},
        {"192.168.1.10", 300, "010000003E000000A2010000C0A8010AF23D0000000000000000000000000000"},
        {"10.0.0.1", 418, "010000003E000000A20100000A00000148360000000000000000000000000000"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        EXPECT_EQ(crlfLines(passportTextFor(row.address, row.receivedLength)).at(1), row.firstLine);
    }
}

TEST(PassportFile, ShortReplyIsWrittenWithZeros) {
    // 300 bytes received: block bytes 362 to 479 are zero, so the tail of line 13
    // (bytes 352-383) and lines 14 to 16 whole are zeros.
    const std::vector<std::string> lines = crlfLines(passportTextFor("192.168.1.10", 300));
    const std::string zeros(64, '0');
    EXPECT_EQ(lines.at(12).substr(20), zeros.substr(20));
    EXPECT_NE(lines.at(12).substr(0, 20), zeros.substr(0, 20));
    EXPECT_EQ(lines.at(13), zeros);
    EXPECT_EQ(lines.at(14), zeros);
    EXPECT_EQ(lines.at(15), zeros);
}

TEST(PassportFile, AnySingleChangedByteBreaksTheCrc) {
    const std::string text = passportTextFor("192.168.1.10", 418);
    const PassportBlockBytes original = blockFromText(text);
    ASSERT_EQ(storedPassportBlockCrc(original), computePassportBlockCrc(original));
    const std::uint8_t changes[] = {0x01, 0x80, 0xFF, 0x5A};
    for (std::size_t position = 0; position < original.size(); ++position) {
        for (std::uint8_t change : changes) {
            std::string damaged = text;
            // Byte `position` sits on data line 2 + position / 32.
            const std::size_t at = 22 + position / 32 * 66 + position % 32 * 2;
            const auto value = static_cast<std::uint8_t>(original[position] ^ change);
            static constexpr char kDigits[] = "0123456789ABCDEF";
            damaged[at] = kDigits[value >> 4];
            damaged[at + 1] = kDigits[value & 0x0F];
            const PassportBlockBytes block = blockFromText(damaged);
            ASSERT_NE(storedPassportBlockCrc(block), computePassportBlockCrc(block))
                << "byte " << position << " xor " << int(change);
        }
    }
}

TEST(PassportFile, DefaultNameFromMacAndLocalTime) {
    struct Row {
        std::array<std::uint8_t, 6> mac;
        int year, month, day, hour, minute, second;
        const char* expected;
    };
    const Row rows[] = {
        {{0x00, 0x11, 0x22, 0x33, 0x44, 0x55},
         2024,
         1,
         31,
         23,
         59,
         59,
         "passport_001122334455_20240131235959"},
        {{0xAA, 0xBB, 0xCC, 0x0D, 0x0E, 0x0F},
         2025,
         7,
         4,
         9,
         5,
         3,
         "passport_AABBCC0D0E0F_20250704090503"},
        {{0, 0, 0, 0, 0, 0}, 2000, 1, 1, 0, 0, 0, "passport_000000000000_20000101000000"},
    };
    for (const Row& row : rows) {
        PassportData data = makePassport();
        std::copy(row.mac.begin(), row.mac.end(), data.begin() + 8);
        std::tm time{};
        time.tm_year = row.year - 1900;
        time.tm_mon = row.month - 1;
        time.tm_mday = row.day;
        time.tm_hour = row.hour;
        time.tm_min = row.minute;
        time.tm_sec = row.second;
        EXPECT_EQ(defaultPassportFileName(data, time), row.expected);
    }
}

TEST(PassportFile, SavesTheTextAndReplacesAnEarlierFile) {
    test::ScratchFolder folder;
    const std::string path = folder.file("passport.txt");
    test::writeWholeFile(path, "an earlier passport\n");

    const FileWriteResult result =
        savePassportFile(path, storedAddress("192.168.1.10"), makePassport(300));

    ASSERT_TRUE(result.saved()) << result.message();
    const std::string written = test::readWholeFile(path);
    EXPECT_EQ(written.size(), 1027u);
    EXPECT_EQ(written, passportTextFor("192.168.1.10", 300));
    EXPECT_EQ(folder.entries(), std::set<std::string>{"passport.txt"});
}

TEST(PassportFile, UnusableFolderMeansCouldNotCreate) {
    test::ScratchFolder folder;
    test::writeWholeFile(folder.file("plain-file"), "not a folder");
    struct Row {
        const char* name;
        std::string path;
        int error;
    };
    const Row rows[] = {
        {"folder is gone", folder.file("gone/passport.txt"), ENOENT},
        {"folder is a regular file", folder.file("plain-file/passport.txt"), ENOTDIR},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const FileWriteResult result =
            savePassportFile(row.path, storedAddress("10.0.0.1"), makePassport());
        EXPECT_EQ(result.status, FileWriteStatus::CouldNotCreate);
        EXPECT_EQ(result.error, row.error) << result.message();
        EXPECT_EQ(folder.entries(), std::set<std::string>{"plain-file"});
        EXPECT_EQ(test::readWholeFile(folder.file("plain-file")), "not a folder");
    }
}

TEST(PassportFile, ReadOnlyFolderMeansCouldNotCreate) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "running as root, which may write into a read-only folder";
    }
    test::ScratchFolder folder;
    const std::string path = folder.file("passport.txt");
    test::writeWholeFile(path, "an earlier passport\n");
    ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);

    const FileWriteResult result =
        savePassportFile(path, storedAddress("10.0.0.1"), makePassport());

    ASSERT_EQ(::chmod(folder.path().c_str(), 0755), 0);
    EXPECT_EQ(result.status, FileWriteStatus::CouldNotCreate);
    EXPECT_EQ(result.error, EACCES) << result.message();
    EXPECT_EQ(folder.entries(), std::set<std::string>{"passport.txt"});
    EXPECT_EQ(test::readWholeFile(path), "an earlier passport\n");
}

TEST(PassportFile, FailureWhileWritingLeavesNoPartialFileAndKeepsTheEarlierOne) {
    // Limits at which the write stops: at once, after line 1, part-way, one byte short.
    const rlim_t limits[] = {0, 22, 500, 1026};
    for (rlim_t limit : limits) {
        SCOPED_TRACE(limit);
        test::ScratchFolder folder;
        const std::string path = folder.file("passport.txt");
        const std::string earlier = "an earlier passport with other content\r\n";
        test::writeWholeFile(path, earlier);

        const auto result = test::runWithFileSizeLimit(limit, [&] {
            return savePassportFile(path, storedAddress("192.168.1.10"), makePassport());
        });

        ASSERT_TRUE(result.has_value()) << "the child process did not report";
        EXPECT_EQ(result->status, FileWriteStatus::WriteFailed);
        EXPECT_EQ(result->error, EFBIG) << result->message();
        EXPECT_EQ(folder.entries(), std::set<std::string>{"passport.txt"});
        EXPECT_EQ(test::readWholeFile(path), earlier);
    }
}

}  // namespace
}  // namespace corvane
