// The system ICMP library on Linux: the table of open echo handles, each a ping socket or a
// raw ICMP socket (platform/echosocket), and the echo exchange IcmpSendEcho2 leaves to the
// event loop, which posts its end. Order: the pure helpers (checksum, status mapping, raw
// datagram reader), the handle table, the reply record, the exchange, then the public
// calls.
#include "platform/icmplib.h"

#include "platform/capability_internal.h"
#include "platform/echosocket_internal.h"
#include "platform/messages_internal.h"
#include "platform/sockaddr_internal.h"
#include "platform/system.h"
#include "platform/system_internal.h"
#include "platform/testing_sys.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t kIcmpHeaderSize = 8;
// The largest IPv4 datagram; a raw socket never delivers more.
constexpr std::size_t kDatagramMaximum = 65535;

DWORD Fail(DWORD status) {
    SetLastError(status);
    return 0;
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
    case 3: // destination unreachable
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
    case 11: // time exceeded
        return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case 4:
        return IP_SOURCE_QUENCH;
    case 12:
        return IP_PARAM_PROBLEM;
    default:
        return IP_SUCCESS;
    }
}

DWORD Icmp6ErrorStatus(int type, int code) {
    switch (type) {
    case 1: // destination unreachable
        switch (code) {
        case 0: // no route
            return IP_DEST_NET_UNREACHABLE;
        case 1: // communication administratively prohibited
        case 5: // source address failed ingress/egress policy
        case 6: // reject route
            return IP_DEST_PROT_UNREACHABLE;
        case 4:
            return IP_DEST_PORT_UNREACHABLE;
        default: // address unreachable, beyond the source's scope, and the rest
            return IP_DEST_HOST_UNREACHABLE;
        }
    case 2:
        return IP_PACKET_TOO_BIG;
    case 3: // time exceeded
        return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case 4:
        return IP_PARAM_PROBLEM;
    default:
        return IP_SUCCESS;
    }
}

bool ReadRawEchoAnswer(const unsigned char* datagram, std::size_t length, DWORD destination,
                       std::uint16_t identifier, std::uint16_t sequence, RawEchoAnswer* answer) {
    EchoMessage message{};
    // Only the probed host answers: a reply from elsewhere with our numbers is forged, or
    // another program's whose pings share them.
    if (!ParseRawEchoDatagram(datagram, length, &message) ||
        !AnswersEchoRequest(message, ICMP_SOCKET_RAW, destination, identifier, sequence))
        return false;
    answer->status = message.status;
    answer->address = message.address;
    answer->ttl = message.ttl;
    answer->tos = message.tos;
    answer->data = message.data;
    answer->dataSize = message.dataSize;
    return true;
}

bool ReadRawEcho6Answer(const unsigned char* icmp, std::size_t length, const unsigned char* source,
                        const unsigned char* destination, std::uint16_t identifier,
                        std::uint16_t sequence, RawEchoAnswer* answer) {
    EchoMessage message{};
    if (!ParseRawEcho6Message(icmp, length, source, &message) ||
        !AnswersEcho6Request(message, ICMP_SOCKET_RAW, destination, identifier, sequence))
        return false;
    answer->status = message.status;
    answer->address = 0;
    answer->ttl = 0;
    answer->tos = 0;
    answer->data = message.data;
    answer->dataSize = message.dataSize;
    return true;
}

// ---- The handle table ----

namespace {

constexpr unsigned kHandleSlots = 16;
constexpr unsigned kSlotBits = 5; // slot number + 1, 1 to 16
constexpr int kUnknownSetting = -2;
constexpr std::int64_t kLongestTimerMs = 3600000; // a DWORD time-out exceeds the timer's int
constexpr int kMessagesPerWake = 1024;            // read at one wake-up; the rest at the next

// Where a request goes: an IPv4 address, or an IPv6 one on an interface.
struct EchoTarget {
    DWORD address; // IPv4, network order
    unsigned char address6[16];
    std::uint32_t scope; // IPv6: the interface of a link-local address, 0 none
};

// The request Icmp(6)SendEcho2 left to the event loop, and where its end is told.
struct PendingEcho {
    bool active; // sent, its end not yet told
    HWND window; // told with `message`
    UINT message;
    EchoTarget destination;
    std::uint16_t sequence;    // of the request
    std::int64_t sentRealtime; // the send, on the clock of the kernel's arrival times
    std::int64_t deadline;     // CLOCK_MONOTONIC nanoseconds
    std::int64_t timeout;      // nanoseconds, for the arrival times
    void* replyBuffer;         // the caller's, written at the end
    DWORD replySize;
    std::unique_ptr<QSocketNotifier> notifier; // the socket, watched while active
    std::unique_ptr<QTimer> timer;             // the deadline
};

struct EchoHandleSlot {
    bool open;                 // the slot holds a socket
    int descriptor;            // the socket
    int kind;                  // ICMP_SOCKET_PING or ICMP_SOCKET_RAW
    bool ipv6;                 // an ICMPv6 socket, opened by Icmp6CreateFile
    std::uintptr_t generation; // bumped at every close, so a stale handle is refused
    std::uint16_t identifier;  // raw socket: the identifier of our requests
    int ttl;                   // as last set on the socket (-1 system default)
    int tos;                   // as last set on the socket
    int dontFragment;          // as last set on the socket (0 or 1)
    PendingEcho pending;
    // The reply buffer IcmpSendEcho2 wrote last, whether that was an answer, and when, so
    // that IcmpParseReplies can tell an answer from a failure.
    const void* lastReplyBuffer;
    bool lastAnswered;
    std::uint64_t lastFinish;
};

EchoHandleSlot echoHandles[kHandleSlots];
std::uint64_t finishedEchoes = 0; // counts the ends IcmpSendEcho2 told

// The bytes of a request being sent and of the datagram being read, on the one
// user-interface thread.
unsigned char requestBuffer[kIcmpHeaderSize + kDatagramMaximum];
EchoReceiveBuffer receiveBuffer;

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

unsigned IndexOfSlot(const EchoHandleSlot* slot) {
    return static_cast<unsigned>(slot - echoHandles);
}

bool SetIntegerOption(int descriptor, int level, int name, int value) {
    return setsockopt(descriptor, level, name, &value, sizeof value) == 0;
}

void StopPendingEcho(EchoHandleSlot* slot) {
    slot->pending.active = false;
    if (slot->pending.notifier)
        slot->pending.notifier->setEnabled(false);
    if (slot->pending.timer)
        slot->pending.timer->stop();
}

void CloseSlot(EchoHandleSlot* slot) {
    StopPendingEcho(slot);
    // The watchers go before the socket they watch; their handlers never close a handle.
    slot->pending.notifier.reset();
    slot->pending.timer.reset();
    if (slot->lastReplyBuffer != nullptr)
        WithdrawPostedMessages(slot->pending.window, slot->pending.message,
                               reinterpret_cast<WPARAM>(HandleOfSlot(IndexOfSlot(slot))));
    slot->lastReplyBuffer = nullptr;
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
    // IPv6 has the same three: the hop limit, the traffic class and path MTU discovery.
    int level = slot->ipv6 ? IPPROTO_IPV6 : IPPROTO_IP;
    if (ttl != slot->ttl) {
        if (!SetIntegerOption(slot->descriptor, level, slot->ipv6 ? IPV6_UNICAST_HOPS : IP_TTL,
                              ttl))
            return IP_BAD_OPTION;
        slot->ttl = ttl;
    }
    if (tos != slot->tos) {
        if (!SetIntegerOption(slot->descriptor, level, slot->ipv6 ? IPV6_TCLASS : IP_TOS, tos))
            return IP_BAD_OPTION;
        slot->tos = tos;
    }
    if (dontFragment != slot->dontFragment) {
        int discovery = slot->ipv6 ? (dontFragment != 0 ? IPV6_PMTUDISC_DO : IPV6_PMTUDISC_DONT)
                                   : (dontFragment != 0 ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT);
        if (!SetIntegerOption(slot->descriptor, level,
                              slot->ipv6 ? IPV6_MTU_DISCOVER : IP_MTU_DISCOVER, discovery))
            return IP_BAD_OPTION;
        slot->dontFragment = dontFragment;
    }
    return IP_SUCCESS;
}

// Leaves in the socket's queues nothing that arrived before this request.
void DiscardQueued(int descriptor) {
    while (recv(descriptor, receiveBuffer.datagram, sizeof receiveBuffer.datagram, MSG_DONTWAIT) >=
           0) {
    }
    while (recv(descriptor, receiveBuffer.datagram, sizeof receiveBuffer.datagram,
                MSG_ERRQUEUE | MSG_DONTWAIT) >= 0) {
    }
}

// Checks what both sends check, sets the options and sends the request: IP_SUCCESS with
// its sequence and send times, or why it was not sent.
// No echo goes to 0.0.0.0, the broadcast address, :: or a multicast group.
bool IsBadDestination(const EchoHandleSlot& slot, const EchoTarget& destination) {
    if (!slot.ipv6)
        return destination.address == 0 || destination.address == 0xffffffffu;
    static const unsigned char unspecified[16] = {};
    return std::memcmp(destination.address6, unspecified, 16) == 0 ||
           destination.address6[0] == 0xff;
}

DWORD SendRequest(EchoHandleSlot* slot, const EchoTarget& destination, const void* requestData,
                  WORD requestSize, const IP_OPTION_INFORMATION* options, const void* replyBuffer,
                  DWORD replySize, std::uint16_t* sequence, std::int64_t* sentRealtime,
                  std::int64_t* sentMonotonic) {
    if (replyBuffer == nullptr || (requestData == nullptr && requestSize != 0))
        return ERROR_INVALID_PARAMETER;
    if (replySize <
        (slot->ipv6 ? Icmp6ReplyBufferSize(requestSize) : IcmpReplyBufferSize(requestSize)))
        return IP_BUF_TOO_SMALL;
    if (IsBadDestination(*slot, destination))
        return IP_BAD_DESTINATION;
    DWORD optionStatus = ApplyRequestOptions(slot, options);
    if (optionStatus != IP_SUCCESS)
        return optionStatus;
    *sequence = NextEchoSequence();
    std::size_t length = slot->ipv6 ? WriteEcho6Request(requestBuffer, slot->identifier, *sequence,
                                                        requestData, requestSize)
                                    : WriteEchoRequest(requestBuffer, slot->identifier, *sequence,
                                                       requestData, requestSize);
    DiscardQueued(slot->descriptor);
    *sentRealtime = RealtimeNanoseconds();
    *sentMonotonic = MonotonicNanoseconds();
    int error =
        slot->ipv6 ? SendEcho6Datagram(slot->descriptor, requestBuffer, length,
                                       destination.address6, destination.scope)
                   : SendEchoDatagram(slot->descriptor, requestBuffer, length, destination.address);
    return error != 0 ? StatusOfSystemError(error) : IP_SUCCESS;
}

// ---- The reply record ----

// What an exchange came to.
struct EchoOutcome {
    bool answered;              // a record of an answer is to be made
    DWORD status;               // the record's status, or the failure when not answered
    DWORD address;              // who answered
    unsigned char address6[16]; // who answered an IPv6 request
    std::uint8_t ttl;
    std::uint8_t tos;
    const unsigned char* data; // echoed data, in receiveBuffer
    std::size_t dataSize;
    std::int64_t arrival; // the kernel's, CLOCK_REALTIME; 0 when not known
};

// Reads what the socket holds until the answer to the request with `sequence` turns up.
bool TakeAnswer(const EchoHandleSlot* slot, const EchoTarget& destination, std::uint16_t sequence,
                EchoOutcome* outcome) {
    EchoMessage message{};
    for (int read = 0; read < kMessagesPerWake; ++read) {
        if (!ReceiveEchoMessage(slot->descriptor, slot->kind, slot->ipv6, &receiveBuffer, &message))
            return false;
        if (slot->ipv6 ? !AnswersEcho6Request(message, slot->kind, destination.address6,
                                              slot->identifier, sequence)
                       : !AnswersEchoRequest(message, slot->kind, destination.address,
                                             slot->identifier, sequence))
            continue;
        outcome->answered = message.kind != EchoMessageKind::LocalError;
        outcome->status = message.status;
        outcome->address = message.address;
        std::memcpy(outcome->address6, message.address6, 16);
        outcome->ttl = message.ttl;
        outcome->tos = message.tos;
        outcome->data = message.data;
        outcome->dataSize = message.dataSize;
        outcome->arrival = message.arrival;
        return true;
    }
    return false;
}

// Whole milliseconds from the send to the arrival (to now when the kernel gave no time).
DWORD RoundTripMilliseconds(std::int64_t sentRealtime, std::int64_t arrival) {
    std::int64_t end = arrival != 0 ? arrival : RealtimeNanoseconds();
    return end > sentRealtime ? static_cast<DWORD>((end - sentRealtime) / 1000000) : 0;
}

// One record at the start of `replyBuffer`, the echoed data just after it as far as it
// fits; a failure's record has its status and nothing else.
void WriteReplyRecord(void* replyBuffer, DWORD replySize, const EchoOutcome& outcome,
                      DWORD roundTrip) {
    ICMP_ECHO_REPLY record{};
    unsigned char* replyBytes = static_cast<unsigned char*>(replyBuffer);
    std::size_t room = replySize - sizeof record;
    std::size_t dataSize = outcome.answered && outcome.dataSize < room ? outcome.dataSize
                           : outcome.answered                          ? room
                                                                       : 0;
    if (dataSize > 0xffff)
        dataSize = 0xffff;
    record.Address = outcome.answered ? outcome.address : 0;
    record.Status = outcome.status;
    record.RoundTripTime = outcome.answered ? roundTrip : 0;
    record.DataSize = static_cast<WORD>(dataSize);
    record.Data = replyBytes + sizeof record;
    record.Options.Ttl = outcome.answered ? outcome.ttl : 0;
    record.Options.Tos = outcome.answered ? outcome.tos : 0;
    std::memcpy(replyBytes, &record, sizeof record);
    if (dataSize != 0)
        std::memcpy(replyBytes + sizeof record, outcome.data, dataSize);
}

// The same for an IPv6 echo: the record holds who answered, the status and the round trip;
// the echoed data follows it as far as it fits.
void WriteReply6Record(void* replyBuffer, DWORD replySize, const EchoOutcome& outcome,
                       DWORD roundTrip) {
    ICMPV6_ECHO_REPLY record{};
    unsigned char* replyBytes = static_cast<unsigned char*>(replyBuffer);
    std::size_t room = replySize - sizeof record;
    std::size_t dataSize = !outcome.answered         ? 0
                           : outcome.dataSize < room ? outcome.dataSize
                                                     : room;
    if (outcome.answered)
        std::memcpy(record.Address.sin6_addr, outcome.address6, 16);
    record.Status = outcome.status;
    record.RoundTripTime = outcome.answered ? roundTrip : 0;
    std::memcpy(replyBytes, &record, sizeof record);
    if (dataSize != 0)
        std::memcpy(replyBytes + sizeof record, outcome.data, dataSize);
}

// ---- The exchange ----

void FinishPendingEcho(EchoHandleSlot* slot, const EchoOutcome& outcome) {
    PendingEcho& pending = slot->pending;
    StopPendingEcho(slot);
    DWORD roundTrip = RoundTripMilliseconds(pending.sentRealtime, outcome.arrival);
    if (slot->ipv6)
        WriteReply6Record(pending.replyBuffer, pending.replySize, outcome, roundTrip);
    else
        WriteReplyRecord(pending.replyBuffer, pending.replySize, outcome, roundTrip);
    slot->lastReplyBuffer = pending.replyBuffer;
    slot->lastAnswered = outcome.answered;
    slot->lastFinish = ++finishedEchoes;
    PostMessage(pending.window, pending.message,
                reinterpret_cast<WPARAM>(HandleOfSlot(IndexOfSlot(slot))),
                static_cast<LPARAM>(outcome.status));
}

// An answer whose arrival the kernel dates after the deadline came too late, however
// soon it was read.
bool ArrivedInTime(const PendingEcho& pending, const EchoOutcome& outcome) {
    return outcome.arrival == 0 || outcome.arrival - pending.sentRealtime <= pending.timeout;
}

void OnPendingEchoReadable(unsigned index) {
    EchoHandleSlot* slot = &echoHandles[index];
    EchoOutcome outcome{};
    if (!slot->pending.active ||
        !TakeAnswer(slot, slot->pending.destination, slot->pending.sequence, &outcome))
        return;
    if (!ArrivedInTime(slot->pending, outcome))
        outcome = EchoOutcome{false, IP_REQ_TIMED_OUT, 0, {}, 0, 0, nullptr, 0, 0};
    FinishPendingEcho(slot, outcome);
}

// The deadline: what the socket holds is read first, so that an answer the kernel took in
// time counts however late the program came to read it.
void OnPendingEchoDeadline(unsigned index) {
    EchoHandleSlot* slot = &echoHandles[index];
    PendingEcho& pending = slot->pending;
    if (!pending.active)
        return;
    std::int64_t remaining = pending.deadline - MonotonicNanoseconds();
    if (remaining > 0) {
        pending.timer->start(static_cast<int>((remaining + 999999) / 1000000));
        return;
    }
    EchoOutcome outcome{};
    if (!TakeAnswer(slot, pending.destination, pending.sequence, &outcome) ||
        !ArrivedInTime(pending, outcome))
        outcome = EchoOutcome{false, IP_REQ_TIMED_OUT, 0, {}, 0, 0, nullptr, 0, 0};
    FinishPendingEcho(slot, outcome);
}

void MakeWatchers(EchoHandleSlot* slot) {
    unsigned index = IndexOfSlot(slot);
    if (!slot->pending.notifier) {
        slot->pending.notifier =
            std::make_unique<QSocketNotifier>(slot->descriptor, QSocketNotifier::Read);
        QObject::connect(slot->pending.notifier.get(), &QSocketNotifier::activated,
                         [index] { OnPendingEchoReadable(index); });
    }
    if (!slot->pending.timer) {
        slot->pending.timer = std::make_unique<QTimer>();
        slot->pending.timer->setSingleShot(true);
        slot->pending.timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(slot->pending.timer.get(), &QTimer::timeout,
                         [index] { OnPendingEchoDeadline(index); });
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
    int descriptor = OpenEchoSocket(false, false, &kind);
    if (descriptor < 0) {
        SetLastError(EchoSocketOpenFailure(errno));
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

namespace {

HANDLE CreateEchoHandle(bool ipv6) {
    unsigned free = 0;
    while (free < kHandleSlots && echoHandles[free].open)
        ++free;
    if (free == kHandleSlots) {
        SetLastError(IP_NO_RESOURCES);
        return INVALID_HANDLE_VALUE;
    }
    int kind = ICMP_SOCKET_NONE;
    int descriptor = OpenEchoSocket(false, ipv6, &kind);
    if (descriptor < 0) {
        SetLastError(EchoSocketOpenFailure(errno));
        return INVALID_HANDLE_VALUE;
    }
    EchoHandleSlot& slot = echoHandles[free];
    slot.open = true;
    slot.descriptor = descriptor;
    slot.kind = kind;
    slot.ipv6 = ipv6;
    slot.identifier = static_cast<std::uint16_t>(getpid() & 0xffff);
    slot.ttl = kUnknownSetting;
    slot.tos = kUnknownSetting;
    slot.dontFragment = kUnknownSetting;
    slot.lastReplyBuffer = nullptr;
    if (slot.generation == 0)
        slot.generation = 1;
    SetLastError(IP_SUCCESS);
    return HandleOfSlot(free);
}

} // namespace

HANDLE IcmpCreateFile() {
    return CreateEchoHandle(false);
}

HANDLE Icmp6CreateFile() {
    return CreateEchoHandle(true);
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

namespace {

DWORD StartEcho(EchoHandleSlot* slot, HWND window, UINT message, const EchoTarget& destination,
                const void* requestData, WORD requestSize, const IP_OPTION_INFORMATION* options,
                void* replyBuffer, DWORD replySize, DWORD timeoutMs) {
    if (slot->pending.active)
        return Fail(ERROR_BUSY);
    if (QCoreApplication::instance() == nullptr)
        return Fail(IP_GENERAL_FAILURE); // no event loop to end the exchange
    PendingEcho& pending = slot->pending;
    std::int64_t sentMonotonic = 0;
    DWORD status = SendRequest(slot, destination, requestData, requestSize, options, replyBuffer,
                               replySize, &pending.sequence, &pending.sentRealtime, &sentMonotonic);
    if (status != IP_SUCCESS)
        return Fail(status);
    MakeWatchers(slot);
    pending.active = true;
    pending.window = window;
    pending.message = message;
    pending.destination = destination;
    pending.timeout = static_cast<std::int64_t>(timeoutMs) * 1000000;
    pending.deadline = sentMonotonic + pending.timeout;
    pending.replyBuffer = replyBuffer;
    pending.replySize = replySize;
    pending.notifier->setEnabled(true);
    std::int64_t milliseconds = timeoutMs < kLongestTimerMs ? timeoutMs : kLongestTimerMs;
    pending.timer->start(static_cast<int>(milliseconds));
    return Fail(ERROR_IO_PENDING);
}

// The open handle of the family asked for; null (ERROR_INVALID_HANDLE) when the handle is
// not open, and ERROR_INVALID_PARAMETER when it is of the other family.
EchoHandleSlot* SlotOfFamily(HANDLE handle, bool ipv6) {
    EchoHandleSlot* slot = SlotOfHandle(handle);
    if (slot == nullptr || slot->ipv6 != ipv6) {
        SetLastError(slot == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return slot;
}

// The handle that wrote `replyBuffer` last, when it is of the family asked for, and its
// record's status; 1 for an answer, 0 for a failure.
DWORD ParseReplies(void* replyBuffer, DWORD replySize, bool ipv6) {
    const EchoHandleSlot* written = nullptr;
    for (const EchoHandleSlot& slot : echoHandles) {
        if (slot.open && slot.lastReplyBuffer == replyBuffer && replyBuffer != nullptr &&
            (written == nullptr || slot.lastFinish > written->lastFinish))
            written = &slot;
    }
    if (written == nullptr || written->ipv6 != ipv6 ||
        replySize < (ipv6 ? sizeof(ICMPV6_ECHO_REPLY) : sizeof(ICMP_ECHO_REPLY)))
        return Fail(ERROR_INVALID_PARAMETER);
    DWORD status = 0;
    if (ipv6) {
        ICMPV6_ECHO_REPLY record{};
        std::memcpy(&record, replyBuffer, sizeof record);
        status = record.Status;
    } else {
        ICMP_ECHO_REPLY record{};
        std::memcpy(&record, replyBuffer, sizeof record);
        status = record.Status;
    }
    SetLastError(status);
    return written->lastAnswered ? 1 : 0;
}

} // namespace

DWORD IcmpSendEcho2(HANDLE handle, HWND window, UINT message, DWORD destination,
                    const void* requestData, WORD requestSize, const IP_OPTION_INFORMATION* options,
                    void* replyBuffer, DWORD replySize, DWORD timeoutMs) {
    EchoHandleSlot* slot = SlotOfFamily(handle, false);
    if (slot == nullptr)
        return 0;
    EchoTarget target{};
    target.address = destination;
    return StartEcho(slot, window, message, target, requestData, requestSize, options, replyBuffer,
                     replySize, timeoutMs);
}

DWORD Icmp6SendEcho2(HANDLE handle, HWND window, UINT message, const sockaddr_in6* source,
                     const sockaddr_in6* destination, const void* requestData, WORD requestSize,
                     const IP_OPTION_INFORMATION* options, void* replyBuffer, DWORD replySize,
                     DWORD timeoutMs) {
    EchoHandleSlot* slot = SlotOfFamily(handle, true);
    if (slot == nullptr)
        return 0;
    // The stack's sockaddr_in6 is 28 bytes (winsock.h); the system's form is read from it.
    constexpr int kStackAddressSize = 28;
    ::sockaddr_storage system{};
    socklen_t systemLength = 0;
    if (destination == nullptr ||
        ToSystemSocketAddress(reinterpret_cast<const sockaddr*>(destination), kStackAddressSize,
                              &system, &systemLength) != 0 ||
        system.ss_family != AF_INET6)
        return Fail(ERROR_INVALID_PARAMETER);
    if (source != nullptr) {
        ::sockaddr_storage from{};
        if (ToSystemSocketAddress(reinterpret_cast<const sockaddr*>(source), kStackAddressSize,
                                  &from, &systemLength) != 0 ||
            !IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const ::sockaddr_in6&>(from).sin6_addr))
            return Fail(ERROR_INVALID_PARAMETER); // the system chooses the source
    }
    const auto& to = reinterpret_cast<const ::sockaddr_in6&>(system);
    EchoTarget target{};
    std::memcpy(target.address6, &to.sin6_addr, 16);
    target.scope = to.sin6_scope_id;
    return StartEcho(slot, window, message, target, requestData, requestSize, options, replyBuffer,
                     replySize, timeoutMs);
}

DWORD IcmpParseReplies(void* replyBuffer, DWORD replySize) {
    return ParseReplies(replyBuffer, replySize, false);
}

DWORD Icmp6ParseReplies(void* replyBuffer, DWORD replySize) {
    return ParseReplies(replyBuffer, replySize, true);
}

} // namespace platform
