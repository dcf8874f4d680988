// The ping tool in both modes against hosts in namespaces the tests build: one that
// answers, one that keeps silent and one behind a router's unreachable route, each time
// beside iputils ping run against the same target; the raw mode's ticks during a wait;
// runs replaced or ended with the dialog; the dialog as the Tools menu opens it.
#include "tool_world.h"

#include "icmp/rawecho.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "resources/commands.h"
#include "shell/mainwnd.h"
#include "tools/ping.h"

#include <regex>
#include <string>

using namespace platform;

namespace {

const char kUnreachable[] = "10.233.0.9"; // behind the router's unreachable route

struct Counts {
    int transmitted = -1;
    int received = -1;
};

// The counts of our statistics in either mode.
Counts OurCounts(const std::string& text) {
    static const std::regex library("([0-9]+) transmitted, ([0-9]+) received");
    static const std::regex raw("([0-9]+) packets transmitted, ([0-9]+) packets received");
    std::smatch match;
    Counts counts;
    if (std::regex_search(text, match, raw) || std::regex_search(text, match, library)) {
        counts.transmitted = std::stoi(match[1]);
        counts.received = std::stoi(match[2]);
    }
    return counts;
}

std::string Repeat(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += line;
    return text;
}

bool LibraryRunEnded(HWND, const std::string& text) {
    return text.find("round trip (ms)") != std::string::npos;
}

bool RawRunEnded(HWND, const std::string& text) {
    return text.find("PING Statistics for") != std::string::npos;
}

// Runs the tool against `target` and iputils after it, and checks both agree.
ToolRun PingAndCompare(const ToolNetwork& network, const std::string& target, const ToolStep& ended,
                       const char* picture = nullptr) {
    ToolRun run = RunTool(ShowPingTool, target.c_str(), network.client.get(), ended, picture);
    EXPECT_TRUE(run.finished) << run.text;
    ReferencePing reference = RunReferencePing(*network.client, target.c_str(), 3);
    Counts ours = OurCounts(run.text);
    EXPECT_EQ(ours.transmitted, reference.transmitted) << target << "\n" << reference.output;
    EXPECT_EQ(ours.received, reference.received) << target << "\n" << reference.output;
    return run;
}

class PingToolTest : public ToolTest {};

} // namespace

TEST_F(PingToolTest, LibraryModeCountsAsIputilsDoesForAnsweringSilentAndUnreachableHosts) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(1));
    useIcmpLibrary = 1;
    useRawIcmp = 1; // the library takes precedence
    const std::string server = network.ServerAddress();

    ToolRun run = PingAndCompare(network, server, LibraryRunEnded, "ping_library.png");
    EXPECT_EQ(WithoutTimes(run.text), " Pinging host " + server + " [" + server + "]\r\n\r\n" +
                                          Repeat("56 bytes from " + server + ": time=T ms\r\n", 3) +
                                          "---\r\n3 transmitted, 3 received, 0% packet loss\r\n"
                                          "round trip (ms) min/max/avg = R\r\n");

    ASSERT_TRUE(network.SilenceServer(true));
    run = PingAndCompare(network, server, LibraryRunEnded);
    EXPECT_EQ(run.text, " Pinging host " + server + " [" + server + "]\r\n\r\n" +
                            Repeat("timed out\r\n", 3) +
                            "---\r\n3 transmitted, 0 received, 100% packet loss\r\n"
                            "round trip (ms) min/max/avg = 0/0/0\r\n");

    // The router's answer is printed, but an unreachable host is no packet received.
    const std::string router = network.RouterAddresses()[0];
    run = PingAndCompare(network, kUnreachable, LibraryRunEnded);
    EXPECT_EQ(WithoutTimes(run.text),
              std::string(" Pinging host 10.233.0.9 [10.233.0.9]\r\n\r\n") +
                  Repeat("host unreachable from " + router + ": time=T ms\r\n", 3) +
                  "---\r\n3 transmitted, 0 received, 100% packet loss\r\n"
                  "round trip (ms) min/max/avg = R\r\n");
    EXPECT_TRUE(Contains(run.text, "min/max/avg = 0/0/0"));
}

TEST_F(PingToolTest, RawModeCountsAsIputilsDoesForAnsweringSilentAndUnreachableHosts) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(1));
    useRawIcmp = 1;
    const std::string server = network.ServerAddress();
    const std::string header = " \r\nPING " + server + " (" + server + "): 56 data bytes\r\n";

    ToolRun run = PingAndCompare(network, server, RawRunEnded, "ping_raw.png");
    EXPECT_EQ(WithoutTimes(run.text),
              header + "64 bytes from " + server + ": icmp_seq=0 time=T ms\r\n" + "64 bytes from " +
                  server + ": icmp_seq=1 time=T ms\r\n" + "64 bytes from " + server +
                  ": icmp_seq=2 time=T ms\r\n" + " \r\nPING Statistics for " + server +
                  " \r\n3 packets transmitted, 3 packets received, 0% packet loss\r\n"
                  "round-trip (ms) min/avg/max = R\r\n");

    // No answer: the loss line, and no round-trip line.
    ASSERT_TRUE(network.SilenceServer(true));
    run = PingAndCompare(network, server, RawRunEnded);
    EXPECT_EQ(run.text, header + " \r\nPING Statistics for " + server +
                            " \r\n3 packets transmitted, 0 packets received, 100% packet loss\r\n");

    run = PingAndCompare(network, kUnreachable, RawRunEnded);
    EXPECT_EQ(run.text, " \r\nPING 10.233.0.9 (10.233.0.9): 56 data bytes\r\n \r\n"
                        "PING Statistics for 10.233.0.9 \r\n"
                        "3 packets transmitted, 0 packets received, 100% packet loss\r\n");
}

TEST_F(PingToolTest, RawTicksDuringAWaitAreNotCountedAndTheRequestsGoOutLater) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(1));
    ASSERT_TRUE(network.SilenceServer(true));
    useRawIcmp = 1;
    verboseOutput = 1;
    pingCount = 2;
    waitTimeout = 1500; // longer than a tick: every wait sees one
    ToolRun run =
        RunTool(ShowPingTool, network.ServerAddress().c_str(), network.client.get(), RawRunEnded);
    ASSERT_TRUE(run.finished) << run.text;
    // Both requests went out, each on a tick of its own; the ticks that met a wait were lost.
    EXPECT_TRUE(
        Contains(run.text, "2 packets transmitted, 0 packets received, 100% packet loss\r\n"));
    int refused = CountOf(run.text, "[sendto] Blocking operation in progress\r\n");
    EXPECT_GE(refused, 1) << run.text;
    EXPECT_GE(CountOf(run.text, "[Timer-BLOCK_SEND] \r\n"), 2 + refused + 1) << run.text;
    EXPECT_TRUE(Contains(run.text, "] socket closed.\r\n"));
}

TEST_F(PingToolTest, ARawRunReplacedOrEndedWithTheDialogLeavesNoSocketOpen) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(1));
    ASSERT_TRUE(network.SilenceServer(true));
    useRawIcmp = 1;
    verboseOutput = 1;
    pingCount = 100;
    waitTimeout = 3000; // after its first tick a run is always waiting
    const int socketsBefore = OpenSocketCount();

    bool clicked = false;
    ToolRun run = RunTool(ShowPingTool, network.ServerAddress().c_str(), network.client.get(),
                          [&](HWND dialog, const std::string& text) {
                              if (!clicked && CountOf(text, "[Timer-BLOCK_SEND] ") >= 1) {
                                  clicked = true; // "&Ping" again, in the middle of a wait
                                  SimulateClick(GetDlgItem(dialog, TOOL_START_BUTTON));
                                  return false;
                              }
                              std::size_t second = text.find("raw socket created",
                                                             text.find("raw socket created") + 1);
                              // Ended during the second run's first wait.
                              return second != std::string::npos &&
                                     text.find("[Timer-BLOCK_SEND] ", second) != std::string::npos;
                          });
    ASSERT_TRUE(run.finished) << run.text;
    ASSERT_EQ(CountOf(run.text, "raw socket created"), 2) << run.text;
    std::size_t first = run.text.find("raw socket created");
    std::size_t closed = run.text.find("] socket closed.", first);
    std::size_t second = run.text.find("raw socket created", first + 1);
    EXPECT_LT(closed, second) << "the replaced run's socket is closed first\n" << run.text;
    EXPECT_EQ(CountOf(run.text, " data bytes\r\n"), 2);
    EXPECT_EQ(CountOf(run.text, "PING Statistics"), 0) << "runs that are cut off have none";
    EXPECT_EQ(pingSocket, INVALID_SOCKET);
    EXPECT_EQ(OpenSocketCount(), socketsBefore);
}

TEST_F(PingToolTest, ToolsMenuOpensItEmptyWithThePollTimerStoppedAndItFollowsItsSize) {
    ASSERT_EQ(pollTimerActive, 1);
    // A name whose 70-character label no resolver can ask for: it fails without a query.
    const std::string unknown(70, 'x');
    int stage = 0;
    HWND lastOptionsOwner = 0;

    ToolRun run = RunTool(
        [](HWND owner, const char*) {
            RunCommand(owner, CMD_PING);
            return 0;
        },
        "", nullptr,
        [&](HWND dialog, const std::string& text) {
            char buffer[128] = {};
            switch (stage++) {
            case 0:
                EXPECT_EQ(pollTimerActive, 0);
                GetWindowText(dialog, buffer, sizeof buffer);
                EXPECT_STREQ(buffer, "Ping/Trace Route");
                GetDlgItemText(dialog, TOOL_HOST_EDIT, buffer, sizeof buffer);
                EXPECT_STREQ(buffer, "");
                GetDlgItemText(dialog, TOOL_START_BUTTON, buffer, sizeof buffer);
                EXPECT_STREQ(buffer, "&Ping");
                EXPECT_EQ(text, "") << "no run starts without a host";
                SimulateClick(GetDlgItem(dialog, TOOL_START_BUTTON));
                return false;
            case 1:
                EXPECT_EQ(text, "Can't ping without ICMP support.\r\n");
                useIcmpLibrary = 1;
                SetDlgItemText(dialog, TOOL_HOST_EDIT, unknown.c_str());
                SimulateClick(GetDlgItem(dialog, TOOL_START_BUTTON));
                return false;
            case 2:
                EXPECT_EQ(text, "Failed to resolve name " + unknown + "\r\n");
                useIcmpLibrary = 0;
                useRawIcmp = 1;
                SimulateClick(GetDlgItem(dialog, TOOL_START_BUTTON));
                return false;
            case 3:
                // Raw mode adds to what is there.
                EXPECT_EQ(text, "Failed to resolve name " + unknown + "\r\ncan't get \"" + unknown +
                                    "\" host entry.\r\n");
                // The Options button opens Tool Options over the tool.
                QueueDialogHook([&](HWND options) {
                    lastOptionsOwner = GetParent(options);
                    PostMessage(options, WM_COMMAND, IDCANCEL, 0);
                });
                SimulateClick(GetDlgItem(dialog, TOOL_OPTIONS_BUTTON));
                EXPECT_EQ(lastOptionsOwner, dialog);
                return false;
            default: {
                // Wider and taller: buttons at the right edge, boxes follow.
                RECT outer;
                GetWindowRect(dialog, &outer);
                MoveWindow(dialog, outer.left, outer.top, outer.right - outer.left + 150,
                           outer.bottom - outer.top + 90, true);
                RECT client;
                GetClientRect(dialog, &client);
                auto place = [dialog](int id) {
                    RECT rect;
                    GetWindowRect(GetDlgItem(dialog, id), &rect);
                    POINT corners[2] = {{rect.left, rect.top}, {rect.right, rect.bottom}};
                    ScreenToClient(dialog, &corners[0]);
                    ScreenToClient(dialog, &corners[1]);
                    return RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};
                };
                RECT host = place(TOOL_HOST_EDIT);
                RECT results = place(TOOL_RESULTS_EDIT);
                RECT exit = place(TOOL_EXIT_BUTTON);
                RECT start = place(TOOL_START_BUTTON);
                RECT options = place(TOOL_OPTIONS_BUTTON);
                int margin = host.left;
                int height = exit.bottom - exit.top;
                EXPECT_EQ(exit.right, client.right - margin);
                EXPECT_EQ(exit.top, 2);
                EXPECT_EQ(start.top, 2 + height + 2);
                EXPECT_EQ(options.top, 2 + 2 * (height + 2));
                EXPECT_EQ(start.left, exit.left);
                EXPECT_EQ(options.left, exit.left);
                EXPECT_EQ(host.right - host.left, exit.left - 2 * margin);
                EXPECT_EQ(client.right - results.right, results.left);
                EXPECT_EQ(client.bottom - results.bottom, results.left);
                return true;
            }
            }
        },
        "ping_resized.png");
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(stage, 5);
    EXPECT_EQ(pingHostText, unknown) << "the start button takes the host box's text";
    EXPECT_EQ(pollTimerActive, 1) << "restarted after the dialog";
}
