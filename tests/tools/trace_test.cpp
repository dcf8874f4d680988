// The traceroute tool in both modes and both families through a chain of three routers in
// namespaces, to a server and toward a destination behind an unreachable route; the hop limit of
// one byte; and on loopback the hop names and the mode choice.
#include "tools_world.h"

#include "icmp/rawecho.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/system.h"
#include "resources/dialogcommon.h"
#include "shell/mainwnd.h"
#include "tools/trace.h"

#include <cstdio>
#include <regex>

using namespace platform;

namespace {

bool TraceEnded(HWND, const std::string& text) {
    return text.find("reached\r\n") != std::string::npos;
}

// Round-trip times replaced, and in the library mode's hop lines ("%2u %6ld %6ld ...") the
// two times by "T" at their width.
std::string WithoutHopTimes(const std::string& text) {
    static const std::regex hop("\n([ 0-9]{2}) [ 0-9<]{6} [ 0-9-]{6} ");
    return std::regex_replace(WithoutTimes(text), hop, "\n$1      T      T ");
}

} // namespace

TEST_F(ToolTest, TraceListsThreeRoutersInOrderAndStopsAtAnUnreachableRouteInBothFamilies) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(3));
    auto traced = [&](const std::string& to, const std::string& lines) {
        return " Tracing route to " + to + "\r\n\r\n" + lines;
    };
    for (bool ipv6 : {false, true}) {
        // IPv6 library runs go over ping sockets, IPv4 ones over raw sockets.
        ASSERT_TRUE(network.client->AllowPingSockets(ipv6));
        const std::string server = network.ServerAddress(ipv6);
        const std::string target = ipv6 ? "fd33::9" : "10.233.0.9";
        const std::vector<std::string> routers = network.RouterAddresses(ipv6);
        const char* libraryHop = "%2zu      T      T %s\r\n";
        const char* rawHop = "%2zu %s:\r\n";
        auto path = [&](const char* format, size_t count) { // the first routers' lines
            std::string lines;
            for (size_t hop = 0; hop < count; ++hop) {
                char line[80];
                std::snprintf(line, sizeof line, format, hop + 1, routers[hop].c_str());
                lines += line;
            }
            return lines;
        };
        // An IPv4 unreachable route answers "host unreachable", an IPv6 one "no route". The
        // router's status stands in its hop line, its address filled to 15.
        const std::string refusal = ipv6 ? "network unreachable" : "host unreachable";
        char lastHop[80];
        std::snprintf(lastHop, sizeof lastHop, " 3      T      T %-15s %s\r\n", routers[2].c_str(),
                      refusal.c_str());
        const struct {
            int library;
            const std::string& to;
            std::string expected;
            const char* picture;
        } runs[] = {
            {1, server,
             traced(server, "56 bytes from " + server + ": time=T ms\r\n" + path(libraryHop, 3) +
                                " 4      T      T " + server + "\r\nhost reached\r\n"),
             ipv6 ? "trace_library_ipv6.png" : "trace_library.png"},
            {0, server,
             traced(server, path(rawHop, 3) + " 4 " + server + ": time=T ms\r\nhost reached\r\n"),
             ipv6 ? "trace_raw_ipv6.png" : "trace_raw.png"},
            {0, target,
             traced(target,
                    path(rawHop, 2) + " 3 " + routers[2] + ": (DestUnrchbl)\r\nnot reached\r\n"),
             nullptr},
            {1, target,
             traced(target, refusal + " from " + routers[2] + ": time=T ms\r\n" +
                                path(libraryHop, 2) + lastHop + "not reached\r\n"),
             nullptr}};
        for (const auto& each : runs) {
            SCOPED_TRACE(each.expected);
            options.useIcmpLibrary = each.library;
            options.useRawIcmp = 1;
            ToolRun run = RunTool(ShowTraceTool, each.to.c_str(), network.client.get(), TraceEnded,
                                  each.picture);
            EXPECT_EQ(WithoutHopTimes(run.text), each.expected);
        }
    }
}

TEST_F(ToolTest, NoTraceGoesBeyondWhatOneByteOfTimeToLiveCarries) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(0));
    ASSERT_TRUE(network.SilenceServer(true));
    options.useRawIcmp = 1;
    toolOptions.traceMaxHops = 100000;
    options.waitTimeout = 20;
    const std::string server = network.ServerAddress();
    std::string expected = " Tracing route to " + server + "\r\n\r\n";
    for (unsigned hop = 1; hop <= TRACE_HOPS_LIMIT; ++hop)
        expected += (hop < 10 ? " " : "") + std::to_string(hop) + "      *      * \r\n";
    std::uint32_t firstHop = 0;
    ToolRun run = RunTool(ShowTraceTool, server.c_str(), network.client.get(),
                          [&](HWND dialog, const std::string& text) {
                              if (firstHop == 0 && text.find(" 1      *") != std::string::npos)
                                  firstHop = GetTickCount();
                              return TraceEnded(dialog, text);
                          });
    const std::uint32_t end = GetTickCount();
    EXPECT_EQ(run.text, expected + "not reached\r\n");
    // 255 hops of 20 ms: the first line is shown five seconds before the last.
    ASSERT_NE(firstHop, 0u);
    EXPECT_GE(end - firstHop, 1000u) << "each hop's line comes as its wait ends";
}

TEST_F(ToolTest, OnLoopbackHopNamesAndTheModeChoice) {
    // Library mode: the target answers at hop 1, named from the hosts file.
    options.useIcmpLibrary = 1;
    toolOptions.showHopNames = 1;
    ToolRun run = RunTool(ShowTraceTool, "127.0.0.1", nullptr, TraceEnded);
    EXPECT_EQ(WithoutHopTimes(run.text),
              " Tracing route to 127.0.0.1\r\n\r\n56 bytes from 127.0.0.1: time=T ms\r\n"
              " 1      T      T 127.0.0.1       localhost\r\nhost reached\r\n");
    options.useIcmpLibrary = 0;
    run = RunTool(ShowTraceTool, "127.0.0.1", nullptr, [](HWND, const std::string& text) {
        return text.find("support") != std::string::npos;
    });
    EXPECT_EQ(run.text, " Tracing route to 127.0.0.1\r\n\r\nCan't trace without ICMP support.\r\n");
}

// A trace and a poll cycle side by side, each started while the other runs: both end on
// time with their own results (a raw engine for both, whose answers share the ICMP traffic).
TEST_F(ToolTest, ATraceAndAPollCycleRunSideBySide) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(2));
    const std::string server = network.ServerAddress();
    const std::vector<std::string> routers = network.RouterAddresses();
    EnteredNamespace inside(*network.client);
    ASSERT_TRUE(inside.ok());
    options.useRawIcmp = 1;
    options.waitTimeout = 1000;
    auto addHost = [](const char* name, const std::string& address) {
        int index = AppendHost(1 + hostCount * 4, 2);
        ASSERT_GE(index, 0);
        HostRecord& host = hostTable[index];
        std::snprintf(host.name, sizeof host.name, "%s", name);
        std::snprintf(host.address, sizeof host.address, "%s", address.c_str());
        std::snprintf(host.resolvedAddr, sizeof host.resolvedAddr, "%s", address.c_str());
    };
    auto traceText = [] {
        return traceRun.window != 0 ? BoxText(traceRun.window, TOOL_RESULTS_EDIT) : "";
    };
    const std::string traced = " Tracing route to " + server + "\r\n\r\n 1 " + routers[0] +
                               ":\r\n 2 " + routers[1] + ":\r\n 3 " + server +
                               ": time=T ms\r\nhost reached\r\n";

    // A cycle of two silent hosts (nobody has their address), a second each; a trace
    // opened once it runs ends within it.
    addHost("silent1", "10.231.3.99");
    addHost("silent2", "10.231.3.98");
    const std::uint32_t cycleStart = GetTickCount();
    RunPollCycle(mainWindow);
    ShowTraceTool(mainWindow, server.c_str());
    ASSERT_TRUE(PumpUntil([&] { return traceText().ends_with("reached\r\n"); }));
    EXPECT_LT(GetTickCount() - cycleStart, 1000u);
    EXPECT_TRUE(pollState.inProgress) << "the trace ended during the cycle";
    ASSERT_TRUE(RunCycleToEnd());
    const std::uint32_t cycleEnd = GetTickCount();
    EXPECT_EQ(WithoutTimes(traceText()), traced);
    EXPECT_EQ(pollState.hostsChecked, 2);
    EXPECT_EQ(hostTable[0].missed + hostTable[1].missed, 2u);
    EXPECT_LT(cycleEnd - cycleStart, 20000u);
    PostMessage(traceRun.window, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
    ASSERT_TRUE(PumpUntilToolsClosed());

    // A trace whose last hops stay silent, a second each; a cycle of the answering routers
    // started during it ends at once, and the trace goes on to its own end.
    DeleteHost(1);
    DeleteHost(0);
    addHost("router1", routers[0]);
    addHost("router2", routers[1]);
    ASSERT_TRUE(network.SilenceServer(true));
    toolOptions.traceMaxHops = 4;
    ShowTraceTool(mainWindow, server.c_str());
    ASSERT_TRUE(
        PumpUntil([&] { return traceText().find(" 2 " + routers[1]) != std::string::npos; }));
    const std::uint32_t secondStart = GetTickCount();
    RunPollCycle(mainWindow);
    ASSERT_TRUE(RunCycleToEnd());
    EXPECT_LT(GetTickCount() - secondStart, 1000u) << "the cycle does not wait for the trace";
    EXPECT_EQ(hostTable[0].status + hostTable[1].status + hostTable[0].missed + hostTable[1].missed,
              0u);
    EXPECT_FALSE(traceText().ends_with("reached\r\n")) << "the trace still runs";
    ASSERT_TRUE(PumpUntil([&] { return traceText().ends_with("reached\r\n"); }));
    EXPECT_EQ(traceText(), " Tracing route to " + server + "\r\n\r\n 1 " + routers[0] + ":\r\n 2 " +
                               routers[1] + ":\r\n 3      *      * \r\n 4      *      * \r\n" +
                               "not reached\r\n");
    PostMessage(traceRun.window, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
    ASSERT_TRUE(PumpUntilToolsClosed());
}
