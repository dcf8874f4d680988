// The traceroute tool in both modes through a chain of three routers in namespaces, to a
// server and toward a destination behind an unreachable route; the hop limit of one byte;
// and on loopback the hop names and the mode choice.
#include "tools_world.h"

#include "icmp/rawecho.h"
#include "model/settings.h"
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

TEST_F(ToolTest, TraceListsThreeRoutersInOrderAndStopsAtAnUnreachableRoute) {
    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(3));
    const std::string server = network.ServerAddress(), target = "10.233.0.9";
    const std::vector<std::string> routers = network.RouterAddresses();
    auto traced = [&](const std::string& to, const std::string& lines) {
        return " Tracing route to " + to + "\r\n\r\n" + lines;
    };
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
    const struct {
        int library;
        const std::string& to;
        std::string expected;
        const char* picture;
    } runs[] = {
        {1, server,
         traced(server, "56 bytes from " + server + ": time=T ms\r\n" + path(libraryHop, 3) +
                            " 4      T      T " + server + "\r\nhost reached\r\n"),
         "trace_library.png"},
        {0, server,
         traced(server, path(rawHop, 3) + " 4 " + server + ": time=T ms\r\nhost reached\r\n"),
         "trace_raw.png"},
        {0, target,
         traced(target,
                path(rawHop, 2) + " 3 " + routers[2] + ": (DestUnrchbl)\r\nnot reached\r\n"),
         nullptr},
        // The router's status stands in its hop line, its address cut or filled to 15.
        {1, target,
         traced(target, "host unreachable from " + routers[2] + ": time=T ms\r\n" +
                            path(libraryHop, 2) + " 3      T      T " + routers[2] +
                            "      host unreachable\r\nnot reached\r\n"),
         nullptr}};
    for (const auto& each : runs) {
        SCOPED_TRACE(each.expected);
        options.useIcmpLibrary = each.library;
        options.useRawIcmp = 1;
        ToolRun run =
            RunTool(ShowTraceTool, each.to.c_str(), network.client.get(), TraceEnded, each.picture);
        EXPECT_EQ(WithoutHopTimes(run.text), each.expected);
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
    ToolRun run = RunTool(ShowTraceTool, server.c_str(), network.client.get(), TraceEnded);
    EXPECT_EQ(run.text, expected + "not reached\r\n");
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
