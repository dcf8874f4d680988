// The raw-socket echo engine of the ping and trace tools: echo requests built byte by byte
// with their checksum and sent through a raw ICMP socket, their answers taken from it as
// they come, past every datagram that does not answer them, and the parsers that turn what
// came back into result codes and lines. Also the tools' options, the open tool's share of
// the engine and the results-box output shared by the tools.
#pragma once

#include "icmp/echomatch.h"
#include "platform/types.h"
#include "platform/winsock.h"

#include <cstdint>

/*** sizes ***/

constexpr unsigned ICMP_HEADER_SIZE = 8;    // type, code, checksum, identifier, sequence
constexpr unsigned IP_HEADER_MAX_SIZE = 60; // header length nibble 15
constexpr unsigned ECHO_BUFFER_SIZE = 4096; // the ping's request and reply buffers
constexpr unsigned TRACE_DATA_LENGTH = 58;  // the trace's request: 66 bytes
constexpr unsigned TRACE_REQUEST_SIZE = TRACE_DATA_LENGTH + ICMP_HEADER_SIZE;
constexpr unsigned TRACE_REPLY_SIZE = TRACE_DATA_LENGTH * 2; // 116
constexpr unsigned DEFAULT_ECHO_DATA_LENGTH = 56;
// The echo data length stays within these: the send time needs its 4 bytes, and a reply with the
// longest IP header in front must fit the ping's reply buffer.
constexpr unsigned ECHO_DATA_LENGTH_MIN = 4;
constexpr unsigned ECHO_DATA_LENGTH_MAX = ECHO_BUFFER_SIZE - IP_HEADER_MAX_SIZE - ICMP_HEADER_SIZE;

// The prefix of the parser's lines for messages other than echo replies.
enum PacketMode { PACKET_RECEIVED = 0, PACKET_SENT = 1 };

/*** globals ***/

constexpr unsigned DEFAULT_PING_COUNT = 5;
constexpr unsigned DEFAULT_TRACE_MAX_HOPS = 30;

// What Tool Options sets for the ping and trace tools; none is stored in a settings file.
// Every echo of theirs waits the WAIT option, which that dialog shows too.
struct ToolOptions {
    unsigned pingCount;      // requests of one ping run
    unsigned traceMaxHops;   // last hop of a raw-mode trace
    unsigned echoDataLength; // data bytes of a ping request and of a library echo
    int verbose;             // show the lines that begin with "["
    int showHopNames;        // trace lines get the router's name
};
extern ToolOptions toolOptions;

// The tools' share of the engine: where the lines of the tool window handling a message
// go, and which windows name the ping's and the trace's echoes.
struct ToolEcho {
    platform::HWND outputBox;       // results box of the tool at work; 0 shows nothing
    platform::HWND pingIdentifier;  // the ping dialog: its low 16 bits name our echoes
    platform::HWND traceIdentifier; // the trace's results box, likewise
};
extern ToolEcho toolEcho;

// The counts of one ping run, kept by the ping calls below as they send and take replies;
// the ping tool resets them at the start of each run.
struct PingStatistics {
    std::int32_t sent;     // requests sent; the sequence of the next one
    std::int32_t received; // replies taken
    std::uint32_t rttMin;  // PING_RTT_MIN_START until the first reply
    std::uint32_t rttMax;
    std::uint32_t rttSum;
};
constexpr std::uint32_t PING_RTT_MIN_START = 99999999;

/*** building requests ***/

// Writes an echo request of `dataLength` data bytes into `buffer` (dataLength + 8 bytes):
// identifier, sequence and the tick count as send time least significant byte first, the
// rest of the data zero, the checksum over all of it. An ICMPv6 one when `ipv6` (type 128,
// its checksum left zero for the kernel, which sums over the addresses too). Returns the
// message length.
int BuildEchoRequest(unsigned char* buffer, std::uint16_t identifier, std::uint16_t sequence,
                     unsigned dataLength, bool ipv6 = false);

// The key of a tool's request to `destination` (either family; null: nothing awaited).
EchoRequestKey ToolEchoKey(const platform::sockaddr_storage* destination, std::uint16_t identifier,
                           std::uint16_t sequence);

// The echo data length as the engines use it: within ECHO_DATA_LENGTH_MIN..ECHO_DATA_LENGTH_MAX.
unsigned BoundEchoDataLength(unsigned requested);

/*** the ping ***/

// Counts a reply taken with round trip `rtt` (milliseconds).
void CountPingReply(PingStatistics* statistics, std::uint32_t rtt);

// Sends the run's next request, its sequence the count of those sent. `buffer` holds
// ECHO_BUFFER_SIZE bytes. True when the whole request was written; a request refused with
// 10035 or 10036 is not counted as sent, any other is.
bool SendPingRequest(platform::SOCKET socket, const platform::sockaddr_storage* destination,
                     unsigned char* buffer, unsigned dataLength, PingStatistics* statistics);
/*** answers without waiting ***/

// Reads what waits on `socket` (one that does not block) into `buffer` (`size` bytes) until
// a datagram answers `request`: 1 with its length and sender; 0 when nothing more waits;
// -1 on another receive error, printed in a verbose line. The datagrams passed over are
// printed in verbose lines. A raw ICMPv6 socket's messages come without their IP header.
int TakeQueuedAnswer(platform::SOCKET socket, unsigned char* buffer, int size,
                     const EchoRequestKey& request, int* length,
                     platform::sockaddr_storage* sender);

/*** the trace ***/

// Sets the socket's time-to-live (IPv6: hop limit) to `ttl` and sends one request of the
// trace with `sequence`. 0 sent, -1 not.
int SendTraceProbe(platform::SOCKET socket, const platform::sockaddr_storage* destination,
                   std::uint16_t sequence, unsigned char* buffer, unsigned dataLength,
                   unsigned ttl);
/*** parsers ***/

// Both read only the `length` bytes of `datagram`, whatever the lengths inside say, and
// take only what answers `request` (null: nothing, as for a request we sent; `statistics`
// may then be null too). A datagram from an IPv6 `sender` is an ICMPv6 message without its
// IP header; its types are told by their IPv4 counterparts (reply 0, unreachable and
// packet too big 3, hop limit exceeded 11, parameter problem 12). 1 when the reply to
// `request` was accepted and counted in `statistics`, else 0.
int ParsePingPacket(const unsigned char* datagram, int length,
                    const platform::sockaddr_storage& sender, PacketMode mode,
                    const EchoRequestKey* request, PingStatistics* statistics);
// The ICMP type of the answer to `request`, 0 for its echo reply; -1 for anything else. A
// router's answer makes the line "hop address:" (time exceeded) or "hop address: (type)",
// printed when `routerLine` is null, else written there (TOOL_LINE_SIZE bytes) for the
// caller to finish, e.g. with the router's name, and print.
int ParseTracePacket(const unsigned char* datagram, int length,
                     const platform::sockaddr_storage& sender, unsigned hop, char* routerLine,
                     const EchoRequestKey* request);

/*** sockets and output ***/

// Closes `socket`, telling it in a verbose line: INVALID_SOCKET when it was closed, the
// same socket when it could not be (told with the reason).
platform::SOCKET CloseRawSocket(platform::SOCKET socket);

// Appends `text` and a line end to `box`; lines beginning with "[" only in verbose mode.
void AppendToolLine(platform::HWND box, const char* text);
constexpr unsigned TOOL_LINE_SIZE = 512; // one output line with its terminator
// One formatted line (at most 511 characters) through AppendToolLine into the open tool's
// results box.
__attribute__((format(printf, 1, 2))) void PrintToolLine(const char* format, ...);
// Appends `text` at the end of the edit control `box`, each line feed as CR LF.
void AppendResults(platform::HWND box, const char* text);
// Copies `text` into `out` (`size` bytes, at least 3, with the terminator), each line feed
// written as CR LF, as far as it fits. Returns how many bytes of `text` were taken.
unsigned ExpandLineFeeds(const char* text, char* out, unsigned size);

// The short name of an ICMP type; "Out-of-range" above 16.
const char* IcmpTypeName(int type);
