// The raw-socket echo engine: checksum and request layout, what answers a request and the
// parsers' lines on datagrams built by hand, the results box, and send and close failures.
#include "echo_world.h"

#include "icmp/rawecho.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/icmplib.h"
#include "platform/system.h"
#include "platform/testing_sys.h"
#include "platform/winsock.h"

#include <cstring>
#include <memory>

using namespace platform;
using ::InternetChecksum;

namespace {

using Bytes = std::vector<unsigned char>;

// An IPv4 header of `length` bytes from 10.9.0.2 to 10.9.0.1 with fields that show their
// byte order in the "[iphdr]" line.
Bytes IpHeader(unsigned length, unsigned char first = 0) {
    const unsigned char fields[20] = {0,    0x10, 0x00, 0x54, 0x12, 0x34, 0x40, 0x00, 64, 1,
                                      0xab, 0xcd, 10,   9,    0,    2,    10,   9,    0,  1};
    Bytes header(fields, fields + 20);
    header[0] = first != 0 ? first : static_cast<unsigned char>(0x40 | (length / 4));
    header.resize(length, 0);
    return header;
}

// An ICMP message with the fields least significant byte first, as our requests carry them,
// and `after` behind its data.
Bytes Icmp(unsigned char type, unsigned char code, std::uint16_t identifier, std::uint16_t sequence,
           std::uint32_t sendTime, unsigned dataLength, const Bytes& after = {}) {
    Bytes message(8 + dataLength, 0);
    message.insert(message.end(), after.begin(), after.end());
    message[0] = type;
    message[1] = code;
    message[4] = static_cast<unsigned char>(identifier);
    message[5] = static_cast<unsigned char>(identifier >> 8);
    message[6] = static_cast<unsigned char>(sequence);
    message[7] = static_cast<unsigned char>(sequence >> 8);
    for (unsigned index = 0; index < 4 && index < dataLength; ++index)
        message[8 + index] = static_cast<unsigned char>(sendTime >> (8 * index));
    std::uint16_t checksum = InternetChecksum(message.data(), static_cast<int>(message.size()));
    message[2] = static_cast<unsigned char>(checksum);
    message[3] = static_cast<unsigned char>(checksum >> 8);
    return message;
}

Bytes Join(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes Prefix(Bytes bytes, std::size_t length) {
    bytes.resize(length);
    return bytes;
}

// The parsers read from a heap copy of exactly the datagram's size, so the sanitizer build
// catches a read past its end.
struct ExactCopy {
    std::unique_ptr<unsigned char[]> bytes;
    int length;
    explicit ExactCopy(const Bytes& datagram)
        : bytes(new unsigned char[datagram.size() + (datagram.empty() ? 1 : 0)]),
          length(static_cast<int>(datagram.size())) {
        if (!datagram.empty())
            std::memcpy(bytes.get(), datagram.data(), datagram.size());
    }
};

// The echo request the parsers' replies answer: to 10.9.0.2, where IpHeader's datagrams
// come from.
EchoRequestKey Request(std::uint16_t identifier, std::uint16_t sequence) {
    return EchoRequestKey{inet_addr("10.9.0.2"), identifier, sequence};
}

PingStatistics counts; // what the ping parser counted

int Ping(const Bytes& datagram, std::uint16_t sequence = 3, PacketMode mode = PACKET_RECEIVED,
         const char* sender = "10.9.0.2") {
    ExactCopy copy(datagram);
    EchoRequestKey request = Request(LOWORD(toolEcho.pingIdentifier), sequence);
    return ParsePingPacket(copy.bytes.get(), copy.length, Destination(sender), mode, &request,
                           &counts);
}

// The time in a "time=%ld ms" line, -1 when there is none.
long TimeIn(const std::string& text) {
    std::size_t at = text.find("time=");
    return at == std::string::npos ? -1 : std::strtol(text.c_str() + at + 5, nullptr, 10);
}

const char kIpLine[] = "[iphdr] H:5 V:4 S:10 L:5400 I:3412 O:0040 T:40 P:01 C:cdab S:0200090a "
                       "D:0100090a\r\n";

} // namespace

TEST(RawEcho, ChecksumIsTheNetworkSumReadLeastSignificantByteFirst) {
    // The network sum in the other byte order (the raw engine's requests are answered on
    // the wire in the poll test). RFC 1071's example; an odd byte stays in the low position.
    const unsigned char words[] = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7, 0xff};
    EXPECT_EQ(InternetChecksum(words, 8), 0x0d22);
    EXPECT_EQ(InternetChecksum(words, 9), 0x0c23);
    EXPECT_EQ(InternetChecksum(words + 8, 1), 0xff00);
    EXPECT_EQ(InternetChecksum(words, 0), 0xffff);
    EXPECT_EQ(InternetChecksum(words, -5), 0xffff);
}

TEST(RawEcho, RequestLayoutAndDataLengthBounds) {
    unsigned char buffer[80];
    std::memset(buffer, 0xaa, sizeof buffer);
    std::uint32_t before = GetTickCount();
    ASSERT_EQ(BuildEchoRequest(buffer, 0x1234, 0x0102, 56), 64);
    std::uint32_t after = GetTickCount();
    EXPECT_EQ(Bytes(buffer, buffer + 2), (Bytes{8, 0}));
    // Identifier and sequence least significant byte first.
    EXPECT_EQ(Bytes(buffer + 4, buffer + 8), (Bytes{0x34, 0x12, 0x02, 0x01}));
    std::uint32_t sendTime = buffer[8] | (buffer[9] << 8) | (buffer[10] << 16) |
                             (static_cast<std::uint32_t>(buffer[11]) << 24);
    EXPECT_LE(sendTime - before, after - before);
    EXPECT_EQ(Bytes(buffer + 12, buffer + 64), Bytes(52, 0));
    EXPECT_EQ(buffer[64], 0xaa) << "nothing written past the message";
    EXPECT_EQ(InternetChecksum(buffer, 64), 0);
    EXPECT_EQ(platform::InternetChecksum(buffer, 64), 0) << "a valid checksum on the wire";

    // A data length too short for the whole send time keeps inside its message.
    std::memset(buffer, 0xaa, sizeof buffer);
    ASSERT_EQ(BuildEchoRequest(buffer, 1, 2, 2), 10);
    EXPECT_EQ(buffer[10], 0xaa);
    EXPECT_EQ(InternetChecksum(buffer, 10), 0);

    EXPECT_EQ(BoundEchoDataLength(0), 4u);
    EXPECT_EQ(BoundEchoDataLength(56), 56u);
    EXPECT_EQ(BoundEchoDataLength(65500), ECHO_DATA_LENGTH_MAX);
}

TEST(RawEcho, OnlyTheAnswerToTheRequestMatches) {
    const std::uint16_t us = 0x4321;
    const EchoRequestKey request = Request(us, 7);
    const std::uint32_t probed = request.destination, elsewhere = inet_addr("10.9.0.3");
    auto match = [&](const Bytes& datagram, std::uint32_t sender,
                     EchoSocketKind kind = ECHO_SOCKET_RAW) {
        ExactCopy copy(datagram);
        return MatchEchoAnswer(copy.bytes.get(), copy.length, sender, kind, request);
    };
    const Bytes asked = Icmp(8, 0, us, 7, 0, 40);
    const Bytes reply = Icmp(0, 0, us, 7, 0, 40);
    // An ICMP error quoting `echo` as sent to `destination`.
    auto error = [&](unsigned char type, const Bytes& echo, std::uint32_t destination) {
        Bytes quoted = IpHeader(20);
        std::memcpy(&quoted[16], &destination, 4);
        return Join(IpHeader(20), Icmp(type, 1, 0, 0, 0, 0, Join(quoted, echo)));
    };
    auto damaged = [](Bytes datagram) {
        datagram.back() ^= 1;
        return datagram;
    };
    const struct {
        const char* what;
        Bytes datagram;
        std::uint32_t sender;
        EchoMatch expected;
    } raw[] = {
        {"our reply", Join(IpHeader(20), reply), probed, ECHO_MATCH_REPLY},
        {"behind a 60-byte header", Join(IpHeader(60), reply), probed, ECHO_MATCH_REPLY},
        {"from elsewhere", Join(IpHeader(20), reply), elsewhere, ECHO_MATCH_NONE},
        {"another identifier", Join(IpHeader(20), Icmp(0, 0, us + 1, 7, 0, 40)), probed,
         ECHO_MATCH_NONE},
        {"another sequence", Join(IpHeader(20), Icmp(0, 0, us, 1, 0, 40)), probed, ECHO_MATCH_NONE},
        {"a bad checksum", damaged(Join(IpHeader(20), reply)), probed, ECHO_MATCH_NONE},
        {"a request with our numbers", Join(IpHeader(20), asked), probed, ECHO_MATCH_NONE},
        {"not IPv4", Join(IpHeader(20, 0x65), reply), probed, ECHO_MATCH_NONE},
        {"cut short", Prefix(Join(IpHeader(60), reply), 67), probed, ECHO_MATCH_NONE},
        {"header past the end", Bytes{0x4f, 0, 0, 0, 0, 0, 0, 0, 0, 0}, probed, ECHO_MATCH_NONE},
        {"nothing", Bytes{}, probed, ECHO_MATCH_NONE},
        {"unreachable", error(3, asked, probed), elsewhere, ECHO_MATCH_ERROR},
        {"time exceeded", error(11, asked, probed), elsewhere, ECHO_MATCH_ERROR},
        {"error with a bad checksum", damaged(error(3, asked, probed)), elsewhere, ECHO_MATCH_NONE},
        {"error about a request sent elsewhere", error(3, asked, elsewhere), elsewhere,
         ECHO_MATCH_NONE},
        {"error about another sequence", error(11, Icmp(8, 0, us, 8, 0, 40), probed), elsewhere,
         ECHO_MATCH_NONE},
        {"a redirect", error(5, asked, probed), elsewhere, ECHO_MATCH_NONE},
        {"error quoting too little", Prefix(error(3, asked, probed), 20 + 8 + 20 + 7), elsewhere,
         ECHO_MATCH_NONE},
    };
    for (const auto& each : raw)
        EXPECT_EQ(match(each.datagram, each.sender), each.expected) << each.what;

    // A ping socket: no IP header, the identifier the kernel's, errors never in the data.
    EXPECT_EQ(match(Icmp(0, 0, 0x0777, 7, 0, 40), probed, ECHO_SOCKET_DATAGRAM), ECHO_MATCH_REPLY);
    EXPECT_EQ(match(Icmp(0, 0, 0x0777, 7, 0, 40), elsewhere, ECHO_SOCKET_DATAGRAM),
              ECHO_MATCH_NONE);
    EXPECT_EQ(match(Icmp(0, 0, 0x0777, 8, 0, 40), probed, ECHO_SOCKET_DATAGRAM), ECHO_MATCH_NONE);
    EXPECT_EQ(match(Prefix(error(3, asked, probed), 20), probed, ECHO_SOCKET_DATAGRAM),
              ECHO_MATCH_NONE);
}

TEST_F(EchoTest, PingParserLines) {
    const std::uint16_t us = LOWORD(toolEcho.pingIdentifier);
    std::uint32_t sent = GetTickCount() - 7000;
    counts = PingStatistics{0, 0, PING_RTT_MIN_START, 0, 0};

    // Our echo reply behind a 20-byte header.
    ASSERT_EQ(Ping(Join(IpHeader(20), Icmp(0, 0, us, 3, sent, 56))), 1);
    std::string text = BoxText();
    std::string head = std::string("[iphdrlen] 20\r\n") + kIpLine;
    char icmpLine[64];
    auto reply = Icmp(0, 0, us, 3, sent, 56);
    std::snprintf(icmpLine, sizeof icmpLine, "[icmphdr] T:00 C:00 S:%02x%02x I:%04x Q:0003\r\n",
                  reply[3], reply[2], us);
    ASSERT_EQ(text.rfind(head + icmpLine + "64 bytes from 10.9.0.2: icmp_seq=3 time=", 0), 0u)
        << text;
    long rtt = TimeIn(text);
    EXPECT_GE(rtt, 7000);
    EXPECT_LT(rtt, 7000 + 600000);
    EXPECT_EQ(text.substr(text.size() - 5), " ms\r\n");
    EXPECT_EQ(counts.received, 1);
    EXPECT_EQ(counts.rttMin, static_cast<std::uint32_t>(rtt));
    EXPECT_EQ(counts.rttMax, static_cast<std::uint32_t>(rtt));
    EXPECT_EQ(counts.rttSum, static_cast<std::uint32_t>(rtt));

    // A send time from the future (foreign data): a huge unsigned round trip.
    ClearBox();
    ASSERT_EQ(Ping(Join(IpHeader(60), Icmp(0, 0, us, 4, GetTickCount() + 100000, 56)), 4), 1);
    EXPECT_EQ(BoxText().rfind("[iphdrlen] 60\r\n", 0), 0u);
    EXPECT_GT(TimeIn(BoxText()), 4000000000L);
    EXPECT_GT(counts.rttMax, 4000000000u);
    EXPECT_EQ(counts.rttMin, static_cast<std::uint32_t>(rtt));
    EXPECT_EQ(counts.received, 2);

    // Too short: the line ends in its own line feed, so an empty line follows.
    ClearBox();
    EXPECT_EQ(Ping(Prefix(Join(IpHeader(20), reply), 27)), 0);
    EXPECT_EQ(BoxText(), head + "[received] too short (27 bytes) from 10.9.0.2\r\n\r\n");

    // Not version 4: a bare ICMP message; someone else's echo reply.
    ClearBox();
    EXPECT_EQ(Ping(Icmp(0, 0, us + 1, 9, sent, 56)), 0);
    text = BoxText();
    EXPECT_EQ(text.rfind("[iphdrlen] 0\r\n[icmphdr] T:00 C:00 ", 0), 0u) << text;
    EXPECT_NE(text.find("\r\n[received] 64 bytes from 10.9.0.2. not for us\r\n"), std::string::npos)
        << text;

    // Anything but an echo reply, received and sent.
    ClearBox();
    EXPECT_EQ(Ping(Join(IpHeader(20), Icmp(3, 1, us, 0, 0, 28))), 0);
    EXPECT_NE(BoxText().find("\r\n[received] 36 bytes from 10.9.0.2: icmp_type=3 (DestUnrchbl) "
                             "icmp_code=1\r\n"),
              std::string::npos);
    ClearBox();
    EXPECT_EQ(Ping(Icmp(8, 0, us, 0, 0, 58), 0, PACKET_SENT, "10.9.0.7"), 0);
    EXPECT_NE(BoxText().find("\r\n[sent] 66 bytes to 10.9.0.7: icmp_type=8 (Echo) icmp_code=0\r\n"),
              std::string::npos);
    ClearBox();
    EXPECT_EQ(Ping(Join(IpHeader(20), Icmp(200, 5, us, 0, 0, 8))), 0);
    EXPECT_NE(BoxText().find("icmp_type=200 (Out-of-range) icmp_code=5\r\n"), std::string::npos);

    // Headers whose lengths point past the datagram; our reply without room for the time.
    ClearBox();
    EXPECT_EQ(Ping(Bytes{}), 0);
    EXPECT_EQ(BoxText(), "[iphdrlen] 0\r\n[received] too short (0 bytes) from 10.9.0.2\r\n\r\n");
    ClearBox();
    EXPECT_EQ(Ping(Bytes{0x4f, 0, 0, 0, 0, 0, 0, 0, 0, 0}), 0);
    EXPECT_EQ(BoxText(), "[iphdrlen] 60\r\n[received] too short (10 bytes) from 10.9.0.2\r\n\r\n");
    ClearBox();
    EXPECT_EQ(Ping(Join(IpHeader(20), Icmp(0, 0, us, 1, 0, 2)), 1), 0);
    EXPECT_NE(BoxText().find("[received] too short (30 bytes) from 10.9.0.2\r\n"),
              std::string::npos);
    EXPECT_EQ(counts.received, 2);
}

TEST_F(EchoTest, ResultsBoxLinesFilterAndLineEnds) {
    char out[16];
    EXPECT_EQ(ExpandLineFeeds("a\nb\r\nc", out, sizeof out), 6u);
    EXPECT_STREQ(out, "a\r\nb\r\r\nc");
    // A line end that does not fit waits for the next piece; nothing is cut in half.
    EXPECT_EQ(ExpandLineFeeds("ab\ncd", out, 4), 2u);
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(ExpandLineFeeds("\ncd", out, 3), 1u);
    EXPECT_STREQ(out, "\r\n");

    toolOptions.verbose = 0;
    AppendToolLine(box, "first");
    AppendToolLine(box, "[debug] hidden");
    AppendResults(box, "");
    // The caret moved to the start: lines still go to the end.
    SendMessage(box, EM_SETSEL, 0, 0);
    AppendToolLine(box, "second\nthird");
    toolOptions.verbose = 1;
    AppendToolLine(box, "[debug] shown");
    EXPECT_EQ(BoxText(), "first\r\nsecond\r\nthird\r\n[debug] shown\r\n");

    // Text longer than one piece arrives whole.
    ClearBox();
    std::string lines, expected;
    for (int index = 0; index < 300; ++index) {
        lines += "line " + std::to_string(index) + "\n";
        expected += "line " + std::to_string(index) + "\r\n";
    }
    AppendResults(box, lines.c_str());
    EXPECT_EQ(BoxText(), expected);

    AppendToolLine(0, "no box: nothing happens");
    EXPECT_STREQ(IcmpTypeName(0), "Echo Reply");
    EXPECT_STREQ(IcmpTypeName(11), "Time Exceed");
    EXPECT_STREQ(IcmpTypeName(14), "Timestamp reply");
    EXPECT_STREQ(IcmpTypeName(16), "InfoRply");
    EXPECT_STREQ(IcmpTypeName(17), "Out-of-range");
    EXPECT_STREQ(IcmpTypeName(-1), "Out-of-range");
}

TEST_F(EchoTest, SendAndCloseFailuresOnADescriptorThatIsNoSocket) {
    unsigned char buffer[ECHO_BUFFER_SIZE];
    sockaddr_storage destination = Destination("127.0.0.1");
    const SOCKET notOpen = 9999;
    PingStatistics sent{};
    EXPECT_FALSE(SendPingRequest(notOpen, &destination, buffer, 56, &sent));
    EXPECT_EQ(sent.sent, 1) << "a request that failed otherwise is transmitted and lost";
    EXPECT_EQ(BoxText(), "[sendto] descriptor is not a socket\r\n");

    ClearBox();
    EXPECT_EQ(CloseRawSocket(notOpen), notOpen);
    EXPECT_EQ(BoxText(), "[9999] close error: descriptor is not a socket\r\n");
}
