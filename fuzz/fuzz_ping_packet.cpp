// Feeds arbitrary datagrams to the ping's parser, in both modes and both families: it may
// not read outside the datagram, whatever its header lengths say, and counts a reply only
// from the address pinged. The first input byte picks the mode (bit 0) and the family (bit
// 1: an ICMPv6 message from an IPv6 sender); the rest is the datagram. No results box:
// lines are formatted and dropped.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "icmp/rawecho.h"

namespace {

platform::sockaddr_storage Ipv4(std::uint32_t address) {
    platform::sockaddr_in ipv4{};
    ipv4.sin_family = platform::AF_INET;
    ipv4.sin_addr.s_addr = address;
    platform::sockaddr_storage storage{};
    std::memcpy(&storage, &ipv4, sizeof ipv4);
    return storage;
}

platform::sockaddr_storage Ipv6(unsigned char last) {
    platform::sockaddr_in6 ipv6{};
    ipv6.sin6_family = platform::AF_INET6;
    ipv6.sin6_addr.u.Byte[0] = 0xfd;
    ipv6.sin6_addr.u.Byte[15] = last;
    platform::sockaddr_storage storage{};
    std::memcpy(&storage, &ipv6, sizeof ipv6);
    return storage;
}

const platform::sockaddr_storage destination = Ipv4(0x0200090a), elsewhere = Ipv4(0x0300090a);
const platform::sockaddr_storage destination6 = Ipv6(2), elsewhere6 = Ipv6(3);

} // namespace

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
    // The request went to 10.9.0.2 (fd00::2), and the seeds come from there; the second parse
    // sees the same bytes from elsewhere.
    const bool ipv6 = (bytes[0] & 2) != 0;
    const EchoRequestKey request = ToolEchoKey(ipv6 ? &destination6 : &destination, 0x1234, 3);
    PingStatistics counts{0, 0, PING_RTT_MIN_START, 0, 0};
    int accepted = ParsePingPacket(datagram.get(), static_cast<int>(length),
                                   ipv6 ? destination6 : destination, mode, &request, &counts);
    if (accepted != 0 && accepted != 1)
        __builtin_trap();
    if (ParsePingPacket(datagram.get(), static_cast<int>(length), ipv6 ? elsewhere6 : elsewhere,
                        mode, &request, &counts) != 0 ||
        counts.received != accepted)
        __builtin_trap();
    return 0;
}
