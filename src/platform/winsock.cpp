// Winsock 1.1 on non-blocking POSIX sockets: the socket table, socket events as window
// messages, name look-ups on worker threads answered by messages, and the translation of
// system error numbers into Winsock's. No call waits.
//
// Order: the system headers and the values taken from them; our header; the error tables;
// the socket table; start-up; sockets; addresses; listeners; look-ups.

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

// The system's numbers for the names that our header gives Winsock's numbers.
constexpr int systemInet = AF_INET;
constexpr int systemInet6 = AF_INET6;
constexpr int systemStream = SOCK_STREAM;
constexpr int systemDatagram = SOCK_DGRAM;
constexpr int systemRaw = SOCK_RAW;
constexpr int systemSocketLevel = SOL_SOCKET;
constexpr int systemIpLevel = IPPROTO_IP;
constexpr int systemTimeToLive = IP_TTL;
constexpr int systemIpv6Level = IPPROTO_IPV6;
constexpr int systemHopLimit = IPV6_UNICAST_HOPS;
constexpr int systemOutOfBand = MSG_OOB;
constexpr int systemPeek = MSG_PEEK;
constexpr int systemDontRoute = MSG_DONTROUTE;

} // namespace

#undef AF_UNSPEC
#undef AF_INET
#undef AF_INET6
#undef IPPROTO_IPV6
#undef IPPROTO_ICMPV6
#undef INET_ADDRSTRLEN
#undef INET6_ADDRSTRLEN
#undef AI_PASSIVE
#undef AI_CANONNAME
#undef AI_NUMERICHOST
#undef SOCK_STREAM
#undef SOCK_DGRAM
#undef SOCK_RAW
#undef IPPROTO_IP
#undef IPPROTO_ICMP
#undef IPPROTO_TCP
#undef IPPROTO_UDP
#undef INADDR_ANY
#undef INADDR_NONE
#undef MSG_OOB
#undef MSG_PEEK
#undef MSG_DONTROUTE
#undef SOL_SOCKET
#undef IP_TTL
#undef IPV6_UNICAST_HOPS

#include "platform/winsock.h"

#include "platform/capability_internal.h"
#include "platform/lookups_internal.h"
#include "platform/messages.h"
#include "platform/sockaddr_internal.h"
#include "platform/testing_sys.h"

namespace platform {

// ---- Error numbers ----

namespace {

struct ErrorTranslation {
    int systemError;
    int winsockError;
};

// Every errno a socket call or a look-up can meet here. A connect in progress is "would
// block" on this stack.
constexpr ErrorTranslation errnoTable[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
    {EAGAIN, WSAEWOULDBLOCK},
    {EINPROGRESS, WSAEWOULDBLOCK},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENONET, WSAENETDOWN},
    {ENODEV, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET},
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
    {ENOTEMPTY, WSAENOTEMPTY},
    {EUSERS, WSAEUSERS},
    {EDQUOT, WSAEDQUOT},
    {ESTALE, WSAESTALE},
    {EREMOTE, WSAEREMOTE},
};

} // namespace

int WinsockErrorFromErrno(int systemError) {
    for (const ErrorTranslation& entry : errnoTable) {
        if (entry.systemError == systemError)
            return entry.winsockError;
    }
    // Something this stack has no number for; callers still see a failure of the network.
    return WSAENETDOWN;
}

int WinsockErrorFromResolver(int resolverError) {
    switch (resolverError) {
    case HOST_NOT_FOUND:
        return WSAHOST_NOT_FOUND;
    case TRY_AGAIN:
        return WSATRY_AGAIN;
    case NO_DATA:
        return WSANO_DATA;
    default:
        return WSANO_RECOVERY;
    }
}

// ---- The socket table ----

namespace {

struct SocketRecord {
    bool inUse;
    int descriptor; // the system's socket, always in non-blocking mode
    int type;       // SOCK_STREAM, SOCK_DGRAM or SOCK_RAW
    // Events selected with WSAAsyncSelect, and the window message that reports them.
    HWND window;
    UINT message;
    std::int32_t events; // FD_* bits; 0: nothing is reported
    bool readPosted;     // FD_READ reported; the next receive asks for another
    bool closePosted;    // FD_CLOSE reported; nothing more is reported on reading
    bool unconnected;    // a stream socket with FD_CONNECT selected, not connected yet
    QSocketNotifier* readNotifier;
    QSocketNotifier* connectNotifier; // watches a connect under way for FD_CONNECT
};

constexpr int maxSockets = 256;    // reported as iMaxSockets
constexpr int maxDatagram = 65507; // the largest UDP payload over IPv4

SocketRecord socketTable[maxSockets];
int startupCount = 0; // WSAStartup calls not yet matched by WSACleanup
int lastError = 0;

int Fail(int error) {
    lastError = error;
    return SOCKET_ERROR;
}

// Every call that changes the stack's state or uses a socket starts here.
bool MayCall() {
    if (startupCount == 0) {
        lastError = WSANOTINITIALISED;
        return false;
    }
    return true;
}

SocketRecord* FindSocket(SOCKET socket) {
    for (SocketRecord& record : socketTable) {
        if (record.inUse && static_cast<SOCKET>(record.descriptor) == socket)
            return &record;
    }
    return nullptr;
}

// Reads a Winsock IPv4 socket address given by the program.
int ToSystemAddress(const sockaddr* address, int length, ::sockaddr_in* systemAddress) {
    if (address == nullptr || length < static_cast<int>(sizeof(sockaddr_in)))
        return WSAEFAULT;
    sockaddr_in given;
    std::memcpy(&given, address, sizeof given);
    if (given.sin_family != AF_INET)
        return WSAEAFNOSUPPORT;
    *systemAddress = ::sockaddr_in{};
    systemAddress->sin_family = systemInet;
    systemAddress->sin_port = given.sin_port;
    systemAddress->sin_addr.s_addr = given.sin_addr.s_addr;
    return 0;
}

} // namespace

int ToSystemSocketAddress(const sockaddr* address, int length, ::sockaddr_storage* system,
                          socklen_t* systemLength) {
    if (address == nullptr || length < static_cast<int>(sizeof(sockaddr_in)))
        return WSAEFAULT;
    short family = 0;
    std::memcpy(&family, address, sizeof family);
    *system = ::sockaddr_storage{};
    if (family == AF_INET) {
        *systemLength = sizeof(::sockaddr_in);
        return ToSystemAddress(address, length, reinterpret_cast<::sockaddr_in*>(system));
    }
    if (family != AF_INET6)
        return WSAEAFNOSUPPORT;
    if (length < static_cast<int>(sizeof(sockaddr_in6)))
        return WSAEFAULT;
    sockaddr_in6 given;
    std::memcpy(&given, address, sizeof given);
    auto* ipv6 = reinterpret_cast<::sockaddr_in6*>(system);
    ipv6->sin6_family = systemInet6;
    ipv6->sin6_port = given.sin6_port;
    ipv6->sin6_flowinfo = given.sin6_flowinfo;
    std::memcpy(&ipv6->sin6_addr, given.sin6_addr.u.Byte, 16);
    ipv6->sin6_scope_id = given.sin6_scope_id;
    *systemLength = sizeof(::sockaddr_in6);
    return 0;
}

namespace {

bool ToSystemFlags(int flags, int* systemFlags) {
    if ((flags & ~(MSG_OOB | MSG_PEEK | MSG_DONTROUTE)) != 0)
        return false;
    *systemFlags = ((flags & MSG_OOB) != 0 ? systemOutOfBand : 0) |
                   ((flags & MSG_PEEK) != 0 ? systemPeek : 0) |
                   ((flags & MSG_DONTROUTE) != 0 ? systemDontRoute : 0);
    return true;
}

// ---- Socket events as window messages ----

// The long parameter of an event message: the event in the low word, the error in the high.
void PostSocketEvent(const SocketRecord& record, int event, int error) {
    LPARAM reply = static_cast<LPARAM>((static_cast<std::uint32_t>(error) << 16) |
                                       (static_cast<std::uint32_t>(event) & 0xFFFFu));
    PostMessage(record.window, record.message, static_cast<WPARAM>(record.descriptor), reply);
}

// Turns the notifier on only while an event can still be reported, so that a readable
// socket nobody has read from yet does not wake the loop over and over. A stream socket
// that is not connected yet reports nothing but its FD_CONNECT.
void UpdateNotifier(SocketRecord& record) {
    if (record.readNotifier != nullptr)
        record.readNotifier->setEnabled((record.events & (FD_READ | FD_CLOSE)) != 0 &&
                                        !record.readPosted && !record.closePosted &&
                                        !record.unconnected);
}

void DropNotifier(SocketRecord& record) {
    // Deleted directly: their handlers only post messages, so they are not running.
    delete record.readNotifier;
    record.readNotifier = nullptr;
    delete record.connectNotifier;
    record.connectNotifier = nullptr;
}

// A connect reported by FD_CONNECT ended, with its error in the high word. After a failed
// one nothing more is reported; after a successful one, reading and closing are.
void OnConnectEnded(int descriptor) {
    SocketRecord* record = FindSocket(static_cast<SOCKET>(descriptor));
    if (record == nullptr || record->connectNotifier == nullptr)
        return;
    record->connectNotifier->setEnabled(false);
    int outcome = 0;
    socklen_t outcomeLength = sizeof outcome;
    if (::getsockopt(descriptor, systemSocketLevel, SO_ERROR, &outcome, &outcomeLength) != 0)
        outcome = errno;
    record->unconnected = false;
    record->closePosted = outcome != 0;
    if ((record->events & FD_CONNECT) != 0)
        PostSocketEvent(*record, FD_CONNECT, outcome != 0 ? WinsockErrorFromErrno(outcome) : 0);
    UpdateNotifier(*record);
}

// Watches the connect just begun on a socket that reports FD_CONNECT.
void WatchConnect(SocketRecord& record) {
    int descriptor = record.descriptor;
    if (record.connectNotifier == nullptr) {
        record.connectNotifier = new QSocketNotifier(descriptor, QSocketNotifier::Write);
        QObject::connect(record.connectNotifier, &QSocketNotifier::activated,
                         [descriptor] { OnConnectEnded(descriptor); });
    }
    record.connectNotifier->setEnabled(true);
}

void OnReadable(int descriptor) {
    SocketRecord* record = FindSocket(static_cast<SOCKET>(descriptor));
    if (record == nullptr)
        return;
    char byte;
    ssize_t count = ::recv(descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (count > 0 || (count == 0 && record->type != SOCK_STREAM)) {
        if ((record->events & FD_READ) != 0)
            PostSocketEvent(*record, FD_READ, 0);
        record->readPosted = true;
    } else if (record->type == SOCK_STREAM) {
        // The far end closed (0) or the connection failed, e.g. reset.
        if ((record->events & FD_CLOSE) != 0)
            PostSocketEvent(*record, FD_CLOSE, count == 0 ? 0 : WinsockErrorFromErrno(errno));
        record->closePosted = true;
    } else {
        // A datagram socket's error (an ICMP message about an earlier send).
        if ((record->events & FD_READ) != 0)
            PostSocketEvent(*record, FD_READ, WinsockErrorFromErrno(errno));
        record->readPosted = true;
    }
    UpdateNotifier(*record);
}

} // namespace

// ---- Start-up and errors ----

namespace {
void CancelAsyncLookups();
} // namespace

int WSAStartup(WORD versionRequested, WSADATA* data) {
    unsigned major = versionRequested & 0xFFu;
    unsigned minor = versionRequested >> 8;
    if (major < 1 || (major == 1 && minor < 1))
        return WSAVERNOTSUPPORTED;
    if (data == nullptr)
        return WSAEFAULT;
    *data = WSADATA{};
    data->wVersion = MAKEWORD(1, 1);
    data->wHighVersion = MAKEWORD(1, 1);
    std::snprintf(data->szDescription, sizeof data->szDescription, "%s", stackDescription);
    std::snprintf(data->szSystemStatus, sizeof data->szSystemStatus, "Running");
    data->iMaxSockets = maxSockets;
    data->iMaxUdpDg = maxDatagram;
    data->lpVendorInfo = nullptr;
    ++startupCount;
    return 0;
}

int WSACleanup() {
    if (!MayCall())
        return SOCKET_ERROR;
    if (--startupCount == 0) {
        CancelAsyncLookups();
        for (SocketRecord& record : socketTable) {
            DropNotifier(record);
            if (record.inUse)
                ::close(record.descriptor);
            record = SocketRecord{};
        }
    }
    return 0;
}

int WSAGetLastError() {
    return lastError;
}

// ---- Sockets ----

SOCKET socket(int family, int type, int protocol) {
    if (!MayCall())
        return INVALID_SOCKET;
    if (family != AF_INET && family != AF_INET6) {
        lastError = WSAEAFNOSUPPORT;
        return INVALID_SOCKET;
    }
    int systemFamily = family == AF_INET ? systemInet : systemInet6;
    int systemType = 0;
    if (type == SOCK_STREAM) {
        systemType = systemStream;
    } else if (type == SOCK_DGRAM) {
        systemType = systemDatagram;
    } else if (type == SOCK_RAW) {
        systemType = systemRaw;
    } else {
        lastError = WSAESOCKTNOSUPPORT;
        return INVALID_SOCKET;
    }
    SocketRecord* slot = nullptr;
    for (SocketRecord& record : socketTable) {
        if (!record.inUse) {
            slot = &record;
            break;
        }
    }
    if (slot == nullptr) {
        lastError = WSAEMFILE;
        return INVALID_SOCKET;
    }
    int flags = systemType | SOCK_NONBLOCK | SOCK_CLOEXEC;
    int descriptor = type == SOCK_RAW ? OpenRawSocket(systemFamily, flags, protocol)
                                      : ::socket(systemFamily, flags, protocol);
    if (descriptor < 0) {
        lastError = WinsockErrorFromErrno(errno);
        return INVALID_SOCKET;
    }
    *slot = SocketRecord{true, descriptor, type};
    return static_cast<SOCKET>(descriptor);
}

int bind(SOCKET socket, const sockaddr* address, int addressLength) {
    if (!MayCall())
        return SOCKET_ERROR;
    SocketRecord* record = FindSocket(socket);
    if (record == nullptr)
        return Fail(WSAENOTSOCK);
    ::sockaddr_storage systemAddress;
    socklen_t systemLength = 0;
    int error = ToSystemSocketAddress(address, addressLength, &systemAddress, &systemLength);
    if (error != 0)
        return Fail(error);
    if (::bind(record->descriptor, reinterpret_cast<const ::sockaddr*>(&systemAddress),
               systemLength) != 0)
        return Fail(WinsockErrorFromErrno(errno));
    return 0;
}

int connect(SOCKET socket, const sockaddr* address, int addressLength) {
    if (!MayCall())
        return SOCKET_ERROR;
    SocketRecord* record = FindSocket(socket);
    if (record == nullptr)
        return Fail(WSAENOTSOCK);
    ::sockaddr_storage systemAddress;
    socklen_t systemLength = 0;
    int error = ToSystemSocketAddress(address, addressLength, &systemAddress, &systemLength);
    if (error != 0)
        return Fail(error);
    bool reported = (record->events & FD_CONNECT) != 0;
    if (::connect(record->descriptor, reinterpret_cast<const ::sockaddr*>(&systemAddress),
                  systemLength) == 0) {
        if (reported) {
            // Done at once; the program still hears of it as it would later.
            record->unconnected = false;
            PostSocketEvent(*record, FD_CONNECT, 0);
            UpdateNotifier(*record);
        }
        return 0;
    }
    if (errno != EINPROGRESS && errno != EINTR)
        return Fail(WinsockErrorFromErrno(errno));
    if (reported)
        WatchConnect(*record);
    return Fail(WSAEWOULDBLOCK); // goes on in the background, told by FD_CONNECT if asked
}

namespace {

// send and sendto: a stream socket takes what fits in its send buffer now; a datagram goes
// out whole or not at all.
int SendData(SOCKET socket, const char* buffer, int length, int flags, const sockaddr* to,
             int toLength) {
    if (!MayCall())
        return SOCKET_ERROR;
    SocketRecord* record = FindSocket(socket);
    if (record == nullptr)
        return Fail(WSAENOTSOCK);
    if (length < 0)
        return Fail(WSAEINVAL);
    if (buffer == nullptr && length > 0)
        return Fail(WSAEFAULT);
    int systemFlags = 0;
    if (!ToSystemFlags(flags, &systemFlags))
        return Fail(WSAEOPNOTSUPP);
    ::sockaddr_storage systemAddress;
    const ::sockaddr* destination = nullptr;
    socklen_t destinationLength = 0;
    if (to != nullptr) {
        int error = ToSystemSocketAddress(to, toLength, &systemAddress, &destinationLength);
        if (error != 0)
            return Fail(error);
        destination = reinterpret_cast<const ::sockaddr*>(&systemAddress);
    }
    int sent = 0;
    for (;;) {
        ssize_t count =
            ::sendto(record->descriptor, buffer + sent, static_cast<size_t>(length - sent),
                     systemFlags | MSG_NOSIGNAL, destination, destinationLength);
        if (count >= 0) {
            sent += static_cast<int>(count);
            if (sent >= length || record->type != SOCK_STREAM)
                return sent;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Fail(WinsockErrorFromErrno(errno));
        return sent > 0 ? sent : Fail(WSAEWOULDBLOCK);
    }
}

// The room a receive must offer for the sender's address: an IPv6 socket's senders are
// IPv6 addresses.
int SenderRoom(const SocketRecord& record) {
    int family = 0;
    socklen_t length = sizeof family;
    bool ipv6 =
        ::getsockopt(record.descriptor, systemSocketLevel, SO_DOMAIN, &family, &length) == 0 &&
        family == systemInet6;
    return static_cast<int>(ipv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
}

// The sender of a datagram in the stack's form, an IPv4 or an IPv6 address; the caller's
// room was checked for the socket's family.
void GiveSender(const ::sockaddr_storage& sender, socklen_t length, sockaddr* from,
                int* fromLength) {
    if (sender.ss_family == systemInet && length >= sizeof(::sockaddr_in)) {
        const auto& ipv4 = reinterpret_cast<const ::sockaddr_in&>(sender);
        sockaddr_in given{};
        given.sin_family = AF_INET;
        given.sin_port = ipv4.sin_port;
        given.sin_addr.s_addr = ipv4.sin_addr.s_addr;
        std::memcpy(from, &given, sizeof given);
        *fromLength = sizeof given;
    } else if (sender.ss_family == systemInet6 && length >= sizeof(::sockaddr_in6)) {
        const auto& ipv6 = reinterpret_cast<const ::sockaddr_in6&>(sender);
        sockaddr_in6 given{};
        given.sin6_family = AF_INET6;
        given.sin6_port = ipv6.sin6_port;
        given.sin6_flowinfo = ipv6.sin6_flowinfo;
        std::memcpy(given.sin6_addr.u.Byte, &ipv6.sin6_addr, 16);
        given.sin6_scope_id = ipv6.sin6_scope_id;
        std::memcpy(from, &given, sizeof given);
        *fromLength = sizeof given;
    }
}

// recv and recvfrom: what is there (a stream) or one datagram, WSAEWOULDBLOCK when nothing is.
int ReceiveData(SOCKET socket, char* buffer, int length, int flags, sockaddr* from,
                int* fromLength) {
    if (!MayCall())
        return SOCKET_ERROR;
    SocketRecord* record = FindSocket(socket);
    if (record == nullptr)
        return Fail(WSAENOTSOCK);
    if (length < 0)
        return Fail(WSAEINVAL);
    if (buffer == nullptr && length > 0)
        return Fail(WSAEFAULT);
    if (from != nullptr && (fromLength == nullptr || *fromLength < SenderRoom(*record)))
        return Fail(WSAEFAULT);
    int systemFlags = 0;
    if (!ToSystemFlags(flags, &systemFlags))
        return Fail(WSAEOPNOTSUPP);
    if (record->readPosted) {
        record->readPosted = false; // each receive asks for the next FD_READ
        UpdateNotifier(*record);
    }
    for (;;) {
        ::sockaddr_storage sender{};
        iovec part{buffer, static_cast<size_t>(length)};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        ssize_t count = ::recvmsg(record->descriptor, &message, systemFlags);
        if (count >= 0) {
            if (from != nullptr)
                GiveSender(sender, message.msg_namelen, from, fromLength);
            if ((message.msg_flags & MSG_TRUNC) != 0 && record->type != SOCK_STREAM)
                return Fail(WSAEMSGSIZE);
            return static_cast<int>(count);
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Fail(WinsockErrorFromErrno(errno));
        return Fail(WSAEWOULDBLOCK);
    }
}

} // namespace

int send(SOCKET socket, const char* buffer, int length, int flags) {
    return SendData(socket, buffer, length, flags, nullptr, 0);
}

int sendto(SOCKET socket, const char* buffer, int length, int flags, const sockaddr* to,
           int toLength) {
    if (to == nullptr)
        return Fail(WSAEFAULT);
    return SendData(socket, buffer, length, flags, to, toLength);
}

int recv(SOCKET socket, char* buffer, int length, int flags) {
    return ReceiveData(socket, buffer, length, flags, nullptr, nullptr);
}

int recvfrom(SOCKET socket, char* buffer, int length, int flags, sockaddr* from, int* fromLength) {
    return ReceiveData(socket, buffer, length, flags, from, fromLength);
}

int setsockopt(SOCKET socket, int level, int option, const char* value, int valueLength) {
    if (!MayCall())
        return SOCKET_ERROR;
    SocketRecord* record = FindSocket(socket);
    if (record == nullptr)
        return Fail(WSAENOTSOCK);
    if (value == nullptr || valueLength < 1)
        return Fail(WSAEFAULT);
    // The time to live and the IPv6 hop limit are the options the program sets.
    if (level != IPPROTO_IP && level != IPPROTO_IPV6 && level != SOL_SOCKET)
        return Fail(WSAEINVAL);
    bool hopLimit = level == IPPROTO_IPV6 && option == IPV6_UNICAST_HOPS;
    if (!hopLimit && (level != IPPROTO_IP || option != IP_TTL))
        return Fail(WSAENOPROTOOPT);
    // Integer values come as 1 to 4 bytes, least significant first.
    unsigned integer = 0;
    for (int index = 0; index < valueLength && index < 4; ++index)
        integer |= static_cast<unsigned>(static_cast<unsigned char>(value[index])) << (8 * index);
    int systemValue = static_cast<int>(integer);
    if (::setsockopt(record->descriptor, hopLimit ? systemIpv6Level : systemIpLevel,
                     hopLimit ? systemHopLimit : systemTimeToLive, &systemValue,
                     sizeof systemValue) != 0)
        return Fail(WinsockErrorFromErrno(errno));
    return 0;
}

int closesocket(SOCKET socket) {
    if (!MayCall())
        return SOCKET_ERROR;
    SocketRecord* record = FindSocket(socket);
    if (record == nullptr)
        return Fail(WSAENOTSOCK);
    DropNotifier(*record);
    // The descriptor is released whatever close() says, so the slot is free either way.
    ::close(record->descriptor);
    *record = SocketRecord{};
    return 0;
}

int WSAAsyncSelect(SOCKET socket, HWND window, UINT message, std::int32_t events) {
    if (!MayCall())
        return SOCKET_ERROR;
    SocketRecord* record = FindSocket(socket);
    if (record == nullptr)
        return Fail(WSAENOTSOCK);
    if ((events & ~(FD_READ | FD_CLOSE | FD_CONNECT)) != 0)
        return Fail(WSAEINVAL);
    if (events != 0 && QCoreApplication::instance() == nullptr)
        return Fail(WSASYSNOTREADY); // no event loop to watch the socket
    DropNotifier(*record);
    record->window = window;
    record->message = message;
    record->events = events;
    record->readPosted = false;
    record->closePosted = false;
    // A stream socket not connected yet would read as closed; it waits for its connect.
    ::sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    record->unconnected =
        (events & FD_CONNECT) != 0 && record->type == SOCK_STREAM &&
        ::getpeername(record->descriptor, reinterpret_cast<::sockaddr*>(&peer), &peerLength) != 0;
    if (events == 0)
        return 0;
    int descriptor = record->descriptor;
    record->readNotifier = new QSocketNotifier(descriptor, QSocketNotifier::Read);
    QObject::connect(record->readNotifier, &QSocketNotifier::activated,
                     [descriptor] { OnReadable(descriptor); });
    UpdateNotifier(*record);
    return 0;
}

// ---- Addresses ----

std::uint32_t inet_addr(const char* text) {
    ::in_addr address{};
    if (text == nullptr || ::inet_aton(text, &address) == 0)
        return INADDR_NONE;
    return address.s_addr;
}

char* inet_ntoa(in_addr address) {
    static char text[16]; // "255.255.255.255" and its terminator
    unsigned char bytes[4];
    std::memcpy(bytes, &address.s_addr, sizeof bytes);
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

int inet_pton(int family, const char* text, void* address) {
    if (family != AF_INET && family != AF_INET6) {
        lastError = WSAEAFNOSUPPORT;
        return -1;
    }
    if (text == nullptr || address == nullptr) {
        lastError = WSAEFAULT;
        return -1;
    }
    return ::inet_pton(family == AF_INET ? systemInet : systemInet6, text, address) == 1 ? 1 : 0;
}

const char* inet_ntop(int family, const void* address, char* buffer, std::size_t size) {
    if (family != AF_INET && family != AF_INET6) {
        lastError = WSAEAFNOSUPPORT;
        return nullptr;
    }
    // The C library writes the short form of RFC 5952, as described in our header.
    if (address == nullptr || buffer == nullptr ||
        ::inet_ntop(family == AF_INET ? systemInet : systemInet6, address, buffer,
                    static_cast<socklen_t>(std::min<std::size_t>(size, 1024))) == nullptr) {
        lastError = WSAEFAULT;
        return nullptr;
    }
    return buffer;
}

std::uint32_t if_nametoindex(const char* name) {
    return name != nullptr ? ::if_nametoindex(name) : 0;
}

namespace {

// One answer of getaddrinfo: the record and the address it points to, freed together.
struct AddressInfoNode {
    addrinfo info;
    sockaddr_in6 address; // the larger of the two layouts
};

addrinfo* CopyAddressInfo(const ::addrinfo* system, int socketType, int protocol, int port) {
    auto* node = new (std::nothrow) AddressInfoNode{};
    if (node == nullptr)
        return nullptr;
    node->info.ai_socktype = socketType;
    node->info.ai_protocol = protocol;
    node->info.ai_addr = reinterpret_cast<sockaddr*>(&node->address);
    if (system->ai_family == systemInet6) {
        const auto* from = reinterpret_cast<const ::sockaddr_in6*>(system->ai_addr);
        node->info.ai_family = AF_INET6;
        node->info.ai_addrlen = sizeof(sockaddr_in6);
        node->address.sin6_family = AF_INET6;
        node->address.sin6_port = htons(static_cast<std::uint16_t>(port));
        std::memcpy(node->address.sin6_addr.u.Byte, &from->sin6_addr, 16);
        node->address.sin6_scope_id = from->sin6_scope_id;
    } else {
        const auto* from = reinterpret_cast<const ::sockaddr_in*>(system->ai_addr);
        auto* to = reinterpret_cast<sockaddr_in*>(&node->address);
        node->info.ai_family = AF_INET;
        node->info.ai_addrlen = sizeof(sockaddr_in);
        to->sin_family = AF_INET;
        to->sin_port = htons(static_cast<std::uint16_t>(port));
        to->sin_addr.s_addr = from->sin_addr.s_addr;
    }
    return &node->info;
}

} // namespace

int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** result) {
    int family = hints != nullptr ? hints->ai_family : AF_UNSPEC;
    int flags = hints != nullptr ? hints->ai_flags : 0;
    int error = 0;
    long port = 0;
    char* end = nullptr;
    if (service != nullptr)
        port = std::strtol(service, &end, 10);
    if (node == nullptr || result == nullptr)
        error = WSAEINVAL;
    else if (family != AF_UNSPEC && family != AF_INET && family != AF_INET6)
        error = WSAEAFNOSUPPORT;
    else if ((flags & AI_NUMERICHOST) == 0)
        error = WSAEWOULDBLOCK;
    else if (service != nullptr && (end == service || *end != '\0' || port < 0 || port > 65535))
        error = WSATYPE_NOT_FOUND;
    if (error != 0) {
        lastError = error;
        return error;
    }
    ::addrinfo systemHints{};
    systemHints.ai_flags = AI_NUMERICHOST;
    systemHints.ai_family = family == AF_INET ? systemInet : family == AF_INET6 ? systemInet6 : 0;
    systemHints.ai_socktype = systemStream;
    ::addrinfo* found = nullptr;
    if (::getaddrinfo(node, nullptr, &systemHints, &found) != 0 || found == nullptr) {
        lastError = WSAHOST_NOT_FOUND;
        return WSAHOST_NOT_FOUND;
    }
    int socketType = hints != nullptr && hints->ai_socktype != 0 ? hints->ai_socktype : SOCK_STREAM;
    int protocol = hints != nullptr ? hints->ai_protocol : 0;
    addrinfo* first = nullptr;
    addrinfo** link = &first;
    for (const ::addrinfo* each = found; each != nullptr; each = each->ai_next) {
        if (each->ai_family != systemInet && each->ai_family != systemInet6)
            continue;
        *link = CopyAddressInfo(each, socketType, protocol, static_cast<int>(port));
        if (*link == nullptr) {
            ::freeaddrinfo(found);
            freeaddrinfo(first);
            lastError = WSA_NOT_ENOUGH_MEMORY;
            return WSA_NOT_ENOUGH_MEMORY;
        }
        link = &(*link)->ai_next;
    }
    ::freeaddrinfo(found);
    *result = first;
    return 0;
}

void freeaddrinfo(addrinfo* list) {
    while (list != nullptr) {
        addrinfo* next = list->ai_next;
        // Every record is the first member of its node.
        delete reinterpret_cast<AddressInfoNode*>(list);
        list = next;
    }
}

// ---- Listeners ----

int ListenBindError(const char* address, unsigned port) {
    ::sockaddr_in where{};
    where.sin_family = systemInet;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(systemInet, address, &where.sin_addr) != 1)
        return WSAEINVAL;
    int probe = ::socket(systemInet, systemStream | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return WinsockErrorFromErrno(errno);
    int on = 1;
    ::setsockopt(probe, systemSocketLevel, SO_REUSEADDR, &on, sizeof on);
    int error =
        ::bind(probe, reinterpret_cast<const ::sockaddr*>(&where), sizeof where) == 0 ? 0 : errno;
    ::close(probe);
    return error != 0 ? WinsockErrorFromErrno(error) : 0;
}

void TouchListener(const char* address, unsigned port) {
    ::sockaddr_in where{};
    where.sin_family = systemInet;
    where.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(systemInet, address, &where.sin_addr) != 1)
        return;
    int touch = ::socket(systemInet, systemStream | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (touch < 0)
        return;
    ::connect(touch, reinterpret_cast<const ::sockaddr*>(&where), sizeof where);
    ::close(touch);
}

// ---- Look-ups ----

namespace {

bool CheckAddressArguments(const char* address, int length, int type) {
    if (type != AF_INET && type != AF_INET6) {
        lastError = WSAEAFNOSUPPORT;
        return false;
    }
    if (address == nullptr || length != (type == AF_INET ? 4 : 16)) {
        lastError = WSAEFAULT;
        return false;
    }
    return true;
}

// The asynchronous look-ups not yet ended, which the last WSACleanup calls off.
std::vector<std::uint64_t> asyncLookups;

void ForgetAsyncLookup(std::uint64_t number) {
    std::erase(asyncLookups, number);
}

void CancelAsyncLookups() {
    for (std::uint64_t number : asyncLookups)
        AbandonLookup(number);
    asyncLookups.clear();
}

// The room one part of a host entry takes at `offset`, rounded up for what follows.
std::size_t Aligned(std::size_t offset, std::size_t alignment) {
    return (offset + alignment - 1) / alignment * alignment;
}

// The bytes a host entry of `answer` with its first `count` addresses and `aliasCount`
// aliases takes: the entry, the two pointer lists with their ends, the addresses, the names.
std::size_t HostEntrySize(const LookupAnswer& answer, std::size_t count, std::size_t aliasCount) {
    std::size_t size = Aligned(sizeof(hostent), alignof(char*)) +
                       (aliasCount + 1 + count + 1) * sizeof(char*) +
                       count * (answer.ipv6Form ? 16 : 4) + answer.officialName.size() + 1;
    for (std::size_t index = 0; index < aliasCount; ++index)
        size += answer.aliases[index].size() + 1;
    return size;
}

// Lays `answer` out in `buffer` as a host entry followed by everything it points to: the
// alias and address pointer lists, the addresses, the names. A name with more addresses or
// aliases than `size` holds (a round-robin name can have hundreds) keeps as many addresses
// as fit, then as many aliases as fit in what is left. Returns the bytes the entry takes;
// when not even the name and its first address fit, writes nothing and returns the bytes
// the whole entry would take.
std::size_t LayOutHostEntry(const LookupAnswer& answer, char* buffer, std::size_t size) {
    std::size_t length = answer.ipv6Form ? 16 : 4;
    std::size_t available = answer.ipv6Form ? answer.addresses16.size() : answer.addresses.size();
    std::size_t whole = HostEntrySize(answer, available, answer.aliases.size());
    std::size_t count = available;
    std::size_t aliasCount = answer.aliases.size();
    if (whole > size) {
        if (HostEntrySize(answer, std::min<std::size_t>(available, 1), 0) > size)
            return whole;
        count = 0;
        while (count < available && HostEntrySize(answer, count + 1, 0) <= size)
            ++count;
        aliasCount = 0;
        while (aliasCount < answer.aliases.size() &&
               HostEntrySize(answer, count, aliasCount + 1) <= size)
            ++aliasCount;
    }
    std::size_t aliasList = Aligned(sizeof(hostent), alignof(char*));
    std::size_t addressList = aliasList + (aliasCount + 1) * sizeof(char*);
    std::size_t addressBytes = addressList + (count + 1) * sizeof(char*);
    std::size_t texts = addressBytes + count * length;
    auto place = [buffer](std::size_t offset) { return buffer + offset; };
    auto putPointer = [&](std::size_t at, char* pointer) {
        std::memcpy(place(at), &pointer, sizeof pointer);
    };
    auto putText = [&](std::size_t* at, const std::string& text) {
        char* start = place(*at);
        std::memcpy(start, text.c_str(), text.size() + 1);
        *at += text.size() + 1;
        return start;
    };
    std::size_t textAt = texts;
    hostent entry{};
    entry.h_name = putText(&textAt, answer.officialName);
    entry.h_aliases = reinterpret_cast<char**>(place(aliasList));
    entry.h_addrtype = static_cast<short>(answer.ipv6Form ? AF_INET6 : AF_INET);
    entry.h_length = static_cast<short>(length);
    entry.h_addr_list = reinterpret_cast<char**>(place(addressList));
    for (std::size_t index = 0; index < aliasCount; ++index)
        putPointer(aliasList + index * sizeof(char*), putText(&textAt, answer.aliases[index]));
    putPointer(aliasList + aliasCount * sizeof(char*), nullptr);
    for (std::size_t index = 0; index < count; ++index) {
        char* bytes = place(addressBytes + index * length);
        std::memcpy(bytes,
                    answer.ipv6Form ? answer.addresses16[index].data()
                                    : answer.addresses[index].data(),
                    length);
        putPointer(addressList + index * sizeof(char*), bytes);
    }
    putPointer(addressList + count * sizeof(char*), nullptr);
    std::memcpy(buffer, &entry, sizeof entry);
    return HostEntrySize(answer, count, aliasCount);
}

HANDLE StartAsyncLookup(const std::shared_ptr<LookupJob>& job, HWND window, UINT message,
                        char* buffer, int bufferLength) {
    if (startupCount == 0) {
        lastError = WSANOTINITIALISED;
        return nullptr;
    }
    if (buffer == nullptr || bufferLength < static_cast<int>(sizeof(hostent))) {
        lastError = WSAEFAULT;
        return nullptr;
    }
    std::uint64_t* number = &job->number;
    job->done = [window, message, buffer, bufferLength, number](const LookupAnswer& answer) {
        ForgetAsyncLookup(*number);
        int error = answer.error;
        std::size_t needed = 0;
        if (error == 0) {
            needed = LayOutHostEntry(answer, buffer, static_cast<std::size_t>(bufferLength));
            if (needed > static_cast<std::size_t>(bufferLength))
                error = WSAENOBUFS;
        }
        std::size_t reported = needed > 0xFFFF ? 0xFFFF : needed;
        PostMessage(
            window, message, static_cast<WPARAM>(*number),
            WSAMAKEASYNCREPLY(static_cast<unsigned>(reported), static_cast<unsigned>(error)));
    };
    if (!QueueLookup(job)) {
        lastError = QCoreApplication::instance() == nullptr ? WSASYSNOTREADY : WSAENOBUFS;
        return nullptr;
    }
    asyncLookups.push_back(job->number);
    return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(job->number));
}

HANDLE StartNameLookup(HWND window, UINT message, const char* name, bool allEntries, char* buffer,
                       int bufferLength) {
    if (name == nullptr) {
        lastError = WSAEFAULT;
        return nullptr;
    }
    auto job = std::make_shared<LookupJob>();
    job->name = name;
    job->allEntries = allEntries;
    return StartAsyncLookup(job, window, message, buffer, bufferLength);
}

} // namespace

HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer,
                             int bufferLength) {
    return StartNameLookup(window, message, name, false, buffer, bufferLength);
}

HANDLE WSAAsyncGetHostByNameAllFamilies(HWND window, UINT message, const char* name, char* buffer,
                                        int bufferLength) {
    return StartNameLookup(window, message, name, true, buffer, bufferLength);
}

HANDLE WSAAsyncGetHostByAddr(HWND window, UINT message, const char* address, int length, int type,
                             char* buffer, int bufferLength) {
    if (!CheckAddressArguments(address, length, type))
        return nullptr;
    auto job = std::make_shared<LookupJob>();
    job->byAddress = true;
    job->addressLength = static_cast<unsigned>(length);
    std::memcpy(job->address, address, job->addressLength);
    return StartAsyncLookup(job, window, message, buffer, bufferLength);
}

int WSACancelAsyncRequest(HANDLE task) {
    if (startupCount == 0)
        return Fail(WSANOTINITIALISED);
    auto number = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(task));
    if (std::find(asyncLookups.begin(), asyncLookups.end(), number) == asyncLookups.end())
        return Fail(number != 0 && number <= LastLookupNumber() ? WSAEALREADY : WSAEINVAL);
    AbandonLookup(number);
    ForgetAsyncLookup(number);
    return 0;
}

} // namespace platform
