// Feeds arbitrary datagrams to the ping's parser, in both modes, and to the monitor's
// verdict: neither may read outside the datagram, whatever its header lengths say. The
// first input byte picks the mode; the rest is the datagram. No results box: lines are
// formatted and dropped.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "icmp/rawecho.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0 || size > 70000)
        return 0;
    verboseOutput = 1;
    toolOutputBox = 0;
    pingIdentifierWindow = 0x00011234; // identifier 0x1234, as the seeds carry it
    PacketMode mode = (bytes[0] & 1) != 0 ? PACKET_SENT : PACKET_RECEIVED;
    // An exact-size copy, so a read past the end is caught.
    std::size_t length = size - 1;
    std::unique_ptr<unsigned char[]> datagram(new unsigned char[length]);
    if (length > 0)
        std::memcpy(datagram.get(), bytes + 1, length);
    platform::in_addr sender{0x0200090a};
    int accepted = ParsePingPacket(datagram.get(), static_cast<int>(length), sender, mode);
    if (accepted != 0 && accepted != 1)
        __builtin_trap();
    int verdict = ClassifyEchoReply(datagram.get(), static_cast<int>(length), 0x1234);
    if (verdict != 0 && verdict != ECHO_TOO_SHORT && verdict != ECHO_WRONG_TYPE &&
        verdict != ECHO_NOT_OURS)
        __builtin_trap();
    return 0;
}
