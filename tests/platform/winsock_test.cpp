// The network stack on real sockets: loopback peers, and silent and unreachable hosts in a
// private network. (Look-ups are the asynchronous test's.)
#include "platform/winsock.h"

#include "platform/testing_sys.h"
#include "support/http_get.h"
#include "winsock_world.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

using namespace platform;

namespace {

sockaddr_in Address(const char* dotted, unsigned short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = inet_addr(dotted);
    return address;
}

int Connect(SOCKET socket, const sockaddr_in& address) {
    return connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

class WinsockTest : public testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    }
    void TearDown() override {
        EXPECT_EQ(WSACleanup(), 0); // closes what the test left open
    }
    LoopbackPeer listener;
};

} // namespace

TEST(WinsockStartup, ReportsOurStackAndGuardsCallsBeforeStartAndAfterCleanup) {
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), nullptr), WSAEFAULT);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET); // neither started it

    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_STREQ(data.szDescription, "Linux sockets");
    EXPECT_STREQ(data.szSystemStatus, "Running");
    EXPECT_GT(data.iMaxSockets, 0);
    // A program asking for a later version gets 1.1 and decides itself.
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);

    SOCKET open = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(open, INVALID_SOCKET);
    EXPECT_EQ(WSACleanup(), 0);
    // One start is still unmatched: the socket lives on.
    EXPECT_EQ(setsockopt(open, IPPROTO_IP, IP_TTL, "\1", 1), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    // The last cleanup closed the socket: after a new start it is unknown.
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    EXPECT_EQ(closesocket(open), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(WSACleanup(), 0);
}

// Whatever the system or the resolver says, a failure stays a failure: never 0, always a
// Winsock number. Which number each failure gives is seen on real sockets and look-ups
// below (refused, unreachable, silent, no such name, cancelled, ...).
TEST(WinsockErrors, EverySystemAndResolverErrorStaysAFailure) {
    for (int systemError = 0; systemError < 256; ++systemError) {
        int number = WinsockErrorFromErrno(systemError);
        EXPECT_TRUE(number > 10000 && number < 11000) << "errno " << systemError << ": " << number;
    }
    for (int resolverError = -1; resolverError <= 8; ++resolverError) {
        int number = WinsockErrorFromResolver(resolverError);
        EXPECT_TRUE(number >= 11001 && number <= 11004) << resolverError << ": " << number;
    }
}

TEST(WinsockAddresses, DottedFormsAndByteOrder) {
    auto text = [](std::uint32_t address) { return std::string(inet_ntoa(in_addr{address})); };
    EXPECT_EQ(text(inet_addr("127.0.0.1")), "127.0.0.1");
    EXPECT_EQ(text(inet_addr("10.1.2")), "10.1.0.2");   // last part fills two bytes
    EXPECT_EQ(text(inet_addr("10.65537")), "10.1.0.1"); // ... or three
    EXPECT_EQ(text(inet_addr("167772161")), "10.0.0.1");
    EXPECT_EQ(text(inet_addr("0x7f.1")), "127.0.0.1");
    EXPECT_EQ(text(inet_addr("012.0.0.1")), "10.0.0.1"); // octal
    EXPECT_EQ(inet_addr("127.0.0.1"), htonl(0x7F000001u));
    for (const char* rejected : {"1a.2.3.4", "", "1.2.3.4.5", "256.1.1.1", "10.256.1", "a.b.c.d",
                                 "1..2", "-1.2.3.4", "4294967296"})
        EXPECT_EQ(inet_addr(rejected), INADDR_NONE) << '"' << rejected << '"';
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);

    EXPECT_EQ(text(htonl(0xC0A80102u)), "192.168.1.2");
    EXPECT_EQ(htons(0x1234), 0x3412);
    EXPECT_EQ(ntohs(htons(230)), 230);
    EXPECT_EQ(ntohl(0x01020304u), 0x04030201u);

    // inet_ntoa's answer lives in one buffer that the next call overwrites.
    char* first = inet_ntoa(in_addr{inet_addr("1.2.3.4")});
    char* second = inet_ntoa(in_addr{inet_addr("5.6.7.8")});
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "5.6.7.8");
}

TEST_F(WinsockTest, ConnectionFailuresCarryWinsockNumbers) {
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Address("127.0.0.1", listener.port());
    EXPECT_EQ(connect(client, reinterpret_cast<const sockaddr*>(&address), 8), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    address.sin_family = 99;
    EXPECT_EQ(Connect(client, address), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
    // Two sockets on one port: the second bind is refused.
    address.sin_family = AF_INET;
    EXPECT_EQ(bind(client, reinterpret_cast<const sockaddr*>(&address), sizeof address),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);

    EXPECT_EQ(socket(99, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(socket(AF_INET, 9, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAESOCKTNOSUPPORT);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, IPPROTO_UDP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEPROTONOSUPPORT);
}

TEST_F(WinsockTest, DatagramsKeepTheirSenderAndAreNotCutSilently) {
    LoopbackPeer peer(false);
    ASSERT_NE(peer.port(), 0);
    SOCKET local = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(local, INVALID_SOCKET);
    sockaddr_in to = Address("127.0.0.1", peer.port());
    EXPECT_EQ(sendto(local, "ping", 4, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 4);
    unsigned short localPort = 0;
    EXPECT_EQ(peer.ReceiveOne(&localPort), "ping");
    ASSERT_NE(localPort, 0);

    // A receive never waits: with nothing there it fails at once.
    char buffer[64] = {};
    sockaddr_in from{};
    int fromLength = sizeof from;
    auto* fromAddress = reinterpret_cast<sockaddr*>(&from);
    EXPECT_EQ(recvfrom(local, buffer, sizeof buffer, 0, fromAddress, &fromLength), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(peer.SendTo(localPort, "pong"));
    ASSERT_TRUE(WaitUntilReadable(local));
    EXPECT_EQ(recvfrom(local, buffer, sizeof buffer, 0, fromAddress, &fromLength), 4);
    EXPECT_STREQ(buffer, "pong");
    EXPECT_EQ(fromLength, 16);
    EXPECT_EQ(from.sin_family, AF_INET);
    EXPECT_EQ(ntohs(from.sin_port), peer.port());
    EXPECT_STREQ(inet_ntoa(from.sin_addr), "127.0.0.1");

    // A datagram longer than the buffer fills it and says so.
    ASSERT_TRUE(peer.SendTo(localPort, std::string(100, 'z')));
    ASSERT_TRUE(WaitUntilReadable(local));
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(recvfrom(local, buffer, 10, 0, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::string(buffer), std::string(10, 'z'));

    // A sender address that does not fit is refused before anything is read.
    int tooShort = 8;
    EXPECT_EQ(recvfrom(local, buffer, sizeof buffer, 0, fromAddress, &tooShort), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);

    // Over IPv6 the sender is a sockaddr_in6, and room for an IPv4 one is too short.
    SOCKET receiver = socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP),
           sender = socket(AF_INET6, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in6 at{};
    at.sin6_family = AF_INET6;
    at.sin6_port = htons(FreePort());
    at.sin6_addr.u.Byte[15] = 1; // ::1
    ASSERT_EQ(bind(receiver, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0);
    EXPECT_EQ(sendto(sender, "six", 3, 0, reinterpret_cast<const sockaddr*>(&at), sizeof at), 3);
    ASSERT_TRUE(WaitUntilReadable(receiver));
    fromLength = sizeof from;
    EXPECT_EQ(recvfrom(receiver, buffer, sizeof buffer, 0, fromAddress, &fromLength), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    sockaddr_in6 from6{};
    fromLength = sizeof from6;
    EXPECT_EQ(recvfrom(receiver, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from6),
                       &fromLength),
              3);
    EXPECT_EQ(fromLength, 28);
    EXPECT_EQ(from6.sin6_family, AF_INET6);
    char text[INET6_ADDRSTRLEN];
    EXPECT_STREQ(inet_ntop(AF_INET6, &from6.sin6_addr, text, sizeof text), "::1");
    closesocket(receiver);
    closesocket(sender);
}

TEST_F(WinsockTest, OptionsReachTheSystemUnderTheirOwnNumbers) {
    SOCKET datagram = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(datagram, INVALID_SOCKET);
    auto set = [datagram](int level, int option, int value) {
        return setsockopt(datagram, level, option, reinterpret_cast<const char*>(&value),
                          sizeof value);
    };
    const char ttl[2] = {5, 0}; // two bytes, least significant first
    EXPECT_EQ(setsockopt(datagram, IPPROTO_IP, IP_TTL, ttl, 2), 0);
    EXPECT_EQ(SystemTimeToLive(datagram), 5);
    EXPECT_EQ(set(IPPROTO_IP, IP_TTL, 200), 0);
    EXPECT_EQ(SystemTimeToLive(datagram), 200);

    EXPECT_EQ(set(IPPROTO_IP, IP_TTL, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(set(IPPROTO_IP, 0x77, 5), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
    EXPECT_EQ(set(12345, IP_TTL, 5), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(setsockopt(datagram, IPPROTO_IP, IP_TTL, nullptr, 4), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

TEST_F(WinsockTest, LookUpArgumentsAreChecked) {
    std::uint32_t loopback = inet_addr("127.0.0.1");
    const char* address = reinterpret_cast<const char*>(&loopback);
    alignas(hostent) char buffer[MAXGETHOSTSTRUCT];
    EXPECT_EQ(WSAAsyncGetHostByAddr(0, 0, address, 3, AF_INET, buffer, sizeof buffer), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(WSAAsyncGetHostByAddr(0, 0, address, 4, AF_INET6, buffer, sizeof buffer), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(WSAAsyncGetHostByAddr(0, 0, address, 4, 99, buffer, sizeof buffer), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(WSAAsyncGetHostByName(0, 0, nullptr, buffer, sizeof buffer), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

// ---- In a private network ----

namespace {

// 10.200.0.2 sits on a link whose frames reach nobody: a host that never answers.
// 10.201.0.0/16 has no route; 10.202.0.0/16 is marked unreachable.
const char silentHostSetup[] =
    "ip link add wsv0 type veth peer name wsv1 && ip addr add 10.200.0.1/24 dev wsv0 && "
    "ip link set wsv0 up && ip link set wsv1 up && "
    "ip neigh add 10.200.0.2 lladdr 02:00:00:00:00:02 dev wsv0 nud permanent && "
    "ip route add unreachable 10.202.0.0/16";

void ConnectInPrivateNetwork() {
    const struct {
        const char* address;
        int error;
    } cases[] = {{"10.200.0.2", WSAEWOULDBLOCK}, // silent: under way, never waited for
                 {"10.201.0.1", WSAENETUNREACH},
                 {"10.202.0.1", WSAEHOSTUNREACH}};
    for (const auto& each : cases) {
        SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_EQ(Connect(client, Address(each.address, 230)), SOCKET_ERROR) << each.address;
        EXPECT_EQ(WSAGetLastError(), each.error) << each.address;
        EXPECT_EQ(closesocket(client), 0);
    }
}

} // namespace

TEST_F(WinsockTest, SilentAndUnreachableHostsInAPrivateNetwork) {
    EXPECT_PRIVATE_NETWORK_RUN(
        RunInPrivateNetwork(silentHostSetup, nullptr, nullptr, ConnectInPrivateNetwork));
}
