// The ICMP library against a real network: loopback, a silent host, and a router with
// hosts behind it, in namespaces made for each test, over ping sockets and raw sockets;
// and the raw datagram reader on crafted datagrams.
#include "platform/icmplib.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "support/netns.h"

using namespace platform;

namespace {

// 43 characters, the length of the program's echo banner, then zero bytes up to 56.
const char kBanner[] = "Tarnmap network monitor echo test pattern!!";
static_assert(sizeof kBanner - 1 == 43);

DWORD Address(const char* dotted) {
    return inet_addr(dotted);
}

std::string Dotted(DWORD address) {
    in_addr value{};
    value.s_addr = address;
    return inet_ntoa(value);
}

// Lets the namespace's root user open ping sockets, or refuses them so that the library
// must fall back to a raw socket.
bool AllowPingSockets(const NetworkNamespace& space, bool allow) {
    return space.SetSysctl("net.ipv4.ping_group_range", allow ? "0 2147483647" : "1 0");
}

const char* KindName(int kind) {
    return kind == ICMP_SOCKET_PING ? "ping socket" : "raw socket";
}

// A reply buffer with room to spare, filled with a mark so untouched bytes show.
struct ReplyBuffer {
    static constexpr std::size_t kSize = 4096;
    alignas(ICMP_ECHO_REPLY) unsigned char bytes[kSize];
    ReplyBuffer() { std::memset(bytes, 0xa5, sizeof bytes); }
    const ICMP_ECHO_REPLY& record() const {
        return *reinterpret_cast<const ICMP_ECHO_REPLY*>(bytes);
    }
    bool Untouched() const {
        for (unsigned char byte : bytes) {
            if (byte != 0xa5)
                return false;
        }
        return true;
    }
};

#define SKIP_WITHOUT_NAMESPACES()                                                                  \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!NetworkNamespacesAvailable(&why))                                                     \
            GTEST_SKIP() << why;                                                                   \
    } while (false)

// client 10.201.1.1 -- 10.201.1.2 router 10.201.2.1 -- 10.201.2.2 server
// The router has no default route, answers 10.203/16 with host unreachable and 10.204/16
// with communication prohibited; the server's replies leave with TTL 77. Its errors are
// not rate-limited per ICMP type (icmp_ratemask 0), but unreachable routes have a limit of
// their own, a burst of five per source, so each test builds a fresh network and sends
// fewer unreachables than that through it.
struct RoutedNetwork {
    NetworkNamespace client{"client"};
    NetworkNamespace router{"router"};
    NetworkNamespace server{"server"};

    bool Build(bool pingSockets) {
        return client.ok() && router.ok() && server.ok() &&
               ConnectNamespaces(client, "c0", "10.201.1.1/24", router, "r0", "10.201.1.2/24") &&
               ConnectNamespaces(router, "r1", "10.201.2.1/24", server, "s0", "10.201.2.2/24") &&
               client.Ip({"route", "add", "default", "via", "10.201.1.2"}) &&
               server.Ip({"route", "add", "default", "via", "10.201.2.1"}) &&
               router.Ip({"route", "add", "unreachable", "10.203.0.0/16"}) &&
               router.Ip({"route", "add", "prohibit", "10.204.0.0/16"}) &&
               router.SetSysctl("net.ipv4.ip_forward", "1") &&
               router.SetSysctl("net.ipv4.icmp_ratemask", "0") &&
               server.SetSysctl("net.ipv4.ip_default_ttl", "77") &&
               AllowPingSockets(client, pingSockets);
    }
};

} // namespace

TEST(IcmpLibrary, ChecksumAndErrorStatuses) {
    // RFC 1071's example words, and the same with an odd trailing byte.
    const unsigned char words[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(InternetChecksum(words, sizeof words), 0x220d);
    const unsigned char odd[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7, 0xff};
    EXPECT_EQ(InternetChecksum(odd, sizeof odd), 0x230c);

    EXPECT_EQ(IcmpErrorStatus(11, 0), 11013u);
    EXPECT_EQ(IcmpErrorStatus(11, 1), 11014u);
    EXPECT_EQ(IcmpErrorStatus(3, 0), 11002u);
    EXPECT_EQ(IcmpErrorStatus(3, 1), 11003u);
    EXPECT_EQ(IcmpErrorStatus(3, 2), 11004u);
    EXPECT_EQ(IcmpErrorStatus(3, 3), 11005u);
    EXPECT_EQ(IcmpErrorStatus(3, 4), 11009u);
    EXPECT_EQ(IcmpErrorStatus(3, 5), 11012u);
    EXPECT_EQ(IcmpErrorStatus(3, 10), 11003u);
    EXPECT_EQ(IcmpErrorStatus(3, 13), 11004u);
    EXPECT_EQ(IcmpErrorStatus(4, 0), 11016u);
    EXPECT_EQ(IcmpErrorStatus(12, 0), 11015u);
    EXPECT_EQ(IcmpErrorStatus(5, 1), IP_SUCCESS); // a redirect is no answer
    EXPECT_EQ(IcmpErrorStatus(0, 0), IP_SUCCESS);
}

namespace {

// Builds an IPv4 header of `headerLength` bytes (options zero) from `source` to `target`.
std::vector<unsigned char> IpHeader(std::size_t headerLength, const char* source,
                                    const char* target, std::uint8_t ttl) {
    std::vector<unsigned char> header(headerLength, 0);
    header[0] = static_cast<unsigned char>(0x40 | (headerLength / 4));
    header[8] = ttl;
    header[9] = 1; // ICMP
    DWORD from = Address(source);
    DWORD to = Address(target);
    std::memcpy(&header[12], &from, 4);
    std::memcpy(&header[16], &to, 4);
    return header;
}

std::vector<unsigned char> Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t identifier,
                                std::uint16_t sequence, const std::vector<unsigned char>& rest) {
    std::vector<unsigned char> message{type,
                                       code,
                                       0,
                                       0,
                                       static_cast<unsigned char>(identifier >> 8),
                                       static_cast<unsigned char>(identifier),
                                       static_cast<unsigned char>(sequence >> 8),
                                       static_cast<unsigned char>(sequence)};
    message.insert(message.end(), rest.begin(), rest.end());
    std::uint16_t checksum = InternetChecksum(message.data(), message.size());
    message[2] = static_cast<unsigned char>(checksum >> 8);
    message[3] = static_cast<unsigned char>(checksum);
    return message;
}

std::vector<unsigned char> Join(std::vector<unsigned char> first,
                                const std::vector<unsigned char>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The datagram last read, kept until the next read since the answer points into it.
std::unique_ptr<unsigned char[]> lastDatagram;

// Reads from a heap copy of exactly the datagram's size, so that the sanitizer build
// catches a read past its end.
bool Read(const std::vector<unsigned char>& datagram, RawEchoAnswer* answer,
          std::uint16_t identifier = 0x1234, std::uint16_t sequence = 7) {
    lastDatagram.reset(new unsigned char[datagram.size()]);
    if (!datagram.empty())
        std::memcpy(lastDatagram.get(), datagram.data(), datagram.size());
    return ReadRawEchoAnswer(lastDatagram.get(), datagram.size(), Address("10.9.0.2"), identifier,
                             sequence, answer);
}

} // namespace

TEST(IcmpLibrary, RawReaderAcceptsOnlyAnswersToOurRequest) {
    const std::vector<unsigned char> data{'a', 'b', 'c', 'd', 'e'};
    RawEchoAnswer answer{};

    auto reply = Join(IpHeader(20, "10.9.0.2", "10.9.0.1", 61), Icmp(0, 0, 0x1234, 7, data));
    ASSERT_TRUE(Read(reply, &answer));
    EXPECT_EQ(answer.status, IP_SUCCESS);
    EXPECT_EQ(Dotted(answer.address), "10.9.0.2");
    EXPECT_EQ(answer.ttl, 61);
    ASSERT_EQ(answer.dataSize, data.size());
    EXPECT_EQ(std::memcmp(answer.data, data.data(), data.size()), 0);

    // An IP header with options in front is skipped by its length.
    auto withOptions = Join(IpHeader(24, "10.9.0.2", "10.9.0.1", 61), Icmp(0, 0, 0x1234, 7, data));
    ASSERT_TRUE(Read(withOptions, &answer));
    EXPECT_EQ(answer.dataSize, data.size());

    // Someone else's echo, a late answer, a damaged one.
    EXPECT_FALSE(Read(reply, &answer, 0x1235, 7));
    EXPECT_FALSE(Read(reply, &answer, 0x1234, 8));
    auto damaged = reply;
    damaged.back() ^= 0x01;
    EXPECT_FALSE(Read(damaged, &answer));

    // A router's time exceeded quoting our request: the router is the answer.
    auto ourRequest = Join(IpHeader(20, "10.9.0.1", "10.9.0.2", 1), Icmp(8, 0, 0x1234, 7, data));
    ourRequest.resize(28); // routers quote the header and 8 bytes
    auto exceeded = Join(IpHeader(20, "10.9.5.5", "10.9.0.1", 250), Icmp(11, 0, 0, 0, ourRequest));
    ASSERT_TRUE(Read(exceeded, &answer));
    EXPECT_EQ(answer.status, IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(Dotted(answer.address), "10.9.5.5");
    EXPECT_EQ(answer.dataSize, 0u);
    auto unreachable =
        Join(IpHeader(20, "10.9.5.5", "10.9.0.1", 250), Icmp(3, 1, 0, 0, ourRequest));
    ASSERT_TRUE(Read(unreachable, &answer));
    EXPECT_EQ(answer.status, IP_DEST_HOST_UNREACHABLE);

    // ... but not when it quotes another request, another destination, or too little.
    EXPECT_FALSE(Read(exceeded, &answer, 0x1234, 9));
    auto elsewhere = Join(IpHeader(20, "10.9.5.5", "10.9.0.1", 250), Icmp(11, 0, 0, 0, [&] {
                              auto quote = Join(IpHeader(20, "10.9.0.1", "10.9.0.3", 1),
                                                Icmp(8, 0, 0x1234, 7, {}));
                              return quote;
                          }()));
    EXPECT_FALSE(Read(elsewhere, &answer));
    auto cut = exceeded;
    cut.resize(cut.size() - 1);
    EXPECT_FALSE(Read(cut, &answer));
    auto redirect = Join(IpHeader(20, "10.9.5.5", "10.9.0.1", 250), Icmp(5, 1, 0, 0, ourRequest));
    EXPECT_FALSE(Read(redirect, &answer));

    // Header lengths that point past the datagram, or below the minimum, are refused.
    auto longHeader = reply;
    longHeader[0] = 0x4f; // 60 bytes claimed in a 33-byte datagram
    EXPECT_FALSE(Read(longHeader, &answer));
    auto shortHeader = reply;
    shortHeader[0] = 0x44;
    EXPECT_FALSE(Read(shortHeader, &answer));
    auto lyingQuote = exceeded;
    lyingQuote[28] = 0x4f; // the quoted header claims 60 bytes of 28
    EXPECT_FALSE(Read(lyingQuote, &answer));
    auto notIpv4 = reply;
    notIpv4[0] = 0x65;
    EXPECT_FALSE(Read(notIpv4, &answer));
    for (std::size_t length = 0; length < reply.size(); ++length) {
        std::vector<unsigned char> part(reply.begin(), reply.begin() + length);
        EXPECT_FALSE(Read(part, &answer)) << length;
    }
}

TEST(IcmpLibrary, EchoOnLoopbackOverBothSocketKinds) {
    SKIP_WITHOUT_NAMESPACES();
    for (bool pingSockets : {true, false}) {
        SCOPED_TRACE(pingSockets ? "ping sockets allowed" : "ping sockets refused");
        NetworkNamespace host("loopback");
        ASSERT_TRUE(host.ok());
        ASSERT_TRUE(AllowPingSockets(host, pingSockets));
        ASSERT_TRUE(host.SetSysctl("net.ipv4.ip_default_ttl", "99"));
        EnteredNamespace inside(host);
        ASSERT_TRUE(inside.ok());

        ASSERT_TRUE(OpenIcmpLibrary());
        HANDLE handle = IcmpCreateFile();
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(IcmpHandleKind(handle), pingSockets ? ICMP_SOCKET_PING : ICMP_SOCKET_RAW);

        // The banner with zeros after it, an odd length, and no data at all, each echoed
        // back exactly, the data just after the record.
        unsigned char banner[56] = {};
        std::memcpy(banner, kBanner, sizeof kBanner);
        for (WORD size : {WORD{56}, WORD{21}, WORD{0}}) {
            SCOPED_TRACE(testing::Message()
                         << KindName(IcmpHandleKind(handle)) << ", " << size << " bytes");
            ReplyBuffer reply;
            ASSERT_EQ(IcmpSendEcho(handle, Address("127.0.0.1"), banner, size, nullptr, reply.bytes,
                                   IcmpReplyBufferSize(size), 2000),
                      1u);
            const ICMP_ECHO_REPLY& record = reply.record();
            EXPECT_EQ(record.Status, IP_SUCCESS);
            EXPECT_EQ(GetLastError(), IP_SUCCESS);
            EXPECT_EQ(Dotted(record.Address), "127.0.0.1");
            EXPECT_EQ(record.Options.Ttl, 99);
            EXPECT_EQ(record.Options.OptionsSize, 0);
            ASSERT_EQ(record.DataSize, size);
            EXPECT_EQ(record.Data, reply.bytes + sizeof(ICMP_ECHO_REPLY));
            EXPECT_EQ(std::memcmp(record.Data, banner, size), 0);
            // Nothing written past the record and the data.
            std::size_t used = sizeof(ICMP_ECHO_REPLY) + size;
            for (std::size_t index = used; index < ReplyBuffer::kSize; ++index)
                ASSERT_EQ(reply.bytes[index], 0xa5) << index;
        }

        // The type of service travels to the reply.
        IP_OPTION_INFORMATION options{};
        options.Tos = 0x10;
        ReplyBuffer reply;
        ASSERT_EQ(IcmpSendEcho(handle, Address("127.0.0.1"), banner, 56, &options, reply.bytes,
                               ReplyBuffer::kSize, 2000),
                  1u);
        EXPECT_EQ(reply.record().Options.Tos, 0x10);

        EXPECT_TRUE(IcmpCloseHandle(handle));
    }
}

TEST(IcmpLibrary, FailuresWithoutARecord) {
    SKIP_WITHOUT_NAMESPACES();
    NetworkNamespace host("alone");
    ASSERT_TRUE(host.ok());
    EnteredNamespace inside(host);
    ASSERT_TRUE(inside.ok());
    unsigned char data[56] = {};
    ReplyBuffer reply;
    DWORD loopback = Address("127.0.0.1");

    EXPECT_EQ(IcmpSendEcho(INVALID_HANDLE_VALUE, loopback, data, 56, nullptr, reply.bytes,
                           ReplyBuffer::kSize, 100),
              0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    HANDLE handle = IcmpCreateFile();
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);

    // One byte short of record + data + 8 is refused before anything is sent.
    EXPECT_EQ(IcmpSendEcho(handle, loopback, data, 56, nullptr, reply.bytes,
                           IcmpReplyBufferSize(56) - 1, 100),
              0u);
    EXPECT_EQ(GetLastError(), IP_BUF_TOO_SMALL);

    IP_OPTION_INFORMATION withOptions{};
    withOptions.OptionsSize = 4;
    EXPECT_EQ(IcmpSendEcho(handle, loopback, data, 56, &withOptions, reply.bytes,
                           ReplyBuffer::kSize, 100),
              0u);
    EXPECT_EQ(GetLastError(), IP_BAD_OPTION);

    EXPECT_EQ(IcmpSendEcho(handle, 0, data, 56, nullptr, reply.bytes, ReplyBuffer::kSize, 100), 0u);
    EXPECT_EQ(GetLastError(), IP_BAD_DESTINATION);

    EXPECT_EQ(
        IcmpSendEcho(handle, loopback, nullptr, 56, nullptr, reply.bytes, ReplyBuffer::kSize, 100),
        0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

    // This namespace has no route beyond loopback.
    EXPECT_EQ(IcmpSendEcho(handle, Address("10.250.0.1"), data, 56, nullptr, reply.bytes,
                           ReplyBuffer::kSize, 100),
              0u);
    EXPECT_EQ(GetLastError(), IP_DEST_NET_UNREACHABLE);
    EXPECT_TRUE(reply.Untouched());

    // A closed handle is refused, also after its slot is taken again.
    EXPECT_TRUE(IcmpCloseHandle(handle));
    EXPECT_FALSE(IcmpCloseHandle(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE next = IcmpCreateFile();
    ASSERT_NE(next, INVALID_HANDLE_VALUE);
    EXPECT_NE(next, handle);
    EXPECT_EQ(IcmpHandleKind(handle), ICMP_SOCKET_NONE);
    EXPECT_EQ(
        IcmpSendEcho(handle, loopback, data, 56, nullptr, reply.bytes, ReplyBuffer::kSize, 100),
        0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseIcmpLibrary();
    EXPECT_EQ(IcmpHandleKind(next), ICMP_SOCKET_NONE);
}

TEST(IcmpLibrary, SilentHostTimesOutWhileOtherEchoesPass) {
    SKIP_WITHOUT_NAMESPACES();
    for (bool pingSockets : {true, false}) {
        SCOPED_TRACE(pingSockets ? "ping sockets allowed" : "ping sockets refused");
        RoutedNetwork network;
        ASSERT_TRUE(network.Build(pingSockets));
        ASSERT_TRUE(network.server.SetSysctl("net.ipv4.icmp_echo_ignore_all", "1"));
        EnteredNamespace inside(network.client);
        ASSERT_TRUE(inside.ok());
        HANDLE handle = IcmpCreateFile();
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);

        // Meanwhile another program pings loopback here: its replies are not ours.
        pid_t other =
            StartProgram({"ping", "-n", "-q", "-c", "20", "-i", "0.02", "127.0.0.1"}, true);
        ASSERT_GT(other, 0);
        unsigned char data[56] = {};
        ReplyBuffer reply;
        constexpr DWORD kTimeout = 500;
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(IcmpSendEcho(handle, Address("10.201.2.2"), data, 56, nullptr, reply.bytes,
                               ReplyBuffer::kSize, kTimeout),
                  0u);
        auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(GetLastError(), IP_REQ_TIMED_OUT);
        EXPECT_TRUE(reply.Untouched());
        // It waited the whole time-out rather than giving up early.
        EXPECT_GE(waited, std::chrono::milliseconds(kTimeout));
        EXPECT_TRUE(WaitProgram(other));
        IcmpCloseHandle(handle);
    }
}

TEST(IcmpLibrary, RouterAnswersForWhatLiesBehindIt) {
    SKIP_WITHOUT_NAMESPACES();
    for (bool pingSockets : {true, false}) {
        SCOPED_TRACE(pingSockets ? "ping sockets allowed" : "ping sockets refused");
        RoutedNetwork network;
        ASSERT_TRUE(network.Build(pingSockets));
        EnteredNamespace inside(network.client);
        ASSERT_TRUE(inside.ok());
        HANDLE handle = IcmpCreateFile();
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        ASSERT_EQ(IcmpHandleKind(handle), pingSockets ? ICMP_SOCKET_PING : ICMP_SOCKET_RAW);
        unsigned char data[56] = {};
        std::memcpy(data, kBanner, sizeof kBanner);
        IP_OPTION_INFORMATION hop{};

        struct Case {
            const char* destination;
            std::uint8_t ttl; // 0: the default
            DWORD status;
            const char* answeredBy;
        };
        const Case cases[] = {
            {"10.201.2.2", 0, IP_SUCCESS, "10.201.2.2"},
            {"10.201.2.2", 2, IP_SUCCESS, "10.201.2.2"},
            {"10.201.2.2", 1, IP_TTL_EXPIRED_TRANSIT, "10.201.1.2"},
            {"10.203.0.1", 0, IP_DEST_HOST_UNREACHABLE, "10.201.1.2"},
            {"10.205.0.1", 0, IP_DEST_NET_UNREACHABLE, "10.201.1.2"},
            {"10.204.0.1", 0, IP_DEST_PROT_UNREACHABLE, "10.201.1.2"},
        };
        for (const Case& test : cases) {
            SCOPED_TRACE(testing::Message() << test.destination << " ttl " << int(test.ttl));
            hop.Ttl = test.ttl;
            ReplyBuffer reply;
            ASSERT_EQ(IcmpSendEcho(handle, Address(test.destination), data, 56,
                                   test.ttl != 0 ? &hop : nullptr, reply.bytes,
                                   IcmpReplyBufferSize(56), 3000),
                      1u)
                << "last error " << GetLastError();
            const ICMP_ECHO_REPLY& record = reply.record();
            EXPECT_EQ(record.Status, test.status);
            EXPECT_EQ(GetLastError(), test.status);
            EXPECT_EQ(Dotted(record.Address), test.answeredBy);
            if (test.status == IP_SUCCESS) {
                // The server sends with TTL 77; one router lies between.
                EXPECT_EQ(record.Options.Ttl, 76);
                ASSERT_EQ(record.DataSize, 56);
                EXPECT_EQ(std::memcmp(record.Data, data, 56), 0);
            } else {
                // The router's own message left it with 64 and came straight here.
                EXPECT_EQ(record.Options.Ttl, 64);
                EXPECT_EQ(record.DataSize, 0);
            }
        }
        IcmpCloseHandle(handle);
    }
}
