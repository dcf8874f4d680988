// The echo tests' main window, results box, blocking hook and namespace networks.
#include "echo_world.h"

#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/winsock.h"

using namespace platform;

int otherTimerTicks = 0;
std::function<void(UINT_PTR id)> otherTimerAction;

namespace {

// The main window's part in a wait: its WAIT timer ends the blocking call in progress.
LRESULT MainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        if (wParam == WAIT_TIMER_ID) {
            KillTimer(window, WAIT_TIMER_ID);
            if (WSAIsBlocking())
                WSACancelBlockingCall();
        } else {
            ++otherTimerTicks;
            if (otherTimerAction)
                otherTimerAction(wParam);
        }
        return 0;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

// The program's hook: one queued message per call, so timers are served during a wait.
bool DispatchOneMessage() {
    MSG message{};
    if (!PeekMessage(&message, 0, 0, 0, PM_REMOVE))
        return false;
    DispatchMessage(&message);
    return true;
}

void DrainQueue() {
    MSG message{};
    while (PeekMessage(&message, 0, 0, 0, PM_REMOVE))
        DispatchMessage(&message);
}

} // namespace

void EchoTest::SetUp() {
    static bool registered = false;
    if (!registered) {
        WNDCLASS mainClass{};
        mainClass.lpfnWndProc = MainProcedure;
        mainClass.lpszClassName = "ECHOTESTMAIN";
        ASSERT_TRUE(RegisterClass(&mainClass));
        registered = true;
    }
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    WSASetBlockingHook(DispatchOneMessage);
    mainWindow = CreateWindow("ECHOTESTMAIN", "echo test", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, 0,
                              0, nullptr);
    ASSERT_NE(mainWindow, 0u);
    box = CreateWindow("EDIT", "",
                       WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_HSCROLL,
                       0, 0, 380, 280, mainWindow, 1016, nullptr);
    ASSERT_NE(box, 0u);
    otherTimerTicks = 0;
    otherTimerAction = nullptr;
    toolOutputBox = box;
    timeoutWindow = mainWindow;
    pingIdentifierWindow = mainWindow;
    traceIdentifierWindow = box;
    verboseOutput = 1;
    showHopNames = 0;
    waitTimeout = 400;
    echoDataLength = DEFAULT_ECHO_DATA_LENGTH;
    pingSent = pingReceived = 0;
    rttMin = 99999999;
    rttMax = rttSum = 0;
}

void EchoTest::TearDown() {
    otherTimerAction = nullptr;
    toolOutputBox = 0;
    timeoutWindow = 0;
    verboseOutput = 0;
    DestroyWindow(mainWindow);
    DrainQueue();
    WSAUnhookBlockingHook();
    EXPECT_EQ(WSACleanup(), 0);
}

std::string EchoTest::BoxText() const {
    int length = GetWindowTextLength(box);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    int copied = GetWindowText(box, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

void EchoTest::ClearBox() const {
    SetWindowText(box, "");
}

sockaddr_in Destination(const char* dotted) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(dotted);
    return address;
}

bool EchoNetwork::BuildDirect(bool silentServer) {
    client = std::make_unique<NetworkNamespace>("client");
    server = std::make_unique<NetworkNamespace>("server");
    return client->ok() && server->ok() &&
           ConnectNamespaces(*client, "c0", "10.221.1.1/24", *server, "s0", "10.221.1.2/24") &&
           server->SetSysctl("net.ipv4.icmp_echo_ignore_all", silentServer ? "1" : "0");
}

bool EchoNetwork::BuildRouted() {
    client = std::make_unique<NetworkNamespace>("client");
    router = std::make_unique<NetworkNamespace>("router");
    server = std::make_unique<NetworkNamespace>("server");
    return client->ok() && router->ok() && server->ok() &&
           ConnectNamespaces(*client, "c0", "10.221.1.1/24", *router, "r0", "10.221.1.2/24") &&
           ConnectNamespaces(*router, "r1", "10.221.2.1/24", *server, "s0", "10.221.2.2/24") &&
           client->Ip({"route", "add", "default", "via", "10.221.1.2"}) &&
           server->Ip({"route", "add", "default", "via", "10.221.2.1"}) &&
           router->Ip({"route", "add", "unreachable", "10.223.0.0/16"}) &&
           router->SetSysctl("net.ipv4.ip_forward", "1") &&
           router->SetSysctl("net.ipv4.icmp_ratemask", "0");
}
