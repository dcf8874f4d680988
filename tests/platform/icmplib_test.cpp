// The ICMP library against a real network: loopback and a router with hosts behind it, in
// namespaces made for each test, over ping sockets and raw sockets, each exchange told by
// the message IcmpSendEcho2 posts; and the raw datagram reader on crafted datagrams. A
// silent host among forged and foreign ICMP is the echo engines' test (icmp_tests).
#include "platform/icmplib.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "event_window.h"
#include "platform/testing_sys.h"
#include "support/netns.h"

using namespace platform;

namespace {

using Bytes = std::vector<unsigned char>;

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

// A reply buffer with room to spare, filled with a mark so untouched bytes show.
struct ReplyBuffer {
    static constexpr std::size_t kSize = 4096;
    alignas(ICMP_ECHO_REPLY) unsigned char bytes[kSize];
    ReplyBuffer() { std::memset(bytes, 0xa5, sizeof bytes); }
    const ICMP_ECHO_REPLY& record() const {
        return *reinterpret_cast<const ICMP_ECHO_REPLY*>(bytes);
    }
    // Whether nothing was written from `from` on.
    bool UntouchedFrom(std::size_t from = 0) const {
        for (std::size_t index = from; index < kSize; ++index)
            if (bytes[index] != 0xa5)
                return false;
        return true;
    }
};

constexpr UINT kEchoMessage = WM_USER + 42;

// 56 bytes of request data: the banner and zeros.
// An IPv6 address in the stack's sockaddr_in6 (winsock.h, whose names clash with the
// system's here): family 23, port, flow information, the address, the scope.
struct Address6 {
    unsigned char bytes[28] = {23};
    explicit Address6(const char* text) { inet_pton(AF_INET6, text, bytes + 8); }
    const platform::sockaddr_in6* get() const {
        return reinterpret_cast<const platform::sockaddr_in6*>(bytes);
    }
};

struct Request {
    unsigned char data[56] = {};
    Request() { std::memcpy(data, kBanner, sizeof kBanner); }
    // Sends without waiting and runs the loop until the end is posted, which it checks;
    // returns IcmpParseReplies' count, or 0 with the failure when nothing was sent.
    DWORD Send(HANDLE handle, const char* destination, ReplyBuffer* reply, WORD size = 56,
               const IP_OPTION_INFORMATION* options = nullptr, DWORD replySize = ReplyBuffer::kSize,
               DWORD timeoutMs = 3000) const {
        EventWindow window;
        if (IcmpSendEcho2(handle, window.handle(), kEchoMessage, Address(destination), data, size,
                          options, reply->bytes, replySize, timeoutMs) != 0)
            return 99;
        if (GetLastError() != ERROR_IO_PENDING)
            return 0;
        EXPECT_EQ(IcmpSendEcho2(handle, window.handle(), kEchoMessage, Address(destination), data,
                                size, options, reply->bytes, replySize, timeoutMs),
                  0u);
        EXPECT_EQ(GetLastError(), ERROR_BUSY) << "one echo at a time on a handle";
        auto ended = [&window] { return !window.Received(kEchoMessage).empty(); };
        EXPECT_TRUE(window.RunUntil(ended, 10 * timeoutMs + 1000));
        if (!ended())
            return 98;
        EventWindow::Event end = window.Received(kEchoMessage).front();
        EXPECT_EQ(end.wParam, reinterpret_cast<WPARAM>(handle));
        DWORD replies = IcmpParseReplies(reply->bytes, replySize);
        EXPECT_EQ(static_cast<DWORD>(end.lParam), GetLastError()) << "the status, posted";
        return replies;
    }
};

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
               client.AllowPingSockets(pingSockets);
    }
};

// An IPv4 header of `headerLength` bytes (options zero) from `source` to `target`, then
// an ICMP message with a correct checksum.
Bytes Datagram(std::size_t headerLength, const char* source, const char* target, std::uint8_t ttl,
               std::uint8_t type, std::uint8_t code, std::uint16_t identifier,
               std::uint16_t sequence, const Bytes& rest) {
    Bytes datagram(headerLength, 0);
    datagram[0] = static_cast<unsigned char>(0x40 | (headerLength / 4));
    datagram[8] = ttl;
    datagram[9] = 1; // ICMP
    DWORD from = Address(source);
    DWORD to = Address(target);
    std::memcpy(&datagram[12], &from, 4);
    std::memcpy(&datagram[16], &to, 4);
    Bytes message{type,
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
    datagram.insert(datagram.end(), message.begin(), message.end());
    return datagram;
}

// The datagram last read, kept until the next read since the answer points into it.
std::unique_ptr<unsigned char[]> lastDatagram;

// Reads from a heap copy of exactly the datagram's size, so that the sanitizer build
// catches a read past its end.
bool Read(const Bytes& datagram, RawEchoAnswer* answer, std::uint16_t identifier = 0x1234,
          std::uint16_t sequence = 7) {
    lastDatagram.reset(new unsigned char[datagram.size()]);
    if (!datagram.empty())
        std::memcpy(lastDatagram.get(), datagram.data(), datagram.size());
    return ReadRawEchoAnswer(lastDatagram.get(), datagram.size(), Address("10.9.0.2"), identifier,
                             sequence, answer);
}

} // namespace

TEST(IcmpLibrary, ChecksumAndErrorStatuses) {
    // RFC 1071's example words, and the same with an odd trailing byte.
    const unsigned char words[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7, 0xff};
    EXPECT_EQ(InternetChecksum(words, 8), 0x220d);
    EXPECT_EQ(InternetChecksum(words, 9), 0x230c);

    const struct {
        int type, code;
        DWORD status;
    } cases[] = {{11, 0, 11013},     {11, 1, 11014}, {3, 0, 11002}, {3, 1, 11003},
                 {3, 2, 11004},      {3, 3, 11005},  {3, 4, 11009}, {3, 5, 11012},
                 {3, 10, 11003},     {3, 13, 11004}, {4, 0, 11016}, {12, 0, 11015},
                 {5, 1, IP_SUCCESS}, // a redirect is no answer
                 {0, 0, IP_SUCCESS}};
    for (const auto& each : cases)
        EXPECT_EQ(IcmpErrorStatus(each.type, each.code), each.status)
            << each.type << "/" << each.code;
}

TEST(IcmpLibrary, RawReaderAcceptsOnlyAnswersToOurRequest) {
    const Bytes data{'a', 'b', 'c', 'd', 'e'};
    RawEchoAnswer answer{};
    Bytes reply = Datagram(20, "10.9.0.2", "10.9.0.1", 61, 0, 0, 0x1234, 7, data);
    ASSERT_TRUE(Read(reply, &answer));
    EXPECT_EQ(answer.status, IP_SUCCESS);
    EXPECT_EQ(Dotted(answer.address), "10.9.0.2");
    EXPECT_EQ(answer.ttl, 61);
    ASSERT_EQ(answer.dataSize, data.size());
    EXPECT_EQ(std::memcmp(answer.data, data.data(), data.size()), 0);
    // An IP header with options in front is skipped by its length.
    ASSERT_TRUE(Read(Datagram(24, "10.9.0.2", "10.9.0.1", 61, 0, 0, 0x1234, 7, data), &answer));
    EXPECT_EQ(answer.dataSize, data.size());

    // A router's time exceeded or unreachable quoting our request: the router is the answer.
    Bytes ourRequest = Datagram(20, "10.9.0.1", "10.9.0.2", 1, 8, 0, 0x1234, 7, data);
    ourRequest.resize(28); // routers quote the header and 8 bytes
    Bytes exceeded = Datagram(20, "10.9.5.5", "10.9.0.1", 250, 11, 0, 0, 0, ourRequest);
    ASSERT_TRUE(Read(exceeded, &answer));
    EXPECT_EQ(answer.status, IP_TTL_EXPIRED_TRANSIT);
    EXPECT_EQ(Dotted(answer.address), "10.9.5.5");
    EXPECT_EQ(answer.dataSize, 0u);
    ASSERT_TRUE(Read(Datagram(20, "10.9.5.5", "10.9.0.1", 250, 3, 1, 0, 0, ourRequest), &answer));
    EXPECT_EQ(answer.status, IP_DEST_HOST_UNREACHABLE);

    auto changed = [](Bytes datagram, std::size_t at, unsigned char value) {
        datagram[at] = value;
        return datagram;
    };
    Bytes elsewhere = Datagram(20, "10.9.5.5", "10.9.0.1", 250, 11, 0, 0, 0,
                               Datagram(20, "10.9.0.1", "10.9.0.3", 1, 8, 0, 0x1234, 7, {}));
    const struct {
        const char* what;
        Bytes datagram;
        std::uint16_t identifier, sequence;
    } refused[] = {
        {"someone else's echo", reply, 0x1235, 7},
        {"a late answer", reply, 0x1234, 8},
        {"a damaged answer", changed(reply, reply.size() - 1, 'e' ^ 1), 0x1234, 7},
        {"a quote of another request", exceeded, 0x1234, 9},
        {"a quote of another destination", elsewhere, 0x1234, 7},
        {"a damaged error", changed(exceeded, exceeded.size() - 1, 0x77), 0x1234, 7},
        {"a cut quote", Bytes(exceeded.begin(), exceeded.end() - 1), 0x1234, 7},
        {"a redirect", Datagram(20, "10.9.5.5", "10.9.0.1", 250, 5, 1, 0, 0, ourRequest), 0x1234,
         7},
        {"a header longer than the datagram", changed(reply, 0, 0x4f), 0x1234, 7},
        {"a header below the minimum", changed(reply, 0, 0x44), 0x1234, 7},
        {"a quoted header longer than the quote", changed(exceeded, 28, 0x4f), 0x1234, 7},
        {"not IPv4", changed(reply, 0, 0x65), 0x1234, 7},
    };
    for (const auto& each : refused)
        EXPECT_FALSE(Read(each.datagram, &answer, each.identifier, each.sequence)) << each.what;
    for (std::size_t length = 0; length < reply.size(); ++length)
        EXPECT_FALSE(Read(Bytes(reply.begin(), reply.begin() + long(length)), &answer)) << length;
}

TEST(IcmpLibrary, EchoOnLoopbackOverBothSocketKinds) {
    SKIP_WITHOUT_NAMESPACES();
    for (bool pingSockets : {true, false}) {
        SCOPED_TRACE(pingSockets ? "ping sockets allowed" : "ping sockets refused");
        NetworkNamespace host("loopback");
        ASSERT_TRUE(host.ok());
        ASSERT_TRUE(host.AllowPingSockets(pingSockets));
        ASSERT_TRUE(host.SetSysctl("net.ipv4.ip_default_ttl", "99"));
        EnteredNamespace inside(host);
        ASSERT_TRUE(inside.ok());
        ASSERT_TRUE(OpenIcmpLibrary());
        HANDLE handle = IcmpCreateFile();
        ASSERT_NE(handle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(IcmpHandleKind(handle), pingSockets ? ICMP_SOCKET_PING : ICMP_SOCKET_RAW);

        // The banner with zeros after it, an odd length, and no data at all, each echoed
        // back exactly, the data just after the record, nothing written past it.
        Request request;
        for (WORD size : {WORD{56}, WORD{21}, WORD{0}}) {
            SCOPED_TRACE(size);
            ReplyBuffer reply;
            ASSERT_EQ(
                request.Send(handle, "127.0.0.1", &reply, size, nullptr, IcmpReplyBufferSize(size)),
                1u);
            const ICMP_ECHO_REPLY& record = reply.record();
            EXPECT_EQ(record.Status, IP_SUCCESS);
            EXPECT_EQ(GetLastError(), IP_SUCCESS);
            EXPECT_EQ(Dotted(record.Address), "127.0.0.1");
            EXPECT_EQ(record.Options.Ttl, 99);
            EXPECT_EQ(record.Options.OptionsSize, 0);
            ASSERT_EQ(record.DataSize, size);
            EXPECT_EQ(record.Data, reply.bytes + sizeof(ICMP_ECHO_REPLY));
            EXPECT_EQ(std::memcmp(record.Data, request.data, size), 0);
            EXPECT_TRUE(reply.UntouchedFrom(sizeof(ICMP_ECHO_REPLY) + size));
        }

        // The type of service travels to the reply.
        IP_OPTION_INFORMATION options{};
        options.Tos = 0x10;
        ReplyBuffer reply;
        ASSERT_EQ(request.Send(handle, "127.0.0.1", &reply, 56, &options), 1u);
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
    Request request;
    ReplyBuffer reply;
    HANDLE handle = IcmpCreateFile();
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    auto refused = [](const char* what, DWORD sent, DWORD error) {
        EXPECT_EQ(sent, 0u) << what;
        EXPECT_EQ(GetLastError(), error) << what;
    };
    refused("no handle", request.Send(INVALID_HANDLE_VALUE, "127.0.0.1", &reply),
            ERROR_INVALID_HANDLE);
    // One byte short of record + data + 8 is refused before anything is sent.
    refused("small buffer",
            request.Send(handle, "127.0.0.1", &reply, 56, nullptr, IcmpReplyBufferSize(56) - 1),
            IP_BUF_TOO_SMALL);
    IP_OPTION_INFORMATION withOptions{};
    withOptions.OptionsSize = 4;
    refused("options", request.Send(handle, "127.0.0.1", &reply, 56, &withOptions), IP_BAD_OPTION);
    refused("no destination", request.Send(handle, "0.0.0.0", &reply), IP_BAD_DESTINATION);
    refused("no data",
            IcmpSendEcho2(handle, 0, kEchoMessage, Address("127.0.0.1"), nullptr, 56, nullptr,
                          reply.bytes, ReplyBuffer::kSize, 100),
            ERROR_INVALID_PARAMETER);
    // This namespace has no route beyond loopback.
    refused("no route", request.Send(handle, "10.250.0.1", &reply), IP_DEST_NET_UNREACHABLE);
    EXPECT_TRUE(reply.UntouchedFrom());
    EXPECT_EQ(IcmpParseReplies(reply.bytes, ReplyBuffer::kSize), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER) << "nothing was written there";

    // A handle closed while its echo is out tells nothing, though the answer was there.
    EventWindow window;
    ASSERT_EQ(IcmpSendEcho2(handle, window.handle(), kEchoMessage, Address("127.0.0.1"),
                            request.data, 56, nullptr, reply.bytes, ReplyBuffer::kSize, 1000),
              0u);
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);

    // A closed handle is refused, also after its slot is taken again.
    EXPECT_TRUE(IcmpCloseHandle(handle));
    EXPECT_FALSE(IcmpCloseHandle(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    HANDLE next = IcmpCreateFile();
    ASSERT_NE(next, INVALID_HANDLE_VALUE);
    EXPECT_NE(next, handle);
    EXPECT_EQ(IcmpHandleKind(handle), ICMP_SOCKET_NONE);
    refused("closed handle", request.Send(handle, "127.0.0.1", &reply), ERROR_INVALID_HANDLE);
    window.RunUntil([] { return false; }, 100);
    EXPECT_TRUE(window.Received(kEchoMessage).empty());
    EXPECT_TRUE(reply.UntouchedFrom());
    CloseIcmpLibrary();
    EXPECT_EQ(IcmpHandleKind(next), ICMP_SOCKET_NONE);

    // IPv6 handles refuse what they cannot send, and the calls keep to their family.
    HANDLE handle6 = Icmp6CreateFile();
    ASSERT_NE(handle6, INVALID_HANDLE_VALUE);
    handle = IcmpCreateFile();
    auto send6 = [&](HANDLE on, const char* to, const char* from = nullptr,
                     DWORD replySize = ReplyBuffer::kSize) {
        Address6 destination(to), source(from != nullptr ? from : "::");
        return Icmp6SendEcho2(on, 0, kEchoMessage, from != nullptr ? source.get() : nullptr,
                              destination.get(), request.data, 56, nullptr, reply.bytes, replySize,
                              100);
    };
    refused("IPv4 handle", send6(handle, "::1"), ERROR_INVALID_PARAMETER);
    refused("IPv6 handle", request.Send(handle6, "127.0.0.1", &reply), ERROR_INVALID_PARAMETER);
    refused("unspecified", send6(handle6, "::"), IP_BAD_DESTINATION);
    refused("multicast", send6(handle6, "ff02::1"), IP_BAD_DESTINATION);
    refused("small buffer", send6(handle6, "::1", nullptr, Icmp6ReplyBufferSize(56) - 1),
            IP_BUF_TOO_SMALL);
    refused("chosen source", send6(handle6, "::1", "::1"), ERROR_INVALID_PARAMETER);
    refused("no route", send6(handle6, "fd00::1"), IP_DEST_NET_UNREACHABLE);
    EXPECT_TRUE(reply.UntouchedFrom());
    CloseIcmpLibrary();
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
        Request request;
        const struct {
            const char* destination;
            std::uint8_t ttl; // 0: the default
            DWORD status;
            const char* answeredBy; // null: nothing answered
        } cases[] = {
            {"10.201.2.99", 0, IP_REQ_TIMED_OUT, nullptr}, // the router asks ARP for 3 s
            {"10.201.2.2", 0, IP_SUCCESS, "10.201.2.2"},
            {"10.201.2.2", 2, IP_SUCCESS, "10.201.2.2"},
            {"10.201.2.2", 1, IP_TTL_EXPIRED_TRANSIT, "10.201.1.2"},
            {"10.203.0.1", 0, IP_DEST_HOST_UNREACHABLE, "10.201.1.2"},
            {"10.205.0.1", 0, IP_DEST_NET_UNREACHABLE, "10.201.1.2"},
            {"10.204.0.1", 0, IP_DEST_PROT_UNREACHABLE, "10.201.1.2"},
        };
        for (const auto& test : cases) {
            SCOPED_TRACE(testing::Message() << test.destination << " ttl " << int(test.ttl));
            IP_OPTION_INFORMATION hop{};
            hop.Ttl = test.ttl;
            ReplyBuffer reply;
            ASSERT_EQ(request.Send(handle, test.destination, &reply, 56,
                                   test.ttl != 0 ? &hop : nullptr, IcmpReplyBufferSize(56), 300),
                      test.answeredBy != nullptr ? 1u : 0u)
                << "last error " << GetLastError();
            const ICMP_ECHO_REPLY& record = reply.record();
            EXPECT_EQ(record.Status, test.status);
            EXPECT_EQ(GetLastError(), test.status);
            if (test.answeredBy == nullptr) {
                EXPECT_EQ(record.Address, 0u);
                EXPECT_EQ(record.DataSize, 0);
                continue;
            }
            EXPECT_EQ(Dotted(record.Address), test.answeredBy);
            bool echoed = test.status == IP_SUCCESS;
            // The server sends with TTL 77 through one router; the router's own message
            // leaves it with 64 and comes straight here.
            EXPECT_EQ(record.Options.Ttl, echoed ? 76 : 64);
            ASSERT_EQ(record.DataSize, echoed ? 56 : 0);
            if (echoed) {
                EXPECT_EQ(std::memcmp(record.Data, request.data, 56), 0);
            }
        }
        IcmpCloseHandle(handle);
    }
}
