// The traceroute tool in both modes through a chain of three routers in namespaces, to a
// server and toward a destination behind an unreachable route; the hop limit of one byte;
// and on loopback the hop names and the mode choice.
#include "tools_world.h"

#include "icmp/rawecho.h"
#include "model/settings.h"
#include "tools/trace.h"

#include <algorithm>
#include <regex>

using namespace platform;

namespace {

// The text split at "\r\n", the empty last line dropped.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

bool TraceEnded(HWND, const std::string& text) {
    return text.find("reached\r\n") != std::string::npos;
}

// The addresses of the library mode's hop lines ("%2u %6ld %6ld %s").
std::vector<std::string> LibraryHops(const std::string& text) {
    static const std::regex hop("^ ?([0-9]+) +(-?[0-9]+) +(-?[0-9]+) ([0-9.]+)( +.*)?$");
    std::vector<std::string> hops;
    int expected = 1;
    for (const std::string& line : Lines(text)) {
        std::smatch match;
        if (!std::regex_match(line, match, hop))
            continue;
        EXPECT_EQ(std::stoi(match[1]), expected++) << line;
        hops.push_back(match[4]);
    }
    return hops;
}

} // namespace

TEST_F(ToolTest, TraceListsThreeRoutersInOrderAndStopsAtAnUnreachableRoute) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(3));
    const std::string server = network.ServerAddress();
    const std::vector<std::string> routers = network.RouterAddresses();
    std::vector<std::string> path = routers;
    path.push_back(server);

    useIcmpLibrary = 1;
    ToolRun run = RunTool(ShowTraceTool, server.c_str(), network.client.get(), TraceEnded,
                          "trace_library.png");
    ASSERT_TRUE(run.finished) << run.text;
    std::vector<std::string> lines = Lines(WithoutTimes(run.text));
    ASSERT_GE(lines.size(), 4u) << run.text;
    EXPECT_EQ(lines[0], " Tracing route to " + server);
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "56 bytes from " + server + ": time=T ms");
    EXPECT_EQ(LibraryHops(run.text), path);
    EXPECT_EQ(lines.size(), 3 + path.size() + 1) << run.text;
    EXPECT_EQ(lines.back(), "host reached");

    useIcmpLibrary = 0;
    useRawIcmp = 1;
    run = RunTool(ShowTraceTool, server.c_str(), network.client.get(), TraceEnded, "trace_raw.png");
    ASSERT_TRUE(run.finished) << run.text;
    EXPECT_EQ(WithoutTimes(run.text), " Tracing route to " + server + "\r\n\r\n" + " 1 " +
                                          routers[0] + ":\r\n" + " 2 " + routers[1] + ":\r\n" +
                                          " 3 " + routers[2] + ":\r\n" + " 4 " + server +
                                          ": time=T ms\r\nhost reached\r\n");

    const char target[] = "10.233.0.9";
    run = RunTool(ShowTraceTool, target, network.client.get(), TraceEnded);
    ASSERT_TRUE(run.finished) << run.text;
    EXPECT_EQ(run.text, std::string(" Tracing route to 10.233.0.9\r\n\r\n") + " 1 " + routers[0] +
                            ":\r\n 2 " + routers[1] + ":\r\n 3 " + routers[2] +
                            ": (DestUnrchbl)\r\nnot reached\r\n");

    useIcmpLibrary = 1;
    run = RunTool(ShowTraceTool, target, network.client.get(), TraceEnded);
    ASSERT_TRUE(run.finished) << run.text;
    lines = Lines(WithoutTimes(run.text));
    ASSERT_EQ(lines.size(), 7u) << run.text;
    EXPECT_EQ(lines[2], "host unreachable from " + routers[2] + ": time=T ms");
    EXPECT_EQ(LibraryHops(run.text), routers);
    // The router's status stands in its hop line, its address cut or filled to 15.
    EXPECT_TRUE(std::regex_match(
        lines[5], std::regex(" 3 +-?[0-9]+ +-?[0-9]+ " + routers[2] + " {5} host unreachable")))
        << lines[5];
    EXPECT_EQ(lines[6], "not reached");
}

TEST_F(ToolTest, NoTraceGoesBeyondWhatOneByteOfTimeToLiveCarries) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(0));
    ASSERT_TRUE(network.SilenceServer(true));
    useRawIcmp = 1;
    traceMaxHops = 100000;
    waitTimeout = 20;
    ToolRun run =
        RunTool(ShowTraceTool, network.ServerAddress().c_str(), network.client.get(), TraceEnded);
    ASSERT_TRUE(run.finished) << run.text.substr(run.text.size() > 300 ? run.text.size() - 300 : 0);
    std::vector<std::string> lines = Lines(run.text);
    ASSERT_EQ(lines.size(), 2u + TRACE_HOPS_LIMIT + 1u);
    EXPECT_EQ(lines[2], " 1      *      * ");
    EXPECT_EQ(lines[2 + TRACE_HOPS_LIMIT - 1], "255      *      * ");
    EXPECT_EQ(lines.back(), "not reached");
}

TEST_F(ToolTest, OnLoopbackHopNamesAndTheModeChoice) {
    // Library mode: the target answers at hop 1, named from the hosts file.
    useIcmpLibrary = 1;
    showHopNames = 1;
    ToolRun run = RunTool(ShowTraceTool, "127.0.0.1", nullptr, TraceEnded);
    ASSERT_TRUE(run.finished) << run.text;
    std::vector<std::string> lines = Lines(run.text);
    ASSERT_EQ(lines.size(), 5u) << run.text;
    EXPECT_TRUE(
        std::regex_match(lines[3], std::regex(" 1 +[0-9]+ +-?[0-9]+ 127\\.0\\.0\\.1 {7}localhost")))
        << lines[3];
    EXPECT_EQ(lines[4], "host reached");

    // Raw mode with no hops to probe, and no mode at all.
    useIcmpLibrary = 0;
    useRawIcmp = 1;
    traceMaxHops = 0;
    run = RunTool(ShowTraceTool, "127.0.0.1", nullptr, TraceEnded);
    EXPECT_EQ(run.text, " Tracing route to 127.0.0.1\r\n\r\nnot reached\r\n");
    useRawIcmp = 0;
    run = RunTool(ShowTraceTool, "127.0.0.1", nullptr, [](HWND, const std::string& text) {
        return text.find("support") != std::string::npos;
    });
    EXPECT_EQ(run.text, " Tracing route to 127.0.0.1\r\n\r\nCan't trace without ICMP support.\r\n");
}
