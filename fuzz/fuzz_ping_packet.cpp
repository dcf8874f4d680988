// Feeds arbitrary datagrams to the ping's parser, in both modes: it may not read outside
// the datagram, whatever its header lengths say, and counts a reply only from the address
// pinged. The first input byte picks the mode; the rest is the datagram. No results box:
// lines are formatted and dropped.
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
    toolEcho.pingIdentifier = 0x00011234; // identifier 0x1234, as the seeds carry it
    PacketMode mode = (bytes[0] & 1) != 0 ? PACKET_SENT : PACKET_RECEIVED;
    // An exact-size copy, so a read past the end is caught.
    std::size_t length = size - 1;
    std::unique_ptr<unsigned char[]> datagram(new unsigned char[length]);
    if (length > 0)
        std::memcpy(datagram.get(), bytes + 1, length);
    // The request went to 10.9.0.2, and the seeds come from there; the second parse sees
    // the same bytes from elsewhere.
    const EchoRequestKey request{0x0200090a, 0x1234, 3};
    PingStatistics counts{0, 0, PING_RTT_MIN_START, 0, 0};
    int accepted = ParsePingPacket(datagram.get(), static_cast<int>(length),
                                   platform::in_addr{0x0200090a}, mode, &request, &counts);
    if (accepted != 0 && accepted != 1)
        __builtin_trap();
    if (ParsePingPacket(datagram.get(), static_cast<int>(length), platform::in_addr{0x0300090a},
                        mode, &request, &counts) != 0 ||
        counts.received != accepted)
        __builtin_trap();
    return 0;
}
