// The tools' ways of asking a host for an echo, facing a peer on the link that forges answers
// for a silent host, or floods the link with them before the host's true reply: the raw
// ping's and trace's reading of their socket, and the library over a ping socket and over a
// raw one. (The monitor's probes meet the same peer in the probe set's own test.)
#include "echo_world.h"
#include "support/icmp_peer.h"

#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "model/settings.h"
#include "platform/icmplib.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "platform/testing_sys.h"
#include "platform/window.h"
#include "platform/winsock.h"

#include <string>
#include <vector>

using namespace platform;

TEST_F(EchoTest, OnlyTheProbedHostsOwnReplyCountsAmidForgedAndForeignIcmp) {
    SKIP_WITHOUT_NAMESPACES();
    EchoNetwork network;
    ASSERT_TRUE(network.Build()); // the probed host itself never answers
    EnteredNamespace inside(*network.client);
    ASSERT_TRUE(inside.ok());
    options.useIcmpLibrary = 1;
    ASSERT_EQ(LoadIcmpLibrary(), 1);
    const char* probedText = "10.221.1.2";
    const sockaddr_storage probed = Destination(probedText);

    // Takes what the socket holds as the ping and trace tools do, as its events come, until
    // the answer to `key` or the end of WAIT.
    auto awaitAnswer = [](SOCKET raw, const EchoRequestKey& key, unsigned char* buffer, int size,
                          int* length, sockaddr_storage* sender) {
        const std::uint32_t start = GetTickCount();
        int taken = 0;
        while ((taken = TakeQueuedAnswer(raw, buffer, size, key, length, sender)) == 0 &&
               GetTickCount() - start < options.waitTimeout) {
            MSG message{};
            if (PeekMessage(&message, 0, 0, 0, PM_REMOVE))
                DispatchMessage(&message);
        }
        return taken == 1;
    };
    // The raw ping's result and the trace's, then the library's with ping sockets allowed and
    // refused, and the socket kinds it used.
    auto askEveryWay = [&] {
        std::vector<int> results;
        SOCKET raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        WSAAsyncSelect(raw, testWindow_, WM_USER + 1,
                       FD_READ); // the tools' socket waits for nothing
        unsigned char buffer[ECHO_BUFFER_SIZE];
        int length = 0;
        sockaddr_storage sender{};
        PingStatistics counts{0, 0, PING_RTT_MIN_START, 0, 0};
        EXPECT_TRUE(SendPingRequest(raw, &probed, buffer, DEFAULT_ECHO_DATA_LENGTH, &counts));
        const EchoRequestKey ping{inet_addr(probedText), LOWORD(toolEcho.pingIdentifier), 0};
        results.push_back(
            awaitAnswer(raw, ping, buffer, ECHO_BUFFER_SIZE, &length, &sender)
                ? ParsePingPacket(buffer, length, sender, PACKET_RECEIVED, &ping, &counts)
                : 0);
        const EchoRequestKey trace{inet_addr(probedText), LOWORD(toolEcho.traceIdentifier),
                                   NextEchoSequence()};
        EXPECT_EQ(SendTraceProbe(raw, &probed, trace.sequence, buffer, TRACE_DATA_LENGTH, 5), 0);
        results.push_back(awaitAnswer(raw, trace, buffer, TRACE_REPLY_SIZE, &length, &sender)
                              ? ParseTracePacket(buffer, length, sender, 5, nullptr, &trace)
                              : -1);
        closesocket(raw);
        for (const char* range : {"0 2147483647", "1 0"}) {
            EXPECT_TRUE(network.client->SetSysctl("net.ipv4.ping_group_range", range));
            HANDLE handle = IcmpCreateFile();
            results.push_back(IcmpHandleKind(handle));
            IcmpCloseHandle(handle);
            results.push_back(LibraryEcho(probedText, options.waitTimeout));
        }
        return results;
    };

    {
        IcmpPeer peer(*network.server, probedText, "10.221.1.3", IcmpPeer::FORGE);
        ASSERT_TRUE(peer.ok());
        EXPECT_EQ(askEveryWay(),
                  (std::vector<int>{0, -1, ICMP_SOCKET_PING, static_cast<int>(IP_REQ_TIMED_OUT),
                                    ICMP_SOCKET_RAW, static_cast<int>(IP_REQ_TIMED_OUT)}));
        EXPECT_NE(BoxText().find("not for us"), std::string::npos)
            << "the forgeries passed over, in verbose lines";
        EXPECT_EQ(peer.answered(), 4) << "every request met the forgeries";
    }
    {
        IcmpPeer peer(*network.server, probedText, "10.221.1.3", IcmpPeer::FORGE_THEN_ANSWER);
        ASSERT_TRUE(peer.ok());
        // The answer comes at once; the longer wait only bounds a miss, should the lines
        // of forty passed-over datagrams take long to print (sanitizer builds).
        options.waitTimeout = 3000;
        toolOptions.verbose = 0;
        EXPECT_EQ(askEveryWay(), (std::vector<int>{1, 0, ICMP_SOCKET_PING, 0, ICMP_SOCKET_RAW, 0}));
    }
}
