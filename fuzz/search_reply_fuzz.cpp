// Any datagram that reaches the search must be either a 30-byte record or nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "net/protocol_messages.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    corvane::DeviceHello hello;
    if (corvane::decodeSearchReply(data, size, hello)) {
        // An accepted reply is stored exactly as its first 30 bytes arrived.
        if (size < sizeof hello || std::memcmp(&hello, data, sizeof hello) != 0) {
            std::abort();
        }
    }
    return 0;
}
