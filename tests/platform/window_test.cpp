// Windows driven by messages: queue order, synchronous sends, the quit message, timers and
// their coalescing, closing and destruction, mouse and key messages made from toolkit
// input, sizes, painting through the window's picture, handles and window data.
#include "platform/gdi.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using namespace platform;

// The test class's brush lives as long as the class, to the end of the program.
platform::HBRUSH testClassBrush = nullptr;

namespace {

struct Seen {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

std::vector<Seen> seen;
bool keepOpenOnClose = false;
COLORREF paintColor = RGB(255, 0, 0);
RECT lastPaintArea{};
int paintCount = 0;
int createWidth = 0; // what WM_CREATE's CREATESTRUCT said
std::string createClass;

LRESULT RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    seen.push_back({window, message, wParam, lParam});
    if (message == WM_CREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCT*>(lParam);
        createWidth = create->cx;
        createClass = create->lpszClass;
        return 0;
    }
    if (message == WM_USER + 3)
        return static_cast<LRESULT>(wParam * 2);
    if (message == WM_CLOSE && keepOpenOnClose)
        return 0;
    if (message == WM_PAINT) {
        ++paintCount;
        PAINTSTRUCT paint{};
        HDC dc = BeginPaint(window, &paint);
        lastPaintArea = paint.rcPaint;
        // Paints everything: the clip must keep it to the area that was waiting.
        RECT all{0, 0, 1000, 1000};
        HBRUSH brush = CreateSolidBrush(paintColor);
        FillRect(dc, &all, brush);
        DeleteObject(brush);
        TextOut(dc, 4, 4, "Tarnmap", 7);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        static bool registered = false;
        if (!registered) {
            registered = true;
            WNDCLASS plain{};
            plain.style = CS_DBLCLKS;
            plain.lpfnWndProc = RecordingProcedure;
            plain.cbWndExtra = 4;
            testClassBrush = CreateSolidBrush(RGB(0, 0, 255));
            plain.hbrBackground = testClassBrush;
            plain.lpszClassName = "TESTWINDOW";
            ASSERT_TRUE(RegisterClass(&plain));
            EXPECT_FALSE(RegisterClass(&plain)) << "a class name is registered once";
            plain.style = 0;
            plain.lpszClassName = "TESTNODBLCLK";
            ASSERT_TRUE(RegisterClass(&plain));
        }
        seen.clear();
        keepOpenOnClose = false;
        paintCount = 0;
        paintColor = RGB(255, 0, 0);
        ResetTestingSeams();
    }
    void TearDown() override {
        for (HWND window : made)
            DestroyWindow(window);
        MSG message{};
        while (PeekMessage(&message, 0, 0, 0, PM_REMOVE))
            DispatchMessage(&message);
    }
    HWND Make(DWORD style, int x, int y, int width, int height, HWND parent = 0, HMENU id = 0,
              const char* className = "TESTWINDOW") {
        made.push_back(
            CreateWindow(className, "test", style, x, y, width, height, parent, id, nullptr));
        return made.back();
    }
    // What `window` was told since `seen` was cleared: messages with their wParam.
    static std::vector<std::pair<UINT, WPARAM>> Told(HWND window) {
        std::vector<std::pair<UINT, WPARAM>> result;
        for (const Seen& each : seen)
            if (each.window == window)
                result.emplace_back(each.message, each.wParam);
        return result;
    }
    std::vector<HWND> made;
};

using Messages = std::vector<std::pair<UINT, WPARAM>>;

TEST_F(WindowTest, CreationSendsCreateSizeAndMoveAndHandlesAndWindowDataBehave) {
    HWND window = Make(WS_OVERLAPPEDWINDOW, 10, 20, 300, 200);
    ASSERT_NE(window, 0u);
    EXPECT_EQ(Told(window), (Messages{{WM_CREATE, 0}, {WM_SIZE, SIZE_RESTORED}, {WM_MOVE, 0}}));
    EXPECT_EQ(createWidth, 300);
    EXPECT_EQ(createClass, "TESTWINDOW");
    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(seen[1].lParam, MAKELPARAM(client.right, client.bottom));
    EXPECT_FALSE(IsWindowVisible(window)) << "no WS_VISIBLE, not shown";

    EXPECT_EQ(CreateWindow("NOSUCHCLASS", "x", 0, 0, 0, 10, 10, 0, 0, nullptr), 0u);
    EXPECT_EQ(CreateWindow("TESTWINDOW", "x", WS_CHILD, 0, 0, 10, 10, 0xDEAD, 0, nullptr), 0u)
        << "a child needs a live parent";

    // Handles vary in their low word; window data keeps within its size.
    std::set<unsigned> lowWords;
    for (int i = 0; i < 8; ++i)
        lowWords.insert(Make(WS_OVERLAPPEDWINDOW, 0, 0, 10, 10) & 0xFFFFu);
    EXPECT_EQ(lowWords.size(), 8u);
    window = made.back();
    ASSERT_TRUE(SetWindowText(window, "Tarnmap - office.db"));
    char buffer[8];
    EXPECT_EQ(GetWindowText(window, buffer, sizeof buffer), 7);
    EXPECT_STREQ(buffer, "Tarnmap");
    EXPECT_EQ(GetWindowTextLength(window), 19);
    EXPECT_EQ(SetWindowWord(window, 0, 1234), 0);
    EXPECT_EQ(GetWindowWord(window, 0), 1234);
    EXPECT_EQ(SetWindowWord(window, 3, 1), 0) << "past the class's 4 bytes";
    EXPECT_EQ(GetWindowWord(window, 3), 0);
    EXPECT_EQ(GET_X_LPARAM(MAKELPARAM(-3, 7)), -3);
    EXPECT_EQ(GET_Y_LPARAM(MAKELPARAM(-3, -7)), -7);
}

TEST_F(WindowTest, PostedMessagesKeepTheirOrderQuitComesLastAndTimersNeverPileUp) {
    HWND window = Make(WS_OVERLAPPEDWINDOW, 0, 0, 100, 100);
    seen.clear();
    EXPECT_TRUE(PostMessage(window, WM_USER + 1, 11, 0));
    PostQuitMessage(7);
    EXPECT_TRUE(PostMessage(window, WM_USER + 2, 22, 0));
    EXPECT_EQ(SendMessage(window, WM_USER + 3, 21, 0), 42);
    EXPECT_EQ(Told(window), (Messages{{WM_USER + 3, 21}})) << "posts wait for the loop";

    MSG message{};
    ASSERT_TRUE(PeekMessage(&message, 0, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.message, WM_USER + 1);
    ASSERT_TRUE(PeekMessage(&message, 0, WM_USER + 2, WM_USER + 2, PM_REMOVE))
        << "a range filter skips other messages";
    EXPECT_EQ(message.wParam, 22u);
    ASSERT_EQ(GetMessage(&message, 0, 0, 0), 1);
    DispatchMessage(&message);
    EXPECT_EQ(Told(window).back(), std::make_pair(UINT{WM_USER + 1}, WPARAM{11}));
    ASSERT_EQ(GetMessage(&message, 0, 0, 0), 0) << "quit once the queue is empty";
    EXPECT_EQ(message.message, WM_QUIT);
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_FALSE(PeekMessage(&message, 0, 0, 0, PM_REMOVE)) << "the quit message is taken once";

    EXPECT_FALSE(PostMessage(0x7FFF1234, WM_USER, 0, 0)) << "no such window";
    EXPECT_EQ(SendMessage(0x7FFF1234, WM_USER + 3, 1, 0), 0);

    // Timers arrive with their id and never pile up.
    ASSERT_EQ(SetTimer(window, 20, 10, nullptr), 20u);
    ASSERT_EQ(GetMessage(&message, 0, 0, 0), 1) << "GetMessage waits for the tick";
    EXPECT_EQ(message.message, WM_TIMER);
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(message.wParam, 20u);

    // Many periods pass while nobody takes the tick: one WM_TIMER waits, not several.
    for (int round = 0; round < 4; ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        PeekMessage(&message, 0, WM_USER, WM_USER, PM_NOREMOVE);
    }
    PostMessage(window, WM_USER + 9, 0, 0); // marks the end of what the sleeps produced
    int ticks = 0;
    while (PeekMessage(&message, 0, 0, 0, PM_REMOVE) && message.message != WM_USER + 9)
        ticks += message.message == WM_TIMER ? 1 : 0;
    EXPECT_EQ(ticks, 1);

    // A stopped timer's waiting tick is withdrawn.
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    PeekMessage(&message, 0, WM_USER, WM_USER, PM_NOREMOVE);
    ASSERT_TRUE(PeekMessage(&message, window, WM_TIMER, WM_TIMER, PM_NOREMOVE));
    EXPECT_TRUE(KillTimer(window, 20));
    EXPECT_FALSE(PeekMessage(&message, window, WM_TIMER, WM_TIMER, PM_REMOVE));
    EXPECT_FALSE(KillTimer(window, 20));
    EXPECT_EQ(SetTimer(0x7FFF1234, 1, 10, nullptr), 0u);
}

TEST_F(WindowTest, ClosingAndDestroyingEndTimersMessagesAndChildren) {
    HWND top = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 200);
    HWND child = Make(WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, top, 1);
    HWND grandchild = Make(WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, child, 2);
    SetTimer(top, 1, 10, nullptr);
    PostMessage(child, WM_USER + 1, 0, 0);
    keepOpenOnClose = true;
    SimulateCloseBox(top);
    EXPECT_TRUE(IsWindow(top)) << "the procedure kept it open";
    keepOpenOnClose = false;
    seen.clear();
    SimulateCloseBox(top); // closing destroys by default
    std::vector<HWND> destroyed;
    for (const Seen& each : seen)
        if (each.message == WM_DESTROY)
            destroyed.push_back(each.window);
    EXPECT_EQ(destroyed, (std::vector<HWND>{top, child, grandchild})) << "parent first";
    EXPECT_EQ(seen[0].message, WM_CLOSE);
    EXPECT_FALSE(IsWindow(top));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(IsWindow(grandchild));
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
    MSG message{};
    EXPECT_FALSE(PeekMessage(&message, 0, 0, 0, PM_REMOVE)) << "nothing left for the dead";
    EXPECT_FALSE(DestroyWindow(top));
}

TEST_F(WindowTest, MouseAndKeysArriveAsMessagesWithTheirFlags) {
    HWND top = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400, 300);
    HWND left = Make(WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, top, 1);
    HWND right = Make(WS_CHILD | WS_VISIBLE, 100, 0, 50, 50, top, 2);
    HWND plain = Make(WS_CHILD | WS_VISIBLE, 200, 0, 50, 50, top, 3, "TESTNODBLCLK");
    seen.clear();
    SimulateMouse(left, WM_LBUTTONDOWN, 30, 40, MK_LBUTTON | MK_SHIFT);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(Told(left), (Messages{{WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT}}));
    EXPECT_EQ(seen[0].lParam, MAKELPARAM(30, 40));
    SimulateMouse(left, WM_RBUTTONUP, 5, 6, MK_CONTROL);
    EXPECT_EQ(Told(left).back(), std::make_pair(UINT{WM_RBUTTONUP}, WPARAM{MK_CONTROL}));

    // A double click is one only for a class with CS_DBLCLKS.
    SimulateMouse(left, WM_LBUTTONDBLCLK, 1, 1, MK_LBUTTON);
    EXPECT_EQ(Told(left).back().first, WM_LBUTTONDBLCLK);
    SimulateMouse(plain, WM_LBUTTONDBLCLK, 1, 1, MK_LBUTTON);
    EXPECT_EQ(Told(plain), (Messages{{WM_LBUTTONDOWN, MK_LBUTTON}}));

    // With the capture, the mouse over `left` reaches `right` in right's coordinates.
    EXPECT_EQ(SetCapture(right), 0u);
    EXPECT_EQ(GetCapture(), right);
    SimulateMouse(left, WM_MOUSEMOVE, 10, 5, 0);
    EXPECT_EQ(seen.back().window, right);
    EXPECT_EQ(seen.back().message, WM_MOUSEMOVE);
    EXPECT_EQ(GET_X_LPARAM(seen.back().lParam), -90);
    EXPECT_EQ(GET_Y_LPARAM(seen.back().lParam), 5);
    EXPECT_TRUE(ReleaseCapture());
    SimulateMouse(left, WM_MOUSEMOVE, 10, 5, 0);
    EXPECT_EQ(seen.back().window, left);
    SetCapture(right);
    DestroyWindow(right);
    EXPECT_EQ(GetCapture(), 0u) << "a destroyed window holds no capture";

    seen.clear();
    SimulateKey(top, 'Q', 'q');
    SimulateKey(top, VK_ESCAPE, 0);
    EXPECT_EQ(
        Told(top),
        (Messages{{WM_KEYDOWN, 'Q'}, {WM_CHAR, 'q'}, {WM_KEYDOWN, VK_ESCAPE}, {WM_CHAR, 27}}));
}

TEST_F(WindowTest, SizesAndStatesAreToldWithWmSize) {
    HWND top = Make(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200);
    HWND child = Make(WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, top, 1);
    seen.clear();
    ASSERT_TRUE(MoveWindow(child, 5, 6, 200, 100, true));
    EXPECT_EQ(Told(child), (Messages{{WM_SIZE, SIZE_RESTORED}, {WM_MOVE, 0}}));
    EXPECT_EQ(seen[0].lParam, MAKELPARAM(200, 100));
    EXPECT_EQ(seen[1].lParam, MAKELPARAM(5, 6));
    RECT rect{};
    GetClientRect(child, &rect);
    EXPECT_EQ(rect.right, 200);
    EXPECT_EQ(rect.bottom, 100);
    seen.clear();
    MoveWindow(child, 5, 6, 200, 100, true);
    EXPECT_TRUE(Told(child).empty()) << "nothing changed, nothing told";

    ShowWindow(top, SW_MINIMIZE);
    EXPECT_TRUE(IsIconic(top));
    ASSERT_FALSE(Told(top).empty());
    EXPECT_EQ(Told(top)[0], std::make_pair(UINT{WM_SIZE}, WPARAM{SIZE_MINIMIZED}));
    seen.clear();
    ShowWindow(top, SW_RESTORE);
    EXPECT_FALSE(IsIconic(top));
    ASSERT_FALSE(Told(top).empty());
    EXPECT_EQ(Told(top)[0], std::make_pair(UINT{WM_SIZE}, WPARAM{SIZE_RESTORED}));
    EXPECT_EQ(LOWORD(seen[0].lParam), 300);
}

TEST_F(WindowTest, PaintingKeepsToTheWaitingArea) {
    HWND window = Make(WS_OVERLAPPEDWINDOW, 0, 0, 120, 90);
    RECT client{};
    GetClientRect(window, &client);
    ASSERT_TRUE(UpdateWindow(window));
    EXPECT_EQ(paintCount, 1) << "a new window waits to be painted whole";
    EXPECT_EQ(lastPaintArea.right, client.right);
    EXPECT_EQ(WindowPixel(window, 60, 60), RGB(255, 0, 0));

    paintColor = RGB(0, 255, 0);
    RECT part{40, 40, 50, 50};
    InvalidateRect(window, &part, false);
    UpdateWindow(window);
    EXPECT_EQ(paintCount, 2);
    EXPECT_EQ(lastPaintArea.left, 40);
    EXPECT_EQ(lastPaintArea.bottom, 50);
    EXPECT_EQ(WindowPixel(window, 45, 45), RGB(0, 255, 0));
    EXPECT_EQ(WindowPixel(window, 60, 60), RGB(255, 0, 0)) << "outside the area nothing changed";
    UpdateWindow(window);
    EXPECT_EQ(paintCount, 2) << "nothing waits, no WM_PAINT";

    // A context from GetDC draws outside WM_PAINT.
    HDC dc = GetDC(window);
    ASSERT_NE(dc, nullptr);
    RECT corner{0, 0, 5, 5};
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    FillRect(dc, &corner, black);
    DeleteObject(black);
    ReleaseDC(window, dc);
    EXPECT_EQ(WindowPixel(window, 2, 2), RGB(0, 0, 0));

    // Shown, the toolkit's paint delivers WM_PAINT for what waits.
    ShowWindow(window, SW_SHOW);
    InvalidateRect(window, nullptr, true);
    MSG message{};
    for (int round = 0; round < 5 && paintCount == 2; ++round)
        PeekMessage(&message, 0, 0, 0, PM_NOREMOVE);
    EXPECT_GE(paintCount, 3);
    EXPECT_TRUE(SaveWindowImage(window, PicturePath("window_sample.png").c_str()));

    // A burst of changes, each followed by dispatching, is painted once a frame (16 ms),
    // and the frame's end shows the last of them.
    paintColor = RGB(255, 255, 0);
    int before = paintCount;
    for (int row = 0; row < 50; ++row) {
        RECT strip{0, row, 100, row + 1};
        InvalidateRect(window, &strip, false);
        PeekMessage(&message, 0, 0, 0, PM_NOREMOVE);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (WindowPixel(window, 50, 49) != RGB(255, 255, 0) &&
           std::chrono::steady_clock::now() < deadline)
        PeekMessage(&message, 0, 0, 0, PM_NOREMOVE);
    EXPECT_EQ(WindowPixel(window, 50, 49), RGB(255, 255, 0)) << "the frame's end paints";
    EXPECT_LE(paintCount - before, 4) << "one paint a frame, not one a change";
}

} // namespace
