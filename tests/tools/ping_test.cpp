// The ping tool in both modes and both families against a host that answers, one that keeps
// silent and one behind a router's unreachable route; the raw mode's ticks during a wait; runs
// replaced or ended with the dialog; ping and trace opened empty from the Tools menu.
#include "tools_world.h"

#include "icmp/rawecho.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/system.h"
#include "platform/testing.h"
#include "platform/testing_sys.h"
#include "resources/commands.h"
#include "resources/dialogcommon.h"
#include "shell/mainwnd.h"
#include "support/ui_fixture.h"
#include "tools/ping.h"
#include "tools/trace.h"

#include <filesystem>

using namespace platform;

namespace {

int OpenSocketCount() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        count += std::filesystem::read_symlink(entry.path(), error).string().starts_with("socket:");
    }
    return count;
}

bool LibraryRunEnded(HWND, const std::string& text) {
    return text.find("round trip (ms)") != std::string::npos;
}

bool RawRunEnded(HWND, const std::string& text) {
    return text.find("PING Statistics for") != std::string::npos;
}

} // namespace

TEST_F(ToolTest, PingCountsAnsweringSilentAndUnreachableHostsInBothModesAndFamilies) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(1));
    auto library = [](const std::string& target, const std::string& line, int received) {
        return " Pinging host " + target + " [" + target + "]\r\n\r\n" + line + line + line +
               "---\r\n3 transmitted, " + std::to_string(received) + " received, " +
               (received ? "0" : "100") + "% packet loss\r\nround trip (ms) min/max/avg = R\r\n";
    };
    auto raw = [](const std::string& target, const std::string& replies, int received) {
        return " \r\nPING " + target + " (" + target + "): 56 data bytes\r\n" + replies +
               " \r\nPING Statistics for " + target + " \r\n3 packets transmitted, " +
               std::to_string(received) + " packets received, " + (received ? "0" : "100") +
               "% packet loss\r\n" + (received ? "round-trip (ms) min/avg/max = R\r\n" : "");
    };
    for (bool ipv6 : {false, true}) {
        const std::string server = network.ServerAddress(ipv6);
        const std::string unreachable = ipv6 ? "fd33::9" : "10.233.0.9";
        const std::string router = network.RouterAddresses(ipv6)[0];
        // An IPv4 unreachable route answers "host unreachable", an IPv6 one "no route".
        const std::string refusal = ipv6 ? "network unreachable from " : "host unreachable from ";
        std::string replies;
        for (int sequence = 0; sequence < 3; ++sequence)
            replies += "64 bytes from " + server + ": icmp_seq=" + std::to_string(sequence) +
                       " time=T ms\r\n";
        const struct {
            bool library, silent;
            std::string target, expected;
            const char* picture;
        } runs[] = {
            {true, false, server, library(server, "56 bytes from " + server + ": time=T ms\r\n", 3),
             ipv6 ? "ping_library_ipv6.png" : "ping_library.png"},
            {false, false, server, raw(server, replies, 3),
             ipv6 ? "ping_raw_ipv6.png" : "ping_raw.png"},
            {true, true, server, library(server, "timed out\r\n", 0), nullptr},
            {false, true, server, raw(server, "", 0), nullptr}, // no round-trip line
            // The router's answer is printed, but an unreachable host is no packet received.
            {true, true, unreachable, library(unreachable, refusal + router + ": time=T ms\r\n", 0),
             nullptr}};
        for (const auto& each : runs) {
            // IPv6 library runs over ping sockets and over raw ones. (A second IPv4 run to
            // the unreachable route would meet the route's burst limit.)
            for (bool pingSockets : {false, true}) {
                if (pingSockets && (!each.library || !ipv6))
                    continue;
                SCOPED_TRACE(each.expected);
                SCOPED_TRACE(pingSockets ? "ping sockets" : "raw sockets");
                ASSERT_TRUE(network.client->AllowPingSockets(pingSockets));
                options.useIcmpLibrary = each.library;
                options.useRawIcmp = 1; // the library takes precedence
                ASSERT_TRUE(network.SilenceServer(each.silent));
                int kind = ICMP_SOCKET_NONE;
                ToolRun run = RunTool(
                    ShowPingTool, each.target.c_str(), network.client.get(),
                    [&](HWND dialog, const std::string& text) {
                        if (pingRun.libraryActive)
                            kind = IcmpHandleKind(pingRun.echo.handle);
                        return each.library ? LibraryRunEnded(dialog, text)
                                            : RawRunEnded(dialog, text);
                    },
                    pingSockets ? nullptr : each.picture);
                EXPECT_EQ(WithoutTimes(run.text), each.expected);
                if (each.library) {
                    EXPECT_EQ(kind, pingSockets ? ICMP_SOCKET_PING : ICMP_SOCKET_RAW);
                }
                EXPECT_TRUE(!each.library || !each.silent ||
                            CountOf(run.text, "min/max/avg = 0/0/0") == 1);
                // A reply within a millisecond reads "<1", never 0.
                EXPECT_EQ(
                    CountOf(run.text, "time=0 ") + (each.silent ? 0 : CountOf(run.text, "= 0/")), 0)
                    << run.text;
            }
        }
    }
    ASSERT_TRUE(network.client->AllowPingSockets(false));
    const std::string server = network.ServerAddress();

    // A library echo waits the time-out that Tool Options shows (WAIT), no other.
    options.useIcmpLibrary = 1;
    toolOptions.pingCount = 1;
    options.waitTimeout = 1500;
    ASSERT_TRUE(network.SilenceServer(true));
    const std::uint32_t started = GetTickCount();
    ASSERT_TRUE(
        RunTool(ShowPingTool, server.c_str(), network.client.get(), LibraryRunEnded).finished);
    const std::uint32_t waited = GetTickCount() - started;
    EXPECT_GE(waited, 1500u);
    EXPECT_LT(waited, 15000u);
}

TEST_F(ToolTest, RawPingTicksDuringAWaitAreLostAndARunReplacedOrEndedClosesItsSocket) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(0));
    ASSERT_TRUE(network.SilenceServer(true));
    const std::string server = network.ServerAddress();
    options.useRawIcmp = 1;
    toolOptions.verbose = 1;
    toolOptions.pingCount = 2;
    options.waitTimeout = 1500; // longer than a tick: every wait sees one
    ToolRun run = RunTool(ShowPingTool, server.c_str(), network.client.get(), RawRunEnded);
    ASSERT_TRUE(run.finished) << run.text;
    // Both requests went out, each on a tick of its own; the ticks that met a wait were lost.
    EXPECT_EQ(CountOf(run.text, "2 packets transmitted, 0 packets received, 100% packet loss\r\n"),
              1);
    int refused = CountOf(run.text, "[sendto] Blocking operation in progress\r\n");
    EXPECT_GE(refused, 1) << run.text;
    EXPECT_GE(CountOf(run.text, "[Timer-BLOCK_SEND] \r\n"), 2 + refused + 1) << run.text;
    EXPECT_EQ(CountOf(run.text, "] socket closed.\r\n"), 1);

    toolOptions.pingCount = 100;
    options.waitTimeout = 3000; // after its first tick a run is always waiting
    const int socketsBefore = OpenSocketCount();
    bool clicked = false;
    run = RunTool(ShowPingTool, server.c_str(), network.client.get(),
                  [&](HWND dialog, const std::string& text) {
                      if (!clicked && CountOf(text, "[Timer-BLOCK_SEND] ") >= 1) {
                          clicked = true; // "&Ping" again, in the middle of a wait
                          SimulateClick(GetDlgItem(dialog, TOOL_START_BUTTON));
                          return false;
                      }
                      size_t second =
                          text.find("raw socket created", text.find("raw socket created") + 1);
                      // Ended during the second run's first wait.
                      return second != std::string::npos &&
                             text.find("[Timer-BLOCK_SEND] ", second) != std::string::npos;
                  });
    ASSERT_TRUE(run.finished) << run.text;
    ASSERT_EQ(CountOf(run.text, "raw socket created"), 2) << run.text;
    size_t first = run.text.find("raw socket created");
    EXPECT_LT(run.text.find("] socket closed.", first),
              run.text.find("raw socket created", first + 1))
        << "the replaced run's socket is closed first\n"
        << run.text;
    EXPECT_EQ(CountOf(run.text, " data bytes\r\n"), 2);
    EXPECT_EQ(CountOf(run.text, "PING Statistics"), 0) << "runs that are cut off have none";
    EXPECT_EQ(pingRun.socket, INVALID_SOCKET);
    EXPECT_EQ(OpenSocketCount(), socketsBefore);

    // Closed while an echo or a hop waits, in either mode, a ping or a trace leaves no socket
    // or echo handle behind, and nothing of it comes after.
    toolOptions.verbose = 0;
    for (int library : {1, 0}) {
        options.useIcmpLibrary = library;
        for (ToolEntry tool : {ShowPingTool, ShowTraceTool}) {
            SCOPED_TRACE(library);
            run = RunTool(tool, server.c_str(), network.client.get(),
                          [](HWND, const std::string& text) {
                              return text.find("PING ") != std::string::npos ||
                                     text.find("Pinging host") != std::string::npos ||
                                     text.find("Tracing route") != std::string::npos;
                          });
            ASSERT_TRUE(run.finished) << run.text;
            EXPECT_EQ(OpenSocketCount(), socketsBefore) << run.text;
            EXPECT_EQ(pingRun.socket, INVALID_SOCKET);
            EXPECT_EQ(traceRun.socket, INVALID_SOCKET);
        }
    }
    EXPECT_FALSE(PumpUntil([] { return false; }, 4)) << "a wait's end still comes, to nobody";
}

TEST_F(ToolTest, PingAndTraceOpenEmptyFromTheToolsMenuAndSayWhatStopsARun) {
    const std::string unknown(70, 'x'); // a label no resolver can be asked for: fails at once
    const std::string failed = "Failed to resolve name " + unknown + "\r\n";
    // Clicks the start button and waits until the results change and no look-up is told.
    auto Pressed = [this](HWND dialog) {
        std::string before = BoxText(dialog, TOOL_RESULTS_EDIT);
        SimulateClick(GetDlgItem(dialog, TOOL_START_BUTTON));
        PumpUntil([&] {
            std::string now = BoxText(dialog, TOOL_RESULTS_EDIT);
            return now != before && !now.starts_with("looking up");
        });
        return BoxText(dialog, TOOL_RESULTS_EDIT);
    };
    std::vector<std::string> seen;
    HWND pingDialog = 0, optionsOwner = 0;
    int countingDuringOptions = -1;
    StartPollTimer();
    QueueDialogHook([&](HWND dialog) {
        pingDialog = dialog;
        seen = {ItemText(dialog, TOOL_HOST_EDIT), ItemText(dialog, TOOL_START_BUTTON),
                BoxText(dialog, TOOL_RESULTS_EDIT), Pressed(dialog)};
        options.useIcmpLibrary = 1;
        SetDlgItemText(dialog, TOOL_HOST_EDIT, unknown.c_str());
        seen.push_back(Pressed(dialog));
        options.useIcmpLibrary = 0;
        options.useRawIcmp = 1;
        seen.push_back(Pressed(dialog)); // raw mode adds to what is there
        QueueDialogHook([&](HWND optionsDialog) {
            optionsOwner = GetParent(optionsDialog);
            countingDuringOptions = pollState.timerActive;
            PostMessage(optionsDialog, WM_COMMAND, IDCANCEL, 0);
        });
        SimulateClick(GetDlgItem(dialog, TOOL_OPTIONS_BUTTON));
        PostMessage(dialog, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
    });
    RunCommand(mainWindow, CMD_PING);
    EXPECT_TRUE(PumpUntilToolsClosed());
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "", "&Ping", "", "Can't ping without ICMP support.\r\n", failed,
                        failed + "can't get \"" + unknown + "\" host entry.\r\n"}));
    EXPECT_EQ(optionsOwner, pingDialog) << "Options opens Tool Options over the tool";
    EXPECT_EQ(countingDuringOptions, 0) << "the modal settings dialog pauses the countdown";
    EXPECT_EQ(pollState.timerActive, 1) << "and it goes on after";
    StopPollTimer();
    EXPECT_EQ(pingRun.hostText, unknown) << "the start button takes the host box's text";

    options.useRawIcmp = 0;
    QueueDialogHook([&](HWND dialog) {
        seen = {ItemText(dialog, TOOL_HOST_EDIT), ItemText(dialog, TOOL_START_BUTTON),
                BoxText(dialog, TOOL_RESULTS_EDIT)};
        SetDlgItemText(dialog, TOOL_HOST_EDIT, unknown.c_str());
        seen.push_back(Pressed(dialog));
        PostMessage(dialog, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
    });
    RunCommand(mainWindow, CMD_TRACEROUTE);
    EXPECT_TRUE(PumpUntilToolsClosed());
    EXPECT_EQ(seen, (std::vector<std::string>{"", "&Trace Route", "", failed}));

    // Ping on another host while the window is open: the same window, with that host, pings.
    options.useIcmpLibrary = 1;
    ASSERT_EQ(ShowPingTool(mainWindow, nullptr), 1);
    const HWND open = pingRun.window;
    ASSERT_EQ(ShowPingTool(mainWindow, "127.0.0.1"), 1);
    EXPECT_EQ(pingRun.window, open);
    EXPECT_TRUE(
        PumpUntil([&] { return BoxText(open, TOOL_RESULTS_EDIT).find("round trip") < 999; }));
    EXPECT_EQ(ItemText(open, TOOL_HOST_EDIT), "127.0.0.1");
    PostMessage(open, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
    EXPECT_TRUE(PumpUntilToolsClosed());
}
