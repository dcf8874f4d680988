// The tool tests' fixture and the message loop that runs until a dialog has reached a
// state. The servers and the private hosts file, which need the system's socket headers,
// are in tools_network.cpp.
#include "tools_world.h"

#include "model/settings.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/winsock.h"
#include "resources/resources.h"
#include "shell/startup.h"

#include <cstdlib>

using namespace platform;

namespace {

constexpr UINT_PTR BOUND_TIMER = 1;
constexpr UINT BOUND_MS = 10000;

HWND boundWindow = 0;

LRESULT BoundProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProc(window, message, wParam, lParam);
}

} // namespace

void ToolsTest::SetUp() {
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    FlushProfileCache();
    ReadProgramOptions();
    RegisterResources();
    static bool registered = false;
    if (!registered) {
        WNDCLASS boundClass{};
        boundClass.lpfnWndProc = BoundProcedure;
        boundClass.lpszClassName = "TOOLSTESTBOUND";
        ASSERT_TRUE(RegisterClass(&boundClass));
        registered = true;
    }
    boundWindow =
        CreateWindow("TOOLSTESTBOUND", "bound", WS_OVERLAPPED, 0, 0, 10, 10, 0, 0, nullptr);
    ASSERT_NE(boundWindow, 0u);
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    WSASetBlockingHook(BlockingHook);
}

void ToolsTest::TearDown() {
    DestroyWindow(boundWindow);
    boundWindow = 0;
    MSG message;
    while (PeekMessage(&message, 0, 0, 0, PM_REMOVE))
        DispatchMessage(&message);
    WSAUnhookBlockingHook();
    WSACleanup();
}

bool PumpUntil(const std::function<bool()>& done) {
    SetTimer(boundWindow, BOUND_TIMER, BOUND_MS, nullptr);
    bool reached = done();
    while (!reached) {
        MSG message{};
        if (GetMessage(&message, 0, 0, 0) <= 0)
            break;
        if (message.hwnd == boundWindow && message.message == WM_TIMER &&
            message.wParam == BOUND_TIMER)
            break;
        DispatchMessage(&message);
        reached = done();
    }
    KillTimer(boundWindow, BOUND_TIMER);
    return reached;
}

std::string ItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    int length = GetWindowTextLength(item);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    GetWindowText(item, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string PicturePath(const char* name) {
    const char* directory = getenv("TARNMAP_TEST_OUTPUT");
    return std::string(directory != nullptr ? directory : ".") + "/" + name;
}
