// Any status reply decodes without reading past it, and never overfills the entries.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "net/protocol_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    corvane::StreamSettings settings;
    const bool accepted = corvane::decodeStatusReply(data, size, settings);
    if (settings.outputCount > corvane::kMaxStreamEntries ||
        settings.inputCount > corvane::kMaxStreamEntries) {
        std::abort();
    }
    if (!accepted && (settings.mode != 0 || settings.outputCount != 0)) {
        std::abort();  // a rejected reply leaves the record all zero
    }
    if (accepted) {
        // The settings request built from any decoded record keeps its fixed form.
        const corvane::SettingsRequest request = corvane::buildSettingsRequest(settings);
        if (request[27] != 0 || (request[16] << 8 | request[17]) !=
                                    ((settings.flagWord & 0xFF0F) | ((settings.flags & 3) << 4))) {
            std::abort();
        }
    }
    return 0;
}
