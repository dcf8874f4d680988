// The ICMP echo sockets inside the layer, shared by the ICMP library's handles and the probe
// set: opening one of the kind an engine asks for, writing a request, and reading what the
// socket's queues hold one message at a time, with the kernel's time of arrival. Included
// only by src/platform/*.cpp.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>

namespace platform {

// Opens a non-blocking ICMP socket: a ping socket first, unless `rawOnly`, and a raw one
// when the system refuses ping sockets to us (or when `rawOnly`). Every socket reports the
// arrival time of what it receives; a ping
// socket reports errors through its error queue with the TTL and TOS of each datagram; a raw
// one wakes only for the ICMP types that can answer an echo. Returns the descriptor and its
// kind (ICMP_SOCKET_PING or ICMP_SOCKET_RAW), or -1 with errno. An ICMPv6 socket when
// `ipv6`: the same choice, under the same permission (net.ipv4.ping_group_range governs
// both families' ping sockets).
int OpenEchoSocket(bool rawOnly, bool ipv6, int* kind);

// Why an echo socket could not be opened, as GetLastError tells it: IP_NO_RESOURCES when
// descriptors or memory ran out, else ERROR_ACCESS_DENIED.
DWORD EchoSocketOpenFailure(int systemError);

// Makes room in the receive buffer for the answers of `datagrams` requests at once. Above
// the system's limit for us the room stays what the limit allows.
void SizeEchoSocketBuffer(int descriptor, unsigned datagrams);

// The datagrams the kernel dropped for want of room in the socket's receive buffer since
// it was opened: its own count, SO_MEMINFO's. (SO_RXQ_OVFL tells that count only with a
// datagram queued after the drops, so a buffer that stays full would hide them.)
std::uint32_t EchoSocketDrops(int descriptor);

// The status of a failed send or socket call.
DWORD StatusOfSystemError(int systemError);

// Writes an echo request into `buffer` (8 + `dataSize` bytes): type 8, code 0, `identifier`
// and `sequence` as they go on the wire (the first byte is the high byte of each), the data,
// and the checksum over all of it. On a ping socket the kernel puts in its own identifier
// and checksum. Returns the request's length.
std::size_t WriteEchoRequest(unsigned char* buffer, std::uint16_t identifier,
                             std::uint16_t sequence, const void* data, std::size_t dataSize);
// The same for ICMPv6 (type 128), whose checksum the kernel always writes.
std::size_t WriteEcho6Request(unsigned char* buffer, std::uint16_t identifier,
                              std::uint16_t sequence, const void* data, std::size_t dataSize);

// Sends a request to `destination` (network order). 0, or the errno of a send that failed
// for this request's own sake (a pending error left by an earlier request's answer is
// passed over).
int SendEchoDatagram(int descriptor, const unsigned char* request, std::size_t length,
                     DWORD destination);

// Sends a request to an IPv6 address (16 bytes) on interface `scope` (0: any), as above.
int SendEcho6Datagram(int descriptor, const unsigned char* request, std::size_t length,
                      const unsigned char* destination, std::uint32_t scope);

enum class EchoMessageKind {
    None,       // nothing about an echo request: pass it over
    Reply,      // an echo reply
    IcmpError,  // an ICMP error quoting an echo request
    LocalError, // this host could not deliver a request (ping socket's error queue)
};

// One message an echo socket received, as far as it concerns echo requests.
struct EchoMessage {
    EchoMessageKind kind;
    bool sequenceKnown;        // false for a local error, which quotes nothing
    std::uint16_t identifier;  // of the request, as on the wire (high byte first)
    std::uint16_t sequence;    // likewise
    DWORD destination;         // where the request went: a reply's source, an error's quote
    DWORD status;              // IP_SUCCESS for a reply, else the error's status
    DWORD address;             // who sent the message (for a local error: 0)
    std::uint8_t ttl;          // of the datagram
    std::uint8_t tos;          // of the datagram
    const unsigned char* data; // echoed data of a reply, in the receive buffer; else null
    std::size_t dataSize;
    std::int64_t arrival; // CLOCK_REALTIME nanoseconds, the kernel's; 0 when it gave none
    // ICMPv6: `destination` and `address` are 0 and their IPv6 forms are here; `ttl` and
    // `tos` are the hop limit and the traffic class.
    bool ipv6;
    unsigned char destination6[16];
    unsigned char address6[16];
};

// Reads one datagram as a raw ICMP socket delivers it (IP header first): an echo reply with
// a good checksum, or an ICMP error with a good checksum quoting an ICMP echo request. False
// for anything else. Reads nothing outside the `length` bytes.
bool ParseRawEchoDatagram(const unsigned char* datagram, std::size_t length, EchoMessage* message);

// Reads one ICMPv6 message as a raw ICMPv6 socket delivers it (no IP header; the kernel
// has checked its checksum) from `source` (16 bytes): an echo reply, or an ICMPv6 error
// quoting an ICMPv6 echo request right after the quoted IPv6 header. False for anything
// else. Reads nothing outside the `length` bytes.
bool ParseRawEcho6Message(const unsigned char* icmp, std::size_t length,
                          const unsigned char* source, EchoMessage* message);

// Whether `message`, received on a socket of `kind`, answers the request with `identifier`
// and `sequence` sent to `destination`. A ping socket's kernel has matched the identifier
// already; a local error quotes no sequence and is matched by its destination.
bool AnswersEchoRequest(const EchoMessage& message, int kind, DWORD destination,
                        std::uint16_t identifier, std::uint16_t sequence);

// The same for a request sent to an IPv6 address (16 bytes).
bool AnswersEcho6Request(const EchoMessage& message, int kind, const unsigned char* destination,
                         std::uint16_t identifier, std::uint16_t sequence);

// Where received datagrams land. The message's data points into it until the next receive.
struct EchoReceiveBuffer {
    unsigned char datagram[65536];
    unsigned char control[512];
};

// Takes the next message from the socket's queues without waiting: its datagrams first,
// then the error queue of a ping socket. False when both are empty. A datagram that is
// nothing of ours, or a pending socket error, gives true with kind None, so that a caller
// reading in a loop goes on.
bool ReceiveEchoMessage(int descriptor, int kind, bool ipv6, EchoReceiveBuffer* buffer,
                        EchoMessage* message);

// Clocks in nanoseconds: the kernel's arrival times are CLOCK_REALTIME; deadlines run on
// CLOCK_MONOTONIC, which never jumps.
std::int64_t RealtimeNanoseconds();
std::int64_t MonotonicNanoseconds();

} // namespace platform
