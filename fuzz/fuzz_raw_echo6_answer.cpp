// Feeds arbitrary ICMPv6 messages to the raw ICMPv6 reader: it must never read outside
// them, whatever they quote, and must take a reply only from the probed address. The first
// 16 input bytes are the sender, the rest the message. The request went to fd00::2 with
// identifier 0x1234 and sequence 7, as the seeds carry them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/testing_sys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 16)
        return 0;
    static const unsigned char destination[16] = {0xfd, 0, 0, 0, 0, 0, 0, 0,
                                                  0,    0, 0, 0, 0, 0, 0, 2};
    // Exact-size copies, so a read past the end is caught.
    std::vector<unsigned char> source(bytes, bytes + 16);
    std::vector<unsigned char> message(bytes + 16, bytes + size);
    platform::RawEchoAnswer answer{};
    if (platform::ReadRawEcho6Answer(message.data(), message.size(), source.data(), destination,
                                     0x1234, 7, &answer)) {
        if (answer.data != nullptr) {
            if (std::memcmp(source.data(), destination, 16) != 0)
                __builtin_trap(); // a reply taken from another host
            const unsigned char* end = message.data() + message.size();
            if (answer.data < message.data() || answer.data + answer.dataSize != end)
                __builtin_trap();
        }
    }
    return 0;
}
