// The raw-socket echo engine. Order: globals, request building, the ping's and the trace's
// send and receive, the two parsers, and the results-box output. Multi-byte fields of our requests
// are written least significant byte first and read back the same way, so identifiers match
// whatever the wire order.
#include "icmp/rawecho.h"

#include "icmp/icmplib.h"
#include "icmp/sockerr.h"
#include "platform/dialog.h"
#include "platform/icmplib.h"
#include "platform/system.h"
#include "platform/window.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

ToolOptions toolOptions = {DEFAULT_PING_COUNT, DEFAULT_TRACE_MAX_HOPS, DEFAULT_ECHO_DATA_LENGTH, 0,
                           1};
ToolEcho toolEcho = {0, 0, 0};

static constexpr unsigned LINE_SIZE = TOOL_LINE_SIZE;
static constexpr unsigned APPEND_CHUNK = 512; // bytes handed to the edit control at once

/*** helpers ***/

static std::uint16_t ReadWord(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

static std::uint32_t ReadLong(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
           (static_cast<std::uint32_t>(bytes[2]) << 16) |
           (static_cast<std::uint32_t>(bytes[3]) << 24);
}

static void WriteWord(unsigned char* bytes, std::uint16_t value) {
    bytes[0] = static_cast<unsigned char>(value & 0xFF);
    bytes[1] = static_cast<unsigned char>(value >> 8);
}

static bool IsIpv6(const sockaddr_storage& address) {
    return address.ss_family == AF_INET6;
}

static int ReceiveDatagram(SOCKET socket, unsigned char* buffer, int length,
                           sockaddr_storage* sender) {
    *sender = sockaddr_storage{};
    int fromLength = sizeof *sender;
    return recvfrom(socket, reinterpret_cast<char*>(buffer), length, 0,
                    reinterpret_cast<sockaddr*>(sender), &fromLength);
}

static std::uint16_t SwapBytes(std::uint16_t value) {
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

// What a datagram from `sender` is to `request`. ICMPv6 messages are read by the layer's
// reader, which takes identifier and sequence as on the wire, high byte first; ours go
// least significant byte first.
static EchoMatch MatchAnswer(const unsigned char* datagram, int length,
                             const sockaddr_storage& sender, const EchoRequestKey& request) {
    if (!request.ipv6) {
        sockaddr_in ipv4;
        std::memcpy(&ipv4, &sender, sizeof ipv4);
        return IsIpv6(sender) ? ECHO_MATCH_NONE
                              : MatchEchoAnswer(datagram, length, ipv4.sin_addr.s_addr,
                                                ECHO_SOCKET_RAW, request);
    }
    sockaddr_in6 ipv6;
    std::memcpy(&ipv6, &sender, sizeof ipv6);
    RawEchoAnswer answer{};
    if (!IsIpv6(sender) || length <= 0 ||
        !ReadRawEcho6Answer(datagram, static_cast<std::size_t>(length), ipv6.sin6_addr.u.Byte,
                            request.destination6, SwapBytes(request.identifier),
                            SwapBytes(request.sequence), &answer))
        return ECHO_MATCH_NONE;
    return answer.status == IP_SUCCESS ? ECHO_MATCH_REPLY : ECHO_MATCH_ERROR;
}

// An ICMPv6 type as its IPv4 counterpart, which the parsers' lines and callers go by; -1
// for one without.
static int Icmp4Type(int type6) {
    switch (type6) {
    case 129: // echo reply
        return 0;
    case 1: // destination unreachable
    case 2: // packet too big, IPv4's "fragmentation needed"
        return 3;
    case 3: // hop limit exceeded
        return 11;
    case 4:
        return 12;
    case 128:
        return 8;
    default:
        return -1;
    }
}

/*** requests ***/

int BuildEchoRequest(unsigned char* buffer, std::uint16_t identifier, std::uint16_t sequence,
                     unsigned dataLength, bool ipv6) {
    std::uint32_t sendTime = GetTickCount();
    int length = static_cast<int>(dataLength + ICMP_HEADER_SIZE);
    std::memset(buffer, 0, static_cast<std::size_t>(length));
    buffer[0] = 8; // echo request
    buffer[1] = 0;
    WriteWord(buffer + 4, identifier);
    WriteWord(buffer + 6, sequence);
    for (unsigned index = 0; index < 4 && index < dataLength; ++index)
        buffer[ICMP_HEADER_SIZE + index] = static_cast<unsigned char>(sendTime >> (8 * index));
    if (ipv6) {
        buffer[0] = 128;
        return length;
    }
    // Our sum, of words read least significant byte first; the layer has one of its own.
    WriteWord(buffer + 2, ::InternetChecksum(buffer, length));
    return length;
}

EchoRequestKey ToolEchoKey(const sockaddr_storage* destination, std::uint16_t identifier,
                           std::uint16_t sequence) {
    EchoRequestKey key{0, identifier, sequence, false, {}};
    if (destination != nullptr && IsIpv6(*destination)) {
        sockaddr_in6 ipv6;
        std::memcpy(&ipv6, destination, sizeof ipv6);
        key.ipv6 = true;
        std::memcpy(key.destination6, ipv6.sin6_addr.u.Byte, 16);
    } else if (destination != nullptr) {
        sockaddr_in ipv4;
        std::memcpy(&ipv4, destination, sizeof ipv4);
        key.destination = ipv4.sin_addr.s_addr;
    }
    return key;
}

unsigned BoundEchoDataLength(unsigned requested) {
    if (requested < ECHO_DATA_LENGTH_MIN)
        return ECHO_DATA_LENGTH_MIN;
    if (requested > ECHO_DATA_LENGTH_MAX)
        return ECHO_DATA_LENGTH_MAX;
    return requested;
}

static int SendRequest(SOCKET socket, const sockaddr_storage* destination,
                       const unsigned char* buffer, int length) {
    int addressLength = IsIpv6(*destination) ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    return sendto(socket, reinterpret_cast<const char*>(buffer), length, 0,
                  reinterpret_cast<const sockaddr*>(destination), addressLength);
}

/*** the ping ***/

void CountPingReply(PingStatistics* statistics, std::uint32_t rtt) {
    ++statistics->received;
    statistics->rttSum += rtt;
    if (rtt < statistics->rttMin)
        statistics->rttMin = rtt;
    if (rtt > statistics->rttMax)
        statistics->rttMax = rtt;
}

bool SendPingRequest(SOCKET socket, const sockaddr_storage* destination, unsigned char* buffer,
                     unsigned dataLength, PingStatistics* statistics) {
    dataLength = BoundEchoDataLength(dataLength);
    int length = BuildEchoRequest(buffer, LOWORD(toolEcho.pingIdentifier),
                                  static_cast<std::uint16_t>(statistics->sent), dataLength,
                                  IsIpv6(*destination));
    int written = SendRequest(socket, destination, buffer, length);
    if (written == SOCKET_ERROR) {
        int error = WSAGetLastError();
        PrintToolLine("[sendto] %s", SocketErrorText(static_cast<unsigned>(error)));
        // A request the stack refused while busy never left: the tick is lost, not the echo.
        if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS)
            ++statistics->sent;
        return false;
    }
    ++statistics->sent;
    if (written < length)
        PrintToolLine("[sendto] wrote %d bytes, return=%d", length, written);
    return written == length;
}

/*** answers without waiting ***/

int TakeQueuedAnswer(SOCKET socket, unsigned char* buffer, int size, const EchoRequestKey& request,
                     int* length, sockaddr_storage* sender) {
    for (;;) {
        int received = ReceiveDatagram(socket, buffer, size, sender);
        if (received == SOCKET_ERROR) {
            int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK)
                return 0;
            if (error == WSAEMSGSIZE)
                continue; // too long for the buffer: none of our answers
            PrintToolLine("[recvfrom] %s", SocketErrorText(static_cast<unsigned>(error)));
            return -1;
        }
        if (MatchAnswer(buffer, received, *sender, request) != ECHO_MATCH_NONE) {
            *length = received;
            return 1;
        }
        ParsePingPacket(buffer, received, *sender, PACKET_RECEIVED, nullptr, nullptr);
    }
}

/*** the trace ***/

int SendTraceProbe(SOCKET socket, const sockaddr_storage* destination, std::uint16_t sequence,
                   unsigned char* buffer, unsigned dataLength, unsigned ttl) {
    const char value[2] = {static_cast<char>(ttl & 0xFF), 0};
    bool ipv6 = IsIpv6(*destination);
    setsockopt(socket, ipv6 ? IPPROTO_IPV6 : IPPROTO_IP, ipv6 ? IPV6_UNICAST_HOPS : IP_TTL, value,
               sizeof value);
    int length =
        BuildEchoRequest(buffer, LOWORD(toolEcho.traceIdentifier), sequence, dataLength, ipv6);
    int written = SendRequest(socket, destination, buffer, length);
    int error = WSAGetLastError();
    if (toolOptions.verbose)
        ParsePingPacket(buffer, length, *destination, PACKET_SENT, nullptr, nullptr);
    if (written == SOCKET_ERROR) {
        PrintToolLine("[sendto] %s", SocketErrorText(static_cast<unsigned>(error)));
        return -1;
    }
    return 0;
}

/*** parsers ***/

// Steps shared by both parsers: the header lines. Returns the offset of the ICMP message,
// or -1 when the datagram cannot hold an ICMP header there (its line is printed). An
// ICMPv6 message comes without its IP header.
static int ParseHeaders(const unsigned char* datagram, int length, const char* dotted, bool ipv6) {
    int header = 0;
    if (!ipv6 && length > 0 && (datagram[0] >> 4) == 4)
        header = (datagram[0] & 0x0F) * 4;
    PrintToolLine("[iphdrlen] %u", static_cast<unsigned>(header));
    if (header > 0 && length >= 20) {
        const unsigned char* ip = datagram;
        PrintToolLine("[iphdr] H:%x V:%x S:%02x L:%04x I:%04x O:%04x T:%02x P:%02x C:%04x S:%08x "
                      "D:%08x",
                      ip[0] & 0x0Fu, static_cast<unsigned>(ip[0] >> 4), ip[1], ReadWord(ip + 2),
                      ReadWord(ip + 4), ReadWord(ip + 6), ip[8], ip[9], ReadWord(ip + 10),
                      ReadLong(ip + 12), ReadLong(ip + 16));
    }
    if (length < header + static_cast<int>(ICMP_HEADER_SIZE)) {
        PrintToolLine("[received] too short (%d bytes) from %s\n", length, dotted);
        return -1;
    }
    const unsigned char* icmp = datagram + header;
    PrintToolLine("[icmphdr] T:%02x C:%02x S:%04x I:%04x Q:%04x", icmp[0], icmp[1],
                  ReadWord(icmp + 2), ReadWord(icmp + 4), ReadWord(icmp + 6));
    return header;
}

// The round trip of our echo reply, or false when the reply is too short to carry the send
// time we put in (such a reply is not one of ours after all).
static bool ReplyRoundTrip(const unsigned char* icmp, int size, std::uint32_t receiveTime,
                           std::uint32_t* rtt) {
    if (size < static_cast<int>(ICMP_HEADER_SIZE) + 4)
        return false;
    *rtt = receiveTime - ReadLong(icmp + ICMP_HEADER_SIZE);
    return true;
}

// Whether `datagram` is the echo reply to `request`.
static bool IsReplyTo(const unsigned char* datagram, int length, const sockaddr_storage& sender,
                      const EchoRequestKey* request) {
    return request != nullptr &&
           MatchAnswer(datagram, length, sender, *request) == ECHO_MATCH_REPLY;
}

// The type of the message at `icmp`, an ICMPv6 one as its IPv4 counterpart.
static int MessageType(const unsigned char* icmp, const sockaddr_storage& sender) {
    return IsIpv6(sender) ? Icmp4Type(icmp[0]) : icmp[0];
}

int ParsePingPacket(const unsigned char* datagram, int length, const sockaddr_storage& sender,
                    PacketMode mode, const EchoRequestKey* request, PingStatistics* statistics) {
    std::uint32_t receiveTime = GetTickCount();
    char dotted[ADDRESS_TEXT_SIZE];
    AddressText(sender, dotted);
    int header = ParseHeaders(datagram, length, dotted, IsIpv6(sender));
    if (header < 0)
        return 0;
    const unsigned char* icmp = datagram + header;
    int size = length - header;
    int type = MessageType(icmp, sender);
    if (type != 0) {
        PrintToolLine("%s%d bytes %s %s: icmp_type=%d (%s) icmp_code=%d",
                      mode == PACKET_SENT ? "[sent] " : "[received] ", size,
                      mode == PACKET_SENT ? "to" : "from", dotted, icmp[0], IcmpTypeName(type),
                      icmp[1]);
        return 0;
    }
    if (!IsReplyTo(datagram, length, sender, request)) {
        PrintToolLine("[received] %d bytes from %s. not for us", size, dotted);
        return 0;
    }
    std::uint32_t rtt = 0;
    if (!ReplyRoundTrip(icmp, size, receiveTime, &rtt)) {
        PrintToolLine("[received] too short (%d bytes) from %s\n", length, dotted);
        return 0;
    }
    CountPingReply(statistics, rtt);
    char time[ROUND_TRIP_TEXT_SIZE];
    PrintToolLine("%d bytes from %s: icmp_seq=%d time=%s ms", size, dotted,
                  static_cast<int>(ReadWord(icmp + 6)), RoundTripText(rtt, time));
    return 1;
}

int ParseTracePacket(const unsigned char* datagram, int length, const sockaddr_storage& sender,
                     unsigned hop, char* routerLine, const EchoRequestKey* request) {
    std::uint32_t receiveTime = GetTickCount();
    char dotted[ADDRESS_TEXT_SIZE];
    AddressText(sender, dotted);
    int header = ParseHeaders(datagram, length, dotted, IsIpv6(sender));
    if (header < 0)
        return -1;
    const unsigned char* icmp = datagram + header;
    int size = length - header;
    int type = MessageType(icmp, sender);
    if (request == nullptr || MatchAnswer(datagram, length, sender, *request) == ECHO_MATCH_NONE) {
        PrintToolLine("[received] %d bytes from %s. not for us", size, dotted);
        return -1;
    }
    if (type != 0) {
        char line[LINE_SIZE];
        char* out = routerLine != nullptr ? routerLine : line;
        if (type == 11)
            std::snprintf(out, LINE_SIZE, "%2u %s:", hop, dotted);
        else
            std::snprintf(out, LINE_SIZE, "%2u %s: (%s)", hop, dotted, IcmpTypeName(type));
        if (routerLine == nullptr)
            AppendToolLine(toolEcho.outputBox, line);
        return type;
    }
    std::uint32_t rtt = 0;
    if (!ReplyRoundTrip(icmp, size, receiveTime, &rtt)) {
        PrintToolLine("[received] too short (%d bytes) from %s\n", length, dotted);
        return -1;
    }
    char time[ROUND_TRIP_TEXT_SIZE];
    PrintToolLine("%2u %s: time=%s ms", hop, dotted, RoundTripText(rtt, time));
    return 0;
}

/*** sockets and output ***/

SOCKET CloseRawSocket(SOCKET socket) {
    if (closesocket(socket) == 0) {
        PrintToolLine("[%u] socket closed.", static_cast<unsigned>(socket));
        return INVALID_SOCKET;
    }
    PrintToolLine("[%u] close error: %s", static_cast<unsigned>(socket),
                  SocketErrorText(static_cast<unsigned>(WSAGetLastError())));
    return socket;
}

void AppendToolLine(HWND box, const char* text) {
    if (!toolOptions.verbose && text[0] == '[')
        return;
    AppendResults(box, text);
    AppendResults(box, "\r\n");
}

void PrintToolLine(const char* format, ...) {
    char line[LINE_SIZE];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    AppendToolLine(toolEcho.outputBox, line);
}

unsigned ExpandLineFeeds(const char* text, char* out, unsigned size) {
    unsigned taken = 0;
    unsigned written = 0;
    while (text[taken] != '\0') {
        unsigned need = text[taken] == '\n' ? 2 : 1;
        if (written + need >= size)
            break;
        if (text[taken] == '\n')
            out[written++] = '\r';
        out[written++] = text[taken++];
    }
    if (size > 0)
        out[written] = '\0';
    return taken;
}

void AppendResults(HWND box, const char* text) {
    if (box == 0)
        return; // no results box: the lines go nowhere
    char chunk[APPEND_CHUNK];
    while (*text != '\0') {
        unsigned taken = ExpandLineFeeds(text, chunk, sizeof chunk);
        LPARAM end = SendMessage(box, WM_GETTEXTLENGTH, 0, 0);
        SendMessage(box, EM_SETSEL, static_cast<WPARAM>(end), end);
        SendMessage(box, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(chunk));
        text += taken;
    }
}

const char* IcmpTypeName(int type) {
    static const char* const names[17] = {
        "Echo Reply", "ICMP 1",      "ICMP 2",     "DestUnrchbl", "SrcQnch",
        "Redirect",   "6",           "7",          "Echo",        "9",
        "10",         "Time Exceed", "ParamPrblm", "Timestamp",   "Timestamp reply",
        "InfoRqst",   "InfoRply"};
    if (type < 0 || type > 16)
        return "Out-of-range";
    return names[type];
}
