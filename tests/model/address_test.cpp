// Address texts: which are literals of which family, which can never be checked, and which
// are names, with the form each is shown in.
#include "model/address.h"

#include <gtest/gtest.h>

#include <string>

using namespace platform;

namespace {

TEST(Address, EveryKindOfTextIsClassifiedAndShownInItsShortForm) {
    struct Case {
        const char* text;
        AddressKind kind;
        const char* shown;
    } cases[] = {
        {"10.1.2.3", ADDRESS_IPV4, "10.1.2.3"},
        {"127.1", ADDRESS_IPV4, "127.1"}, // the short dotted forms stay addresses
        {"::ffff:10.0.0.1", ADDRESS_IPV4, "::ffff:10.0.0.1"},
        {"::FFFF:0A00:0001", ADDRESS_IPV4, "::ffff:10.0.0.1"},
        {"2001:DB8:0:0:1:0:0:1", ADDRESS_IPV6, "2001:db8::1:0:0:1"},
        {"2001:db8:0:1:1:1:1:1", ADDRESS_IPV6, "2001:db8:0:1:1:1:1:1"},
        {"[::1]", ADDRESS_IPV6, "::1"},
        {"fe80::0001%lo", ADDRESS_IPV6, "fe80::1%lo"},
        {"fe80::1%1", ADDRESS_IPV6, "fe80::1%1"},
        {"fe80::1", ADDRESS_INVALID, "fe80::1"},
        {"FEBF::1", ADDRESS_INVALID, "febf::1"},
        {"fe80::1%no-such-if", ADDRESS_INVALID, "fe80::1%no-such-if"},
        {"fe80::1%", ADDRESS_INVALID, "fe80::1%"},
        {"fec0::1", ADDRESS_IPV6, "fec0::1"},
        {"2001:db8::1%lo", ADDRESS_INVALID, "2001:db8::1%lo"}, // a zone where none belongs
        {"3com-sw", ADDRESS_NAME, "3com-sw"},
        {"1.2.3.4.5", ADDRESS_NAME, "1.2.3.4.5"},
        {"2001:db8::1::2", ADDRESS_NAME, "2001:db8::1::2"},
        {"gw.example.net", ADDRESS_NAME, "gw.example.net"},
        {"", ADDRESS_NAME, ""},
    };
    for (const Case& each : cases) {
        HostAddress address;
        EXPECT_EQ(each.kind, ClassifyAddress(each.text, &address)) << each.text;
        EXPECT_EQ(each.kind, address.kind) << each.text;
        EXPECT_STREQ(each.shown, address.text) << each.text;
        if (each.kind == ADDRESS_IPV4) {
            EXPECT_EQ(AF_INET, address.socketAddress.ss_family) << each.text;
            EXPECT_EQ(int{sizeof(sockaddr_in)}, address.socketAddressLength);
        } else if (each.kind == ADDRESS_IPV6) {
            EXPECT_EQ(AF_INET6, address.socketAddress.ss_family) << each.text;
            EXPECT_EQ(int{sizeof(sockaddr_in6)}, address.socketAddressLength);
        }
    }

    // The addresses themselves: the mapped one is the IPv4 address it carries, a zone is
    // the interface's index.
    HostAddress mapped, full;
    ClassifyAddress("::ffff:10.0.0.1", &mapped);
    EXPECT_EQ(htonl(0x0a000001),
              reinterpret_cast<sockaddr_in*>(&mapped.socketAddress)->sin_addr.s_addr);
    HostAddress zoned;
    ClassifyAddress("fe80::2%lo", &zoned);
    const auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&zoned.socketAddress);
    EXPECT_EQ(if_nametoindex("lo"), ipv6->sin6_scope_id);
    EXPECT_NE(0u, ipv6->sin6_scope_id);
    EXPECT_EQ(0xfe, ipv6->sin6_addr.u.Byte[0]);
    EXPECT_EQ(2, ipv6->sin6_addr.u.Byte[15]);

    // The longest literal with a zone (and the longest interface name) fits whole.
    std::string longest = "fe80:ffff:ffff:ffff:ffff:ffff:255.255.255.255%lo";
    EXPECT_EQ(ADDRESS_IPV6, ClassifyAddress(longest.c_str(), &full));
    EXPECT_LE(longest.size() + 13, ADDRESS_TEXT_LENGTH);
}

// What the layer's conversions give and refuse, for the texts the tools and the log show.
TEST(Address, TheLayerWritesTheShortFormAndReadsOnlyLiterals) {
    in6_addr bytes{};
    char text[INET6_ADDRSTRLEN];
    struct {
        const char* in;
        const char* out;
    } forms[] = {{"2001:0db8:0000:0000:0000:0000:0002:0001", "2001:db8::2:1"},
                 {"2001:db8:0:1:0:0:0:1", "2001:db8:0:1::1"},
                 {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},
                 {"2001:db8::0:1", "2001:db8::1"},
                 {"0:0:0:0:0:0:0:0", "::"}};
    for (const auto& form : forms) {
        ASSERT_EQ(1, inet_pton(AF_INET6, form.in, &bytes)) << form.in;
        EXPECT_STREQ(form.out, inet_ntop(AF_INET6, &bytes, text, sizeof text));
    }
    EXPECT_EQ(nullptr, inet_ntop(AF_INET6, &bytes, text, 2));
    EXPECT_EQ(0, inet_pton(AF_INET, "10.1", &bytes));
    EXPECT_EQ(-1, inet_pton(99, "::1", &bytes));

    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* found = nullptr;
    ASSERT_EQ(0, getaddrinfo("::1", "79", &hints, &found));
    ASSERT_NE(nullptr, found);
    EXPECT_EQ(AF_INET6, found->ai_family);
    EXPECT_EQ(htons(79), reinterpret_cast<sockaddr_in6*>(found->ai_addr)->sin6_port);
    EXPECT_EQ(nullptr, found->ai_next);
    freeaddrinfo(found);
    EXPECT_EQ(WSAHOST_NOT_FOUND, getaddrinfo("localhost", nullptr, &hints, &found));
    hints.ai_flags = 0;
    EXPECT_EQ(WSAEWOULDBLOCK, getaddrinfo("localhost", nullptr, &hints, &found));
}

} // namespace
