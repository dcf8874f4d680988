// ICMP echo sockets: the choice of a ping or a raw socket, the options every echo socket
// gets, the request's bytes, and the reading of replies and errors from either kind of
// socket into one record. Order: byte helpers, opening, requests, the raw datagram reader,
// the receive paths, clocks.
#include "platform/echosocket_internal.h"

#include "platform/capability_internal.h"
#include "platform/icmplib.h"
#include "platform/testing_sys.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <linux/sock_diag.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// ICMP message types we send or read.
constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestinationUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;

// ICMPv6 types.
constexpr std::uint8_t kEcho6Request = 128;
constexpr std::uint8_t kEcho6Reply = 129;
constexpr std::uint8_t kLastError6Type = 4; // 1 to 4 are errors about a packet

constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kIpv6HeaderSize = 40;
constexpr std::uint8_t kNextHeaderIcmpv6 = 58;
constexpr std::size_t kMinimumIpHeaderSize = 20;

// The raw socket's type filter (ICMP_FILTER of <linux/icmp.h>, at level SOL_RAW): a set
// bit blocks that type, so the socket wakes only for what can answer an echo.
constexpr int kIcmpFilterOption = 1;
constexpr std::uint32_t kRawTypesWanted = (1u << kEchoReply) | (1u << kDestinationUnreachable) |
                                          (1u << kSourceQuench) | (1u << kTimeExceeded) |
                                          (1u << kParameterProblem);

// The receive buffer's share per expected answer: a small datagram's whole cost to the
// kernel (its buffer, its headers and the timestamp) with room to spare.
constexpr int kBufferPerAnswer = 4096;

std::uint16_t ReadBigEndian16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

DWORD ReadAddress(const unsigned char* bytes) {
    DWORD address = 0;
    std::memcpy(&address, bytes, sizeof address); // stays in network order
    return address;
}

bool SetIntegerOption(int descriptor, int level, int name, int value) {
    return setsockopt(descriptor, level, name, &value, sizeof value) == 0;
}

// The header length of the IPv4 header at `bytes` within `length` bytes, or 0 when it is
// not a sound IPv4 header that fits.
std::size_t IpHeaderLength(const unsigned char* bytes, std::size_t length) {
    if (length < kMinimumIpHeaderSize || (bytes[0] >> 4) != 4)
        return 0;
    std::size_t headerLength = static_cast<std::size_t>(bytes[0] & 0x0f) * 4;
    if (headerLength < kMinimumIpHeaderSize || headerLength > length)
        return 0;
    return headerLength;
}

} // namespace

// ---- Opening ----

namespace {

// A ping socket's options: errors through the error queue with the reporting router's
// address, and each datagram's TTL and TOS (hop limit and traffic class).
bool SetPingSocketOptions(int descriptor, bool ipv6) {
    if (ipv6)
        return SetIntegerOption(descriptor, IPPROTO_IPV6, IPV6_RECVERR, 1) &&
               SetIntegerOption(descriptor, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1) &&
               SetIntegerOption(descriptor, IPPROTO_IPV6, IPV6_RECVTCLASS, 1);
    return SetIntegerOption(descriptor, IPPROTO_IP, IP_RECVERR, 1) &&
           SetIntegerOption(descriptor, IPPROTO_IP, IP_RECVTTL, 1) &&
           SetIntegerOption(descriptor, IPPROTO_IP, IP_RECVTOS, 1);
}

// A raw socket wakes only for the ICMP types that can answer an echo. Without the filter we
// only wake more often; the reader still checks every datagram.
void FilterRawSocket(int descriptor, bool ipv6) {
    if (ipv6) {
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(kEcho6Reply, &filter);
        for (int type = 1; type <= kLastError6Type; ++type)
            ICMP6_FILTER_SETPASS(type, &filter);
        setsockopt(descriptor, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
        SetIntegerOption(descriptor, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, 1);
        SetIntegerOption(descriptor, IPPROTO_IPV6, IPV6_RECVTCLASS, 1);
        return;
    }
    std::uint32_t blocked = ~kRawTypesWanted;
    setsockopt(descriptor, SOL_RAW, kIcmpFilterOption, &blocked, sizeof blocked);
}

} // namespace

int OpenEchoSocket(bool rawOnly, bool ipv6, int* kind) {
    int family = ipv6 ? AF_INET6 : AF_INET;
    int protocol = ipv6 ? static_cast<int>(IPPROTO_ICMPV6) : static_cast<int>(IPPROTO_ICMP);
    int descriptor = -1;
    if (!rawOnly) {
        descriptor = socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
        // EACCES/EPERM: our group is outside net.ipv4.ping_group_range; EAFNOSUPPORT and
        // EPROTONOSUPPORT: a kernel without ping sockets. Anything else (out of descriptors
        // or memory) would fail the raw socket too.
        if (descriptor < 0 && errno != EACCES && errno != EPERM && errno != EAFNOSUPPORT &&
            errno != EPROTONOSUPPORT)
            return -1;
    }
    if (descriptor >= 0) {
        if (!SetPingSocketOptions(descriptor, ipv6)) {
            int error = errno;
            close(descriptor);
            errno = error;
            return -1;
        }
        *kind = ICMP_SOCKET_PING;
    } else {
        descriptor = OpenRawSocket(family, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
        if (descriptor < 0)
            return -1;
        FilterRawSocket(descriptor, ipv6);
        *kind = ICMP_SOCKET_RAW;
    }
    // The kernel's software receive stamp. Unlike SO_TIMESTAMPNS, which stamps a datagram
    // that came in unstamped with the time it is read (so while stamping is still being
    // switched on, a reply read late would look late), this gives no stamp then, and the
    // reply is taken as come in time. Without the option the echo works all the same.
    SetIntegerOption(descriptor, SOL_SOCKET, SO_TIMESTAMPING,
                     SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE);
    return descriptor;
}

DWORD EchoSocketOpenFailure(int systemError) {
    return StatusOfSystemError(systemError) == IP_NO_RESOURCES ? IP_NO_RESOURCES
                                                               : ERROR_ACCESS_DENIED;
}

void SizeEchoSocketBuffer(int descriptor, unsigned datagrams) {
    unsigned count = datagrams < 16 ? 16 : datagrams > 65536 ? 65536 : datagrams;
    int bytes = static_cast<int>(count) * kBufferPerAnswer;
    // Beyond net.core.rmem_max only with CAP_NET_ADMIN; without it, up to that limit.
    if (!SetIntegerOption(descriptor, SOL_SOCKET, SO_RCVBUFFORCE, bytes))
        SetIntegerOption(descriptor, SOL_SOCKET, SO_RCVBUF, bytes);
}

std::uint32_t EchoSocketDrops(int descriptor) {
    std::uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof memory;
    if (getsockopt(descriptor, SOL_SOCKET, SO_MEMINFO, memory, &length) != 0 ||
        length < (SK_MEMINFO_DROPS + 1) * sizeof memory[0])
        return 0;
    return memory[SK_MEMINFO_DROPS];
}

DWORD StatusOfSystemError(int systemError) {
    switch (systemError) {
    case ENETUNREACH:
        return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH:
    case EHOSTDOWN:
        return IP_DEST_HOST_UNREACHABLE;
    case EMSGSIZE:
        return IP_PACKET_TOO_BIG;
    case EACCES: // a broadcast destination without SO_BROADCAST
        return IP_BAD_DESTINATION;
    case ENOBUFS:
    case ENOMEM:
    case EMFILE:
    case ENFILE:
        return IP_NO_RESOURCES;
    default:
        return IP_GENERAL_FAILURE;
    }
}

// ---- Requests ----

std::size_t WriteEchoRequest(unsigned char* buffer, std::uint16_t identifier,
                             std::uint16_t sequence, const void* data, std::size_t dataSize) {
    std::size_t length = kIcmpHeaderSize + dataSize;
    std::memset(buffer, 0, kIcmpHeaderSize);
    buffer[0] = kEchoRequest;
    buffer[4] = static_cast<unsigned char>(identifier >> 8);
    buffer[5] = static_cast<unsigned char>(identifier & 0xff);
    buffer[6] = static_cast<unsigned char>(sequence >> 8);
    buffer[7] = static_cast<unsigned char>(sequence & 0xff);
    if (dataSize != 0)
        std::memcpy(buffer + kIcmpHeaderSize, data, dataSize);
    std::uint16_t checksum = InternetChecksum(buffer, length);
    buffer[2] = static_cast<unsigned char>(checksum >> 8);
    buffer[3] = static_cast<unsigned char>(checksum & 0xff);
    return length;
}

std::size_t WriteEcho6Request(unsigned char* buffer, std::uint16_t identifier,
                              std::uint16_t sequence, const void* data, std::size_t dataSize) {
    std::size_t length = WriteEchoRequest(buffer, identifier, sequence, data, dataSize);
    buffer[0] = kEcho6Request;
    buffer[2] = 0;
    buffer[3] = 0;
    return length;
}

namespace {

int SendEchoTo(int descriptor, const unsigned char* request, std::size_t length,
               const sockaddr* target, socklen_t targetLength) {
    // An ICMP error about an earlier request leaves a pending error on a ping socket, and
    // the next send reports that error instead of sending, taking it away as it does. So a
    // failed send is tried again; only a failure that stays is this request's.
    constexpr int attempts = 4;
    int error = 0;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (sendto(descriptor, request, length, 0, target, targetLength) >= 0)
            return 0;
        error = errno;
    }
    return error;
}

} // namespace

int SendEchoDatagram(int descriptor, const unsigned char* request, std::size_t length,
                     DWORD destination) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = destination;
    return SendEchoTo(descriptor, request, length, reinterpret_cast<const sockaddr*>(&target),
                      sizeof target);
}

int SendEcho6Datagram(int descriptor, const unsigned char* request, std::size_t length,
                      const unsigned char* destination, std::uint32_t scope) {
    ::sockaddr_in6 target{};
    target.sin6_family = AF_INET6;
    std::memcpy(&target.sin6_addr, destination, 16);
    target.sin6_scope_id = scope;
    return SendEchoTo(descriptor, request, length, reinterpret_cast<const sockaddr*>(&target),
                      sizeof target);
}

// ---- The raw datagram reader ----

// An echo reply's fields, the same in both families; `icmp` holds `length` bytes, at least
// the ICMP header.
static void TakeEchoReply(const unsigned char* icmp, std::size_t length, EchoMessage* found) {
    found->kind = EchoMessageKind::Reply;
    found->status = IP_SUCCESS;
    found->identifier = ReadBigEndian16(icmp + 4);
    found->sequence = ReadBigEndian16(icmp + 6);
    found->data = icmp + kIcmpHeaderSize;
    found->dataSize = length - kIcmpHeaderSize;
}

bool ParseRawEchoDatagram(const unsigned char* datagram, std::size_t length, EchoMessage* message) {
    std::size_t headerLength = IpHeaderLength(datagram, length);
    if (headerLength == 0 || length - headerLength < kIcmpHeaderSize)
        return false;
    const unsigned char* icmp = datagram + headerLength;
    std::size_t icmpLength = length - headerLength;
    // The kernel hands a raw socket damaged ICMP as it came; only sound messages count.
    if (InternetChecksum(icmp, icmpLength) != 0)
        return false;

    EchoMessage found{};
    found.sequenceKnown = true;
    found.address = ReadAddress(datagram + 12);
    found.ttl = datagram[8];
    found.tos = datagram[1];
    if (icmp[0] == kEchoReply) {
        if (icmp[1] != 0)
            return false;
        TakeEchoReply(icmp, icmpLength, &found);
        found.destination = found.address;
    } else {
        found.status = IcmpErrorStatus(icmp[0], icmp[1]);
        if (found.status == IP_SUCCESS)
            return false;
        // The error quotes the IP header of our request and the first 8 bytes after it.
        const unsigned char* quoted = icmp + kIcmpHeaderSize;
        std::size_t quotedLength = icmpLength - kIcmpHeaderSize;
        std::size_t quotedHeaderLength = IpHeaderLength(quoted, quotedLength);
        if (quotedHeaderLength == 0 || quotedLength - quotedHeaderLength < kIcmpHeaderSize)
            return false;
        const unsigned char* request = quoted + quotedHeaderLength;
        if (quoted[9] != IPPROTO_ICMP || request[0] != kEchoRequest || request[1] != 0)
            return false;
        found.kind = EchoMessageKind::IcmpError;
        found.identifier = ReadBigEndian16(request + 4);
        found.sequence = ReadBigEndian16(request + 6);
        found.destination = ReadAddress(quoted + 16);
        found.data = nullptr;
        found.dataSize = 0;
    }
    *message = found;
    return true;
}

bool ParseRawEcho6Message(const unsigned char* icmp, std::size_t length,
                          const unsigned char* source, EchoMessage* message) {
    if (length < kIcmpHeaderSize)
        return false;
    EchoMessage found{};
    found.ipv6 = true;
    found.sequenceKnown = true;
    std::memcpy(found.address6, source, 16);
    if (icmp[0] == kEcho6Reply) {
        if (icmp[1] != 0)
            return false;
        TakeEchoReply(icmp, length, &found);
        std::memcpy(found.destination6, source, 16);
    } else {
        found.status = Icmp6ErrorStatus(icmp[0], icmp[1]);
        if (found.status == IP_SUCCESS)
            return false;
        // The error quotes our request's IPv6 header and as much after it as fits; an
        // echo request carries no extension header, so ours follows the header at once.
        const unsigned char* quoted = icmp + kIcmpHeaderSize;
        if (length - kIcmpHeaderSize < kIpv6HeaderSize + kIcmpHeaderSize || (quoted[0] >> 4) != 6 ||
            quoted[6] != kNextHeaderIcmpv6)
            return false;
        const unsigned char* request = quoted + kIpv6HeaderSize;
        if (request[0] != kEcho6Request || request[1] != 0)
            return false;
        found.kind = EchoMessageKind::IcmpError;
        found.identifier = ReadBigEndian16(request + 4);
        found.sequence = ReadBigEndian16(request + 6);
        std::memcpy(found.destination6, quoted + 24, 16);
    }
    *message = found;
    return true;
}

bool AnswersEcho6Request(const EchoMessage& message, int kind, const unsigned char* destination,
                         std::uint16_t identifier, std::uint16_t sequence) {
    if (message.kind == EchoMessageKind::None || !message.ipv6 ||
        std::memcmp(message.destination6, destination, 16) != 0)
        return false;
    if (!message.sequenceKnown)
        return true;
    return message.sequence == sequence &&
           (kind == ICMP_SOCKET_PING || message.identifier == identifier);
}

bool AnswersEchoRequest(const EchoMessage& message, int kind, DWORD destination,
                        std::uint16_t identifier, std::uint16_t sequence) {
    if (message.kind == EchoMessageKind::None || message.ipv6 || message.destination != destination)
        return false;
    if (!message.sequenceKnown)
        return true;
    return message.sequence == sequence &&
           (kind == ICMP_SOCKET_PING || message.identifier == identifier);
}

// ---- The receive paths ----

namespace {

// The control messages every echo socket's datagrams carry: TTL and TOS (ping socket) and
// the arrival time.
void ReadControlMessages(msghdr* received, EchoMessage* message) {
    for (cmsghdr* control = CMSG_FIRSTHDR(received); control != nullptr;
         control = CMSG_NXTHDR(received, control)) {
        if (control->cmsg_level == IPPROTO_IPV6 &&
            (control->cmsg_type == IPV6_HOPLIMIT || control->cmsg_type == IPV6_TCLASS) &&
            control->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int value = 0;
            std::memcpy(&value, CMSG_DATA(control), sizeof value);
            (control->cmsg_type == IPV6_HOPLIMIT ? message->ttl : message->tos) =
                static_cast<std::uint8_t>(value);
        } else if (control->cmsg_level == IPPROTO_IP) {
            if (control->cmsg_type == IP_TTL && control->cmsg_len >= CMSG_LEN(sizeof(int))) {
                int ttl = 0;
                std::memcpy(&ttl, CMSG_DATA(control), sizeof ttl);
                message->ttl = static_cast<std::uint8_t>(ttl);
            } else if (control->cmsg_type == IP_TOS && control->cmsg_len >= CMSG_LEN(1)) {
                message->tos = *CMSG_DATA(control);
            }
        } else if (control->cmsg_level == SOL_SOCKET && control->cmsg_type == SCM_TIMESTAMPING &&
                   control->cmsg_len >= CMSG_LEN(sizeof(scm_timestamping))) {
            scm_timestamping stamps{};
            std::memcpy(&stamps, CMSG_DATA(control), sizeof stamps);
            const timespec& software = stamps.ts[0];
            message->arrival =
                static_cast<std::int64_t>(software.tv_sec) * 1000000000 + software.tv_nsec;
        }
    }
}

// A ping socket's error queue holds the request an ICMP error quoted (its ICMP header
// first) or, for a local failure, nothing; the error record and the reporter's address
// come as a control message.
void ReadPingError(const msghdr& received, std::size_t length, const sockaddr_storage& quotedTo,
                   const unsigned char* request, EchoMessage* message) {
    bool ipv6 = quotedTo.ss_family == AF_INET6;
    int level = ipv6 ? IPPROTO_IPV6 : IPPROTO_IP;
    int type = ipv6 ? IPV6_RECVERR : IP_RECVERR;
    sock_extended_err error{};
    sockaddr_storage offender{};
    bool haveError = false;
    for (const cmsghdr* control = CMSG_FIRSTHDR(&received); control != nullptr;
         control = CMSG_NXTHDR(const_cast<msghdr*>(&received), const_cast<cmsghdr*>(control))) {
        if (control->cmsg_level != level || control->cmsg_type != type ||
            control->cmsg_len < CMSG_LEN(sizeof error))
            continue;
        std::memcpy(&error, CMSG_DATA(control), sizeof error);
        std::size_t offenderLength =
            std::min<std::size_t>(control->cmsg_len - CMSG_LEN(sizeof error), sizeof offender);
        std::memcpy(&offender, CMSG_DATA(control) + sizeof error, offenderLength);
        haveError = true;
    }
    if (!haveError)
        return;
    message->ipv6 = ipv6;
    if (ipv6)
        std::memcpy(message->destination6,
                    &reinterpret_cast<const ::sockaddr_in6&>(quotedTo).sin6_addr, 16);
    else
        message->destination = reinterpret_cast<const sockaddr_in&>(quotedTo).sin_addr.s_addr;
    std::uint8_t icmpOrigin = ipv6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP;
    if (error.ee_origin == icmpOrigin) {
        if (length < kIcmpHeaderSize || request[0] != (ipv6 ? kEcho6Request : kEchoRequest))
            return;
        message->status = ipv6 ? Icmp6ErrorStatus(error.ee_type, error.ee_code)
                               : IcmpErrorStatus(error.ee_type, error.ee_code);
        if (message->status == IP_SUCCESS) // a redirect: the echo may still be answered
            return;
        message->kind = EchoMessageKind::IcmpError;
        message->sequenceKnown = true;
        message->identifier = ReadBigEndian16(request + 4);
        message->sequence = ReadBigEndian16(request + 6);
        if (ipv6 && offender.ss_family == AF_INET6)
            std::memcpy(message->address6,
                        &reinterpret_cast<const ::sockaddr_in6&>(offender).sin6_addr, 16);
        else if (!ipv6 && offender.ss_family == AF_INET)
            message->address = reinterpret_cast<const sockaddr_in&>(offender).sin_addr.s_addr;
    } else if (error.ee_origin == SO_EE_ORIGIN_LOCAL) {
        message->kind = EchoMessageKind::LocalError;
        message->sequenceKnown = false;
        message->status = StatusOfSystemError(static_cast<int>(error.ee_errno));
        message->address = 0;
    }
}

// A ping socket hands over only replies with its identifier, from any host.
void ReadPingReply(const unsigned char* datagram, std::size_t length, const sockaddr_storage& from,
                   EchoMessage* message) {
    bool ipv6 = from.ss_family == AF_INET6;
    if (length < kIcmpHeaderSize || datagram[0] != (ipv6 ? kEcho6Reply : kEchoReply))
        return;
    message->kind = EchoMessageKind::Reply;
    message->sequenceKnown = true;
    message->status = IP_SUCCESS;
    message->identifier = ReadBigEndian16(datagram + 4);
    message->sequence = ReadBigEndian16(datagram + 6);
    message->ipv6 = ipv6;
    if (ipv6) {
        std::memcpy(message->address6, &reinterpret_cast<const ::sockaddr_in6&>(from).sin6_addr,
                    16);
        std::memcpy(message->destination6, message->address6, 16);
    } else {
        message->address = reinterpret_cast<const sockaddr_in&>(from).sin_addr.s_addr;
        message->destination = message->address;
    }
    message->data = datagram + kIcmpHeaderSize;
    message->dataSize = length - kIcmpHeaderSize;
}

} // namespace

bool ReceiveEchoMessage(int descriptor, int kind, bool ipv6, EchoReceiveBuffer* buffer,
                        EchoMessage* message) {
    // A ping socket's errors wait in its error queue, which is looked at once the datagrams
    // are read: a reply then costs one read, not three.
    bool fromErrorQueue = false;
    for (;;) {
        sockaddr_storage from{};
        iovec part{buffer->datagram, sizeof buffer->datagram};
        msghdr received{};
        received.msg_name = &from;
        received.msg_namelen = sizeof from;
        received.msg_iov = &part;
        received.msg_iovlen = 1;
        received.msg_control = buffer->control;
        received.msg_controllen = sizeof buffer->control;
        int flags = MSG_DONTWAIT | (fromErrorQueue ? MSG_ERRQUEUE : 0);
        ssize_t count = recvmsg(descriptor, &received, flags);
        *message = EchoMessage{};
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && !fromErrorQueue && kind == ICMP_SOCKET_PING) {
            // No datagram, or the pending error an ICMP message left (given by this read
            // and cleared with it): its details are in the error queue.
            fromErrorQueue = true;
            continue;
        }
        if (count < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return false;
            // A pending error reported on reading (an ICMP message about an earlier
            // send), consumed by the read; what is queued behind it is read next.
            return true;
        }
        ReadControlMessages(&received, message);
        std::size_t length = static_cast<std::size_t>(count);
        if (fromErrorQueue) {
            ReadPingError(received, length, from, buffer->datagram, message);
        } else if (kind == ICMP_SOCKET_RAW) {
            EchoMessage parsed{};
            bool ours = ipv6
                            ? from.ss_family == AF_INET6 &&
                                  ParseRawEcho6Message(
                                      buffer->datagram, length,
                                      reinterpret_cast<const unsigned char*>(
                                          &reinterpret_cast<const ::sockaddr_in6&>(from).sin6_addr),
                                      &parsed)
                            : ParseRawEchoDatagram(buffer->datagram, length, &parsed);
            if (ours) {
                // The hop limit and traffic class of ICMPv6 come as control messages.
                parsed.arrival = message->arrival;
                if (ipv6) {
                    parsed.ttl = message->ttl;
                    parsed.tos = message->tos;
                }
                *message = parsed;
            }
        } else {
            ReadPingReply(buffer->datagram, length, from, message);
        }
        return true;
    }
}

// ---- Clocks ----

std::int64_t RealtimeNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace platform
