// Feeds arbitrary datagrams to the trace's parser, as IPv4 datagrams and as ICMPv6 messages:
// it must never read outside them and answers only with an ICMP type or -1. The first input
// byte is the hop number; the rest is the datagram. No results box and no name look-ups.
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
    platform::sockaddr_in ipv4{};
    ipv4.sin_family = platform::AF_INET;
    ipv4.sin_addr.s_addr = 0x0100090a; // 10.9.0.1
    platform::sockaddr_in6 ipv6{};
    ipv6.sin6_family = platform::AF_INET6;
    ipv6.sin6_addr.u.Byte[0] = 0xfd; // fd00::1
    ipv6.sin6_addr.u.Byte[15] = 1;
    platform::sockaddr_storage senders[2] = {};
    std::memcpy(&senders[0], &ipv4, sizeof ipv4);
    std::memcpy(&senders[1], &ipv6, sizeof ipv6);
    for (const platform::sockaddr_storage& sender : senders) {
        const EchoRequestKey request = ToolEchoKey(&sender, 0x1234, 0);
        int type = ParseTracePacket(datagram.get(), static_cast<int>(length), sender, bytes[0],
                                    nullptr, &request);
        if (type < -1 || type > 255)
            __builtin_trap();
    }
    return 0;
}
