// The network stack on real sockets: loopback peers, silent and unreachable hosts in a
// private network, and name look-ups against the hosts file and a name server of our own.
#include "platform/winsock.h"

#include "platform/testing_sys.h"
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

int Bind(SOCKET socket, const sockaddr_in& address) {
    return bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// A host entry's addresses as dotted text, or its aliases.
std::vector<std::string> Addresses(const hostent* entry) {
    std::vector<std::string> result;
    for (char** item = entry->h_addr_list; *item != nullptr; ++item) {
        in_addr address;
        std::memcpy(&address.s_addr, *item, 4);
        result.push_back(inet_ntoa(address));
    }
    return result;
}

std::vector<std::string> Aliases(const hostent* entry) {
    std::vector<std::string> result;
    for (char** item = entry->h_aliases; *item != nullptr; ++item)
        result.push_back(*item);
    return result;
}

// What the hooks below see and do; each test sets what it needs.
struct HookState {
    int calls = 0;
    int cancelAt = 0; // cancel the blocking call on this call of the hook
    int server = -1;  // the far end that the hook writes "ready" to on call `writeAt`
    int writeAt = 0;
    bool blockingSeen = false;
    SOCKET other = INVALID_SOCKET; // used from inside the hook
    bool nestedChecked = false;
} hook;

bool CountingHook() {
    ++hook.calls;
    hook.blockingSeen = WSAIsBlocking();
    if (hook.calls == hook.writeAt)
        WriteAll(hook.server, "ready");
    if (hook.calls == hook.cancelAt) {
        EXPECT_EQ(WSACancelBlockingCall(), 0);
    }
    return false;
}

// Every socket call made while one blocks must be refused with 10036, and the stack must
// still be usable for what does not block.
bool NestedCallHook() {
    ++hook.calls;
    char byte = 'x';
    auto refused = [](const char* call, bool failed) {
        EXPECT_TRUE(failed) << call;
        EXPECT_EQ(WSAGetLastError(), WSAEINPROGRESS) << call;
    };
    refused("send", send(hook.other, &byte, 1, 0) == SOCKET_ERROR);
    refused("recv", recv(hook.other, &byte, 1, 0) == SOCKET_ERROR);
    refused("socket", socket(AF_INET, SOCK_STREAM, 0) == INVALID_SOCKET);
    refused("closesocket", closesocket(hook.other) == SOCKET_ERROR);
    refused("gethostbyname", gethostbyname("localhost") == nullptr);
    refused("WSASetBlockingHook", WSASetBlockingHook(CountingHook) == nullptr);
    refused("WSACleanup", WSACleanup() == SOCKET_ERROR);
    EXPECT_EQ(inet_addr("10.0.0.1"), htonl(0x0A000001u));
    hook.nestedChecked = true;
    EXPECT_EQ(WSACancelBlockingCall(), 0);
    return false;
}

class WinsockTest : public testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
        hook = HookState{};
    }
    void TearDown() override {
        CloseDescriptor(server);
        WSAUnhookBlockingHook();
        EXPECT_EQ(WSACleanup(), 0); // closes what the test left open
    }
    // A TCP connection over loopback: `client` ours, `server` the system's far end.
    void ConnectPair() {
        client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ASSERT_EQ(Connect(client, Address("127.0.0.1", listener.port())), 0);
        server = listener.AcceptOne();
        ASSERT_GE(server, 0);
    }
    LoopbackPeer listener;
    SOCKET client = INVALID_SOCKET;
    int server = -1;
};

} // namespace

TEST(WinsockStartup, ReportsOurStackAndGuardsCallsBeforeStartAndAfterCleanup) {
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACancelBlockingCall(), SOCKET_ERROR);
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
    unsigned short closedPort = UnusedLoopbackPort();
    ASSERT_NE(closedPort, 0);
    SOCKET first = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(Bind(first, Address("0.0.0.0", 0)), 0);
    EXPECT_EQ(Connect(first, Address("127.0.0.1", closedPort)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);

    SOCKET second = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = Address("127.0.0.1", closedPort);
    EXPECT_EQ(connect(second, reinterpret_cast<const sockaddr*>(&address), 8), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    address.sin_family = 23;
    EXPECT_EQ(Connect(second, address), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
    // Two sockets on one port: the second bind is refused.
    EXPECT_EQ(Bind(second, Address("127.0.0.1", listener.port())), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);

    EXPECT_EQ(socket(23, SOCK_STREAM, 0), INVALID_SOCKET);
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

    ASSERT_TRUE(peer.SendTo(localPort, "pong"));
    char buffer[64] = {};
    sockaddr_in from{};
    int fromLength = sizeof from;
    auto* fromAddress = reinterpret_cast<sockaddr*>(&from);
    EXPECT_EQ(recvfrom(local, buffer, sizeof buffer, 0, fromAddress, &fromLength), 4);
    EXPECT_STREQ(buffer, "pong");
    EXPECT_EQ(fromLength, 16);
    EXPECT_EQ(from.sin_family, AF_INET);
    EXPECT_EQ(ntohs(from.sin_port), peer.port());
    EXPECT_STREQ(inet_ntoa(from.sin_addr), "127.0.0.1");

    // A datagram longer than the buffer fills it and says so.
    ASSERT_TRUE(peer.SendTo(localPort, std::string(100, 'z')));
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(recvfrom(local, buffer, 10, 0, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(std::string(buffer), std::string(10, 'z'));

    // A sender address that does not fit is refused before anything is read.
    int tooShort = 8;
    EXPECT_EQ(recvfrom(local, buffer, sizeof buffer, 0, fromAddress, &tooShort), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
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

TEST_F(WinsockTest, TheHookRunsWhileACallBlocksCanCancelItAndCannotCallIn) {
    BlockingHookProc original = WSASetBlockingHook(CountingHook);
    ASSERT_NE(original, nullptr);
    EXPECT_FALSE(original()); // the stack's own hook has nothing to dispatch
    EXPECT_EQ(WSASetBlockingHook(CountingHook), CountingHook);
    EXPECT_EQ(WSASetBlockingHook(nullptr), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(WSACancelBlockingCall(), SOCKET_ERROR); // nothing to cancel
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    ConnectPair();

    // Nothing arrives until the hook itself writes, so the receive can only end if the
    // hook runs while it waits.
    hook.server = server;
    hook.writeAt = 3;
    EXPECT_FALSE(WSAIsBlocking());
    char buffer[16] = {};
    EXPECT_EQ(recv(client, buffer, sizeof buffer - 1, 0), 5);
    EXPECT_STREQ(buffer, "ready");
    EXPECT_GE(hook.calls, 3);
    EXPECT_TRUE(hook.blockingSeen);
    EXPECT_FALSE(WSAIsBlocking());

    // Data already there: no wait, no hook.
    hook = HookState{};
    ASSERT_TRUE(WriteAll(server, "more"));
    ASSERT_TRUE(WaitUntilReadable(client));
    EXPECT_EQ(recv(client, buffer, sizeof buffer - 1, 0), 4);
    EXPECT_EQ(hook.calls, 0);

    // A cancel ends the call at once with 10004, and does not touch the next one.
    hook.cancelAt = 4;
    EXPECT_EQ(recv(client, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINTR);
    EXPECT_EQ(hook.calls, 4); // not one more wait after the cancel
    EXPECT_FALSE(WSAIsBlocking());
    hook = HookState{};
    hook.server = server;
    hook.writeAt = 2;
    EXPECT_EQ(recv(client, buffer, sizeof buffer, 0), 5);

    // Calls from inside the hook are refused, so the socket is still open afterwards.
    hook = HookState{};
    hook.other = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(hook.other, INVALID_SOCKET);
    WSASetBlockingHook(NestedCallHook);
    EXPECT_EQ(recv(client, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINTR);
    EXPECT_TRUE(hook.nestedChecked);
    EXPECT_EQ(hook.calls, 1);
    EXPECT_EQ(closesocket(hook.other), 0);

    EXPECT_EQ(WSAUnhookBlockingHook(), 0);
    EXPECT_EQ(WSASetBlockingHook(CountingHook), original);
}

TEST_F(WinsockTest, LookUpArgumentsAreChecked) {
    std::uint32_t loopback = inet_addr("127.0.0.1");
    const char* address = reinterpret_cast<const char*>(&loopback);
    EXPECT_EQ(gethostbyaddr(address, 3, AF_INET), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    EXPECT_EQ(gethostbyaddr(address, 4, 23), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(gethostbyname(nullptr), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

// ---- In a private network ----

namespace {

#define EXPECT_PRIVATE_NETWORK_RUN(status)                                                         \
    do {                                                                                           \
        int result = (status);                                                                     \
        if (result == privateNetworkUnavailable)                                                   \
            GTEST_SKIP() << "needs root, network and mount namespaces and the ip command";         \
        EXPECT_EQ(result, 0);                                                                      \
    } while (false)

// 10.200.0.2 sits on a link whose frames reach nobody: a host that never answers.
// 10.201.0.0/16 has no route; 10.202.0.0/16 is marked unreachable.
const char silentHostSetup[] =
    "ip link add wsv0 type veth peer name wsv1 && ip addr add 10.200.0.1/24 dev wsv0 && "
    "ip link set wsv0 up && ip link set wsv1 up && "
    "ip neigh add 10.200.0.2 lladdr 02:00:00:00:00:02 dev wsv0 nud permanent && "
    "ip route add unreachable 10.202.0.0/16";

void ConnectInPrivateNetwork() {
    hook = HookState{};
    hook.cancelAt = 20;
    WSASetBlockingHook(CountingHook);
    const struct {
        const char* address;
        int error;
    } cases[] = {{"10.200.0.2", WSAEINTR}, // silent: waits until the hook cancels
                 {"10.201.0.1", WSAENETUNREACH},
                 {"10.202.0.1", WSAEHOSTUNREACH}};
    for (const auto& each : cases) {
        SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        EXPECT_EQ(Connect(client, Address(each.address, 230)), SOCKET_ERROR) << each.address;
        EXPECT_EQ(WSAGetLastError(), each.error) << each.address;
        EXPECT_EQ(closesocket(client), 0);
        if (each.error == WSAEINTR) {
            EXPECT_EQ(hook.calls, 20);
            EXPECT_TRUE(hook.blockingSeen);
        }
    }
}

} // namespace

TEST_F(WinsockTest, SilentAndUnreachableHostsInAPrivateNetwork) {
    EXPECT_PRIVATE_NETWORK_RUN(
        RunInPrivateNetwork(silentHostSetup, nullptr, nullptr, ConnectInPrivateNetwork));
}

namespace {

TestNameServer* nameServer = nullptr;
bool cancelWhenHeld = false;
int callsAtCancel = 0;

// The name server is served from the hook, so every answer proves the hook ran during the
// look-up.
bool NameServerHook() {
    ++hook.calls;
    nameServer->Serve();
    if (cancelWhenHeld && nameServer->heldCount() > 0 && callsAtCancel == 0) {
        EXPECT_EQ(WSACancelBlockingCall(), 0);
        callsAtCancel = hook.calls;
    }
    return false;
}

void LookUpInPrivateNetwork() {
    TestNameServer server;
    ASSERT_TRUE(server.ok());
    nameServer = &server;
    hook = HookState{};
    WSASetBlockingHook(NameServerHook);

    // From the hosts file: official name, aliases, address, both ways.
    hostent* entry = gethostbyname("beta");
    ASSERT_NE(entry, nullptr) << WSAGetLastError();
    EXPECT_STREQ(entry->h_name, "alpha.test");
    EXPECT_EQ(Aliases(entry), (std::vector<std::string>{"alpha", "beta"}));
    EXPECT_EQ(Addresses(entry), std::vector<std::string>{"10.9.9.9"});
    std::uint32_t address = inet_addr("10.9.9.9");
    hostent* reverse = gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET);
    ASSERT_NE(reverse, nullptr) << WSAGetLastError();
    EXPECT_STREQ(reverse->h_name, "alpha.test");
    EXPECT_EQ(reverse, entry); // one storage, as the stack promises

    // From the name server: two addresses in the order given.
    server.SetRule("two.test", TestNameServer::Reply::Addresses, {"10.9.9.5", "10.9.9.6"});
    entry = gethostbyname("two.test");
    ASSERT_NE(entry, nullptr) << WSAGetLastError();
    EXPECT_STREQ(entry->h_name, "two.test");
    EXPECT_TRUE(Aliases(entry).empty());
    EXPECT_EQ(Addresses(entry), (std::vector<std::string>{"10.9.9.5", "10.9.9.6"}));

    // The resolver's failure as a Winsock number (the other codes map as the table says).
    EXPECT_EQ(gethostbyname("missing.test"), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
    address = inet_addr("10.9.9.8");
    EXPECT_EQ(gethostbyaddr(reinterpret_cast<const char*>(&address), 4, AF_INET), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);

    // A look-up whose server stays silent, cancelled from the hook: it returns at once,
    // without waiting for the resolver.
    entry = gethostbyname("beta");
    ASSERT_NE(entry, nullptr);
    server.SetRule("silent.test", TestNameServer::Reply::Hold);
    cancelWhenHeld = true;
    int before = hook.calls;
    EXPECT_EQ(gethostbyname("silent.test"), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAEINTR);
    EXPECT_GT(callsAtCancel, before);
    EXPECT_EQ(hook.calls, callsAtCancel);
    EXPECT_FALSE(WSAIsBlocking());
    EXPECT_STREQ(entry->h_name, "alpha.test"); // a failed look-up leaves the last answer

    // Its answer comes late, during the next look-up, and must not take that one's place.
    cancelWhenHeld = false;
    server.SetRule("silent.test", TestNameServer::Reply::Addresses, {"10.9.9.1"});
    server.ReleaseHeld();
    server.SetRule("late.test", TestNameServer::Reply::Addresses, {"10.9.9.7"});
    entry = gethostbyname("late.test");
    ASSERT_NE(entry, nullptr) << WSAGetLastError();
    EXPECT_STREQ(entry->h_name, "late.test");
    EXPECT_EQ(Addresses(entry), std::vector<std::string>{"10.9.9.7"});
    nameServer = nullptr;
}

} // namespace

TEST_F(WinsockTest, LooksUpNamesFromHostsFileAndNameServerAndCancels) {
    EXPECT_PRIVATE_NETWORK_RUN(RunInPrivateNetwork("",
                                                   "127.0.0.1 localhost\n"
                                                   "10.9.9.9 alpha.test alpha beta\n",
                                                   "nameserver 127.0.0.1\n"
                                                   "options timeout:30 attempts:1\n",
                                                   LookUpInPrivateNetwork));
}
