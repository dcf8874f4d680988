// Feeds arbitrary datagrams to the rule that says which datagram answers which echo
// request: it must never read outside them, and whatever the bytes say, a reply is only
// ever taken from the probed address and an error only on a raw socket. The first input
// byte picks the socket kind (bit 0: datagram), the next four are the sender in network
// order, the rest is the datagram. The request went to 10.9.0.2 with identifier 0x1234
// and sequence 7, as the seeds carry them.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "icmp/echomatch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 5 || size > 70000)
        return 0;
    EchoSocketKind kind = (bytes[0] & 1) != 0 ? ECHO_SOCKET_DATAGRAM : ECHO_SOCKET_RAW;
    std::uint32_t sender = 0;
    std::memcpy(&sender, bytes + 1, sizeof sender);
    // An exact-size copy, so a read past the end is caught.
    std::size_t length = size - 5;
    std::unique_ptr<unsigned char[]> datagram(new unsigned char[length + 1]);
    std::memcpy(datagram.get(), bytes + 5, length);
    const EchoRequestKey request{0x0200090a, 0x1234, 7};
    EchoMatch match =
        MatchEchoAnswer(datagram.get(), static_cast<int>(length), sender, kind, request);
    if (match == ECHO_MATCH_REPLY && sender != request.destination)
        __builtin_trap();
    if (match == ECHO_MATCH_ERROR && kind != ECHO_SOCKET_RAW)
        __builtin_trap();
    if (match != ECHO_MATCH_NONE && match != ECHO_MATCH_REPLY && match != ECHO_MATCH_ERROR)
        __builtin_trap();
    return 0;
}
