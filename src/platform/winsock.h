// The network stack as the program sees it: Winsock 1.1 names, numbers and behaviour for
// start-up, sockets that never wait, name look-ups answered by a window message, dotted
// addresses, error numbers, and socket events posted as window messages.
#pragma once

#include "platform/types.h"

#include <cstddef>
#include <cstdint>

// The constants below share their names with the system's socket macros. A platform source
// that needs both includes the system headers first and removes those macros before this
// header, as winsock.cpp does; logic files never include the system headers at all.
#ifdef SOL_SOCKET
#error "platform/winsock.h must come before the system's socket headers are seen"
#endif

namespace platform {

// The stack's u_short and u_long are 16 and 32 bits. They appear here as std::uint16_t and
// std::uint32_t, because the system's own u_long (64 bits) is visible in most files.
using WORD = std::uint16_t;

// A socket is known by a number; INVALID_SOCKET is none.
using SOCKET = std::uint32_t;
inline constexpr SOCKET INVALID_SOCKET = ~SOCKET{0};
inline constexpr int SOCKET_ERROR = -1;

constexpr WORD MAKEWORD(unsigned low, unsigned high) {
    return static_cast<WORD>((low & 0xFFu) | ((high & 0xFFu) << 8));
}

inline constexpr int AF_UNSPEC = 0;
inline constexpr int AF_INET = 2;
inline constexpr int AF_INET6 = 23;
inline constexpr int SOCK_STREAM = 1;
inline constexpr int SOCK_DGRAM = 2;
inline constexpr int SOCK_RAW = 3;
inline constexpr int IPPROTO_IP = 0;
inline constexpr int IPPROTO_ICMP = 1;
inline constexpr int IPPROTO_TCP = 6;
inline constexpr int IPPROTO_UDP = 17;
inline constexpr int IPPROTO_IPV6 = 41;
inline constexpr int IPPROTO_ICMPV6 = 58;

inline constexpr std::uint32_t INADDR_ANY = 0;
inline constexpr std::uint32_t INADDR_NONE = 0xFFFFFFFFu;

inline constexpr int MSG_OOB = 0x1;
inline constexpr int MSG_PEEK = 0x2;
inline constexpr int MSG_DONTROUTE = 0x4;

// Levels for setsockopt, and its options: the time to live and the IPv6 hop limit.
inline constexpr int SOL_SOCKET = 0xFFFF;
inline constexpr int IP_TTL = 7;
inline constexpr int IPV6_UNICAST_HOPS = 4;

// Addresses are in network byte order.
struct in_addr {
    std::uint32_t s_addr;
};

struct sockaddr {
    std::uint16_t sa_family;
    char sa_data[14];
};

// 16 bytes, the layout of the stack's IPv4 socket address.
struct sockaddr_in {
    short sin_family;
    std::uint16_t sin_port;
    in_addr sin_addr;
    char sin_zero[8];
};

// An IPv6 address, its bytes in network order.
struct in6_addr {
    union {
        std::uint8_t Byte[16];
        std::uint16_t Word[8];
    } u;
};

// 28 bytes, the layout of the stack's IPv6 socket address.
struct sockaddr_in6 {
    short sin6_family;
    std::uint16_t sin6_port;
    std::uint32_t sin6_flowinfo;
    in6_addr sin6_addr;
    std::uint32_t sin6_scope_id; // the interface of a link-local address, 0 none
};

// Room for either kind of socket address.
struct sockaddr_storage {
    short ss_family;
    char ss_pad[126];
};

// Texts of addresses: "255.255.255.255", and the longest IPv6 form with a zone index.
inline constexpr int INET_ADDRSTRLEN = 22;
inline constexpr int INET6_ADDRSTRLEN = 65;

// A name look-up's answer. It lives in storage of the look-up functions and is overwritten
// by the next successful look-up.
struct hostent {
    char* h_name;       // official name
    char** h_aliases;   // other names, ending with a null pointer
    short h_addrtype;   // AF_INET, or AF_INET6
    short h_length;     // 4, or 16
    char** h_addr_list; // addresses, h_length bytes each in network order, ending with null
};

inline constexpr int WSADESCRIPTION_LEN = 256;
inline constexpr int WSASYS_STATUS_LEN = 128;

struct WSADATA {
    WORD wVersion;     // the version the program will use
    WORD wHighVersion; // the highest version this stack offers
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};

// The vendor description that WSAStartup reports. Start-up chooses the echo engine by
// vendor names in this text; ours names no vendor, so the user's settings decide.
inline constexpr char stackDescription[] = "Linux sockets";

// Error numbers, as WSAGetLastError gives them.
inline constexpr int WSAEINTR = 10004; // blocking call cancelled
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036; // another blocking call is in progress
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSAENOTEMPTY = 10066;
inline constexpr int WSAEUSERS = 10068;
inline constexpr int WSAEDQUOT = 10069;
inline constexpr int WSAESTALE = 10070;
inline constexpr int WSAEREMOTE = 10071;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSA_NOT_ENOUGH_MEMORY = 8;
inline constexpr int WSATYPE_NOT_FOUND = 10109;
inline constexpr int WSAHOST_NOT_FOUND = 11001; // no such name (authoritative)
inline constexpr int WSATRY_AGAIN = 11002;      // no answer or server failure
inline constexpr int WSANO_RECOVERY = 11003;    // refused or not implemented
inline constexpr int WSANO_DATA = 11004;        // the name exists but has no address

// Byte order. The names are in parentheses so that a function-like macro of the same name
// in a platform source cannot rewrite them.
constexpr std::uint16_t(htons)(std::uint16_t value) {
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}
constexpr std::uint16_t(ntohs)(std::uint16_t value) {
    return (htons)(value);
}
constexpr std::uint32_t(htonl)(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}
constexpr std::uint32_t(ntohl)(std::uint32_t value) {
    return (htonl)(value);
}

// ---- Start-up and errors ----

// Starts the stack. Returns 0 and fills `data`, or an error number (WSAVERNOTSUPPORTED for
// a version below 1.1, WSAEFAULT without `data`). Every other call fails with
// WSANOTINITIALISED until it has succeeded; each success wants its WSACleanup.
int WSAStartup(WORD versionRequested, WSADATA* data);
// The last WSACleanup closes every socket still open and calls off the look-ups under way.
int WSACleanup();

int WSAGetLastError();

// ---- Sockets ----
// No call waits: one that would (a connect under way, a receive with nothing there, a send
// with no room) fails with WSAEWOULDBLOCK, and WSAAsyncSelect tells when to call again.

SOCKET socket(int family, int type, int protocol);
int bind(SOCKET socket, const sockaddr* address, int addressLength);
int connect(SOCKET socket, const sockaddr* address, int addressLength);
int send(SOCKET socket, const char* buffer, int length, int flags);
int recv(SOCKET socket, char* buffer, int length, int flags);
int sendto(SOCKET socket, const char* buffer, int length, int flags, const sockaddr* to,
           int toLength);
// A datagram longer than `length` fills the buffer and fails with WSAEMSGSIZE. The sender
// is told as a sockaddr_in, or on an AF_INET6 socket as a sockaddr_in6; `*fromLength` too
// small for it fails with WSAEFAULT before anything is read.
int recvfrom(SOCKET socket, char* buffer, int length, int flags, sockaddr* from, int* fromLength);
// Only IP_TTL and, at level IPPROTO_IPV6, IPV6_UNICAST_HOPS are offered (other options
// fail with WSAENOPROTOOPT); the value is 1 to 4 bytes, least significant byte first.
int setsockopt(SOCKET socket, int level, int option, const char* value, int valueLength);
int closesocket(SOCKET socket);

// ---- Socket events as window messages ----

// Events for WSAAsyncSelect: the ones the program connects and reads an answer by.
inline constexpr std::int32_t FD_READ = 0x01;
inline constexpr std::int32_t FD_CONNECT = 0x10;
inline constexpr std::int32_t FD_CLOSE = 0x20;

// The long parameter of an event message: the event in the low word, the error in the high.
constexpr int WSAGETSELECTEVENT(LPARAM value) {
    return static_cast<int>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}
constexpr int WSAGETSELECTERROR(LPARAM value) {
    return static_cast<int>((static_cast<std::uint32_t>(value) >> 16) & 0xFFFFu);
}

// Posts `message` to `window` (word parameter: the socket; long parameter: the event and
// the error) when one of `events` happens. FD_READ comes once until the program
// receives; FD_CLOSE once, when the far end closes or the connection fails; FD_CONNECT once
// for each connect, when it has succeeded (error 0) or failed (its error, e.g.
// WSAECONNREFUSED; nothing else comes after a failed one); other events fail with
// WSAEINVAL. A connect that fails with WSAEWOULDBLOCK goes on and is told by FD_CONNECT
// when it was selected (a connect that fails at once, e.g. WSAENETUNREACH, fails with its
// error and posts nothing). Until a stream socket with FD_CONNECT selected is connected, it
// reports nothing else. Events 0 stops the messages.
int WSAAsyncSelect(SOCKET socket, HWND window, UINT message, std::int32_t events);

// ---- Addresses and names ----

// The dotted form "a.b.c.d", or the short forms "a.b.c", "a.b" and "a" whose last part
// fills the remaining bytes; parts in decimal, octal (leading 0) or hexadecimal (0x).
// INADDR_NONE for anything else.
std::uint32_t inet_addr(const char* text);
// The dotted form of `address` in a buffer of this function's, overwritten by the next call.
char* inet_ntoa(in_addr address);

// IPv4 text ("a.b.c.d" only) or IPv6 text (without a zone) into `address` (4 or 16
// bytes, network order): 1; 0 when the text is not an address of that family; -1 with
// WSAEAFNOSUPPORT for another family.
int inet_pton(int family, const char* text, void* address);
// The text of an address in `buffer`; for IPv6 its standard short form: lower case, leading
// zeros dropped, the longest run of two or more zero groups (the first of equal runs)
// written "::", an IPv4-mapped address ending in the dotted form. Null with WSAEAFNOSUPPORT
// for another family, WSAEFAULT (ERROR_INVALID_PARAMETER on Windows) when `size` is short.
const char* inet_ntop(int family, const void* address, char* buffer, std::size_t size);

// The index of the network interface with this name, 0 when there is none.
std::uint32_t if_nametoindex(const char* name);

// ---- Address information ----

inline constexpr int AI_PASSIVE = 0x01;
inline constexpr int AI_CANONNAME = 0x02;
inline constexpr int AI_NUMERICHOST = 0x04;

struct addrinfo {
    int ai_flags;
    int ai_family;   // AF_INET or AF_INET6
    int ai_socktype; // SOCK_STREAM unless the hints ask for another
    int ai_protocol;
    std::size_t ai_addrlen;
    char* ai_canonname;
    sockaddr* ai_addr; // a sockaddr_in or sockaddr_in6 of our layout
    addrinfo* ai_next;
};

// The addresses of a literal, in the order the system prefers them. A name would have to
// be looked up, which waits: this call takes only literals (AI_NUMERICHOST; names go to the
// look-ups answered by messages) and fails with WSAEWOULDBLOCK without it. An IPv6 literal
// may carry a zone, "fe80::1%eth0" or "fe80::1%2", given as sin6_scope_id. 0, or
// WSAHOST_NOT_FOUND for a text that is no literal (or names no interface),
// WSAEAFNOSUPPORT for a family hint other than AF_UNSPEC, AF_INET or AF_INET6,
// WSAEINVAL without `node`, WSATYPE_NOT_FOUND for a service that is no port number,
// WSA_NOT_ENOUGH_MEMORY when memory ran out. The answers carry the hints' socket type
// (SOCK_STREAM without one) and the service's port. Like inet_pton and inet_ntop, it needs
// no WSAStartup: it is a conversion.
int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result);
void freeaddrinfo(addrinfo* list);

// ---- Look-ups answered by a window message ----

// The buffer an asynchronous look-up lays its answer out in: a hostent, then the lists and
// names it points to. Give it this size, aligned for a hostent.
inline constexpr int MAXGETHOSTSTRUCT = 1024;

// The long parameter of a look-up's message: the bytes the answer needs in the low word,
// the error in the high.
constexpr LPARAM WSAMAKEASYNCREPLY(unsigned bufferLength, unsigned error) {
    return static_cast<LPARAM>((bufferLength & 0xFFFFu) | ((error & 0xFFFFu) << 16));
}
constexpr int WSAGETASYNCBUFLEN(LPARAM value) {
    return static_cast<int>(static_cast<std::uint32_t>(value) & 0xFFFFu);
}
constexpr int WSAGETASYNCERROR(LPARAM value) {
    return static_cast<int>((static_cast<std::uint32_t>(value) >> 16) & 0xFFFFu);
}

// Start a look-up on the worker threads and return at once with its task handle (null,
// with the reason in WSAGetLastError, when it cannot start). When it ends, the answer is
// laid out in `buffer` and `message` is posted to `window`: word parameter the task handle,
// long parameter WSAMAKEASYNCREPLY(bytes used, 0); or error WSAHOST_NOT_FOUND,
// WSATRY_AGAIN, WSANO_RECOVERY or WSANO_DATA, or WSAENOBUFS with the bytes it would need
// when `bufferLength` is too small (the buffer is then left as it was). The buffer must stay
// valid until the message comes or the request is cancelled. Look-ups beyond the workers'
// number wait their turn.
HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer,
                             int bufferLength);
// The same for a name's addresses of both families, in an entry of IPv6 form (AF_INET6,
// 16 bytes): the IPv4 addresses first, IPv4-mapped (::ffff:a.b.c.d), then the IPv6 ones;
// the official name is the first family's that knows the name, the aliases those of both.
// It fails only when neither family knows the name, with the IPv4 failure.
HANDLE WSAAsyncGetHostByNameAllFamilies(HWND window, UINT message, const char* name, char* buffer,
                                        int bufferLength);
// By address: type AF_INET with 4 bytes, or AF_INET6 with 16 (the answer then of IPv6 form).
HANDLE WSAAsyncGetHostByAddr(HWND window, UINT message, const char* address, int length, int type,
                             char* buffer, int bufferLength);
// Calls a look-up off: its message never comes and its buffer is no longer written. Fails
// with WSAEALREADY when it has ended (its message posted) and WSAEINVAL for a handle that
// was never a task. The last WSACleanup calls off every look-up under way.
int WSACancelAsyncRequest(HANDLE task);

// ---- Inside the layer ----

// Why a TCP listening socket cannot be bound to `address` (dotted) and `port`: the error
// number a bind gives now, 0 when it succeeds (the socket is closed again at once).
int ListenBindError(const char* address, unsigned port);

// Connects to a listening socket at `address` and `port` and closes the connection at
// once, without waiting: what wakes a listener that waits for a connection.
void TouchListener(const char* address, unsigned port);

} // namespace platform
