// The system ICMP library on Linux: the table of open echo handles, each a ping socket or a
// raw ICMP socket, and the one echo exchange IcmpSendEcho makes on it. Order: the pure
// helpers (checksum, status mapping, raw datagram reader), the handle table, the two
// receive paths, then the public calls.
#include "platform/icmplib.h"

#include "platform/capability_internal.h"
#include "platform/signals_internal.h"
#include "platform/system.h"
#include "platform/system_internal.h"
#include "platform/testing_sys.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
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

constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kMinimumIpHeaderSize = 20;
// The largest IPv4 datagram; a raw socket never delivers more.
constexpr std::size_t kDatagramMaximum = 65535;

// The raw socket's type filter (ICMP_FILTER of <linux/icmp.h>, at level SOL_RAW): a set
// bit blocks that type, so the socket wakes only for what can answer an echo.
constexpr int kIcmpFilterOption = 1;
constexpr std::uint32_t kRawTypesWanted = (1u << kEchoReply) | (1u << kDestinationUnreachable) |
                                          (1u << kSourceQuench) | (1u << kTimeExceeded) |
                                          (1u << kParameterProblem);

DWORD Fail(DWORD status) {
    SetLastError(status);
    return 0;
}

std::uint16_t ReadBigEndian16(const unsigned char* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

DWORD ReadAddress(const unsigned char* bytes) {
    DWORD address = 0;
    std::memcpy(&address, bytes, sizeof address); // stays in network order
    return address;
}

std::int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A failed send or socket call, as a status.
DWORD StatusOfSystemError(int error) {
    switch (error) {
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

} // namespace

// ---- Pure helpers ----

std::uint16_t InternetChecksum(const unsigned char* bytes, std::size_t length) {
    std::uint32_t sum = 0;
    std::size_t index = 0;
    // Sum 16-bit big-endian words; the bytes are unsigned, so nothing sign-extends.
    for (; index + 1 < length; index += 2)
        sum += static_cast<std::uint32_t>(bytes[index] << 8 | bytes[index + 1]);
    // An odd last byte counts as the high byte of a word padded with zero.
    if (index < length)
        sum += static_cast<std::uint32_t>(bytes[index] << 8);
    // Fold the carries back in until none are left, then complement.
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xffff);
}

DWORD IcmpErrorStatus(int type, int code) {
    switch (type) {
    case kDestinationUnreachable:
        switch (code) {
        case 0:  // net unreachable
        case 6:  // destination net unknown
        case 9:  // net administratively prohibited
        case 11: // net unreachable for the type of service
            return IP_DEST_NET_UNREACHABLE;
        case 2:  // protocol unreachable
        case 13: // communication administratively prohibited, as Windows reports it
            return IP_DEST_PROT_UNREACHABLE;
        case 3:
            return IP_DEST_PORT_UNREACHABLE;
        case 4: // fragmentation needed with don't-fragment set
            return IP_PACKET_TOO_BIG;
        case 5: // source route failed
            return IP_BAD_ROUTE;
        default: // host unreachable, unknown, isolated, prohibited, and the rest
            return IP_DEST_HOST_UNREACHABLE;
        }
    case kTimeExceeded:
        return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case kSourceQuench:
        return IP_SOURCE_QUENCH;
    case kParameterProblem:
        return IP_PARAM_PROBLEM;
    default:
        return IP_SUCCESS;
    }
}

// The header length of the IPv4 header at `bytes` within `length` bytes, or 0 when it is
// not a sound IPv4 header that fits.
static std::size_t IpHeaderLength(const unsigned char* bytes, std::size_t length) {
    if (length < kMinimumIpHeaderSize || (bytes[0] >> 4) != 4)
        return 0;
    std::size_t headerLength = static_cast<std::size_t>(bytes[0] & 0x0f) * 4;
    if (headerLength < kMinimumIpHeaderSize || headerLength > length)
        return 0;
    return headerLength;
}

bool ReadRawEchoAnswer(const unsigned char* datagram, std::size_t length, DWORD destination,
                       std::uint16_t identifier, std::uint16_t sequence, RawEchoAnswer* answer) {
    std::size_t headerLength = IpHeaderLength(datagram, length);
    if (headerLength == 0 || length - headerLength < kIcmpHeaderSize)
        return false;
    const unsigned char* icmp = datagram + headerLength;
    std::size_t icmpLength = length - headerLength;
    std::uint8_t type = icmp[0];

    RawEchoAnswer found{};
    found.address = ReadAddress(datagram + 12);
    found.ttl = datagram[8];
    found.tos = datagram[1];
    if (type == kEchoReply) {
        // Only the probed host answers: a reply from elsewhere with our numbers is forged, or
        // another program's whose pings share them.
        if (found.address != destination || ReadBigEndian16(icmp + 4) != identifier ||
            ReadBigEndian16(icmp + 6) != sequence)
            return false;
        if (InternetChecksum(icmp, icmpLength) != 0)
            return false;
        found.status = IP_SUCCESS;
        found.data = icmp + kIcmpHeaderSize;
        found.dataSize = icmpLength - kIcmpHeaderSize;
    } else {
        found.status = IcmpErrorStatus(type, icmp[1]);
        if (found.status == IP_SUCCESS)
            return false;
        // The error quotes the IP header of our request and the first 8 bytes after it.
        const unsigned char* quoted = icmp + kIcmpHeaderSize;
        std::size_t quotedLength = icmpLength - kIcmpHeaderSize;
        std::size_t quotedHeaderLength = IpHeaderLength(quoted, quotedLength);
        if (quotedHeaderLength == 0 || quotedLength - quotedHeaderLength < kIcmpHeaderSize)
            return false;
        if (quoted[9] != IPPROTO_ICMP || ReadAddress(quoted + 16) != destination)
            return false;
        const unsigned char* request = quoted + quotedHeaderLength;
        if (request[0] != kEchoRequest || ReadBigEndian16(request + 4) != identifier ||
            ReadBigEndian16(request + 6) != sequence)
            return false;
        found.data = nullptr;
        found.dataSize = 0;
    }
    *answer = found;
    return true;
}

// ---- The handle table ----

namespace {

constexpr unsigned kHandleSlots = 16;
constexpr unsigned kSlotBits = 5; // slot number + 1, 1 to 16
constexpr int kUnknownSetting = -2;
constexpr std::int64_t kLongestPollMs = 3600000; // a DWORD time-out exceeds poll's int

struct EchoHandleSlot {
    bool open;                 // the slot holds a socket
    int descriptor;            // the socket
    int kind;                  // ICMP_SOCKET_PING or ICMP_SOCKET_RAW
    std::uintptr_t generation; // bumped at every close, so a stale handle is refused
    std::uint16_t identifier;  // raw socket: the identifier of our requests
    int ttl;                   // as last set on the socket (-1 system default)
    int tos;                   // as last set on the socket
    int dontFragment;          // as last set on the socket (0 or 1)
};

EchoHandleSlot echoHandles[kHandleSlots];

// The bytes of a request being sent and of the datagram being read. IcmpSendEcho runs on
// the one user-interface thread and never re-enters.
unsigned char requestBuffer[kIcmpHeaderSize + kDatagramMaximum];
unsigned char datagramBuffer[kDatagramMaximum + 1];
unsigned char controlBuffer[512];

HANDLE HandleOfSlot(unsigned slot) {
    std::uintptr_t value = (echoHandles[slot].generation << kSlotBits) | (slot + 1);
    return reinterpret_cast<HANDLE>(value);
}

EchoHandleSlot* SlotOfHandle(HANDLE handle) {
    std::uintptr_t value = reinterpret_cast<std::uintptr_t>(handle);
    std::uintptr_t slotNumber = value & ((1u << kSlotBits) - 1);
    if (handle == INVALID_HANDLE_VALUE || slotNumber == 0 || slotNumber > kHandleSlots)
        return nullptr;
    EchoHandleSlot* slot = &echoHandles[slotNumber - 1];
    if (!slot->open || slot->generation != (value >> kSlotBits))
        return nullptr;
    return slot;
}

bool SetIntegerOption(int descriptor, int level, int name, int value) {
    return setsockopt(descriptor, level, name, &value, sizeof value) == 0;
}

// Opens the socket of an echo handle: a ping socket first, a raw one when the system
// refuses ping sockets to us. Returns the descriptor, or -1 with errno.
int OpenEchoSocket(int* kind) {
    int descriptor = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (descriptor >= 0) {
        // Errors come back through the error queue, with the reporting router's address,
        // and each datagram carries its TTL and TOS.
        if (!SetIntegerOption(descriptor, IPPROTO_IP, IP_RECVERR, 1) ||
            !SetIntegerOption(descriptor, IPPROTO_IP, IP_RECVTTL, 1) ||
            !SetIntegerOption(descriptor, IPPROTO_IP, IP_RECVTOS, 1)) {
            int error = errno;
            close(descriptor);
            errno = error;
            return -1;
        }
        *kind = ICMP_SOCKET_PING;
        return descriptor;
    }
    // EACCES/EPERM: our group is outside net.ipv4.ping_group_range; EAFNOSUPPORT and
    // EPROTONOSUPPORT: a kernel without ping sockets. Anything else (out of descriptors or
    // memory) would fail the raw socket too.
    if (errno != EACCES && errno != EPERM && errno != EAFNOSUPPORT && errno != EPROTONOSUPPORT)
        return -1;
    descriptor = OpenRawSocket(SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (descriptor < 0)
        return -1;
    std::uint32_t blocked = ~kRawTypesWanted;
    // Without the filter we only wake more often; the reader still checks every datagram.
    setsockopt(descriptor, SOL_RAW, kIcmpFilterOption, &blocked, sizeof blocked);
    *kind = ICMP_SOCKET_RAW;
    return descriptor;
}

void CloseSlot(EchoHandleSlot* slot) {
    close(slot->descriptor);
    slot->open = false;
    slot->descriptor = -1;
    slot->generation += 1;
}

// Puts the request's TTL, TOS and don't-fragment choice on the socket, touching only
// what differs from the last echo on it.
DWORD ApplyRequestOptions(EchoHandleSlot* slot, const IP_OPTION_INFORMATION* options) {
    int ttl = -1; // the route's default
    int tos = 0;
    int dontFragment = 0;
    if (options != nullptr) {
        if (options->OptionsSize != 0)
            return IP_BAD_OPTION;
        if (options->Ttl != 0)
            ttl = options->Ttl;
        tos = options->Tos;
        dontFragment = (options->Flags & IP_FLAG_DF) != 0 ? 1 : 0;
    }
    if (ttl != slot->ttl) {
        if (!SetIntegerOption(slot->descriptor, IPPROTO_IP, IP_TTL, ttl))
            return IP_BAD_OPTION;
        slot->ttl = ttl;
    }
    if (tos != slot->tos) {
        if (!SetIntegerOption(slot->descriptor, IPPROTO_IP, IP_TOS, tos))
            return IP_BAD_OPTION;
        slot->tos = tos;
    }
    if (dontFragment != slot->dontFragment) {
        int discovery = dontFragment != 0 ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
        if (!SetIntegerOption(slot->descriptor, IPPROTO_IP, IP_MTU_DISCOVER, discovery))
            return IP_BAD_OPTION;
        slot->dontFragment = dontFragment;
    }
    return IP_SUCCESS;
}

// ---- One exchange ----

// What the wait found.
struct EchoOutcome {
    bool answered; // a record is to be made
    DWORD status;  // the record's status, or the failure when not answered
    DWORD address; // who answered
    std::uint8_t ttl;
    std::uint8_t tos;
    const unsigned char* data; // echoed data, in datagramBuffer
    std::size_t dataSize;
};

// Reads the IP_TTL and IP_TOS control messages of a received datagram.
void ReadTtlAndTos(msghdr* message, EchoOutcome* outcome) {
    for (cmsghdr* control = CMSG_FIRSTHDR(message); control != nullptr;
         control = CMSG_NXTHDR(message, control)) {
        if (control->cmsg_level != IPPROTO_IP)
            continue;
        if (control->cmsg_type == IP_TTL && control->cmsg_len >= CMSG_LEN(sizeof(int))) {
            int ttl = 0;
            std::memcpy(&ttl, CMSG_DATA(control), sizeof ttl);
            outcome->ttl = static_cast<std::uint8_t>(ttl);
        } else if (control->cmsg_type == IP_TOS && control->cmsg_len >= CMSG_LEN(1)) {
            outcome->tos = *CMSG_DATA(control);
        }
    }
}

// Ping socket: reads every queued error. True when one concerns our request (ICMP from
// the network, or a local failure) and decides the outcome. The kernel files an ICMP error
// under the identifier it quotes alone; the address it gives with it is the destination of
// the quoted datagram, which must be ours.
bool ReadPingErrors(int descriptor, DWORD destination, std::uint16_t sequence,
                    EchoOutcome* outcome) {
    for (;;) {
        sockaddr_in from{};
        iovec part{datagramBuffer, sizeof datagramBuffer};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = controlBuffer;
        message.msg_controllen = sizeof controlBuffer;
        ssize_t received = recvmsg(descriptor, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // Nothing queued: clear a pending socket error so poll stops reporting it.
                int pending = 0;
                socklen_t pendingLength = sizeof pending;
                getsockopt(descriptor, SOL_SOCKET, SO_ERROR, &pending, &pendingLength);
            }
            return false;
        }
        // The error record, and after it the address of whoever reported the error.
        sock_extended_err error{};
        sockaddr_in offender{};
        bool haveError = false;
        for (cmsghdr* control = CMSG_FIRSTHDR(&message); control != nullptr;
             control = CMSG_NXTHDR(&message, control)) {
            if (control->cmsg_level != IPPROTO_IP || control->cmsg_type != IP_RECVERR ||
                control->cmsg_len < CMSG_LEN(sizeof error))
                continue;
            std::memcpy(&error, CMSG_DATA(control), sizeof error);
            if (control->cmsg_len >= CMSG_LEN(sizeof error + sizeof offender))
                std::memcpy(&offender, CMSG_DATA(control) + sizeof error, sizeof offender);
            haveError = true;
        }
        if (!haveError)
            continue;
        EchoOutcome found{};
        ReadTtlAndTos(&message, &found);
        if (error.ee_origin == SO_EE_ORIGIN_ICMP) {
            // The queued datagram is our request as the error quoted it: check it is the
            // echo we wait for (the kernel already matched the identifier).
            std::size_t length = static_cast<std::size_t>(received);
            if (length < kIcmpHeaderSize || datagramBuffer[0] != kEchoRequest ||
                ReadBigEndian16(datagramBuffer + 6) != sequence ||
                from.sin_addr.s_addr != destination)
                continue;
            found.status = IcmpErrorStatus(error.ee_type, error.ee_code);
            if (found.status == IP_SUCCESS) // a redirect: the echo may still be answered
                continue;
            found.answered = true;
            found.address = offender.sin_family == AF_INET ? offender.sin_addr.s_addr : 0;
        } else if (error.ee_origin == SO_EE_ORIGIN_LOCAL) {
            found.answered = false;
            found.status = StatusOfSystemError(static_cast<int>(error.ee_errno));
        } else {
            continue;
        }
        *outcome = found;
        return true;
    }
}

// Ping socket: reads every queued datagram. True when one is our echo reply: the kernel
// hands over every reply with our identifier, from whichever host.
bool ReadPingReplies(int descriptor, DWORD destination, std::uint16_t sequence,
                     EchoOutcome* outcome) {
    for (;;) {
        sockaddr_in from{};
        iovec part{datagramBuffer, sizeof datagramBuffer};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = controlBuffer;
        message.msg_controllen = sizeof controlBuffer;
        ssize_t received = recvmsg(descriptor, &message, MSG_DONTWAIT);
        if (received < 0) {
            // EAGAIN: all read. Another error is a pending ICMP error the error queue
            // holds as well; the caller reads it there.
            return false;
        }
        std::size_t length = static_cast<std::size_t>(received);
        if (length < kIcmpHeaderSize || datagramBuffer[0] != kEchoReply ||
            ReadBigEndian16(datagramBuffer + 6) != sequence || from.sin_addr.s_addr != destination)
            continue;
        EchoOutcome found{};
        ReadTtlAndTos(&message, &found);
        found.answered = true;
        found.status = IP_SUCCESS;
        found.address = from.sin_addr.s_addr;
        found.data = datagramBuffer + kIcmpHeaderSize;
        found.dataSize = length - kIcmpHeaderSize;
        *outcome = found;
        return true;
    }
}

// Raw socket: reads every queued datagram. True when one answers our request.
bool ReadRawDatagrams(int descriptor, DWORD destination, std::uint16_t identifier,
                      std::uint16_t sequence, EchoOutcome* outcome) {
    for (;;) {
        ssize_t received = recv(descriptor, datagramBuffer, sizeof datagramBuffer, MSG_DONTWAIT);
        if (received < 0)
            return false;
        RawEchoAnswer answer{};
        if (!ReadRawEchoAnswer(datagramBuffer, static_cast<std::size_t>(received), destination,
                               identifier, sequence, &answer))
            continue;
        outcome->answered = true;
        outcome->status = answer.status;
        outcome->address = answer.address;
        outcome->ttl = answer.ttl;
        outcome->tos = answer.tos;
        outcome->data = answer.data;
        outcome->dataSize = answer.dataSize;
        return true;
    }
}

// Waits until `deadline` for the answer to the request with `sequence`. What is already
// queued is read even when the deadline has passed, so a time-out of 0 still finds an
// answer that came at once. A termination signal ends the wait at once.
EchoOutcome AwaitAnswer(const EchoHandleSlot* slot, DWORD destination, std::uint16_t sequence,
                        std::int64_t deadline) {
    EchoOutcome outcome{};
    outcome.answered = false;
    for (;;) {
        std::int64_t remaining = deadline - MonotonicNanoseconds();
        std::int64_t milliseconds = remaining <= 0 ? 0 : (remaining + 999999) / 1000000;
        if (milliseconds > kLongestPollMs)
            milliseconds = kLongestPollMs;
        short seen = 0;
        int ready =
            WaitUnlessTerminated(slot->descriptor, POLLIN, static_cast<int>(milliseconds), &seen);
        if (ready < 0 && errno != EINTR) {
            outcome.status = errno == ECANCELED ? ERROR_OPERATION_ABORTED : IP_GENERAL_FAILURE;
            return outcome;
        }
        if (ready <= 0) {
            if (remaining <= 0) {
                outcome.status = IP_REQ_TIMED_OUT;
                return outcome;
            }
            continue;
        }
        if (slot->kind == ICMP_SOCKET_PING) {
            if ((seen & POLLERR) != 0 &&
                ReadPingErrors(slot->descriptor, destination, sequence, &outcome))
                return outcome;
            if ((seen & POLLIN) != 0 &&
                ReadPingReplies(slot->descriptor, destination, sequence, &outcome))
                return outcome;
        } else {
            if ((seen & POLLERR) != 0) {
                int pending = 0;
                socklen_t pendingLength = sizeof pending;
                getsockopt(slot->descriptor, SOL_SOCKET, SO_ERROR, &pending, &pendingLength);
            }
            if ((seen & POLLIN) != 0 && ReadRawDatagrams(slot->descriptor, destination,
                                                         slot->identifier, sequence, &outcome))
                return outcome;
        }
        if (remaining <= 0) {
            outcome.status = IP_REQ_TIMED_OUT;
            return outcome;
        }
    }
}

// Leaves in the socket's queues nothing that arrived before this request.
void DiscardQueued(int descriptor) {
    while (recv(descriptor, datagramBuffer, sizeof datagramBuffer, MSG_DONTWAIT) >= 0) {
    }
    while (recv(descriptor, datagramBuffer, sizeof datagramBuffer, MSG_ERRQUEUE | MSG_DONTWAIT) >=
           0) {
    }
}

} // namespace

// ---- The library's calls ----

std::uint16_t NextEchoSequence() {
    static std::uint16_t sequence = static_cast<std::uint16_t>(getpid() * 40503u);
    return ++sequence;
}

bool OpenIcmpLibrary() {
    int kind = ICMP_SOCKET_NONE;
    int descriptor = OpenEchoSocket(&kind);
    if (descriptor < 0) {
        SetLastError(StatusOfSystemError(errno) == IP_NO_RESOURCES ? IP_NO_RESOURCES
                                                                   : ERROR_ACCESS_DENIED);
        return false;
    }
    close(descriptor);
    return true;
}

void CloseIcmpLibrary() {
    for (EchoHandleSlot& slot : echoHandles) {
        if (slot.open)
            CloseSlot(&slot);
    }
}

HANDLE IcmpCreateFile() {
    unsigned free = 0;
    while (free < kHandleSlots && echoHandles[free].open)
        ++free;
    if (free == kHandleSlots) {
        SetLastError(IP_NO_RESOURCES);
        return INVALID_HANDLE_VALUE;
    }
    int kind = ICMP_SOCKET_NONE;
    int descriptor = OpenEchoSocket(&kind);
    if (descriptor < 0) {
        SetLastError(StatusOfSystemError(errno) == IP_NO_RESOURCES ? IP_NO_RESOURCES
                                                                   : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    EchoHandleSlot& slot = echoHandles[free];
    slot.open = true;
    slot.descriptor = descriptor;
    slot.kind = kind;
    slot.identifier = static_cast<std::uint16_t>(getpid() & 0xffff);
    slot.ttl = kUnknownSetting;
    slot.tos = kUnknownSetting;
    slot.dontFragment = kUnknownSetting;
    if (slot.generation == 0)
        slot.generation = 1;
    SetLastError(IP_SUCCESS);
    return HandleOfSlot(free);
}

bool IcmpCloseHandle(HANDLE handle) {
    EchoHandleSlot* slot = SlotOfHandle(handle);
    if (slot == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    CloseSlot(slot);
    SetLastError(IP_SUCCESS);
    return true;
}

int IcmpHandleKind(HANDLE handle) {
    const EchoHandleSlot* slot = SlotOfHandle(handle);
    return slot == nullptr ? ICMP_SOCKET_NONE : slot->kind;
}

DWORD IcmpSendEcho(HANDLE handle, DWORD destination, const void* requestData, WORD requestSize,
                   const IP_OPTION_INFORMATION* options, void* replyBuffer, DWORD replySize,
                   DWORD timeoutMs) {
    EchoHandleSlot* slot = SlotOfHandle(handle);
    if (slot == nullptr)
        return Fail(ERROR_INVALID_HANDLE);
    if (replyBuffer == nullptr || (requestData == nullptr && requestSize != 0))
        return Fail(ERROR_INVALID_PARAMETER);
    if (replySize < IcmpReplyBufferSize(requestSize))
        return Fail(IP_BUF_TOO_SMALL);
    if (destination == 0 || destination == 0xffffffffu)
        return Fail(IP_BAD_DESTINATION);
    DWORD optionStatus = ApplyRequestOptions(slot, options);
    if (optionStatus != IP_SUCCESS)
        return Fail(optionStatus);

    std::uint16_t sequence = NextEchoSequence();
    // The request: type, code, checksum, identifier, sequence, data. On a ping socket the
    // kernel puts in its own identifier and the checksum.
    std::size_t requestLength = kIcmpHeaderSize + requestSize;
    std::memset(requestBuffer, 0, kIcmpHeaderSize);
    requestBuffer[0] = kEchoRequest;
    requestBuffer[4] = static_cast<unsigned char>(slot->identifier >> 8);
    requestBuffer[5] = static_cast<unsigned char>(slot->identifier & 0xff);
    requestBuffer[6] = static_cast<unsigned char>(sequence >> 8);
    requestBuffer[7] = static_cast<unsigned char>(sequence & 0xff);
    if (requestSize != 0)
        std::memcpy(requestBuffer + kIcmpHeaderSize, requestData, requestSize);
    std::uint16_t checksum = InternetChecksum(requestBuffer, requestLength);
    requestBuffer[2] = static_cast<unsigned char>(checksum >> 8);
    requestBuffer[3] = static_cast<unsigned char>(checksum & 0xff);

    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = destination;

    DiscardQueued(slot->descriptor);
    std::int64_t sent = MonotonicNanoseconds();
    std::int64_t deadline = sent + static_cast<std::int64_t>(timeoutMs) * 1000000;
    ssize_t written = -1;
    do {
        written = sendto(slot->descriptor, requestBuffer, requestLength, 0,
                         reinterpret_cast<const sockaddr*>(&target), sizeof target);
    } while (written < 0 && errno == EINTR);
    if (written < 0)
        return Fail(StatusOfSystemError(errno));

    EchoOutcome outcome = AwaitAnswer(slot, destination, sequence, deadline);
    std::int64_t answered = MonotonicNanoseconds();
    if (!outcome.answered)
        return Fail(outcome.status);

    ICMP_ECHO_REPLY record{};
    unsigned char* replyBytes = static_cast<unsigned char*>(replyBuffer);
    std::size_t room = replySize - sizeof record;
    std::size_t dataSize = outcome.dataSize < room ? outcome.dataSize : room;
    if (dataSize > 0xffff)
        dataSize = 0xffff;
    record.Address = outcome.address;
    record.Status = outcome.status;
    record.RoundTripTime = static_cast<DWORD>((answered - sent) / 1000000);
    record.DataSize = static_cast<WORD>(dataSize);
    record.Reserved = 0;
    record.Data = replyBytes + sizeof record;
    record.Options.Ttl = outcome.ttl;
    record.Options.Tos = outcome.tos;
    record.Options.Flags = 0;
    record.Options.OptionsSize = 0;
    record.Options.OptionsData = nullptr;
    std::memcpy(replyBytes, &record, sizeof record);
    if (dataSize != 0)
        std::memcpy(replyBytes + sizeof record, outcome.data, dataSize);
    SetLastError(outcome.status);
    return 1;
}

} // namespace platform
