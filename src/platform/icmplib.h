// The system ICMP library: echo handles that send one ICMP echo request to an IPv4 address,
// or one ICMPv6 echo request to an IPv6 address, and leave the wait for its answer to the
// event loop, which posts its end, with the reply records and status codes of the Win32 ICMP
// API. Built on Linux ping sockets, or on a raw socket where ping sockets are refused. Called from
// one thread, the user-interface thread, like the rest of the layer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/system.h"
#include "platform/types.h"

namespace platform {

struct sockaddr_in6; // winsock.h

// Status codes of the reply record and of GetLastError(), with their Win32 numbers.
constexpr DWORD IP_SUCCESS = 0;
constexpr DWORD IP_BUF_TOO_SMALL = 11001;
constexpr DWORD IP_DEST_NET_UNREACHABLE = 11002;
constexpr DWORD IP_DEST_HOST_UNREACHABLE = 11003;
constexpr DWORD IP_DEST_PROT_UNREACHABLE = 11004;
constexpr DWORD IP_DEST_PORT_UNREACHABLE = 11005;
constexpr DWORD IP_NO_RESOURCES = 11006;
constexpr DWORD IP_BAD_OPTION = 11007;
constexpr DWORD IP_PACKET_TOO_BIG = 11009;
constexpr DWORD IP_REQ_TIMED_OUT = 11010;
constexpr DWORD IP_BAD_ROUTE = 11012;
constexpr DWORD IP_TTL_EXPIRED_TRANSIT = 11013;
constexpr DWORD IP_TTL_EXPIRED_REASSEM = 11014;
constexpr DWORD IP_PARAM_PROBLEM = 11015;
constexpr DWORD IP_SOURCE_QUENCH = 11016;
constexpr DWORD IP_BAD_DESTINATION = 11018;
constexpr DWORD IP_GENERAL_FAILURE = 11050;

// System error numbers for the calls' own argument and access failures, a handle whose
// asynchronous echo is still out, and an echo under way.
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BUSY = 170;
constexpr DWORD ERROR_IO_PENDING = 997;

// Flags of IP_OPTION_INFORMATION: the request may not be fragmented.
constexpr std::uint8_t IP_FLAG_DF = 0x02;

// IP header settings of a request, and of the answer in a reply record.
struct IP_OPTION_INFORMATION {
    std::uint8_t Ttl;          // time-to-live; 0 in a request means the system default
    std::uint8_t Tos;          // type of service
    std::uint8_t Flags;        // IP_FLAG_DF in a request; always 0 in a reply record
    std::uint8_t OptionsSize;  // bytes of IP options; must be 0 in a request
    std::uint8_t* OptionsData; // the IP options; never filled in a reply record
};

// The first record of the reply buffer after an echo's end.
struct ICMP_ECHO_REPLY {
    DWORD Address;                 // who answered, IPv4 in network order
    DWORD Status;                  // IP_SUCCESS or an IP_* code above
    DWORD RoundTripTime;           // milliseconds, cut to whole ones
    WORD DataSize;                 // bytes at Data
    WORD Reserved;                 // 0
    void* Data;                    // into the reply buffer, just after this record
    IP_OPTION_INFORMATION Options; // Ttl and Tos of the answering datagram
};

// An IPv6 address as a reply record gives it, packed as IP Helper lays it out: the address's
// bytes in network order in sin6_addr.
#pragma pack(push, 1)
struct IPV6_ADDRESS_EX {
    WORD sin6_port;
    DWORD sin6_flowinfo;
    WORD sin6_addr[8];
    DWORD sin6_scope_id;
};
#pragma pack(pop)

// The record at the start of the reply buffer after an IPv6 echo's end; the echoed data
// follows it.
struct ICMPV6_ECHO_REPLY {
    IPV6_ADDRESS_EX Address; // who answered
    DWORD Status;            // IP_SUCCESS or an IP_* code above
    unsigned int RoundTripTime;
};

// The smallest reply buffer Icmp6SendEcho2 accepts for `requestSize` bytes of data.
constexpr std::size_t Icmp6ReplyBufferSize(std::size_t requestSize) {
    return sizeof(ICMPV6_ECHO_REPLY) + requestSize + 8;
}

// The smallest reply buffer IcmpSendEcho2 accepts for `requestSize` bytes of data: one
// record, the echoed data, and 8 bytes for an ICMP error.
constexpr std::size_t IcmpReplyBufferSize(std::size_t requestSize) {
    return sizeof(ICMP_ECHO_REPLY) + requestSize + 8;
}

// Loading the library: true when echo handles can be opened here, that is when a ping
// socket can be opened, or else a raw ICMP socket. Nothing stays open; each
// IcmpCreateFile makes the same choice again.
bool OpenIcmpLibrary();

// Unloading: closes every echo handle still open.
void CloseIcmpLibrary();

// Opens an echo handle over a ping socket, or over a raw socket when ping sockets are
// refused (EACCES, EPERM, EAFNOSUPPORT, EPROTONOSUPPORT). On failure returns
// INVALID_HANDLE_VALUE with GetLastError() ERROR_ACCESS_DENIED (neither kind allowed) or
// IP_NO_RESOURCES (out of descriptors, memory or the 16 handle slots).
HANDLE IcmpCreateFile();
// The same for ICMPv6 echoes: an ICMPv6 ping socket, else a raw ICMPv6 socket, under the
// same permission (net.ipv4.ping_group_range governs both families' ping sockets).
HANDLE Icmp6CreateFile();

// Closes an echo handle of either family. False (ERROR_INVALID_HANDLE) when it is not open.
bool IcmpCloseHandle(HANDLE handle);

// Sends one echo request carrying `requestSize` bytes of `requestData` to `destination`
// (IPv4, network order) and returns 0 at once with GetLastError() ERROR_IO_PENDING; the
// answer is awaited on the event loop (a socket notifier and a precise timer). `options`
// (may be null) gives the request's TTL, TOS and the don't-fragment flag. The reply buffer
// must hold IcmpReplyBufferSize(requestSize) bytes, be aligned for an ICMP_ECHO_REPLY and
// stay valid until the end is posted.
//
// Where Win32 signals an event or queues an APC, this library posts `message` to `window`
// when the exchange ends (word parameter: the echo handle; long parameter: the status),
// after writing one ICMP_ECHO_REPLY at the start of `replyBuffer`. When something
// answered the request:
//   - our echo reply, from `destination` alone: Status IP_SUCCESS, Address `destination`,
//     the echoed data at Data
//     (DataSize bytes, cut to what the buffer holds beyond the record), Options.Ttl and Tos
//     of the reply;
//   - an ICMP error quoting our request to `destination`: Address the host that sent it
//     (for a time-to-live exceeded, the router), DataSize 0, Status by the ICMP type and
//     code:
//       time exceeded in transit 11013, in reassembly 11014;
//       unreachable: net 11002, host 11003, protocol 11004, port 11005, fragmentation
//         needed 11009, source route failed 11012, unknown or prohibited net 11002,
//         unknown, isolated or prohibited host 11003, communication prohibited (code 13)
//         11004, any other code 11003;
//       source quench 11016; parameter problem 11015.
// In both cases RoundTripTime runs from the send to the answer, and Options.Flags and
// OptionsSize are 0. Everything else that arrives meanwhile (replies from other hosts, to
// other requests, other programs' traffic) is passed over and the wait goes on. When
// nothing answered within `timeoutMs`, the record holds only the Status IP_REQ_TIMED_OUT.
// What the socket holds is read before the time-out is declared, and an answer counts when
// the kernel took it in within `timeoutMs` of the send, however busy the program was. One
// echo per handle at a time: another on it fails with ERROR_BUSY until the end is posted.
// IcmpCloseHandle ends the exchange without a message, and withdraws a posted one not yet
// taken.
//
// Returns 0 with the reason in GetLastError(), posting nothing and leaving the reply
// buffer untouched, when the request is not sent:
//   IP_DEST_NET_UNREACHABLE, IP_DEST_HOST_UNREACHABLE this host has no route or no
//     neighbour for the destination;
//   IP_PACKET_TOO_BIG the request does not fit a datagram or the path;
//   IP_BAD_DESTINATION destination 0.0.0.0 or a broadcast address;
//   IP_BUF_TOO_SMALL the reply buffer is smaller than IcmpReplyBufferSize(requestSize);
//   IP_BAD_OPTION options with OptionsSize other than 0;
//   IP_NO_RESOURCES out of buffers;
//   IP_GENERAL_FAILURE any other system failure, or no event loop to end the exchange;
//   ERROR_BUSY an echo of this handle is still out;
//   ERROR_INVALID_HANDLE `handle` is not open; ERROR_INVALID_PARAMETER null buffers.
DWORD IcmpSendEcho2(HANDLE handle, HWND window, UINT message, DWORD destination,
                    const void* requestData, WORD requestSize, const IP_OPTION_INFORMATION* options,
                    void* replyBuffer, DWORD replySize, DWORD timeoutMs);

// IcmpSendEcho2 for an Icmp6CreateFile handle: one ICMPv6 echo request to `destination` (its
// scope names the interface of a link-local address), the hop limit from `options->Ttl`,
// the traffic class from its Tos. `source` is null or the unspecified address: the system
// chooses the source. The end is posted the same way, after one ICMPV6_ECHO_REPLY is written
// at the start of `replyBuffer` (Icmp6ReplyBufferSize(requestSize) bytes): who answered, the
// status and the round trip, the echoed data after the record. ICMPv6 errors quoting our
// request give, by type and code: no route 11002; administratively prohibited, failed
// policy and reject route 11004; port 11005; address unreachable and the rest 11003; packet
// too big 11009; hop limit exceeded in transit 11013 (Address the router), in reassembly
// 11014; parameter problem 11015. Fails as IcmpSendEcho2 does; IP_BAD_DESTINATION for ::
// and multicast groups, ERROR_INVALID_PARAMETER for an IPv4 handle or address.
DWORD Icmp6SendEcho2(HANDLE handle, HWND window, UINT message, const sockaddr_in6* source,
                     const sockaddr_in6* destination, const void* requestData, WORD requestSize,
                     const IP_OPTION_INFORMATION* options, void* replyBuffer, DWORD replySize,
                     DWORD timeoutMs);

// After the end of IcmpSendEcho2 was posted, and until its handle is closed: 1 when the
// record in `replyBuffer` is an answer (GetLastError() its Status), 0 when it tells a
// failure (GetLastError() the Status); 0 with ERROR_INVALID_PARAMETER for a buffer no open
// handle wrote.
DWORD IcmpParseReplies(void* replyBuffer, DWORD replySize);
// The same for a buffer Icmp6SendEcho2 wrote.
DWORD Icmp6ParseReplies(void* replyBuffer, DWORD replySize);

// The pure readers of what a raw socket receives, without a socket: what a raw ICMP
// datagram says about an echo request.
struct RawEchoAnswer {
    DWORD status;              // IP_SUCCESS for our echo reply, else IcmpErrorStatus
    DWORD address;             // the datagram's source, network order
    std::uint8_t ttl;          // of the datagram
    std::uint8_t tos;          // of the datagram
    const unsigned char* data; // echoed data inside the datagram; null for an error
    std::size_t dataSize;      // bytes at data
};

// Reads one datagram as a raw ICMP socket delivers it (IP header first, `length` bytes)
// and tells whether it answers the echo request with `identifier` and `sequence` sent to
// `destination` (network order): an echo reply from `destination` with our identifier and
// sequence and a good checksum, or an ICMP error quoting our request. Reads nothing outside
// the `length` bytes, whatever the header lengths inside say. Fills `answer` only when it
// returns true.
bool ReadRawEchoAnswer(const unsigned char* datagram, std::size_t length, DWORD destination,
                       std::uint16_t identifier, std::uint16_t sequence, RawEchoAnswer* answer);

// The same for one message as a raw ICMPv6 socket delivers it (no IP header, `length`
// bytes) from `source`, about the request to `destination` (16 bytes each): an echo reply
// from `destination` with our numbers, or an ICMPv6 error quoting our request (status by
// Icmp6ErrorStatus). `answer->address`, `ttl` and `tos` are 0: they come with the datagram.
bool ReadRawEcho6Answer(const unsigned char* message, std::size_t length,
                        const unsigned char* source, const unsigned char* destination,
                        std::uint16_t identifier, std::uint16_t sequence, RawEchoAnswer* answer);

// The status of this thread's last ICMP library call is in GetLastError() (system.h).

// The sequence number of the next echo request, from the one counter every echo of this
// process takes its number from (the library's and the raw engine's), so that a late
// answer to an earlier echo never passes for the answer to a new one. It starts at a value
// drawn from the process id, so two programs pinging one host rarely share numbers.
std::uint16_t NextEchoSequence();

} // namespace platform
