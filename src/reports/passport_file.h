// The passport file: the passport block as hexadecimal text between two marker
// lines, its default name, and writing it to disk. The program writes these files
// for other tools and never reads them back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "files/atomic_file_writer.h"
#include "net/wire_types.h"
#include "reports/passport_block.h"

namespace corvane {

inline constexpr std::string_view kPassportBeginMarker = "---DEVICEPASSPORT---";
inline constexpr std::string_view kPassportEndMarker = "---DATAEND---";
inline constexpr std::size_t kPassportBytesPerLine = 32;
// 22 for the first line, 15 data lines of 66, 15 for the last line.
inline constexpr std::size_t kPassportFileSize = 1027;

// The file's whole text. Lines end in CR LF on every platform: the readers of
// these files expect exactly that.
std::string passportText(const PassportBlockBytes& block);

// "passport_<MAC as 12 hex digits>_<YYYYMMDDhhmmss>", the MAC from bytes 8 to 13
// of `data`, the time as the caller read it from the local clock.
std::string defaultPassportFileName(const PassportData& data, const std::tm& localTime);

// Builds the block for a module at `ipAddress` and writes its text to
// `path`, replacing any file there only once the new one is complete.
FileWriteResult savePassportFile(const std::string& path, Ipv4Address ipAddress,
                                 const PassportData& data);

}  // namespace corvane
