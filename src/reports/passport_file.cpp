#include "reports/passport_file.h"

#include <cstdio>

namespace corvane {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kMacOffset = 8;

void appendHexByte(std::string& text, std::uint8_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
}

}  // namespace

std::string passportText(const PassportBlockBytes& block) {
    static_assert(kPassportBlockSize % kPassportBytesPerLine == 0);
    std::string text;
    text.reserve(kPassportFileSize);
    text.append(kPassportBeginMarker).append(kLineEnd);
    for (std::size_t row = 0; row < kPassportBlockSize; row += kPassportBytesPerLine) {
        for (std::size_t i = row; i < row + kPassportBytesPerLine; ++i) {
            appendHexByte(text, block[i]);
        }
        text.append(kLineEnd);
    }
    text.append(kPassportEndMarker).append(kLineEnd);
    return text;
}

std::string defaultPassportFileName(const PassportData& data, const std::tm& localTime) {
    // Large enough for any int the fields could hold, so snprintf never truncates.
    char name[128];
    std::snprintf(name, sizeof name, "passport_%02X%02X%02X%02X%02X%02X_%04d%02d%02d%02d%02d%02d",
                  data[kMacOffset], data[kMacOffset + 1], data[kMacOffset + 2],
                  data[kMacOffset + 3], data[kMacOffset + 4], data[kMacOffset + 5],
                  localTime.tm_year + 1900, localTime.tm_mon + 1, localTime.tm_mday,
                  localTime.tm_hour, localTime.tm_min, localTime.tm_sec);
    return name;
}

FileWriteResult savePassportFile(const std::string& path, Ipv4Address ipAddress,
                                 const PassportData& data) {
    return writeFileAtomically(
        path, passportText(encodePassportBlock(makePassportBlock(ipAddress, data))));
}

}  // namespace corvane
