// The sections and keys of the settings file, shared by every front end that reads or
// writes it. Their spelling is what files already on operators' disks hold.
#pragma once

namespace corvane::settings_keys {

// The window's choices.
inline constexpr char kConfig[] = "Config";
inline constexpr char kLocalIp[] = "LocalIP";  // the address to send from, as an integer
inline constexpr char kWatch[] = "Watch";      // 1 while Watch is ticked
inline constexpr char kWatchSeconds[] = "WatchSeconds";

// The window's placement and language.
inline constexpr char kLayout[] = "Layout";
inline constexpr char kLanguage[] = "Language";  // 1 for Russian
inline constexpr char kLeft[] = "Left";
inline constexpr char kTop[] = "Top";
inline constexpr char kWidth[] = "Width";
inline constexpr char kHeight[] = "Height";

// The device list: "Total", then the indexed keys of each record (IP1, MAC1, ...).
inline constexpr char kList[] = "List";
inline constexpr char kTotal[] = "Total";
inline constexpr char kIp[] = "IP";
inline constexpr char kMac[] = "MAC";
inline constexpr char kDestIp[] = "DestIP";
inline constexpr char kPort[] = "Port";
inline constexpr char kProtocol[] = "Protocol";
inline constexpr char kFlags[] = "Flags";

}  // namespace corvane::settings_keys
