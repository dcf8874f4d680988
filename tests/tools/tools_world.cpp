// The tool tests' main window, the message loop that drives tool dialogs, the networks, the
// line servers and the silent name server. The servers come first, on the system's sockets,
// before the platform's names are brought in.
#include "tools_world.h"

#include "icmp/rawecho.h"
#include "model/settings.h"
#include "platform/dialog.h"
#include "platform/testing.h"
#include "resources/dialogcommon.h"
#include "shell/mainwnd.h"
#include "support/ui_fixture.h"
#include "tools/connect.h"
#include "tools/fingerwhois.h"
#include "tools/lookup.h"
#include "tools/ping.h"
#include "tools/trace.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <thread>

namespace {

constexpr int boundedWaitMs = 5000; // a bound for waits that should end at once
constexpr int piecePauseMs = 30;    // lets each piece arrive on its own

bool WaitReadable(int descriptor, int milliseconds) {
    pollfd entry{descriptor, POLLIN, 0};
    return poll(&entry, 1, milliseconds) > 0;
}

} // namespace

/*** line servers ***/

std::future<std::vector<SeenConnection>> ServeLines(unsigned short port,
                                                    std::vector<LineExchange> script) {
    // One listener on each loopback address; 127.0.0.2 and the like stay unserved.
    int listeners[2] = {::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0),
                        ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(port);
    address6.sin6_addr = in6addr_loopback;
    int reuse = 1;
    for (int listener : listeners)
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    bool listening =
        ::bind(listeners[0], reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::bind(listeners[1], reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0 &&
        listen(listeners[0], 4) == 0 && listen(listeners[1], 4) == 0;
    EXPECT_TRUE(listening) << "port " << port;
    return std::async(std::launch::async, [=, script = std::move(script)] {
        std::vector<SeenConnection> seen;
        for (const LineExchange& exchange : script) {
            pollfd waiting[2] = {{listeners[0], POLLIN, 0}, {listeners[1], POLLIN, 0}};
            if (!listening || poll(waiting, 2, 2 * boundedWaitMs) <= 0)
                break;
            int listener = listeners[(waiting[0].revents & POLLIN) != 0 ? 0 : 1];
            int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            SeenConnection one;
            char buffer[512];
            ssize_t count = 0;
            while (one.request.find("\r\n") == std::string::npos &&
                   WaitReadable(connection, boundedWaitMs) &&
                   (count = ::recv(connection, buffer, sizeof buffer, 0)) > 0)
                one.request.append(buffer, static_cast<size_t>(count));
            for (const std::string& piece : exchange.pieces) {
                usleep(piecePauseMs * 1000);
                ::send(connection, piece.data(), piece.size(), MSG_NOSIGNAL);
            }
            // Held until the client lets go by itself; otherwise anything the client sends
            // after its request line still counts as request.
            if (!exchange.holdOpen)
                shutdown(connection, SHUT_WR);
            while (WaitReadable(connection, exchange.holdOpen ? 2 * boundedWaitMs : 200)) {
                if ((count = ::recv(connection, buffer, sizeof buffer, 0)) <= 0) {
                    one.closedByClient = true;
                    break;
                }
                one.request.append(buffer, static_cast<size_t>(count));
            }
            ::close(connection);
            seen.push_back(one);
        }
        ::close(listeners[0]);
        ::close(listeners[1]);
        return seen;
    });
}

/*** a name server that never answers ***/

SilentNameServer::SilentNameServer(const NetworkNamespace& network) {
    // The resolver runs on threads the stack starts from this one. Only when such a
    // thread is in our namespace can its queries reach nothing but this stand-in; those
    // that earlier tests started stay where they were started, so they are ended first.
    platform::EndIdleLookupWorkers();
    struct stat wanted {};
    if (stat(("/run/netns/" + network.name()).c_str(), &wanted) != 0)
        return;
    bool inside = false;
    std::thread probe([&] {
        struct stat seen {};
        inside = stat("/proc/thread-self/ns/net", &seen) == 0 && seen.st_ino == wanted.st_ino &&
                 seen.st_dev == wanted.st_dev;
    });
    probe.join();
    if (!inside)
        return;
    // The first nameserver line of resolv.conf; none means the resolver's default, 127.0.0.1.
    std::ifstream file("/etc/resolv.conf");
    std::string text{std::istreambuf_iterator<char>(file), {}};
    std::smatch match;
    static const std::regex line("(^|\n)[ \t]*nameserver[ \t]+([^ \t\r\n#]+)");
    address_ = std::regex_search(text, match, line) ? match[2].str() : "127.0.0.1";
    in_addr parsed{};
    if (inet_pton(AF_INET, address_.c_str(), &parsed) != 1)
        return; // a resolver on IPv6 is not one we can stand in for
    if ((ntohl(parsed.s_addr) >> 24) != 127 &&
        !network.Ip({"address", "add", address_ + "/32", "dev", "lo"}))
        return;
    descriptor_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(53);
    local.sin_addr = parsed;
    if (descriptor_ >= 0 &&
        ::bind(descriptor_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

SilentNameServer::~SilentNameServer() {
    Queries(); // so that the look-ups the test gave up on end now, not at their time-out
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

int SilentNameServer::Queries() {
    unsigned char query[512];
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    for (ssize_t count; descriptor_ >= 0 &&
                        (count = ::recvfrom(descriptor_, query, sizeof query, 0,
                                            reinterpret_cast<sockaddr*>(&sender), &length)) >= 0;
         length = sizeof sender) {
        if (count < 12)
            continue;
        query[2] = static_cast<unsigned char>(0x80 | (query[2] & 0x79)); // a response
        query[3] = 0x85;                                                 // RA, REFUSED
        ::sendto(descriptor_, query, static_cast<size_t>(count), 0,
                 reinterpret_cast<sockaddr*>(&sender), length);
        ++queries_;
    }
    return queries_;
}

using namespace platform;

void ToolTest::SetUp() {
    MainWindowTest::SetUp();
    OpenMap("tools", "V1\r\n", "[OPTS]\r\nTIMER=3000\r\nNOCHECK=0\r\n", 640, 400);
    toolOptions.pingCount = 3;
    options.waitTimeout = 400;
    toolOptions.verbose = toolOptions.showHopNames = options.useIcmpLibrary = options.useRawIcmp =
        0;
    toolOptions.echoDataLength = DEFAULT_ECHO_DATA_LENGTH;
    toolOptions.traceMaxHops = DEFAULT_TRACE_MAX_HOPS;
    toolHost[0] = '\0';
    EnableJournal(true);
    ClearJournal();
}

void ToolTest::TearDown() {
    toolOptions.verbose = 0;
    MainWindowTest::TearDown();
}

bool ToolTest::PumpUntil(const std::function<bool()>& done, unsigned seconds) {
    bool expired = false;
    onTestTimer = [&](UINT_PTR) { expired = true; };
    SetTimer(testWindow_, 1, seconds * 1000, nullptr);
    bool reached = done();
    MSG message{};
    while (!reached && !expired && GetMessage(&message, 0, 0, 0) > 0) {
        DispatchMessage(&message);
        reached = done();
    }
    KillTimer(testWindow_, 1);
    onTestTimer = nullptr;
    return reached;
}

bool ToolTest::PumpUntilToolsClosed(unsigned seconds) {
    return PumpUntil(
        [] {
            return lookupTool.window == 0 && pingRun.window == 0 && traceRun.window == 0 &&
                   QueryWindowsClosed() && connectTool.window == 0;
        },
        seconds);
}

ToolRun ToolTest::RunTool(ToolEntry tool, const char* host, const NetworkNamespace* space,
                          const ToolStep& step, const char* picture) {
    ToolRun run;
    QueueDialogHook([&](HWND dialog) {
        auto look = [&] {
            if (run.finished)
                return true;
            run.text = BoxText(dialog, TOOL_RESULTS_EDIT);
            if (step(dialog, run.text)) {
                run.finished = true;
                EXPECT_TRUE(picture == nullptr ||
                            SaveWindowImage(dialog, PicturePath(picture).c_str()));
                PostMessage(dialog, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
            }
            return run.finished;
        };
        if (!PumpUntil(look, 60))
            PostMessage(dialog, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
    });
    std::unique_ptr<EnteredNamespace> inside;
    if (space != nullptr) {
        inside = std::make_unique<EnteredNamespace>(*space);
        EXPECT_TRUE(inside->ok());
    }
    tool(mainWindow, host);
    EXPECT_TRUE(PumpUntilToolsClosed());
    return run;
}

std::string BoxText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    int length = GetWindowTextLength(item);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowText(item, text.data(), length + 1)));
    return text;
}

std::string WithoutTimes(const std::string& text) {
    static const std::regex time("time=(<1|[0-9]+) ms");
    static const std::regex statistics(
        "(min/avg/max|min/max/avg) = (<1|[0-9]+)/(<1|[0-9]+)/(<1|[0-9]+)");
    return std::regex_replace(std::regex_replace(text, time, "time=T ms"), statistics, "$1 = R");
}

/*** networks ***/

static std::string LinkAddress(size_t link, int side, bool ipv6 = false) {
    if (ipv6)
        return "fd31:" + std::to_string(link) + "::" + std::to_string(side);
    return "10.231." + std::to_string(link) + "." + std::to_string(side);
}

// The IPv6 address of `link`'s `side` on `device`, at once usable (no duplicate detection).
static bool AddLinkAddress6(const NetworkNamespace& space, const char* device, size_t link,
                            int side) {
    return space.Ip(
        {"-6", "addr", "add", LinkAddress(link, side, true) + "/64", "dev", device, "nodad"});
}

// Both ends of `link` get their IPv6 addresses.
static bool AddLink6(const NetworkNamespace& left, const NetworkNamespace& right, size_t link) {
    return AddLinkAddress6(left, "right", link, 1) && AddLinkAddress6(right, "left", link, 2);
}

// Link-local addresses without duplicate detection, so that IPv6 neighbours are found at
// once rather than seconds after the links come up.
static bool NoDad(const NetworkNamespace& space) {
    return space.ok() && space.SetSysctl("net.ipv6.conf.default.accept_dad", "0");
}

bool ToolNetwork::Build(int routerCount) {
    client = std::make_unique<NetworkNamespace>("client");
    server = std::make_unique<NetworkNamespace>("server");
    if (!NoDad(*client) || !NoDad(*server))
        return false;
    const NetworkNamespace* left = client.get();
    for (size_t index = 1; index <= static_cast<size_t>(routerCount); ++index) {
        routers.push_back(std::make_unique<NetworkNamespace>("router" + std::to_string(index)));
        const NetworkNamespace& router = *routers.back();
        if (!NoDad(router) ||
            !ConnectNamespaces(*left, "right", LinkAddress(index, 1) + "/24", router, "left",
                               LinkAddress(index, 2) + "/24") ||
            !AddLink6(*left, router, index) || !router.SetSysctl("net.ipv4.ip_forward", "1") ||
            !router.SetSysctl("net.ipv4.icmp_ratemask", "0") ||
            !router.SetSysctl("net.ipv6.conf.all.forwarding", "1") ||
            !router.SetSysctl("net.ipv6.icmp.ratelimit", "0") ||
            (index > 1 && !left->Ip({"route", "add", "default", "via", LinkAddress(index, 2)})) ||
            (index > 1 &&
             !left->Ip({"-6", "route", "add", "default", "via", LinkAddress(index, 2, true)})) ||
            (index > 1 &&
             !router.Ip({"route", "add", "10.231.1.0/24", "via", LinkAddress(index, 1)})) ||
            (index > 1 &&
             !router.Ip({"-6", "route", "add", "fd31:1::/64", "via", LinkAddress(index, 1, true)})))
            return false;
        left = &router;
    }
    size_t last = routers.size() + 1;
    return ConnectNamespaces(*left, "right", LinkAddress(last, 1) + "/24", *server, "left",
                             LinkAddress(last, 2) + "/24") &&
           AddLink6(*left, *server, last) &&
           client->Ip({"route", "add", "default", "via", LinkAddress(1, 2)}) &&
           client->Ip({"-6", "route", "add", "default", "via", LinkAddress(1, 2, true)}) &&
           server->Ip({"route", "add", "default", "via", LinkAddress(last, 1)}) &&
           server->Ip({"-6", "route", "add", "default", "via", LinkAddress(last, 1, true)}) &&
           (routers.empty() ||
            (routers.back()->Ip({"route", "add", "unreachable", "10.233.0.0/16"}) &&
             routers.back()->Ip({"-6", "route", "add", "unreachable", "fd33::/16"})));
}

std::string ToolNetwork::ServerAddress(bool ipv6) const {
    return LinkAddress(routers.size() + 1, 2, ipv6);
}

std::vector<std::string> ToolNetwork::RouterAddresses(bool ipv6) const {
    std::vector<std::string> addresses;
    for (size_t index = 1; index <= routers.size(); ++index)
        addresses.push_back(LinkAddress(index, 2, ipv6));
    return addresses;
}

bool ToolNetwork::SilenceServer(bool silent) const {
    return server->SetSysctl("net.ipv4.icmp_echo_ignore_all", silent ? "1" : "0") &&
           server->SetSysctl("net.ipv6.icmp.echo_ignore_all", silent ? "1" : "0");
}
