// Socket error texts in both call forms.
#include "icmp/sockerr.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(SocketErrorText, TableTextsInBothForms) {
    EXPECT_STREQ(SocketErrorText(10004), "Blocking call cancelled");
    EXPECT_STREQ(SocketErrorText(10061), "connection refused");
    EXPECT_STREQ(SocketErrorText(11001), "Authoritive: Host not found");
    EXPECT_STREQ(SocketErrorText(11004), "Valid name, no data record for type");

    const char* longest = "socket marked as non-blocking and SO_LINGER set not 0";
    ASSERT_EQ(std::strlen(longest), 53u);
    char buffer[SOCKET_ERROR_TEXT_SIZE];
    std::memset(buffer, 'z', sizeof buffer);
    EXPECT_EQ(SocketErrorText(10035, buffer), buffer);
    EXPECT_STREQ(buffer, longest);
}

TEST(SocketErrorText, OtherCodesAreNumbered) {
    const char* first = SocketErrorText(10037);
    EXPECT_STREQ(first, "error 10037");
    const char* second = SocketErrorText(10052);
    EXPECT_EQ(first, second) << "one buffer serves every call without a buffer";
    EXPECT_STREQ(first, "error 10052");

    char buffer[SOCKET_ERROR_TEXT_SIZE];
    EXPECT_STREQ(SocketErrorText(4294967295u, buffer), "error 4294967295");
    EXPECT_STREQ(SocketErrorText(0, buffer), "error 0");
    EXPECT_STREQ(first, "error 10052") << "a caller's buffer leaves ours alone";
}

} // namespace
