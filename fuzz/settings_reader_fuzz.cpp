// Any bytes as the settings file: the reads the program makes at start (placement,
// language, local address, the device list) neither crash nor run away, and an edit of
// the file keeps its promises: the edited keys read back as written, the keys it did
// not touch read as before, and a refused edit leaves the file byte for byte as it was.
// The file is edited in place, or as the original of a per-user copy that the edit
// makes; an original is never changed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "app/settings_file.h"
#include "devices/device_list_storage.h"

namespace {

// A private folder, on tmpfs when there is one: each input is written, renamed over
// and synced, and a disk would make that the whole cost of a run.
// Held for the whole process (not destroyed at exit) so that the exit handler that
// removes the folder can still name it.
const std::string& scratchFolder() {
    static const std::string* const folder = [] {
        const bool shm = ::access("/dev/shm", W_OK) == 0;
        std::string pattern =
            (shm ? std::string("/dev/shm") : std::filesystem::temp_directory_path().string()) +
            "/corvane-settings-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        return new std::string(pattern);
    }();
    static const bool removedAtExit = std::atexit([] {
                                          std::error_code ignored;
                                          std::filesystem::remove_all(*folder, ignored);
                                      }) == 0;
    static_cast<void>(removedAtExit);
    return *folder;
}

void writeFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        std::abort();
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Reads {
    std::int32_t left, top, language, localIp, total;
    std::string mac0;
    std::size_t devices;
};

Reads readAsTheProgramDoes(const corvane::SettingsFile& settings) {
    Reads reads{settings.readInt("Layout", "Left", -1),
                settings.readInt("Layout", "Top", -1),
                settings.readInt("Layout", "Language", 0),
                settings.readInt("Config", "LocalIP", 0),
                settings.readInt("List", "Total", 0),
                settings.readString("List", "MAC0", ""),
                0};
    corvane::DeviceList list;
    corvane::loadDeviceList(settings, list);
    if (list.size() > corvane::kMaxLoadedDevices) {
        std::abort();
    }
    reads.devices = list.size();
    return reads;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    // The last four bytes choose the values to write; the rest is the file.
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::string_view file = all.substr(0, size - 4);
    const std::string text(all.substr(size - 4));  // may hold a line break or NUL
    std::int32_t value = 0;
    for (const char c : text) {
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) << 8 |
                                          static_cast<std::uint8_t>(c));
    }

    // The lowest bit of the value puts the file beside an installed program, whose
    // per-user copy does not exist yet, instead of editing it in place.
    const bool asOriginal = (value & 1) != 0;
    const std::string original = scratchFolder() + "/corvane-control.ini";
    const std::string copyFolder = scratchFolder() + "/config";
    std::error_code removeError;
    std::filesystem::remove_all(copyFolder, removeError);
    if (removeError) {
        std::abort();
    }
    writeFile(original, file);
    const corvane::SettingsLocation location =
        asOriginal ? corvane::SettingsLocation{copyFolder + "/corvane-control.ini", original}
                   : corvane::SettingsLocation{original, ""};
    corvane::SettingsFile settings(location);
    const Reads before = readAsTheProgramDoes(settings);

    corvane::SettingsBatch batch;
    batch.writeInt("Layout", "Left", value);
    batch.writeString("List", "MAC0", text);
    const bool textAllowed = text.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
    const bool written = settings.write(batch);
    if (written != textAllowed) {
        std::abort();  // only a value that would break its line may be refused
    }

    // A fresh reader, so nothing comes from the writer's cache.
    const corvane::SettingsFile reread(location);
    const Reads after = readAsTheProgramDoes(reread);
    if ((asOriginal || !written) && readFile(original) != file) {
        std::abort();  // the original was written, or a refused edit changed the file
    }
    if (!written) {
        if (asOriginal && std::filesystem::exists(location.path)) {
            std::abort();  // a refused edit made the per-user copy
        }
        return 0;
    }
    if (after.left != value || after.mac0 != text) {
        std::abort();  // an edit did not read back
    }
    if (after.top != before.top || after.language != before.language ||
        after.localIp != before.localIp || after.total != before.total) {
        std::abort();  // an edit disturbed a key it did not touch
    }
    return 0;
}
