// The tool tests' main window, watcher, reference programs and networks.
#include "tool_world.h"

#include "icmp/rawecho.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/resources.h"
#include "shell/filecmds.h"
#include "shell/mainwnd.h"
#include "shell/startup.h"
#include "tools/ping.h"
#include "tools/trace.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <regex>
#include <unistd.h>

using namespace platform;

/*** the main window ***/

void ToolTest::SetUp() {
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    FlushProfileCache();
    WriteWholeFile(dir_.file("office.db"),
                   ReadWholeFile(std::string(TARNMAP_SOURCE_DIR) + "/examples/office.db"));
    WriteWholeFile(dir_.file("office.INI"), "[OPTS]\r\nTIMER=3000\r\nNOCHECK=0\r\n");
    RegisterResources();
    ConnectMapReports();
    WSADATA stack;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &stack), 0);
    WSASetBlockingHook(BlockingHook);
    static bool classes = RegisterWindowClasses();
    ASSERT_TRUE(classes);
    CopyField(mapPath, sizeof mapPath, "office.db");
    HWND window = CreateWindow(MAIN_CLASS, "Tarnmap", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 1, 1,
                               640, 400, 0, 0, nullptr);
    ASSERT_NE(window, 0u);
    ASSERT_EQ(window, mainWindow);
    hostCount = 0; // a poll cycle, should one start, checks nothing
    countdown = 3000;
    pingCount = 3;
    libraryTimeout = 500;
    waitTimeout = 400;
    verboseOutput = 0;
    showHopNames = 0;
    echoDataLength = DEFAULT_ECHO_DATA_LENGTH;
    traceMaxHops = DEFAULT_TRACE_MAX_HOPS;
    useIcmpLibrary = 0;
    useRawIcmp = 0;
}

void ToolTest::TearDown() {
    if (IsWindow(mainWindow))
        DestroyWindow(mainWindow);
    MSG message;
    while (PeekMessage(&message, 0, 0, 0, PM_REMOVE)) {
    }
    verboseOutput = 0;
    WSAUnhookBlockingHook();
    WSACleanup();
}

/*** the watcher ***/

namespace {

constexpr UINT_PTR kWatchTimer = 1;
constexpr int kWatchPeriod = 50;
constexpr int kGiveUpLooks = 60 * 1000 / kWatchPeriod;

struct Watch {
    HWND dialog = 0;
    ToolStep step;
    const char* picture = nullptr;
    ToolRun* run = nullptr;
    int looks = 0;
    bool busy = false; // a step that dispatches messages must not see itself again
    bool ended = false;
};
Watch watch;

std::string ResultsOf(HWND dialog) {
    HWND box = GetDlgItem(dialog, TOOL_RESULTS_EDIT);
    int length = GetWindowTextLength(box);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    int copied = GetWindowText(box, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

void EndWatchedDialog(bool finished) {
    watch.ended = true;
    watch.run->text = ResultsOf(watch.dialog);
    watch.run->finished = finished;
    if (finished && watch.picture != nullptr) {
        std::string path = std::string(std::getenv("TARNMAP_TEST_OUTPUT")) + "/" + watch.picture;
        EXPECT_TRUE(SaveWindowImage(watch.dialog, path.c_str())) << path;
    }
    PostMessage(watch.dialog, WM_COMMAND, MAKEWPARAM(TOOL_EXIT_BUTTON, BN_CLICKED), 0);
}

LRESULT WatcherProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_TIMER || wParam != kWatchTimer)
        return DefWindowProc(window, message, wParam, lParam);
    if (watch.busy || watch.ended || watch.dialog == 0 || !IsWindow(watch.dialog))
        return 0;
    watch.busy = true;
    if (++watch.looks > kGiveUpLooks)
        EndWatchedDialog(false);
    else if (watch.step(watch.dialog, ResultsOf(watch.dialog)))
        EndWatchedDialog(true);
    watch.busy = false;
    return 0;
}

} // namespace

ToolRun RunTool(ToolEntry tool, const char* host, const NetworkNamespace* space,
                const ToolStep& step, const char* picture) {
    static bool registered = false;
    if (!registered) {
        WNDCLASS watcherClass{};
        watcherClass.lpfnWndProc = WatcherProcedure;
        watcherClass.lpszClassName = "TOOLTESTWATCH";
        registered = RegisterClass(&watcherClass);
    }
    ToolRun run;
    watch = Watch{};
    watch.step = step;
    watch.picture = picture;
    watch.run = &run;
    HWND watcher = CreateWindow("TOOLTESTWATCH", "", WS_OVERLAPPED, 0, 0, 10, 10, 0, 0, nullptr);
    EXPECT_NE(watcher, 0u);
    QueueDialogHook([](HWND dialog) { watch.dialog = dialog; });
    SetTimer(watcher, kWatchTimer, kWatchPeriod, nullptr);
    {
        std::unique_ptr<EnteredNamespace> inside;
        if (space != nullptr) {
            inside = std::make_unique<EnteredNamespace>(*space);
            EXPECT_TRUE(inside->ok());
        }
        run.result = tool(mainWindow, host);
    }
    KillTimer(watcher, kWatchTimer);
    DestroyWindow(watcher);
    watch = Watch{};
    return run;
}

/*** reading the results ***/

std::string WithoutTimes(const std::string& text) {
    static const std::regex time("time=[0-9]+ ms");
    static const std::regex statistics("(min/avg/max|min/max/avg) = [0-9]+/[0-9]+/[0-9]+");
    return std::regex_replace(std::regex_replace(text, time, "time=T ms"), statistics, "$1 = R");
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            if (start < text.size())
                lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

int OpenSocketCount() {
    DIR* directory = opendir("/proc/self/fd");
    if (directory == nullptr)
        return -1;
    int count = 0;
    while (dirent* entry = readdir(directory)) {
        std::string path = std::string("/proc/self/fd/") + entry->d_name;
        char target[256] = {};
        ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length > 0 &&
            std::string(target, static_cast<std::size_t>(length)).rfind("socket:", 0) == 0)
            ++count;
    }
    closedir(directory);
    return count;
}

/*** reference programs ***/

namespace {

std::string RunCapturing(const NetworkNamespace& space, const std::string& command) {
    std::string line = "ip netns exec " + space.name() + " " + command + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (pipe == nullptr)
        return "";
    std::string output;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr)
        output += buffer;
    pclose(pipe);
    return output;
}

} // namespace

ReferencePing RunReferencePing(const NetworkNamespace& space, const char* target, int count) {
    ReferencePing reference;
    reference.output = RunCapturing(space, "ping -n -c " + std::to_string(count) + " -i 0.2 -W 1 " +
                                               std::string(target));
    static const std::regex summary("([0-9]+) packets transmitted, ([0-9]+) received");
    std::smatch match;
    if (std::regex_search(reference.output, match, summary)) {
        reference.transmitted = std::stoi(match[1]);
        reference.received = std::stoi(match[2]);
    }
    return reference;
}

std::vector<std::string> RunReferenceTraceroute(const NetworkNamespace& space, const char* target,
                                                int maxHops) {
    std::string output = RunCapturing(space, "traceroute -I -n -q 1 -w 1 -m " +
                                                 std::to_string(maxHops) + " " + target);
    static const std::regex hop("^ *[0-9]+ +([0-9.]+|\\*)");
    std::vector<std::string> hops;
    for (const std::string& line : Lines(std::regex_replace(output, std::regex("\n"), "\r\n"))) {
        std::smatch match;
        if (std::regex_search(line, match, hop))
            hops.push_back(match[1]);
    }
    return hops;
}

/*** networks ***/

namespace {

std::string LinkAddress(int link, int side) {
    return "10.231." + std::to_string(link) + "." + std::to_string(side);
}

} // namespace

bool ToolNetwork::Build(int routerCount) {
    client = std::make_unique<NetworkNamespace>("client");
    server = std::make_unique<NetworkNamespace>("server");
    if (!client->ok() || !server->ok())
        return false;
    const NetworkNamespace* left = client.get();
    for (int index = 1; index <= routerCount; ++index) {
        routers.push_back(std::make_unique<NetworkNamespace>("router" + std::to_string(index)));
        const NetworkNamespace& router = *routers.back();
        if (!router.ok() ||
            !ConnectNamespaces(*left, "right", LinkAddress(index, 1) + "/24", router, "left",
                               LinkAddress(index, 2) + "/24") ||
            !router.SetSysctl("net.ipv4.ip_forward", "1") ||
            !router.SetSysctl("net.ipv4.icmp_ratemask", "0"))
            return false;
        left = &router;
    }
    int last = routerCount + 1;
    if (!ConnectNamespaces(*left, "right", LinkAddress(last, 1) + "/24", *server, "left",
                           LinkAddress(last, 2) + "/24") ||
        !client->Ip({"route", "add", "default", "via", LinkAddress(1, 2)}) ||
        !server->Ip({"route", "add", "default", "via", LinkAddress(last, 1)}))
        return false;
    for (int index = 1; index <= routerCount; ++index) {
        const NetworkNamespace& router = *routers[static_cast<std::size_t>(index - 1)];
        if (index > 1 &&
            !router.Ip({"route", "add", "10.231.1.0/24", "via", LinkAddress(index, 1)}))
            return false;
        if (index < routerCount &&
            !router.Ip({"route", "add", "default", "via", LinkAddress(index + 1, 2)}))
            return false;
        if (index == routerCount && !router.Ip({"route", "add", "unreachable", "10.233.0.0/16"}))
            return false;
    }
    return true;
}

std::string ToolNetwork::ServerAddress() const {
    return LinkAddress(static_cast<int>(routers.size()) + 1, 2);
}

std::vector<std::string> ToolNetwork::RouterAddresses() const {
    std::vector<std::string> addresses;
    for (std::size_t index = 1; index <= routers.size(); ++index)
        addresses.push_back(LinkAddress(static_cast<int>(index), 2));
    return addresses;
}

bool ToolNetwork::SilenceServer(bool silent) const {
    return server->SetSysctl("net.ipv4.icmp_echo_ignore_all", silent ? "1" : "0");
}
