// The ICMP library engine: the echo data and reply buffers, the status texts and the debug
// line, and the echo set on a system where the library cannot be loaded. (Its echoes are
// the forged-ICMP test's and the ping and trace tools'.)
#include "echo_world.h"

#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "model/settings.h"
#include "platform/icmplib.h"

#include <cstring>
#include <string>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

TEST(IcmpLibraryEngine, EchoDataFromTheBanner) {
    EXPECT_EQ(std::strlen(echoFillText), 43u);
    if (!LoadIcmpLibrary())
        GTEST_SKIP() << "needs ICMP sockets: ping sockets allowed, or root";
    LibraryEchoSet set;
    toolOptions.echoDataLength = 56;
    ASSERT_EQ(OpenLibraryEcho(&set), ECHO_SET_OPEN);
    ASSERT_TRUE(set.dataAllocated);
    EXPECT_EQ(std::memcmp(set.data, echoFillText, 43), 0);
    for (int index = 43; index < 56 + 5; ++index)
        ASSERT_EQ(set.data[index], 0) << index;
    EXPECT_EQ(TakeLibraryEchoAnswer(&set), nullptr) << "no answer before the first echo";
    CloseLibraryEcho(&set);

    toolOptions.echoDataLength = 20;
    ASSERT_EQ(OpenLibraryEcho(&set), ECHO_SET_OPEN);
    EXPECT_FALSE(set.dataAllocated);
    EXPECT_EQ(std::string(set.data, 20), "Tarnmap network moni");
    CloseLibraryEcho(&set);
    toolOptions.echoDataLength = 43;
    ASSERT_EQ(OpenLibraryEcho(&set), ECHO_SET_OPEN);
    EXPECT_EQ(set.data, echoFillText);
    EXPECT_FALSE(set.dataAllocated);
    CloseLibraryEcho(&set);

    // A length that would not fit the raw engine's buffers is brought within them, and the
    // reply buffer always holds one record with the echoed data.
    toolOptions.echoDataLength = 100000;
    ASSERT_EQ(OpenLibraryEcho(&set), ECHO_SET_OPEN);
    EXPECT_EQ(toolOptions.echoDataLength, ECHO_DATA_LENGTH_MAX);
    EXPECT_TRUE(set.dataAllocated);
    CloseLibraryEcho(&set);
    for (unsigned length : {4u, 20u, 47u, 56u, ECHO_DATA_LENGTH_MAX}) {
        toolOptions.echoDataLength = length;
        ASSERT_EQ(OpenLibraryEcho(&set), ECHO_SET_OPEN);
        EXPECT_EQ(set.replySize, IcmpReplyBufferSize(length));
        EXPECT_GE(set.replySize, sizeof(ICMP_ECHO_REPLY) + length);
        CloseLibraryEcho(&set);
    }
    toolOptions.echoDataLength = DEFAULT_ECHO_DATA_LENGTH;
}

TEST_F(EchoTest, StatusTextsAndTheDebugLine) {
    char text[ICMP_STATUS_TEXT_SIZE];
    EXPECT_STREQ(IcmpStatusText(11001, text), "buffer too small");
    EXPECT_STREQ(IcmpStatusText(11003, text), "host unreachable");
    EXPECT_STREQ(IcmpStatusText(11010, text), "timed out");
    EXPECT_STREQ(IcmpStatusText(11013, text), "TTL expired during transit");
    EXPECT_STREQ(IcmpStatusText(11014, text), "TTL expired during reassembly");
    EXPECT_STREQ(IcmpStatusText(11018, text), "bad destination");
    EXPECT_STREQ(IcmpStatusText(0, text), "return code 0");
    EXPECT_STREQ(IcmpStatusText(11000, text), "return code 11000");
    EXPECT_STREQ(IcmpStatusText(11019, text), "return code 11019");
    EXPECT_EQ(IcmpStatusText(4294967295u, text), text);
    EXPECT_STREQ(text, "return code 4294967295");

    ICMP_ECHO_REPLY record{};
    record.Status = 11013;
    record.Options.Ttl = 0xfe;
    record.Options.Tos = 0x10;
    toolOptions.verbose = 0;
    PrintEchoReplyDebug(&record);
    EXPECT_EQ(BoxText(), "");
    toolOptions.verbose = 1;
    PrintEchoReplyDebug(&record);
    EXPECT_EQ(BoxText(), "[debug] 11013 fe 10 00 00\r\n");
}

// In a child that has a network of its own and no right to ICMP sockets of either kind.
TEST(IcmpLibraryEngine, NoEchoSetWithoutTheLibraryAndItsSettingCleared) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to make a network namespace for the child";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A fresh network namespace allows no ping sockets, and nobody opens no raw ones.
        if (unshare(CLONE_NEWNET) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
            _exit(10);
        icmpLibraryLoaded = 0; // whatever this process had loaded before the fork
        options.useIcmpLibrary = 1;
        LibraryEchoSet set;
        bool refused = OpenLibraryEcho(&set) == ECHO_SET_NO_LIBRARY && options.useIcmpLibrary == 0;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 setting up, 1 the engine";
}
