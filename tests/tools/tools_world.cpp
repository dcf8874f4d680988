// The tool tests' main window, the watcher and the message loop that drive tool dialogs,
// reading their results, and the networks. The servers and the private hosts file, which
// need the system's socket headers, are in tools_network.cpp.
#include "tools_world.h"

#include "icmp/rawecho.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "platform/winsock.h"
#include "resources/resources.h"
#include "shell/filecmds.h"
#include "shell/mainwnd.h"
#include "shell/startup.h"
#include "tools/lookup.h"
#include "tools/ping.h"
#include "tools/shared.h"
#include "tools/trace.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>

using namespace platform;

namespace {

constexpr UINT_PTR kBoundTimer = 1;
HWND helper = 0; // PumpUntil's timer
std::function<void()> lookDuringWaits;

bool LookingHook() {
    if (lookDuringWaits)
        lookDuringWaits();
    return BlockingHook();
}

} // namespace

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
    static bool classes = [] {
        WNDCLASS helperClass{};
        helperClass.lpfnWndProc = DefWindowProc;
        helperClass.lpszClassName = "TOOLTESTHELPER";
        return RegisterWindowClasses() && RegisterClass(&helperClass);
    }();
    ASSERT_TRUE(classes);
    helper = CreateWindow("TOOLTESTHELPER", "", WS_OVERLAPPED, 0, 0, 10, 10, 0, 0, nullptr);
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
    toolHost[0] = '\0';
    EnableJournal(true);
    ClearJournal();
}

void ToolTest::TearDown() {
    EnableJournal(false);
    if (IsWindow(mainWindow))
        DestroyWindow(mainWindow);
    DestroyWindow(helper);
    lookDuringWaits = nullptr;
    MSG message;
    while (PeekMessage(&message, 0, 0, 0, PM_REMOVE))
        DispatchMessage(&message);
    verboseOutput = 0;
    WSAUnhookBlockingHook();
    WSACleanup();
}

/*** driving dialogs ***/

ToolRun RunTool(ToolEntry tool, const char* host, const NetworkNamespace* space,
                const ToolStep& step, const char* picture) {
    ToolRun run;
    QueueDialogHook([&](HWND dialog) {
        bool busy = false; // a step that dispatches messages must not see itself again
        auto look = [&] {
            if (busy || run.finished)
                return run.finished;
            busy = true;
            run.text = ItemText(dialog, TOOL_RESULTS_EDIT);
            if (step(dialog, run.text)) {
                run.finished = true;
                EXPECT_TRUE(picture == nullptr ||
                            SaveWindowImage(dialog, PicturePath(picture).c_str()));
                PostMessage(dialog, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
            }
            busy = false;
            return run.finished;
        };
        LookDuringWaits(look);
        if (!PumpUntil(look))
            PostMessage(dialog, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
        LookDuringWaits(nullptr);
    });
    std::unique_ptr<EnteredNamespace> inside;
    if (space != nullptr) {
        inside = std::make_unique<EnteredNamespace>(*space);
        EXPECT_TRUE(inside->ok());
    }
    tool(mainWindow, host);
    return run;
}

void LookDuringWaits(std::function<void()> look) {
    lookDuringWaits = std::move(look);
    WSASetBlockingHook(lookDuringWaits ? LookingHook : BlockingHook);
}

bool PumpUntil(const std::function<bool()>& done) {
    SetTimer(helper, kBoundTimer, 20000, nullptr);
    bool reached = done();
    MSG message{};
    while (!reached && GetMessage(&message, 0, 0, 0) > 0) {
        if (message.hwnd == helper && message.message == WM_TIMER && message.wParam == kBoundTimer)
            break;
        DispatchMessage(&message);
        reached = done();
    }
    KillTimer(helper, kBoundTimer);
    return reached;
}

std::string ItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    int length = GetWindowTextLength(item);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowText(item, text.data(), length + 1)));
    return text;
}

std::string PicturePath(const char* name) {
    const char* directory = getenv("TARNMAP_TEST_OUTPUT");
    return std::string(directory != nullptr ? directory : ".") + "/" + name;
}

DialogLayout ResizedLayout(const std::function<void()>& open, const std::vector<int>& ids,
                           const char* picture) {
    DialogLayout layout;
    QueueDialogHook([&](HWND dialog) {
        auto measure = [&](std::map<int, RECT>& rects) {
            GetClientRect(dialog, &rects[0]);
            for (int id : ids)
                EXPECT_TRUE(GetControlRect(dialog, id, &rects[id])) << id;
        };
        measure(layout.before);
        RECT outer;
        GetWindowRect(dialog, &outer);
        MoveWindow(dialog, outer.left, outer.top, outer.right - outer.left + 150,
                   outer.bottom - outer.top + 90, true);
        measure(layout.after);
        SaveWindowImage(dialog, PicturePath(picture).c_str());
        PostMessage(dialog, WM_COMMAND, 101, 0);
    });
    open();
    return layout;
}

/*** reading results ***/

std::string WithoutTimes(const std::string& text) {
    static const std::regex time("time=[0-9]+ ms");
    static const std::regex statistics("(min/avg/max|min/max/avg) = [0-9]+/[0-9]+/[0-9]+");
    return std::regex_replace(std::regex_replace(text, time, "time=T ms"), statistics, "$1 = R");
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find("\r\n", start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

int OpenSocketCount() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        count += std::filesystem::read_symlink(entry.path(), error).string().starts_with("socket:");
    }
    return count;
}

/*** networks ***/

namespace {

std::string LinkAddress(size_t link, int side) {
    return "10.231." + std::to_string(link) + "." + std::to_string(side);
}

} // namespace

bool ToolNetwork::Build(int routerCount) {
    client = std::make_unique<NetworkNamespace>("client");
    server = std::make_unique<NetworkNamespace>("server");
    if (!client->ok() || !server->ok())
        return false;
    const NetworkNamespace* left = client.get();
    for (size_t index = 1; index <= static_cast<size_t>(routerCount); ++index) {
        routers.push_back(std::make_unique<NetworkNamespace>("router" + std::to_string(index)));
        const NetworkNamespace& router = *routers.back();
        if (!router.ok() ||
            !ConnectNamespaces(*left, "right", LinkAddress(index, 1) + "/24", router, "left",
                               LinkAddress(index, 2) + "/24") ||
            !router.SetSysctl("net.ipv4.ip_forward", "1") ||
            !router.SetSysctl("net.ipv4.icmp_ratemask", "0") ||
            (index > 1 && !left->Ip({"route", "add", "default", "via", LinkAddress(index, 2)})) ||
            (index > 1 &&
             !router.Ip({"route", "add", "10.231.1.0/24", "via", LinkAddress(index, 1)})))
            return false;
        left = &router;
    }
    size_t last = routers.size() + 1;
    return ConnectNamespaces(*left, "right", LinkAddress(last, 1) + "/24", *server, "left",
                             LinkAddress(last, 2) + "/24") &&
           client->Ip({"route", "add", "default", "via", LinkAddress(1, 2)}) &&
           server->Ip({"route", "add", "default", "via", LinkAddress(last, 1)}) &&
           (routers.empty() ||
            routers.back()->Ip({"route", "add", "unreachable", "10.233.0.0/16"}));
}

std::string ToolNetwork::ServerAddress() const {
    return LinkAddress(routers.size() + 1, 2);
}

std::vector<std::string> ToolNetwork::RouterAddresses() const {
    std::vector<std::string> addresses;
    for (size_t index = 1; index <= routers.size(); ++index)
        addresses.push_back(LinkAddress(index, 2));
    return addresses;
}

bool ToolNetwork::SilenceServer(bool silent) const {
    return server->SetSysctl("net.ipv4.icmp_echo_ignore_all", silent ? "1" : "0");
}
