// Any passport reply is copied into the 418-byte block, zero beyond what arrived.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/protocol_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    corvane::PassportData block;
    const bool accepted = corvane::decodePassportReply(data, size, block);
    const std::size_t kept = size < block.size() ? size : block.size();
    if (kept > 0 && std::memcmp(block.data(), data, kept) != 0) {
        std::abort();
    }
    for (std::size_t i = kept; i < block.size(); ++i) {
        if (block[i] != 0) {
            std::abort();
        }
    }
    if (accepted && size < corvane::kPassportReplyMinLength) {
        std::abort();
    }
    return 0;
}
