// Feeds arbitrary datagrams to the ICMP library's raw datagram reader: it must never read
// outside them, whatever their header lengths say, and must only accept what it can check.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/testing_sys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    // An exact-size copy, so a read past the end is caught.
    std::vector<unsigned char> datagram(bytes, bytes + size);
    platform::RawEchoAnswer answer{};
    platform::DWORD destination = 0x0200090a; // 10.9.0.2 in network order
    if (platform::ReadRawEchoAnswer(datagram.data(), datagram.size(), destination, 0x1234, 7,
                                    &answer)) {
        if (answer.data != nullptr) {
            const unsigned char* end = datagram.data() + datagram.size();
            if (answer.data < datagram.data() || answer.data + answer.dataSize != end)
                __builtin_trap();
        }
    }
    return 0;
}
