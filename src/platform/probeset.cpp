// Probe sets: the table of sets and of their probes, the echo socket each set reads all
// answers from, the connects each watched on their own, the look-ups handed to the
// workers, the one deadline timer per set, and the late look-up answers kept for the next
// probe of their name. Order: records, outcomes and the message, echoes, connects,
// look-ups, deadlines, the public calls.
#include "platform/probeset.h"

#include "platform/echosocket_internal.h"
#include "platform/lookups_internal.h"
#include "platform/messages_internal.h"
#include "platform/sockaddr_internal.h"
#include "platform/system.h"
#include "platform/system_internal.h"
#include "platform/testing_sys.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/errqueue.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace platform {

namespace {

constexpr DWORD ERROR_NOT_FOUND = 1168;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;

constexpr std::size_t kRawEngineDataSize = 40; // the raw engine's request data
constexpr int kMessagesPerWake = 4096;         // read at one wake-up; the rest at the next
constexpr std::int64_t kLongestTimerMs = 3600000;
constexpr std::int64_t kDeadlineStep = 5000000; // nanoseconds

/*** records ***/

enum class ProbeKind { Echo, Connect, Lookup };

struct Probe {
    DWORD key; // the caller's
    ProbeKind kind;
    bool known; // the outcome is there
    PROBE_OUTCOME outcome;
    std::int64_t deadline; // CLOCK_MONOTONIC nanoseconds
    std::int64_t sent;     // CLOCK_REALTIME nanoseconds, against the kernel's arrival times
    std::int64_t timeout;  // nanoseconds
    DWORD destination;     // echo and connect to IPv4, network order
    bool ipv6;             // echo and connect to IPv6:
    unsigned char destination6[16];
    std::uint32_t scope;       // the interface of a link-local destination
    ::sockaddr_storage target; // connect: where to
    socklen_t targetLength;
    std::uint16_t sequence; // echo, as on the wire
    int descriptor = -1;    // connect: its socket until the outcome is known
    std::string name;       // look-up
    int lookupFamily;       // look-up: PROBE_LOOKUP_*
};

// One echo socket of a set, of one family.
struct EchoSocket {
    int descriptor = -1;
    int kind = ICMP_SOCKET_NONE;
    std::unique_ptr<QSocketNotifier> notifier;
};

struct ProbeSet {
    std::uintptr_t serial; // the handle's value, never given twice
    HWND window;           // told of outcomes with `message`
    UINT message;
    int engine;                          // PROBE_ECHO_*
    EchoSocket echo;                     // IPv4; no descriptor without an engine
    EchoSocket echo6;                    // ICMPv6, opened for the first echo to an IPv6 address
    bool echo6Refused = false;           // that socket could not be opened: no further try
    unsigned expectedProbes;             // room in each echo socket's receive buffer
    std::uint16_t identifier;            // of our echoes, as on the wire
    std::vector<unsigned char> echoData; // library engine
    // The connects under way are watched together, so that the event loop watches one
    // descriptor however many there are: an epoll set of their sockets, keyed by probe.
    int connectWatch = -1;
    std::unique_ptr<QSocketNotifier> connectNotifier;
    std::unique_ptr<QTimer> deadlineTimer;   // the nearest deadline of a probe under way
    std::int64_t armedFor = 0;               // the deadline it runs for while it runs
    std::unordered_map<DWORD, Probe> probes; // by key
    bool messageWaiting = false;             // posted, and not yet followed by a TakeProbeOutcome
};

// A look-up's answer that came when no probe waited for it any more.
struct LateAnswer {
    std::vector<LookupAddress> addresses; // in the system's order
    std::int64_t kept;                    // CLOCK_MONOTONIC nanoseconds
};

// A look-up running for probes of one name, and the probes that wait for it.
struct LookupUnderWay {
    std::uint64_t number;
    std::vector<std::pair<std::uintptr_t, DWORD>> waiting; // set serial, probe key
};

constexpr std::int64_t kLateAnswerLifetime = 24LL * 3600 * 1000000000;
constexpr std::size_t kLateAnswersKept = 256;

/*** globals ***/

struct ProbeSets {
    std::vector<std::unique_ptr<ProbeSet>> sets;
    std::uintptr_t lastSerial = 0;
    std::unordered_map<std::string, LookupUnderWay> lookups; // by name
    std::unordered_map<std::string, LateAnswer> lateAnswers; // by name
    EchoReceiveBuffer receiveBuffer;                         // one set reads at a time
} probeSets;

ProbeSet* FindSet(std::uintptr_t serial) {
    for (const std::unique_ptr<ProbeSet>& set : probeSets.sets)
        if (set->serial == serial)
            return set.get();
    return nullptr;
}

ProbeSet* SetOfHandle(HANDLE handle) {
    ProbeSet* set = FindSet(reinterpret_cast<std::uintptr_t>(handle));
    if (set == nullptr)
        SetLastError(ERROR_INVALID_HANDLE);
    return set;
}

Probe* FindProbe(ProbeSet* set, DWORD key) {
    auto found = set->probes.find(key);
    return found != set->probes.end() ? &found->second : nullptr;
}

HANDLE HandleOf(const ProbeSet* set) {
    return reinterpret_cast<HANDLE>(set->serial);
}

/*** outcomes and the message ***/

void ArmDeadlineTimer(ProbeSet* set);

// Ends a connect's watch: its socket leaves the set's epoll set as it closes.
void CloseConnectSocket(Probe* probe) {
    if (probe->descriptor >= 0)
        ::close(probe->descriptor);
    probe->descriptor = -1;
}

void Settle(ProbeSet* set, Probe* probe, DWORD status, DWORD roundTrip, DWORD address) {
    if (probe->known)
        return;
    probe->known = true;
    probe->outcome = PROBE_OUTCOME{status, roundTrip, address};
    if (probe->kind == ProbeKind::Connect)
        CloseConnectSocket(probe);
    if (!set->messageWaiting)
        set->messageWaiting =
            PostMessage(set->window, set->message, reinterpret_cast<WPARAM>(HandleOf(set)), 0);
}

// An IPv6 address for an outcome settled with address 0.
void SetOutcomeAddress6(Probe* probe, const unsigned char* address6) {
    probe->outcome.ipv6 = true;
    std::memcpy(probe->outcome.address6, address6, 16);
}

// What the engine reports for an echo that nothing answered in time.
void SettleEchoTimedOut(ProbeSet* set, Probe* probe) {
    Settle(set, probe, set->engine == PROBE_ECHO_RAW ? PROBE_NO_REPLY : IP_REQ_TIMED_OUT, 0, 0);
}

// Stops what a probe still waits for, known or not; the probe leaves the set after.
void StopProbe(ProbeSet* set, Probe* probe);

/*** echoes ***/

std::uint16_t ByteSwapped(std::uint16_t value) {
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

void SettleEchoAnswer(ProbeSet* set, Probe* probe, const EchoMessage& message) {
    // An answer the kernel took in after the deadline came too late, however soon it was read.
    if (message.arrival != 0 && message.arrival - probe->sent > probe->timeout) {
        SettleEchoTimedOut(set, probe);
        return;
    }
    if (set->engine == PROBE_ECHO_RAW) {
        bool reply = message.kind == EchoMessageKind::Reply;
        Settle(set, probe, reply ? 0 : PROBE_ECHO_ERROR, 0, message.address);
        if (message.ipv6)
            SetOutcomeAddress6(probe, message.address6);
        return;
    }
    DWORD roundTrip = 0;
    if (message.kind != EchoMessageKind::LocalError) {
        std::int64_t end = message.arrival != 0 ? message.arrival : RealtimeNanoseconds();
        roundTrip = end > probe->sent ? static_cast<DWORD>((end - probe->sent) / 1000000) : 0;
    }
    Settle(set, probe, message.status, roundTrip, message.address);
    if (message.ipv6 && message.kind != EchoMessageKind::LocalError)
        SetOutcomeAddress6(probe, message.address6);
}

bool AnswersProbe(const EchoMessage& message, const EchoSocket& socket, const ProbeSet* set,
                  const Probe* probe) {
    if (probe->kind != ProbeKind::Echo || probe->known)
        return false;
    return probe->ipv6 ? AnswersEcho6Request(message, socket.kind, probe->destination6,
                                             set->identifier, probe->sequence)
                       : AnswersEchoRequest(message, socket.kind, probe->destination,
                                            set->identifier, probe->sequence);
}

// Reads what one echo socket holds and settles the probes it answers.
void ReadEchoSocket(ProbeSet* set, const EchoSocket& socket) {
    if (socket.descriptor < 0)
        return;
    bool ipv6 = &socket == &set->echo6;
    EchoMessage message{};
    for (int read = 0; read < kMessagesPerWake; ++read) {
        if (!ReceiveEchoMessage(socket.descriptor, socket.kind, ipv6, &probeSets.receiveBuffer,
                                &message))
            return;
        for (auto& [key, probe] : set->probes) {
            if (AnswersProbe(message, socket, set, &probe)) {
                SettleEchoAnswer(set, &probe, message);
                break;
            }
        }
    }
}

void ReadEchoSockets(ProbeSet* set) {
    ReadEchoSocket(set, set->echo);
    ReadEchoSocket(set, set->echo6);
}

void OnEchoReadable(std::uintptr_t serial, bool ipv6) {
    if (ProbeSet* set = FindSet(serial)) {
        ReadEchoSocket(set, ipv6 ? set->echo6 : set->echo);
        ArmDeadlineTimer(set);
    }
}

bool OpenSetEchoSocket(ProbeSet* set, EchoSocket* socket, bool ipv6) {
    socket->descriptor = OpenEchoSocket(set->engine == PROBE_ECHO_RAW, ipv6, &socket->kind);
    if (socket->descriptor < 0) {
        SetLastError(EchoSocketOpenFailure(errno));
        return false;
    }
    SizeEchoSocketBuffer(socket->descriptor, set->expectedProbes);
    std::uintptr_t serial = set->serial;
    socket->notifier = std::make_unique<QSocketNotifier>(socket->descriptor, QSocketNotifier::Read);
    QObject::connect(socket->notifier.get(), &QSocketNotifier::activated,
                     [serial, ipv6] { OnEchoReadable(serial, ipv6); });
    return true;
}

void CloseSetEchoSocket(EchoSocket* socket) {
    // The watcher goes before the socket it watches.
    socket->notifier.reset();
    if (socket->descriptor >= 0)
        ::close(socket->descriptor);
    socket->descriptor = -1;
}

// The socket an echo to this probe's destination goes through; null when it cannot be had.
const EchoSocket* EchoSocketFor(ProbeSet* set, const Probe* probe) {
    if (!probe->ipv6)
        return &set->echo;
    if (set->echo6.descriptor < 0 && !set->echo6Refused)
        set->echo6Refused = !OpenSetEchoSocket(set, &set->echo6, true);
    return set->echo6.descriptor >= 0 ? &set->echo6 : nullptr;
}

bool IsUnspecified6(const unsigned char* address) {
    static const unsigned char zero[16] = {};
    return std::memcmp(address, zero, sizeof zero) == 0;
}

void SendEcho(ProbeSet* set, Probe* probe) {
    std::uint16_t sequence = NextEchoSequence();
    static unsigned char request[8 + 65535]; // the user-interface thread's alone
    std::size_t length = 0;
    auto write = probe->ipv6 ? WriteEcho6Request : WriteEchoRequest;
    if (set->engine == PROBE_ECHO_RAW) {
        // The raw engine's own layout: identifier, sequence and send tick written least
        // significant byte first.
        unsigned char data[kRawEngineDataSize] = {};
        std::uint32_t tick = GetTickCount();
        for (unsigned index = 0; index < 4; ++index)
            data[index] = static_cast<unsigned char>(tick >> (8 * index));
        probe->sequence = ByteSwapped(sequence);
        length = write(request, set->identifier, probe->sequence, data, sizeof data);
    } else {
        bool unusable = probe->ipv6 ? IsUnspecified6(probe->destination6)
                                    : probe->destination == 0 || probe->destination == 0xffffffffu;
        if (unusable) {
            Settle(set, probe, IP_BAD_DESTINATION, 0, 0);
            return;
        }
        probe->sequence = sequence;
        length =
            write(request, set->identifier, sequence, set->echoData.data(), set->echoData.size());
    }
    probe->sent = RealtimeNanoseconds();
    const EchoSocket* socket = EchoSocketFor(set, probe);
    int error = socket == nullptr ? EACCES
                : probe->ipv6
                    ? SendEcho6Datagram(socket->descriptor, request, length, probe->destination6,
                                        probe->scope)
                    : SendEchoDatagram(socket->descriptor, request, length, probe->destination);
    if (socket == nullptr)
        Settle(set, probe, set->engine == PROBE_ECHO_RAW ? PROBE_NOT_SENT : IP_GENERAL_FAILURE, 0,
               0);
    else if (error != 0)
        Settle(set, probe,
               set->engine == PROBE_ECHO_RAW ? PROBE_NOT_SENT : StatusOfSystemError(error), 0, 0);
}

/*** connects ***/

// Whether the address a socket address holds is the connect's destination.
bool IsDestination(const Probe* probe, const ::sockaddr_storage& address) {
    if (address.ss_family != probe->target.ss_family)
        return false;
    if (address.ss_family == AF_INET6)
        return std::memcmp(&reinterpret_cast<const ::sockaddr_in6&>(address).sin6_addr,
                           &reinterpret_cast<const ::sockaddr_in6&>(probe->target).sin6_addr,
                           16) == 0;
    return reinterpret_cast<const ::sockaddr_in&>(address).sin_addr.s_addr ==
           reinterpret_cast<const ::sockaddr_in&>(probe->target).sin_addr.s_addr;
}

// An ICMP error about a connect's request, as the socket queued it (IP_RECVERR).
struct QueuedIcmpError {
    int error;          // the system error it stands for, ECONNREFUSED for "port unreachable"
    bool fromElsewhere; // sent by someone else than the destination: a router or firewall
};

// Takes the ICMP error queued on a connect's socket; false when there is none.
bool TakeQueuedIcmpError(const Probe* probe, QueuedIcmpError* queued) {
    alignas(cmsghdr) unsigned char control[256];
    msghdr received{};
    received.msg_control = control;
    received.msg_controllen = sizeof control;
    if (recvmsg(probe->descriptor, &received, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
        return false;
    for (const cmsghdr* item = CMSG_FIRSTHDR(&received); item != nullptr;
         item = CMSG_NXTHDR(&received, const_cast<cmsghdr*>(item))) {
        sock_extended_err error{};
        if (!((item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_RECVERR) ||
              (item->cmsg_level == IPPROTO_IPV6 && item->cmsg_type == IPV6_RECVERR)) ||
            item->cmsg_len < CMSG_LEN(sizeof error))
            continue;
        std::memcpy(&error, CMSG_DATA(item), sizeof error);
        if (error.ee_origin != SO_EE_ORIGIN_ICMP && error.ee_origin != SO_EE_ORIGIN_ICMP6)
            continue;
        ::sockaddr_storage offender{};
        std::memcpy(
            &offender, CMSG_DATA(item) + sizeof error,
            std::min<std::size_t>(item->cmsg_len - CMSG_LEN(sizeof error), sizeof offender));
        *queued = {static_cast<int>(error.ee_errno), !IsDestination(probe, offender)};
        return true;
    }
    return false;
}

// The outcome of an ICMP error about a connect: the host's own "port unreachable" is its
// refusal, so an answer; one from someone else, a router or firewall refusing for a host
// that may not be there at all, is not.
DWORD QueuedErrorStatus(const QueuedIcmpError& queued) {
    bool hostRefused = queued.error == ECONNREFUSED && !queued.fromElsewhere;
    return hostRefused ? 0 : static_cast<DWORD>(WinsockErrorFromErrno(queued.error));
}

// The outcome of a connect that ended with `error`. Connected, refused by the host (a reset,
// or its own ICMP error), or taken and then reset or closed: the host answered.
DWORD ConnectStatus(const Probe* probe, int error) {
    QueuedIcmpError queued{};
    if (error == ECONNREFUSED && TakeQueuedIcmpError(probe, &queued))
        return QueuedErrorStatus(queued);
    bool answered = error == 0 || error == ECONNREFUSED || error == ECONNRESET || error == EPIPE;
    return answered ? 0 : static_cast<DWORD>(WinsockErrorFromErrno(error));
}

bool IsConnected(const Probe* probe) {
    ::sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    return getpeername(probe->descriptor, reinterpret_cast<::sockaddr*>(&peer), &peerLength) == 0;
}

// Settles a connect from its socket's state: done (answered or failed) or still under way
// (false). An ICMP error that came while our connect call still held the socket is not the
// socket's error yet (the system keeps it until the next retransmission), only queued.
bool SettleConnectIfDone(ProbeSet* set, Probe* probe) {
    int error = 0;
    socklen_t errorLength = sizeof error;
    if (getsockopt(probe->descriptor, SOL_SOCKET, SO_ERROR, &error, &errorLength) != 0)
        error = errno;
    if (error == 0 && !IsConnected(probe)) {
        QueuedIcmpError queued{};
        if (!TakeQueuedIcmpError(probe, &queued))
            return false;
        Settle(set, probe, QueuedErrorStatus(queued), 0, 0);
        return true;
    }
    Settle(set, probe, ConnectStatus(probe, error), 0, 0);
    return true;
}

// The connects whose sockets became writable are settled.
void SettleWritableConnects(ProbeSet* set) {
    if (set->connectWatch < 0)
        return;
    epoll_event ready[64];
    int count = 0;
    do {
        count = epoll_wait(set->connectWatch, ready, 64, 0);
        for (int i = 0; i < count; ++i) {
            Probe* probe = FindProbe(set, static_cast<DWORD>(ready[i].data.u64));
            if (probe != nullptr && !probe->known && probe->descriptor >= 0)
                SettleConnectIfDone(set, probe);
        }
    } while (count == 64 || (count < 0 && errno == EINTR));
}

void OnConnectsWritable(std::uintptr_t serial) {
    if (ProbeSet* set = FindSet(serial)) {
        SettleWritableConnects(set);
        ArmDeadlineTimer(set);
    }
}

// 0.0.0.0 or ::, which the system takes for this machine.
bool IsUnspecifiedTarget(const Probe* probe) {
    if (probe->target.ss_family == AF_INET6)
        return IsUnspecified6(
            reinterpret_cast<const ::sockaddr_in6&>(probe->target).sin6_addr.s6_addr);
    return reinterpret_cast<const ::sockaddr_in&>(probe->target).sin_addr.s_addr == 0;
}

// The set's epoll set for connects, made at its first connect. False when it cannot be.
bool WatchConnects(ProbeSet* set) {
    if (set->connectWatch >= 0)
        return true;
    set->connectWatch = epoll_create1(EPOLL_CLOEXEC);
    if (set->connectWatch < 0)
        return false;
    std::uintptr_t serial = set->serial;
    set->connectNotifier =
        std::make_unique<QSocketNotifier>(set->connectWatch, QSocketNotifier::Read);
    QObject::connect(set->connectNotifier.get(), &QSocketNotifier::activated,
                     [serial] { OnConnectsWritable(serial); });
    return true;
}

// False, with the Winsock number in GetLastError(), when no socket could be opened.
bool StartConnect(ProbeSet* set, Probe* probe) {
    if (!WatchConnects(set)) {
        SetLastError(static_cast<DWORD>(WinsockErrorFromErrno(errno)));
        return false;
    }
    if (IsUnspecifiedTarget(probe)) { // the system would connect to this machine
        Settle(set, probe, static_cast<DWORD>(WinsockErrorFromErrno(EADDRNOTAVAIL)), 0, 0);
        return true;
    }
    bool ipv6 = probe->target.ss_family == AF_INET6;
    probe->descriptor =
        socket(probe->target.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (probe->descriptor < 0) {
        SetLastError(static_cast<DWORD>(WinsockErrorFromErrno(errno)));
        return false;
    }
    // ICMP errors are queued with their sender, so a refusal can be told from the host's own.
    int on = 1;
    setsockopt(probe->descriptor, ipv6 ? IPPROTO_IPV6 : IPPROTO_IP,
               ipv6 ? IPV6_RECVERR : IP_RECVERR, &on, sizeof on);
    int connected = -1;
    do {
        connected =
            ::connect(probe->descriptor, reinterpret_cast<const ::sockaddr*>(&probe->target),
                      probe->targetLength);
    } while (connected < 0 && errno == EINTR);
    if (connected == 0 || errno == ECONNREFUSED) {
        Settle(set, probe, connected == 0 ? 0 : ConnectStatus(probe, ECONNREFUSED), 0, 0);
    } else if (errno != EINPROGRESS) {
        Settle(set, probe, static_cast<DWORD>(WinsockErrorFromErrno(errno)), 0, 0);
    } else {
        epoll_event watched{};
        watched.events = EPOLLOUT;
        watched.data.u64 = probe->key;
        if (epoll_ctl(set->connectWatch, EPOLL_CTL_ADD, probe->descriptor, &watched) != 0)
            Settle(set, probe, static_cast<DWORD>(WinsockErrorFromErrno(errno)), 0, 0);
    }
    return true;
}

/*** look-ups ***/

void KeepLateAnswer(const std::string& name, const std::vector<LookupAddress>& addresses) {
    auto& kept = probeSets.lateAnswers;
    if (kept.size() >= kLateAnswersKept && kept.count(name) == 0) {
        auto oldest = std::min_element(kept.begin(), kept.end(), [](const auto& a, const auto& b) {
            return a.second.kept < b.second.kept;
        });
        kept.erase(oldest);
    }
    kept[name] = LateAnswer{addresses, MonotonicNanoseconds()};
}

// A kept answer for `name`, taken out of the table: true with its addresses.
bool TakeLateAnswer(const std::string& name, std::vector<LookupAddress>* addresses) {
    auto found = probeSets.lateAnswers.find(name);
    if (found == probeSets.lateAnswers.end())
        return false;
    LateAnswer answer = found->second;
    probeSets.lateAnswers.erase(found);
    if (MonotonicNanoseconds() - answer.kept > kLateAnswerLifetime)
        return false;
    *addresses = std::move(answer.addresses);
    return true;
}

// Settles a look-up probe with the first address of its family among `addresses`, or as
// not resolved when there is none.
void SettleLookup(ProbeSet* set, Probe* probe, const std::vector<LookupAddress>& addresses) {
    for (const LookupAddress& each : addresses) {
        if ((probe->lookupFamily == PROBE_LOOKUP_IPV4 && each.ipv6) ||
            (probe->lookupFamily == PROBE_LOOKUP_IPV6 && !each.ipv6))
            continue;
        DWORD address = 0;
        if (!each.ipv6)
            std::memcpy(&address, each.bytes.data(), sizeof address);
        Settle(set, probe, 0, 0, address);
        if (each.ipv6)
            SetOutcomeAddress6(probe, each.bytes.data());
        return;
    }
    Settle(set, probe, static_cast<DWORD>(WinsockErrorFromResolver(HOST_NOT_FOUND)), 0, 0);
}

// The look-up of `name` has its answer: every probe still waiting for it gets it, when it
// came by that probe's deadline; a success that no probe took in time is kept.
void OnLookupAnswered(const std::string& name, const LookupAnswer& answer) {
    auto found = probeSets.lookups.find(name);
    if (found == probeSets.lookups.end())
        return;
    LookupUnderWay underWay = std::move(found->second);
    probeSets.lookups.erase(found);
    bool taken = false;
    for (const auto& [serial, key] : underWay.waiting) {
        ProbeSet* set = FindSet(serial);
        Probe* probe = set != nullptr ? FindProbe(set, key) : nullptr;
        if (probe == nullptr || probe->known)
            continue;
        if (answer.finished > probe->deadline) {
            Settle(set, probe, PROBE_NOT_RESOLVED, 0, 0);
            continue;
        }
        if (answer.error != 0)
            Settle(set, probe, static_cast<DWORD>(answer.error), 0, 0);
        else
            SettleLookup(set, probe, answer.anyFamily);
        taken = true;
        ArmDeadlineTimer(set);
    }
    if (!taken && answer.error == 0)
        KeepLateAnswer(name, answer.anyFamily);
}

// False, with WSAENOBUFS in GetLastError(), when no worker could take the look-up.
bool StartLookup(ProbeSet* set, Probe* probe) {
    std::vector<LookupAddress> kept;
    if (TakeLateAnswer(probe->name, &kept)) {
        SettleLookup(set, probe, kept);
        return true;
    }
    auto found = probeSets.lookups.find(probe->name);
    if (found == probeSets.lookups.end()) {
        auto job = std::make_shared<LookupJob>();
        job->name = probe->name;
        job->bothFamilies = true;
        std::string name = probe->name;
        job->done = [name](const LookupAnswer& answer) { OnLookupAnswered(name, answer); };
        if (!QueueLookup(job)) {
            SetLastError(static_cast<DWORD>(WinsockErrorFromErrno(ENOBUFS)));
            return false;
        }
        found = probeSets.lookups.emplace(probe->name, LookupUnderWay{job->number, {}}).first;
    }
    found->second.waiting.emplace_back(set->serial, probe->key);
    return true;
}

void StopWaitingForLookup(const ProbeSet* set, const Probe* probe) {
    auto found = probeSets.lookups.find(probe->name);
    if (found == probeSets.lookups.end())
        return;
    // The look-up itself goes on: its answer is kept for the next probe of the name.
    std::erase(found->second.waiting, std::make_pair(set->serial, probe->key));
}

void StopProbe(ProbeSet* set, Probe* probe) {
    if (probe->kind == ProbeKind::Connect)
        CloseConnectSocket(probe);
    else if (probe->kind == ProbeKind::Lookup && !probe->known)
        StopWaitingForLookup(set, probe);
}

/*** deadlines ***/

// Runs the set's timer for `nearest`, the nearest deadline of a probe under way (0: none).
void ArmDeadlineTimerFor(ProbeSet* set, std::int64_t nearest) {
    if (nearest == 0) {
        set->deadlineTimer->stop();
        return;
    }
    // A later probe leaves the nearest deadline as it was: the timer runs on untouched.
    if (nearest == set->armedFor && set->deadlineTimer->isActive())
        return;
    set->armedFor = nearest;
    // The timer wakes at the next step of a 5 ms grid, so the probes whose deadlines fall
    // within one step time out at one wake-up, and none more than 5 ms late.
    std::int64_t wake = (nearest + kDeadlineStep - 1) / kDeadlineStep * kDeadlineStep;
    std::int64_t remaining = wake - MonotonicNanoseconds();
    std::int64_t milliseconds = remaining <= 0 ? 0 : (remaining + 999999) / 1000000;
    set->deadlineTimer->start(static_cast<int>(std::min(milliseconds, kLongestTimerMs)));
}

void ArmDeadlineTimer(ProbeSet* set) {
    std::int64_t nearest = 0;
    for (const auto& [key, probe] : set->probes)
        if (!probe.known && (nearest == 0 || probe.deadline < nearest))
            nearest = probe.deadline;
    ArmDeadlineTimerFor(set, nearest);
}

// A probe just started: the timer runs on untouched unless its deadline comes first.
void ArmDeadlineTimerForStarted(ProbeSet* set, const Probe* probe) {
    if (probe->known || (set->deadlineTimer->isActive() && set->armedFor <= probe->deadline))
        return;
    ArmDeadlineTimerFor(set, probe->deadline);
}

// What came in time is taken first, then every probe whose deadline has passed is settled
// as not answered.
void OnDeadline(std::uintptr_t serial) {
    ProbeSet* set = FindSet(serial);
    if (set == nullptr)
        return;
    ReadEchoSockets(set);
    SettleWritableConnects(set);
    CollectFinishedLookups();
    std::int64_t now = MonotonicNanoseconds();
    std::int64_t nearest = 0; // of the probes still under way after this
    for (auto& [key, probe] : set->probes) {
        if (probe.known)
            continue;
        if (probe.deadline > now) {
            if (nearest == 0 || probe.deadline < nearest)
                nearest = probe.deadline;
            continue;
        }
        switch (probe.kind) {
        case ProbeKind::Echo:
            SettleEchoTimedOut(set, &probe);
            break;
        case ProbeKind::Connect: // not among the writable ones just settled
            Settle(set, &probe, PROBE_CONNECT_TIMED_OUT, 0, 0);
            break;
        case ProbeKind::Lookup:
            StopWaitingForLookup(set, &probe);
            Settle(set, &probe, PROBE_NOT_RESOLVED, 0, 0);
            break;
        }
    }
    ArmDeadlineTimerFor(set, nearest);
}

// The checks every start makes; the new probe, or null with GetLastError() set.
Probe* AddProbe(ProbeSet* set, DWORD key, ProbeKind kind, DWORD timeoutMs) {
    auto [added, isNew] = set->probes.try_emplace(key);
    if (!isNew) {
        SetLastError(ERROR_ALREADY_EXISTS);
        return nullptr;
    }
    Probe* probe = &added->second;
    probe->key = key;
    probe->kind = kind;
    probe->known = false;
    probe->outcome = PROBE_OUTCOME{};
    probe->timeout = static_cast<std::int64_t>(timeoutMs) * 1000000;
    probe->sent = RealtimeNanoseconds();
    probe->deadline = MonotonicNanoseconds() + probe->timeout;
    return probe;
}

void RemoveProbe(ProbeSet* set, const Probe* probe) {
    set->probes.erase(probe->key);
}

} // namespace

/*** the public calls ***/

HANDLE CreateProbeSet(HWND window, UINT message, int echoEngine, unsigned expectedProbes,
                      const void* echoData, WORD echoDataSize) {
    if (echoEngine < PROBE_ECHO_NONE || echoEngine > PROBE_ECHO_LIBRARY ||
        (echoData == nullptr && echoDataSize != 0) || QCoreApplication::instance() == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_unique<ProbeSet>();
    set->serial = ++probeSets.lastSerial;
    set->window = window;
    set->message = message;
    set->engine = echoEngine;
    set->expectedProbes = expectedProbes;
    if (echoEngine != PROBE_ECHO_NONE && !OpenSetEchoSocket(set.get(), &set->echo, false))
        return INVALID_HANDLE_VALUE;
    if (echoEngine == PROBE_ECHO_RAW)
        set->identifier = ByteSwapped(LOWORD(window));
    else
        set->identifier = static_cast<std::uint16_t>(getpid() & 0xffff);
    const auto* data = static_cast<const unsigned char*>(echoData);
    set->echoData.assign(data, data + echoDataSize);
    std::uintptr_t serial = set->serial;
    set->deadlineTimer = std::make_unique<QTimer>();
    set->deadlineTimer->setSingleShot(true);
    set->deadlineTimer->setTimerType(Qt::PreciseTimer);
    QObject::connect(set->deadlineTimer.get(), &QTimer::timeout, [serial] { OnDeadline(serial); });
    probeSets.sets.push_back(std::move(set));
    SetLastError(0);
    return reinterpret_cast<HANDLE>(serial);
}

namespace {

// Where a probe goes, from the system's form of its address.
void SetDestination(Probe* probe, const ::sockaddr_storage& target, socklen_t length) {
    probe->target = target;
    probe->targetLength = length;
    probe->ipv6 = target.ss_family == AF_INET6;
    if (probe->ipv6) {
        const auto& ipv6 = reinterpret_cast<const ::sockaddr_in6&>(target);
        std::memcpy(probe->destination6, &ipv6.sin6_addr, 16);
        probe->scope = ipv6.sin6_scope_id;
    } else {
        probe->destination = reinterpret_cast<const ::sockaddr_in&>(target).sin_addr.s_addr;
    }
}

::sockaddr_storage Ipv4Target(DWORD destination, WORD port) {
    ::sockaddr_storage target{};
    auto& ipv4 = reinterpret_cast<::sockaddr_in&>(target);
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(port);
    ipv4.sin_addr.s_addr = destination;
    return target;
}

bool StartEcho(HANDLE handle, DWORD key, const ::sockaddr_storage& target, socklen_t length,
               DWORD timeoutMs) {
    ProbeSet* set = SetOfHandle(handle);
    if (set == nullptr)
        return false;
    if (set->echo.descriptor < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    Probe* probe = AddProbe(set, key, ProbeKind::Echo, timeoutMs);
    if (probe == nullptr)
        return false;
    SetDestination(probe, target, length);
    SendEcho(set, probe);
    ArmDeadlineTimerForStarted(set, probe);
    return true;
}

bool StartConnectTo(HANDLE handle, DWORD key, const ::sockaddr_storage& target, socklen_t length,
                    DWORD timeoutMs) {
    ProbeSet* set = SetOfHandle(handle);
    if (set == nullptr)
        return false;
    Probe* probe = AddProbe(set, key, ProbeKind::Connect, timeoutMs);
    if (probe == nullptr)
        return false;
    SetDestination(probe, target, length);
    if (!StartConnect(set, probe)) {
        RemoveProbe(set, probe);
        return false;
    }
    ArmDeadlineTimerForStarted(set, probe);
    return true;
}

// The system's form of a caller's socket address; false (ERROR_INVALID_PARAMETER) for one
// of neither family.
bool ReadTarget(const sockaddr* destination, int length, ::sockaddr_storage* target,
                socklen_t* targetLength) {
    if (ToSystemSocketAddress(destination, length, target, targetLength) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

} // namespace

bool StartEchoProbe(HANDLE handle, DWORD key, DWORD destination, DWORD timeoutMs) {
    return StartEcho(handle, key, Ipv4Target(destination, 0), sizeof(::sockaddr_in), timeoutMs);
}

bool StartConnectProbe(HANDLE handle, DWORD key, DWORD destination, WORD port, DWORD timeoutMs) {
    return StartConnectTo(handle, key, Ipv4Target(destination, port), sizeof(::sockaddr_in),
                          timeoutMs);
}

bool StartEchoProbeTo(HANDLE handle, DWORD key, const sockaddr* destination, int length,
                      DWORD timeoutMs) {
    ::sockaddr_storage target;
    socklen_t targetLength = 0;
    return ReadTarget(destination, length, &target, &targetLength) &&
           StartEcho(handle, key, target, targetLength, timeoutMs);
}

bool StartConnectProbeTo(HANDLE handle, DWORD key, const sockaddr* destination, int length,
                         DWORD timeoutMs) {
    ::sockaddr_storage target;
    socklen_t targetLength = 0;
    return ReadTarget(destination, length, &target, &targetLength) &&
           StartConnectTo(handle, key, target, targetLength, timeoutMs);
}

bool StartLookupProbe(HANDLE handle, DWORD key, const char* name, int family, DWORD timeoutMs) {
    ProbeSet* set = SetOfHandle(handle);
    if (set == nullptr)
        return false;
    if (name == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    Probe* probe = AddProbe(set, key, ProbeKind::Lookup, timeoutMs);
    if (probe == nullptr)
        return false;
    probe->name = name;
    probe->lookupFamily = family;
    if (!StartLookup(set, probe)) {
        RemoveProbe(set, probe);
        return false;
    }
    ArmDeadlineTimerForStarted(set, probe);
    return true;
}

bool TakeProbeOutcome(HANDLE handle, DWORD key, PROBE_OUTCOME* outcome) {
    ProbeSet* set = SetOfHandle(handle);
    if (set == nullptr)
        return false;
    set->messageWaiting = false;
    Probe* probe = FindProbe(set, key);
    if (probe == nullptr || !probe->known) {
        SetLastError(probe == nullptr ? ERROR_NOT_FOUND : ERROR_IO_PENDING);
        return false;
    }
    if (outcome != nullptr)
        *outcome = probe->outcome;
    RemoveProbe(set, probe);
    return true;
}

bool CancelProbe(HANDLE handle, DWORD key) {
    ProbeSet* set = SetOfHandle(handle);
    if (set == nullptr)
        return false;
    Probe* probe = FindProbe(set, key);
    if (probe == nullptr) {
        SetLastError(ERROR_NOT_FOUND);
        return false;
    }
    StopProbe(set, probe);
    RemoveProbe(set, probe);
    ArmDeadlineTimer(set);
    return true;
}

bool CloseProbeSet(HANDLE handle) {
    ProbeSet* set = SetOfHandle(handle);
    if (set == nullptr)
        return false;
    for (auto& [key, probe] : set->probes)
        StopProbe(set, &probe);
    // None of the watchers is running now.
    CloseSetEchoSocket(&set->echo);
    CloseSetEchoSocket(&set->echo6);
    set->connectNotifier.reset();
    if (set->connectWatch >= 0)
        ::close(set->connectWatch);
    WithdrawPostedMessages(set->window, set->message, reinterpret_cast<WPARAM>(handle));
    std::erase_if(probeSets.sets,
                  [set](const std::unique_ptr<ProbeSet>& each) { return each.get() == set; });
    return true;
}

DWORD ProbeSetDroppedReplies(HANDLE handle) {
    const ProbeSet* set = SetOfHandle(handle);
    if (set == nullptr)
        return 0;
    DWORD drops = 0;
    for (const EchoSocket* socket : {&set->echo, &set->echo6})
        drops += socket->descriptor >= 0 ? EchoSocketDrops(socket->descriptor) : 0;
    return drops;
}

int ProbeSetEchoSocketKind(HANDLE handle) {
    const ProbeSet* set = SetOfHandle(handle);
    return set != nullptr ? set->echo.kind : ICMP_SOCKET_NONE;
}

} // namespace platform
