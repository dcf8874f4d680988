// Feeds arbitrary datagrams to the trace's parser: it must never read outside them and
// answers only with an ICMP type or -1. The first input byte is the hop number; the rest
// is the datagram. No results box and no name look-ups.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "icmp/rawecho.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0 || size > 70000)
        return 0;
    toolOptions.verbose = 1;
    toolEcho.outputBox = 0;
    toolEcho.traceIdentifier = 0x00011234;
    std::size_t length = size - 1;
    std::unique_ptr<unsigned char[]> datagram(new unsigned char[length]);
    if (length > 0)
        std::memcpy(datagram.get(), bytes + 1, length);
    platform::in_addr sender{0x0100090a};
    const EchoRequestKey request{0x0100090a, 0x1234, 0};
    int type = ParseTracePacket(datagram.get(), static_cast<int>(length), sender, bytes[0], nullptr,
                                &request);
    if (type < -1 || type > 255)
        __builtin_trap();
    return 0;
}
