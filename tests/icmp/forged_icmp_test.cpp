// Every way the program asks a host for an echo, facing a peer on the link that forges
// answers for a silent host, or floods the link with them before the host's true reply: the
// monitor's raw probe, the raw ping and trace, and the library over a ping socket and over
// a raw one.
#include "echo_world.h"
#include "support/icmp_peer.h"

#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "model/settings.h"
#include "platform/icmplib.h"
#include "platform/testing_sys.h"
#include "platform/window.h"
#include "platform/winsock.h"

#include <string>
#include <vector>

using namespace platform;

TEST_F(EchoTest, OnlyTheProbedHostsOwnReplyCountsAmidForgedAndForeignIcmp) {
    SKIP_WITHOUT_NAMESPACES();
    EchoNetwork network;
    ASSERT_TRUE(network.BuildDirect(true)); // the probed host itself never answers
    EnteredNamespace inside(*network.client);
    ASSERT_TRUE(inside.ok());
    options.useIcmpLibrary = 1;
    ASSERT_EQ(LoadIcmpLibrary(), 1);
    const char* probedText = "10.221.1.2";
    const sockaddr_in probed = Destination(probedText);

    // The raw monitor's result, the raw ping's and trace's, then the library's with ping
    // sockets allowed and refused, and the socket kinds it used.
    auto askEveryWay = [&] {
        std::vector<int> results;
        SOCKET raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        results.push_back(EchoProbe(mainWindow, raw, &probed));
        unsigned char buffer[ECHO_BUFFER_SIZE];
        PingStatistics counts{0, 0, PING_RTT_MIN_START, 0, 0};
        EXPECT_TRUE(SendPingRequest(raw, &probed, buffer, DEFAULT_ECHO_DATA_LENGTH, &counts));
        results.push_back(ReceivePingReply(raw, &probed, 0, buffer, &counts));
        std::uint16_t sequence = NextEchoSequence();
        EXPECT_EQ(SendTraceProbe(raw, &probed, sequence, buffer, TRACE_DATA_LENGTH, 5), 0);
        results.push_back(ReceiveTraceReply(raw, &probed, sequence, buffer, TRACE_REPLY_SIZE, 5));
        closesocket(raw);
        for (const char* range : {"0 2147483647", "1 0"}) {
            EXPECT_TRUE(network.client->SetSysctl("net.ipv4.ping_group_range", range));
            HANDLE handle = IcmpCreateFile();
            results.push_back(IcmpHandleKind(handle));
            IcmpCloseHandle(handle);
            std::uint32_t rtt = 0;
            results.push_back(LibraryEchoProbe(&probed, options.waitTimeout, &rtt));
        }
        return results;
    };

    {
        IcmpPeer peer(*network.server, probedText, "10.221.1.3", IcmpPeer::FORGE);
        ASSERT_TRUE(peer.ok());
        int ticks = 0;
        onTestTimer = [&](UINT_PTR) { ++ticks; };
        ASSERT_NE(SetTimer(testWindow_, 77, 40, nullptr), 0u);
        EXPECT_EQ(askEveryWay(),
                  (std::vector<int>{ECHO_NO_REPLY, 0, -1, ICMP_SOCKET_PING,
                                    static_cast<int>(IP_REQ_TIMED_OUT), ICMP_SOCKET_RAW,
                                    static_cast<int>(IP_REQ_TIMED_OUT)}));
        KillTimer(testWindow_, 77);
        EXPECT_GE(ticks, 1) << "timers are served during the raw waits";
        MSG message{};
        EXPECT_FALSE(PeekMessage(&message, mainWindow, WM_TIMER, WM_TIMER, PM_NOREMOVE))
            << "no WAIT timer left behind";
        EXPECT_NE(BoxText().find("\r\n[recvfrom] Blocking call cancelled\r\n"), std::string::npos)
            << "the trace's cut wait, in verbose mode";
        EXPECT_EQ(peer.answered(), 5) << "every request met the forgeries";
    }
    {
        IcmpPeer peer(*network.server, probedText, "10.221.1.3", IcmpPeer::FORGE_THEN_ANSWER);
        ASSERT_TRUE(peer.ok());
        // The answer comes at once; the longer wait only bounds a miss, should the lines
        // of forty passed-over datagrams take long to print (sanitizer builds).
        options.waitTimeout = 3000;
        toolOptions.verbose = 0;
        EXPECT_EQ(askEveryWay(),
                  (std::vector<int>{0, 1, 0, ICMP_SOCKET_PING, 0, ICMP_SOCKET_RAW, 0}));
    }
}
