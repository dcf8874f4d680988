// Probe sets on real networks: a whole table of echoes and connects to answering, silent
// and unreachable hosts behind a router, with a peer forging answers for the silent ones,
// over each engine's socket; answers taken in time by a program too busy to read them;
// deadlines to the millisecond; drops counted; look-ups queued beyond the workers and a
// late answer kept; refusals told apart.
#include "platform/probeset.h"
#include "platform/testing_sys.h"

#include "event_window.h"
#include "support/icmp_peer.h"
#include "support/netns.h"
#include "winsock_world.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

constexpr UINT kSetMessage = WM_USER + 41;

DWORD Address(const std::string& dotted) {
    return inet_addr(dotted.c_str());
}

long Milliseconds(Clock::duration span) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(span).count());
}

// What a test started, and what became of it.
struct Tracked {
    Clock::time_point started;
    bool known = false;
    Clock::time_point settled;
    PROBE_OUTCOME outcome{};
};

// Takes every outcome that is there whenever the set says so, noting when.
void TakeOnEachMessage(EventWindow& window, HANDLE set, std::map<DWORD, Tracked>* probes) {
    window.OnEvent([set, probes](const EventWindow::Event& event) {
        if (event.message != kSetMessage)
            return;
        EXPECT_EQ(event.wParam, reinterpret_cast<WPARAM>(set));
        for (auto& [key, probe] : *probes)
            if (!probe.known && TakeProbeOutcome(set, key, &probe.outcome)) {
                probe.known = true;
                probe.settled = event.at;
            }
    });
}

bool AllKnown(const std::map<DWORD, Tracked>& probes) {
    for (const auto& entry : probes)
        if (!entry.second.known)
            return false;
    return true;
}

// client 10.231.1.1 -- 10.231.1.2 router, behind which 10.231.2.0/24 answers (the server's
// loopback holds the whole network), 10.231.3.0/24 is silent (a namespace that ignores
// echo requests), 10.231.4.0/24 lies on a link where nobody answers ARP, so the router
// tells "host unreachable" a tenth of a second after each packet, and the router drops
// everything for 10.231.7.0/24 without a word. The router's ICMP is not rate-limited, so
// a whole table's unreachables all come back.
// The same over IPv6: client fd32:1::1 -- fd32:1::2 router, behind which fd32:2::1 and
// fd32:5::2 answer (the server), fd32:3::/64 is silent, fd32:7::/64 is unreachable by the
// router's table, and fd32:8::/64 loops between router and server until its hop limit runs
// out at the server (fd32:5::2), since the router sees even hop limits and the server odd
// ones.
struct RoutedNetwork {
    NetworkNamespace client{"client"};
    NetworkNamespace router{"router"};
    NetworkNamespace server{"server"};
    NetworkNamespace silent{"silent"};

    // Without duplicate detection, so that addresses and neighbours are usable at once.
    bool Ipv6Addresses() {
        const struct {
            const NetworkNamespace* space;
            const char *address, *device;
        } addresses[] = {{&client, "fd32:1::1/64", "c0"}, {&router, "fd32:1::2/64", "r0"},
                         {&router, "fd32:5::1/64", "r1"}, {&server, "fd32:5::2/64", "s0"},
                         {&router, "fd32:6::1/64", "r2"}, {&silent, "fd32:6::2/64", "q0"},
                         {&server, "fd32:2::1/64", "lo"}, {&silent, "fd32:3::1/64", "lo"}};
        for (const auto& each : addresses)
            if (!each.space->Ip({"-6", "addr", "add", each.address, "dev", each.device, "nodad"}))
                return false;
        return true;
    }
    bool NoDad() {
        for (const NetworkNamespace* space : {&client, &router, &server, &silent})
            if (!space->SetSysctl("net.ipv6.conf.default.accept_dad", "0"))
                return false;
        return true;
    }

    bool Build(bool pingSockets) {
        return client.ok() && router.ok() && server.ok() && silent.ok() && NoDad() &&
               ConnectNamespaces(client, "c0", "10.231.1.1/24", router, "r0", "10.231.1.2/24") &&
               ConnectNamespaces(router, "r1", "10.231.5.1/24", server, "s0", "10.231.5.2/24") &&
               ConnectNamespaces(router, "r2", "10.231.6.1/24", silent, "q0", "10.231.6.2/24") &&
               Ipv6Addresses() &&
               router.Ip({"link", "add", "r3", "type", "veth", "peer", "name", "r3p"}) &&
               router.Ip({"addr", "add", "10.231.4.1/24", "dev", "r3"}) &&
               router.Ip({"link", "set", "r3", "up"}) && router.Ip({"link", "set", "r3p", "up"}) &&
               router.SetSysctl("net.ipv4.neigh.r3.mcast_solicit", "1") &&
               router.SetSysctl("net.ipv4.neigh.r3.retrans_time_ms", "100") &&
               router.Ip({"route", "add", "10.231.2.0/24", "via", "10.231.5.2"}) &&
               router.Ip({"route", "add", "10.231.3.0/24", "via", "10.231.6.2"}) &&
               router.Ip({"route", "add", "blackhole", "10.231.7.0/24"}) &&
               router.Ip({"-6", "route", "add", "fd32:2::/64", "via", "fd32:5::2"}) &&
               router.Ip({"-6", "route", "add", "fd32:3::/64", "via", "fd32:6::2"}) &&
               router.Ip({"-6", "route", "add", "fd32:8::/64", "via", "fd32:5::2"}) &&
               router.Ip({"-6", "route", "add", "unreachable", "fd32:7::/64"}) &&
               router.SetSysctl("net.ipv4.ip_forward", "1") &&
               router.SetSysctl("net.ipv6.conf.all.forwarding", "1") &&
               server.SetSysctl("net.ipv6.conf.all.forwarding", "1") &&
               router.SetSysctl("net.ipv4.icmp_ratelimit", "0") &&
               router.SetSysctl("net.ipv4.icmp_msgs_per_sec", "100000") &&
               router.SetSysctl("net.ipv4.icmp_msgs_burst", "100000") &&
               router.SetSysctl("net.ipv6.icmp.ratelimit", "0") &&
               server.SetSysctl("net.ipv6.icmp.ratelimit", "0") &&
               client.Ip({"route", "add", "default", "via", "10.231.1.2"}) &&
               client.Ip({"-6", "route", "add", "default", "via", "fd32:1::2"}) &&
               server.Ip({"addr", "add", "10.231.2.1/24", "dev", "lo"}) &&
               server.Ip({"route", "add", "default", "via", "10.231.5.1"}) &&
               server.Ip({"-6", "route", "add", "default", "via", "fd32:5::1"}) &&
               silent.Ip({"addr", "add", "10.231.3.1/24", "dev", "lo"}) &&
               silent.Ip({"route", "add", "default", "via", "10.231.6.1"}) &&
               silent.Ip({"-6", "route", "add", "default", "via", "fd32:6::1"}) &&
               silent.SetSysctl("net.ipv4.icmp_echo_ignore_all", "1") &&
               silent.SetSysctl("net.ipv6.icmp.echo_ignore_all", "1") &&
               client.AllowPingSockets(pingSockets);
    }
};

// An IPv6 socket address of the stack's layout: the system's, but for the family's number
// (AF_INET6 of platform/winsock.h, which this file leaves out for the system's headers).
constexpr short kStackInet6 = 23;
::sockaddr_in6 Ipv6Target(const char* text, WORD port = 0) {
    ::sockaddr_in6 target{};
    target.sin6_family = kStackInet6;
    target.sin6_port = htons(port);
    ::inet_pton(AF_INET6, text, &target.sin6_addr);
    return target;
}

bool SameAddress6(const PROBE_OUTCOME& outcome, const char* text) {
    ::sockaddr_in6 expected = Ipv6Target(text);
    return outcome.ipv6 && std::memcmp(outcome.address6, &expected.sin6_addr, 16) == 0;
}

} // namespace

TEST(ProbeSet, AWholeTableOfBothFamiliesSettlesByItsDeadlinesWhateverAPeerForges) {
    SKIP_WITHOUT_NAMESPACES();
    const struct {
        const char* what;
        int engine;
        bool pingSockets;
        int socketKind;
        DWORD answered, silent, unreachable, noRoute6, hopLimit6;
    } engines[] = {
        {"raw engine", PROBE_ECHO_RAW, true, ICMP_SOCKET_RAW, 0, PROBE_NO_REPLY, PROBE_ECHO_ERROR,
         PROBE_ECHO_ERROR, PROBE_ECHO_ERROR},
        {"library engine, ping sockets allowed", PROBE_ECHO_LIBRARY, true, ICMP_SOCKET_PING,
         IP_SUCCESS, IP_REQ_TIMED_OUT, IP_DEST_HOST_UNREACHABLE, IP_DEST_NET_UNREACHABLE,
         IP_TTL_EXPIRED_TRANSIT},
        {"library engine, ping sockets refused", PROBE_ECHO_LIBRARY, false, ICMP_SOCKET_RAW,
         IP_SUCCESS, IP_REQ_TIMED_OUT, IP_DEST_HOST_UNREACHABLE, IP_DEST_NET_UNREACHABLE,
         IP_TTL_EXPIRED_TRANSIT},
    };
    constexpr DWORD kWait = 1000;
    const unsigned char data[56] = {'T', 'a', 'r', 'n'};
    for (const auto& engine : engines) {
        SCOPED_TRACE(engine.what);
        RoutedNetwork network;
        ASSERT_TRUE(network.Build(engine.pingSockets));
        // Forty forged answers for each request to 10.231.3.0 to .31, some claiming to come
        // from an answering host.
        IcmpPeer peer(network.silent, "10.231.3.0", "10.231.2.77", IcmpPeer::FORGE, 27);
        ASSERT_TRUE(peer.ok());
        // The router rejects connects to 10.231.7.9, which is not there, by ICMP.
        PortUnreachablePeer firewall(network.router, "r0", "10.231.7.9");
        ASSERT_TRUE(firewall.ok());
        int listener = -1; // both families
        unsigned short port = ListenIn(network.server, "::", &listener);
        ASSERT_NE(port, 0);
        EnteredNamespace inside(network.client);
        ASSERT_TRUE(inside.ok());

        EventWindow window;
        HANDLE set =
            CreateProbeSet(window.handle(), kSetMessage, engine.engine, 200, data, sizeof data);
        ASSERT_NE(set, INVALID_HANDLE_VALUE) << GetLastError();
        EXPECT_EQ(ProbeSetEchoSocketKind(set), engine.socketKind);
        // 100 answering, 50 silent and 50 unreachable hosts, interleaved, then connects to
        // an open port, a closed one, a silent host, an unreachable one, and one the router
        // refuses for: only the host's own refusal is an answer.
        std::map<DWORD, Tracked> probes;
        std::map<DWORD, std::string> destinations;
        for (DWORD key = 0; key < 200; ++key) {
            unsigned group = key % 4;
            unsigned host = key / 4 * 2 + (group == 1 ? 1 : 0) + 1;
            destinations[key] = group <= 1   ? "10.231.2." + std::to_string(host)
                                : group == 2 ? "10.231.3." + std::to_string(key / 4 + 1)
                                             : "10.231.4." + std::to_string(key / 4 + 2);
        }
        const struct {
            DWORD key;
            const char* address;
            unsigned short port;
            DWORD status;
        } connects[] = {{1000, "10.231.2.1", port, 0},
                        {1001, "10.231.2.1", static_cast<unsigned short>(port + 1), 0},
                        {1002, "10.231.7.1", port, PROBE_CONNECT_TIMED_OUT},
                        {1003, "10.231.4.60", port, 10065},
                        {1004, "10.231.7.9", port, 10061},
                        // "::" would reach this machine
                        {2020, "fd32:2::1", port, 0},
                        {2021, "fd32:2::1", static_cast<unsigned short>(port + 1), 0},
                        {2022, "::", port, 10049}};
        const struct {
            DWORD key;
            const char* address;
            DWORD status;
            const char* from; // who answers, "" nobody
        } echoes6[] = {{2001, "fd32:2::1", engine.answered, "fd32:2::1"},
                       {2002, "fd32:5::2", engine.answered, "fd32:5::2"},
                       {2003, "fd32:3::1", engine.silent, ""},
                       {2004, "fd32:7::1", engine.noRoute6, "fd32:1::2"},
                       {2005, "fd32:8::1", engine.hopLimit6, "fd32:5::2"}};
        TakeOnEachMessage(window, set, &probes);
        for (const auto& [key, destination] : destinations) {
            probes[key].started = Clock::now();
            ASSERT_TRUE(StartEchoProbe(set, key, Address(destination), kWait)) << key;
        }
        for (const auto& echo : echoes6) {
            ::sockaddr_in6 target = Ipv6Target(echo.address);
            probes[echo.key].started = Clock::now();
            ASSERT_TRUE(StartEchoProbeTo(set, echo.key,
                                         reinterpret_cast<platform::sockaddr*>(&target),
                                         sizeof target, kWait));
        }
        for (const auto& each : connects) {
            probes[each.key].started = Clock::now();
            ::sockaddr_in6 target = Ipv6Target(each.address, each.port);
            ASSERT_TRUE(
                each.key < 2000
                    ? StartConnectProbe(set, each.key, Address(each.address), each.port, kWait)
                    : StartConnectProbeTo(set, each.key,
                                          reinterpret_cast<platform::sockaddr*>(&target),
                                          sizeof target, kWait));
        }
        EXPECT_TRUE(window.RunUntil([&] { return AllKnown(probes); }, 10 * kWait));
        auto expectSettled = [&](DWORD key, DWORD status, bool byDeadline) {
            const Tracked& probe = probes[key];
            ASSERT_TRUE(probe.known) << key;
            EXPECT_EQ(probe.outcome.status, status) << key;
            long elapsed = Milliseconds(probe.settled - probe.started);
            if (byDeadline) {
                EXPECT_LT(elapsed, static_cast<long>(kWait)) << key;
            } else {
                // Never before the deadline; at most ten times the 20 ms a deadline may run
                // late after it.
                EXPECT_GE(elapsed, static_cast<long>(kWait)) << key;
                EXPECT_LT(elapsed, static_cast<long>(kWait) + 200) << key;
            }
        };
        long slowestAnswer = 0;
        for (const auto& [key, destination] : destinations) {
            SCOPED_TRACE(destination);
            const PROBE_OUTCOME& outcome = probes[key].outcome;
            switch (key % 4) {
            case 0:
            case 1:
                expectSettled(key, engine.answered, true);
                EXPECT_EQ(outcome.address, Address(destination));
                EXPECT_FALSE(outcome.ipv6);
                if (engine.engine == PROBE_ECHO_LIBRARY)
                    EXPECT_LE(outcome.roundTripTime,
                              Milliseconds(probes[key].settled - probes[key].started));
                else
                    EXPECT_EQ(outcome.roundTripTime, 0u);
                slowestAnswer = std::max(slowestAnswer, static_cast<long>(outcome.roundTripTime));
                break;
            case 2:
                expectSettled(key, engine.silent, false);
                break;
            default:
                expectSettled(key, engine.unreachable, true);
                EXPECT_EQ(outcome.address, Address("10.231.1.2")) << "the router tells";
            }
        }
        for (const auto& each : connects) {
            SCOPED_TRACE(each.address);
            expectSettled(each.key, each.status, each.status != PROBE_CONNECT_TIMED_OUT);
        }
        for (const auto& echo : echoes6) {
            SCOPED_TRACE(echo.address);
            expectSettled(echo.key, echo.status, echo.from[0] != '\0');
            if (echo.from[0] != '\0') {
                EXPECT_TRUE(SameAddress6(probes[echo.key].outcome, echo.from));
                EXPECT_EQ(probes[echo.key].outcome.address, 0u);
            }
        }
        EXPECT_EQ(peer.answered(), 31) << "every request to .1 to .31 met the forgeries";
        EXPECT_EQ(firewall.refused(), 1);
        std::printf("[ figures  ] %s: slowest round trip %ld ms, %u datagrams dropped\n",
                    engine.what, slowestAnswer, ProbeSetDroppedReplies(set));
        EXPECT_TRUE(CloseProbeSet(set));
        close(listener);
    }
}

namespace {

// One namespace: loopback answers at once; 10.99.0.2 lies on a link whose frames reach
// nobody, and never answers.
struct QuietHost {
    NetworkNamespace host{"busy"};
    bool Build() {
        return host.ok() && host.Ip({"link", "add", "d0", "type", "veth", "peer", "name", "d1"}) &&
               host.Ip({"addr", "add", "10.99.0.1/24", "dev", "d0"}) &&
               host.Ip({"link", "set", "d0", "up"}) && host.Ip({"link", "set", "d1", "up"}) &&
               host.Ip({"neigh", "add", "10.99.0.2", "lladdr", "02:00:00:00:00:02", "dev", "d0",
                        "nud", "permanent"}) &&
               host.AllowPingSockets(true);
    }
};

} // namespace

TEST(ProbeSet, ABusyProgramLosesNoAnswerAndDeadlinesKeepTheirMillisecond) {
    SKIP_WITHOUT_NAMESPACES();
    QuietHost quiet;
    ASSERT_TRUE(quiet.Build());
    EnteredNamespace inside(quiet.host);
    ASSERT_TRUE(inside.ok());
    EventWindow window;
    for (int engine : {PROBE_ECHO_RAW, PROBE_ECHO_LIBRARY}) {
        SCOPED_TRACE(engine == PROBE_ECHO_RAW ? "raw engine" : "library engine");
        HANDLE set = CreateProbeSet(window.handle(), kSetMessage, engine, 200, nullptr, 0);
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
        std::map<DWORD, Tracked> probes;
        TakeOnEachMessage(window, set, &probes);
        probes[1].started = Clock::now();
        ASSERT_TRUE(StartEchoProbe(set, 1, Address("127.0.0.1"), 300));
        probes[2].started = Clock::now();
        ASSERT_TRUE(StartEchoProbe(set, 2, Address("10.99.0.2"), 1000));
        // Busy for twice the first probe's time-out: its answer waits in the socket.
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        EXPECT_TRUE(window.RunUntil([&] { return AllKnown(probes); }, 10000));
        EXPECT_EQ(probes[1].outcome.status, 0u) << "answered in time, read late";
        EXPECT_LT(probes[1].outcome.roundTripTime, 300u);
        DWORD timedOut = engine == PROBE_ECHO_RAW ? PROBE_NO_REPLY : IP_REQ_TIMED_OUT;
        EXPECT_EQ(probes[2].outcome.status, timedOut);
        long elapsed = Milliseconds(probes[2].settled - probes[2].started);
        std::printf("[ figures  ] a deadline of 1000 ms ended after %ld ms\n", elapsed);
        EXPECT_GE(elapsed, 1000);
        EXPECT_LT(elapsed, 1200); // ten times the 20 ms it may be late

        // A buffer with room for few answers, filled while the program is busy: what does
        // not fit is dropped and counted, and those probes time out, the others do not.
        HANDLE small = CreateProbeSet(window.handle(), kSetMessage, engine, 1, nullptr, 0);
        ASSERT_NE(small, INVALID_HANDLE_VALUE);
        std::map<DWORD, Tracked> many;
        TakeOnEachMessage(window, small, &many);
        for (DWORD key = 0; key < 600; ++key) {
            many[key].started = Clock::now();
            ASSERT_TRUE(StartEchoProbe(small, key, Address("127.0.0.1"), 300));
        }
        EXPECT_TRUE(window.RunUntil([&] { return AllKnown(many); }, 10000));
        DWORD lost = 0;
        for (const auto& entry : many)
            lost += entry.second.outcome.status == timedOut ? 1 : 0;
        std::printf("[ figures  ] 600 answers into a small buffer: %u datagrams dropped\n",
                    ProbeSetDroppedReplies(small));
        EXPECT_GT(lost, 0u);
        EXPECT_LT(lost, 600u);
        // A raw socket also counts the requests it would have passed over.
        if (ProbeSetEchoSocketKind(small) == ICMP_SOCKET_PING)
            EXPECT_EQ(ProbeSetDroppedReplies(small), lost);
        else
            EXPECT_GE(ProbeSetDroppedReplies(small), lost);
        EXPECT_TRUE(CloseProbeSet(small));
        EXPECT_TRUE(CloseProbeSet(set));
    }

    // The window's own timers are as precise as the deadlines.
    constexpr UINT_PTR kTimer = 9;
    Clock::time_point armed = Clock::now();
    ASSERT_NE(SetTimer(window.handle(), kTimer, 1000, nullptr), 0u);
    EXPECT_TRUE(window.RunUntil([&] { return !window.Received(WM_TIMER).empty(); }, 10000));
    KillTimer(window.handle(), kTimer);
    long elapsed = Milliseconds(window.Received(WM_TIMER).front().at - armed);
    std::printf("[ figures  ] a timer of 1000 ms ended after %ld ms\n", elapsed);
    EXPECT_GE(elapsed, 1000);
    EXPECT_LT(elapsed, 1200);
}

TEST(ProbeSet, KeysPendingOutcomesAndRefusalsAreToldApart) {
    SKIP_WITHOUT_NAMESPACES();
    QuietHost quiet;
    ASSERT_TRUE(quiet.Build());
    EnteredNamespace inside(quiet.host);
    ASSERT_TRUE(inside.ok());
    EventWindow window;
    HANDLE set = CreateProbeSet(window.handle(), kSetMessage, PROBE_ECHO_LIBRARY, 4, nullptr, 0);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    PROBE_OUTCOME outcome{};
    ASSERT_TRUE(StartEchoProbe(set, 7, Address("10.99.0.2"), 5000));
    EXPECT_FALSE(StartEchoProbe(set, 7, Address("127.0.0.1"), 5000));
    EXPECT_EQ(GetLastError(), 183u) << "the key is in use";
    EXPECT_FALSE(TakeProbeOutcome(set, 7, &outcome));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_FALSE(TakeProbeOutcome(set, 8, &outcome));
    EXPECT_EQ(GetLastError(), 1168u) << "no such key";
    // Sends that cannot go out are outcomes at once.
    ASSERT_TRUE(StartEchoProbe(set, 8, Address("0.0.0.0"), 5000));
    ASSERT_TRUE(StartEchoProbe(set, 9, Address("10.250.0.1"), 5000)); // no route
    ASSERT_TRUE(TakeProbeOutcome(set, 8, &outcome));
    EXPECT_EQ(outcome.status, IP_BAD_DESTINATION);
    ASSERT_TRUE(TakeProbeOutcome(set, 9, &outcome));
    EXPECT_EQ(outcome.status, IP_DEST_NET_UNREACHABLE);
    // A connect to 0.0.0.0 would reach this machine: refused as no address at once.
    ASSERT_TRUE(StartConnectProbe(set, 10, Address("0.0.0.0"), 7, 5000));
    ASSERT_TRUE(TakeProbeOutcome(set, 10, &outcome));
    EXPECT_EQ(outcome.status, 10049u);
    // A connection taken and reset before the program looks: the host answered.
    int listener = -1;
    unsigned short port = ListenIn(quiet.host, "127.0.0.1", &listener);
    ASSERT_NE(port, 0);
    ASSERT_TRUE(StartConnectProbe(set, 11, Address("127.0.0.1"), port, 5000));
    int taken = accept(listener, nullptr, nullptr);
    linger reset{1, 0};
    setsockopt(taken, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    close(taken);
    close(listener);
    bool taken11 = false;
    window.RunUntil([&] { return taken11 = taken11 || TakeProbeOutcome(set, 11, &outcome); }, 5000);
    EXPECT_TRUE(taken11);
    EXPECT_EQ(outcome.status, 0u);
    // A cancelled probe leaves and its key is free again. A closed set posts nothing more,
    // and the message it had posted is withdrawn.
    window.RunUntil([] { return false; }, 50);
    EXPECT_TRUE(CancelProbe(set, 7));
    EXPECT_FALSE(CancelProbe(set, 7));
    ASSERT_TRUE(StartEchoProbe(set, 7, Address("127.0.0.1"), 5000));
    MSG waiting{};
    for (int round = 0; round < 1000 && !PeekMessage(&waiting, window.handle(), kSetMessage,
                                                     kSetMessage, PM_NOREMOVE);
         ++round)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(waiting.message, kSetMessage);
    EXPECT_TRUE(CloseProbeSet(set));
    EXPECT_FALSE(PeekMessage(&waiting, window.handle(), kSetMessage, kSetMessage, PM_NOREMOVE));
    EXPECT_FALSE(StartEchoProbe(set, 1, Address("127.0.0.1"), 100));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE tcpOnly = CreateProbeSet(window.handle(), kSetMessage, PROBE_ECHO_NONE, 0, nullptr, 0);
    EXPECT_FALSE(StartEchoProbe(tcpOnly, 1, Address("127.0.0.1"), 100));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseProbeSet(tcpOnly));

    // Where ping sockets are refused and raw ones are not ours to open, making an echo set
    // fails as denied, unlike running out of descriptors, and a set without echoes works.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(10);
        int failures = 0;
        for (int engine : {PROBE_ECHO_RAW, PROBE_ECHO_LIBRARY})
            if (CreateProbeSet(0, kSetMessage, engine, 4, nullptr, 0) != INVALID_HANDLE_VALUE ||
                GetLastError() != ERROR_ACCESS_DENIED)
                ++failures;
        if (CreateProbeSet(0, kSetMessage, PROBE_ECHO_NONE, 4, nullptr, 0) == INVALID_HANDLE_VALUE)
            ++failures;
        _exit(failures);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

namespace {

void LookUpsAgainstASlowServer() {
    TestNameServer server;
    ASSERT_TRUE(server.ok());
    EventWindow window;
    HANDLE set = CreateProbeSet(window.handle(), kSetMessage, PROBE_ECHO_NONE, 0, nullptr, 0);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    std::map<DWORD, Tracked> probes;
    TakeOnEachMessage(window, set, &probes);
    auto serve = [&] { server.Serve(); };
    constexpr UINT_PTR kServeTimer = 5;
    SetTimer(window.handle(), kServeTimer, 10, nullptr);
    auto served = [&](auto condition) {
        return [&, condition] {
            serve();
            return condition();
        };
    };

    // Twelve names the server holds: eight workers ask (each for both families, two
    // queries), the other four wait their turn instead of failing.
    for (DWORD key = 0; key < 12; ++key) {
        std::string name = "held" + std::to_string(key) + ".test";
        server.SetRule(name, TestNameServer::Reply::Hold);
        probes[key].started = Clock::now();
        ASSERT_TRUE(StartLookupProbe(set, key, name.c_str(), PROBE_LOOKUP_ANY, 20000));
    }
    EXPECT_TRUE(window.RunUntil(served([&] { return server.heldCount() == 16; }), 5000));
    window.RunUntil(served([] { return false; }), 300);
    EXPECT_EQ(server.heldCount(), 16);
    EXPECT_EQ(window.Received(kSetMessage).size(), 0u) << "nothing failed";
    for (DWORD key = 0; key < 12; ++key)
        server.SetRule("held" + std::to_string(key) + ".test", TestNameServer::Reply::Addresses,
                       {"10.9.8." + std::to_string(key + 1)});
    server.ReleaseHeld();
    EXPECT_TRUE(window.RunUntil(served([&] { return AllKnown(probes); }), 10000));
    for (DWORD key = 0; key < 12; ++key) {
        EXPECT_EQ(probes[key].outcome.status, 0u) << key;
        EXPECT_EQ(probes[key].outcome.address, Address("10.9.8." + std::to_string(key + 1)));
    }

    // No answer by the deadline: not resolved. The answer that comes later is kept for
    // the next probe of the name, once, though the server no longer knows it by then.
    probes.clear();
    server.SetRule("late.test", TestNameServer::Reply::Hold);
    probes[20].started = Clock::now();
    ASSERT_TRUE(StartLookupProbe(set, 20, "late.test", PROBE_LOOKUP_ANY, 200));
    EXPECT_TRUE(window.RunUntil(served([&] { return AllKnown(probes); }), 5000));
    EXPECT_EQ(probes[20].outcome.status, PROBE_NOT_RESOLVED);
    EXPECT_GE(Milliseconds(probes[20].settled - probes[20].started), 200);
    server.SetRule("late.test", TestNameServer::Reply::Addresses, {"10.9.9.7"});
    server.ReleaseHeld();
    server.SetRule("late.test", TestNameServer::Reply::NoSuchName);
    window.RunUntil(served([] { return false; }), 300);
    for (DWORD key : {21u, 22u}) {
        probes[key].started = Clock::now();
        ASSERT_TRUE(StartLookupProbe(set, key, "late.test", PROBE_LOOKUP_ANY, 5000));
        EXPECT_TRUE(window.RunUntil(served([&] { return AllKnown(probes); }), 10000));
    }
    EXPECT_EQ(probes[21].outcome.status, 0u);
    EXPECT_EQ(probes[21].outcome.address, Address("10.9.9.7"));
    EXPECT_LT(Milliseconds(probes[21].settled - probes[21].started), 100) << "kept, not asked";
    EXPECT_EQ(probes[22].outcome.status, 11001u) << "asked again";
    EXPECT_LT(Milliseconds(probes[22].settled - probes[22].started), 4000) << "and answered";
    KillTimer(window.handle(), kServeTimer);
    EXPECT_TRUE(CloseProbeSet(set));
}

} // namespace

TEST(ProbeSet, LookUpsQueueBeyondTheWorkersAndALateAnswerIsKept) {
    EXPECT_PRIVATE_NETWORK_RUN(RunInPrivateNetwork("", "127.0.0.1 localhost\n",
                                                   "nameserver 127.0.0.1\n"
                                                   "options timeout:30 attempts:1\n",
                                                   LookUpsAgainstASlowServer));
}

namespace {

void DualStackNameByFamily() {
    EventWindow window;
    HANDLE set = CreateProbeSet(window.handle(), kSetMessage, PROBE_ECHO_NONE, 0, nullptr, 0);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    std::map<DWORD, Tracked> probes;
    TakeOnEachMessage(window, set, &probes);
    const struct {
        DWORD key;
        const char* name;
        int family;
    } lookups[] = {{1, "dual.test", PROBE_LOOKUP_IPV4},
                   {2, "dual.test", PROBE_LOOKUP_IPV6},
                   {3, "dual.test", PROBE_LOOKUP_ANY},
                   {4, "four.test", PROBE_LOOKUP_IPV6},
                   {5, "six.test", PROBE_LOOKUP_ANY}};
    for (const auto& each : lookups) {
        probes[each.key].started = Clock::now();
        ASSERT_TRUE(StartLookupProbe(set, each.key, each.name, each.family, 5000));
    }
    EXPECT_TRUE(window.RunUntil([&] { return AllKnown(probes); }, 10000));
    EXPECT_EQ(probes[1].outcome.status, 0u);
    EXPECT_EQ(probes[1].outcome.address, Address("10.9.1.1"));
    EXPECT_FALSE(probes[1].outcome.ipv6);
    EXPECT_EQ(probes[2].outcome.status, 0u);
    EXPECT_TRUE(SameAddress6(probes[2].outcome, "fd36::1"));
    // "any" is the system's own first choice.
    ::addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    ::addrinfo* found = nullptr;
    ASSERT_EQ(::getaddrinfo("dual.test", nullptr, &hints, &found), 0);
    EXPECT_EQ(probes[3].outcome.ipv6, found->ai_family == AF_INET6);
    freeaddrinfo(found);
    EXPECT_EQ(probes[4].outcome.status, 11001u) << "no address of the family asked for";
    EXPECT_TRUE(SameAddress6(probes[5].outcome, "fd36::6"));
    EXPECT_TRUE(CloseProbeSet(set));
}

} // namespace

TEST(ProbeSet, ADualStackNameGivesTheAddressOfTheFamilyAskedFor) {
    EXPECT_PRIVATE_NETWORK_RUN(RunInPrivateNetwork(
        "",
        "127.0.0.1 localhost\n10.9.1.1 dual.test\nfd36::1 dual.test\n10.9.1.4 four.test\n"
        "fd36::6 six.test\n",
        "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n", DualStackNameByFamily));
}
