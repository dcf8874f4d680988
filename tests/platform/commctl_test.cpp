// The status bar and the toolbar on a main window, as the shell uses them: panes set, read
// back and measured, the bars placed along the foot and the top when the parent's size is
// passed on, button clicks becoming commands and tips asked of the parent.
#include "platform/commctl.h"
#include "platform/gdi.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "support/ui_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace platform;

namespace {

struct Notice {
    UINT code;
    UINT_PTR id;
    HWND from;
    WPARAM wParam;
};

std::vector<WPARAM> commands;
std::vector<LPARAM> commandSources;
std::vector<Notice> notices;
HWND statusBar = 0;
HWND toolbar = 0;

// Answers tips three ways: a pointer to its own text, the text written into szText, none.
LRESULT MainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (statusBar != 0)
            SendMessage(statusBar, WM_SIZE, wParam, lParam);
        if (toolbar != 0)
            SendMessage(toolbar, TB_AUTOSIZE, 0, 0);
        return 0;
    case WM_COMMAND:
        commands.push_back(wParam);
        commandSources.push_back(lParam);
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        notices.push_back({header->code, header->idFrom, header->hwndFrom, wParam});
        if (header->code != TTN_NEEDTEXT)
            return 0;
        auto* tip = reinterpret_cast<TOOLTIPTEXT*>(lParam);
        if (header->idFrom == 3001)
            tip->lpszText = "Open the map";
        else if (header->idFrom == 3002)
            std::snprintf(tip->szText, sizeof tip->szText, "Check %d hosts", 12);
        return 0;
    }
    default:
        return DefWindowProc(window, message, wParam, lParam);
    }
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, const void* pointer) {
    return SendMessage(window, message, wParam, reinterpret_cast<LPARAM>(pointer));
}

// Three 16 x 16 images side by side: red, green and blue squares in a transparent border.
const char* const* TestStrip() {
    static std::vector<std::string> lines{"48 16 4 1", "  c None", "r c #FF0000", "g c #00FF00",
                                          "b c #0000FF"};
    static std::vector<const char*> pointers;
    for (int y = 0; pointers.empty() && y < 16; ++y) {
        lines.push_back(std::string(48, ' '));
        for (int x = 0; x < 48 && y >= 3 && y <= 12; ++x)
            if (x % 16 >= 3 && x % 16 <= 12)
                lines.back()[x] = "rgb"[x / 16];
    }
    for (const std::string& line : lines)
        if (pointers.size() < lines.size())
            pointers.push_back(line.c_str());
    return pointers.data();
}

void RegisterClasses() {
    static bool done = false;
    if (done)
        return;
    done = true;
    WNDCLASS main{};
    main.lpfnWndProc = MainProcedure;
    main.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    main.lpszClassName = "COMMCTLTESTMAIN";
    ASSERT_TRUE(RegisterClass(&main));
    RegisterBitmapResource("TOOLBAR_901", TestStrip());
}

RECT ScreenRectOfClient(HWND window) {
    RECT client{};
    GetClientRect(window, &client);
    POINT topLeft{0, 0};
    POINT bottomRight{client.right, client.bottom};
    ClientToScreen(window, &topLeft);
    ClientToScreen(window, &bottomRight);
    return RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

POINT Middle(const RECT& rect) {
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

class CommonControlsTest : public testing::Test {
  protected:
    void SetUp() override {
        RegisterClasses();
        commands.clear();
        commandSources.clear();
        notices.clear();
        statusBar = 0;
        toolbar = 0;
        main = CreateWindow("COMMCTLTESTMAIN", "Tarnmap", WS_OVERLAPPEDWINDOW, 20, 20, 640, 480, 0,
                            0, nullptr);
        ASSERT_NE(main, 0u);
        ShowWindow(main, SW_SHOW);
    }
    void TearDown() override {
        DestroyWindow(main);
        statusBar = 0;
        toolbar = 0;
        PumpPendingMessages();
    }
    HWND MakeToolbar(DWORD style) {
        static const TBBUTTON buttons[] = {
            {0, 3001, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
            {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {}, 0, 0},
            {1, 3002, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
            {2, 3003, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
        };
        return CreateToolbarEx(main, style, 1160, 3, nullptr, 901, buttons, 4, 16, 16, 16, 16,
                               sizeof(TBBUTTON));
    }
    RECT ButtonRect(int index) {
        RECT rect{};
        EXPECT_TRUE(SendMessage(toolbar, TB_GETITEMRECT, static_cast<WPARAM>(index),
                                reinterpret_cast<LPARAM>(&rect)));
        return rect;
    }
    void Click(int x, int y) {
        SimulateMouse(toolbar, WM_LBUTTONDOWN, x, y, MK_LBUTTON);
        SimulateMouse(toolbar, WM_LBUTTONUP, x, y, 0);
    }
    HWND main = 0;
};

TEST_F(CommonControlsTest, StatusBarKeepsItsPanesAndSitsAlongTheFootAndRequestsAreChecked) {
    InitCommonControls();
    statusBar = CreateWindow(STATUSCLASSNAME, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0,
                             0, main, 1150, nullptr);
    ASSERT_NE(statusBar, 0u);
    EXPECT_EQ(SendMessage(statusBar, SB_GETPARTS, 0, 0), 1) << "one part to start with";

    int start[3] = {90, 180, 270};
    ASSERT_TRUE(Send(statusBar, SB_SETPARTS, 3, start));
    int edges[3] = {};
    EXPECT_EQ(Send(statusBar, SB_GETPARTS, 3, edges), 3);
    EXPECT_EQ(edges[0], 90);
    EXPECT_EQ(edges[2], 270);
    int tooMany[300] = {};
    EXPECT_FALSE(Send(statusBar, SB_SETPARTS, 300, tooMany));
    EXPECT_FALSE(Send(statusBar, SB_SETPARTS, 0, start));
    EXPECT_EQ(SendMessage(statusBar, SB_GETPARTS, 0, 0), 3) << "a refused layout changes nothing";

    // The main window grows; its size passed on puts the bar along the new foot.
    MoveWindow(main, 20, 20, 700, 500, true);
    RECT client = ScreenRectOfClient(main);
    RECT bar{};
    ASSERT_TRUE(GetWindowRect(statusBar, &bar));
    EXPECT_EQ(bar.bottom, client.bottom);
    EXPECT_EQ(bar.left, client.left);
    EXPECT_EQ(bar.right, client.right);
    int height = bar.bottom - bar.top;
    EXPECT_GE(height, 20);
    EXPECT_LE(height, 40);
    RECT barClient{};
    GetClientRect(statusBar, &barClient);
    EXPECT_EQ(barClient.bottom, height);

    const int width = client.right - client.left;
    int laid[3] = {width - 200, width - 100, width - 20};
    ASSERT_TRUE(Send(statusBar, SB_SETPARTS, 3, laid));
    EXPECT_EQ(Send(statusBar, SB_GETPARTS, 2, edges), 3);
    EXPECT_EQ(edges[0], laid[0]);
    EXPECT_EQ(edges[1], laid[1]);
    EXPECT_EQ(edges[2], 270) << "only as many edges as asked for are copied";
    RECT middle{};
    ASSERT_TRUE(Send(statusBar, SB_GETRECT, 1, &middle));
    EXPECT_GT(middle.left, laid[0]);
    EXPECT_EQ(middle.right, laid[1]);

    // Each part takes its own text; there is no fourth.
    const char* texts[3] = {" LEFT drag hosts, RIGHT drag lines", "007", "IDLE"};
    for (int part = 0; part < 3; ++part)
        EXPECT_TRUE(Send(statusBar, SB_SETTEXT, static_cast<WPARAM>(part), texts[part]));
    EXPECT_FALSE(Send(statusBar, SB_SETTEXT, 3, "lost"));

    // Drawn: the message pane has its sunken frame and dark text; the countdown pane holds
    // its text inside its own frame and nothing spills into the gap between panes.
    UpdateWindow(statusBar);
    RECT message{};
    Send(statusBar, SB_GETRECT, 0, &message);
    EXPECT_EQ(WindowPixel(statusBar, message.left, message.top), GetSysColor(COLOR_BTNSHADOW));
    auto darkPixels = [](int left, int right, int top, int bottom) {
        int count = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) {
                COLORREF pixel = WindowPixel(statusBar, x, y);
                if (GetRValue(pixel) + GetGValue(pixel) + GetBValue(pixel) < 200)
                    ++count;
            }
        return count;
    };
    EXPECT_GT(darkPixels(message.left + 1, message.right - 1, message.top + 1, message.bottom - 1),
              20);
    EXPECT_GT(darkPixels(middle.left + 1, middle.right - 1, middle.top + 1, middle.bottom - 1), 5);
    EXPECT_EQ(darkPixels(message.right, middle.left, 0, height), 0);

    // A toolbar without tips asks for none; requests the controls cannot meet are refused.
    toolbar = MakeToolbar(WS_CHILD | WS_VISIBLE);
    ASSERT_NE(toolbar, 0u);
    POINT atFirst = Middle(ButtonRect(0));
    char tip[80];
    EXPECT_EQ(ToolbarTipAt(toolbar, atFirst.x, atFirst.y, tip, sizeof tip), -1);
    EXPECT_TRUE(notices.empty());
    EXPECT_EQ(CreateStatusWindow(WS_CHILD, "", 0, 1150), 0u) << "a status bar needs a parent";
    TBBUTTON one{0, 1, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0};
    EXPECT_EQ(CreateToolbarEx(main, WS_CHILD, 1161, 1, nullptr, 901, &one, 1, 16, 16, 16, 16,
                              sizeof(TBBUTTON) - 1),
              0u)
        << "a button array of another layout is refused";
}

TEST_F(CommonControlsTest, ToolbarButtonsSendCommandsAndAskForTips) {
    toolbar = MakeToolbar(WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS);
    ASSERT_NE(toolbar, 0u);
    EXPECT_EQ(SendMessage(toolbar, TB_BUTTONCOUNT, 0, 0), 4);

    // Along the top, the parent's width, buttons 7 x 6 pixels larger than their images.
    RECT client = ScreenRectOfClient(main);
    RECT bar{};
    GetWindowRect(toolbar, &bar);
    EXPECT_EQ(bar.top, client.top);
    EXPECT_EQ(bar.left, client.left);
    EXPECT_EQ(bar.right, client.right);
    RECT first = ButtonRect(0);
    RECT separator = ButtonRect(1);
    RECT second = ButtonRect(2);
    RECT third = ButtonRect(3);
    EXPECT_EQ(first.right - first.left, 23);
    EXPECT_EQ(first.bottom - first.top, 22);
    EXPECT_EQ(separator.left, first.right);
    EXPECT_EQ(second.left, separator.right);
    EXPECT_GT(separator.right - separator.left, 0);
    EXPECT_GE(bar.bottom - bar.top, first.bottom);
    MoveWindow(main, 20, 20, 500, 400, true);
    client = ScreenRectOfClient(main);
    ASSERT_LT(client.right - client.left, 640);
    GetWindowRect(toolbar, &bar);
    EXPECT_EQ(bar.right - bar.left, client.right - client.left)
        << "the parent's size passed on narrows it";

    // A click sends the command; a press that leaves the button, or on the separator, not.
    POINT atSecond = Middle(second);
    Click(atSecond.x, atSecond.y);
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(LOWORD(commands[0]), 3002);
    EXPECT_EQ(commandSources[0], static_cast<LPARAM>(toolbar));
    SimulateMouse(toolbar, WM_LBUTTONDOWN, atSecond.x, atSecond.y, MK_LBUTTON);
    SimulateMouse(toolbar, WM_MOUSEMOVE, 400, 5, MK_LBUTTON);
    SimulateMouse(toolbar, WM_LBUTTONUP, 400, 5, 0);
    POINT atSeparator = Middle(separator);
    Click(atSeparator.x, atSeparator.y);
    EXPECT_EQ(commands.size(), 1u);

    // Images come from the strip by index; the transparent border shows the button face.
    UpdateWindow(toolbar);
    POINT atThird = Middle(third);
    EXPECT_EQ(WindowPixel(toolbar, atSecond.x, atSecond.y), RGB(0, 255, 0));
    EXPECT_EQ(WindowPixel(toolbar, atThird.x, atThird.y), RGB(0, 0, 255));
    EXPECT_EQ(WindowPixel(toolbar, third.left + 4, third.top + 4), GetSysColor(COLOR_BTNFACE));

    // Tips: the parent is asked with the button's command id and its answer is shown,
    // whether it points at its own text or fills the buffer. No answer, no tip; a
    // separator asks nothing.
    char tip[80];
    POINT atFirst = Middle(first);
    EXPECT_EQ(ToolbarTipAt(toolbar, atFirst.x, atFirst.y, tip, sizeof tip), 12);
    EXPECT_STREQ(tip, "Open the map");
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].code, TTN_NEEDTEXT);
    EXPECT_EQ(static_cast<int>(notices[0].code), -520);
    EXPECT_EQ(notices[0].id, 3001u);
    EXPECT_EQ(notices[0].wParam, 3001u);
    EXPECT_EQ(notices[0].from, toolbar);
    EXPECT_GT(ToolbarTipAt(toolbar, atSecond.x, atSecond.y, tip, sizeof tip), 0);
    EXPECT_STREQ(tip, "Check 12 hosts");
    EXPECT_EQ(notices.back().id, 3002u);
    EXPECT_EQ(ToolbarTipAt(toolbar, atThird.x, atThird.y, tip, sizeof tip), -1);
    EXPECT_EQ(notices.back().id, 3003u);
    size_t asked = notices.size();
    EXPECT_EQ(ToolbarTipAt(toolbar, atSeparator.x, atSeparator.y, tip, sizeof tip), -1);
    EXPECT_STREQ(tip, "");
    EXPECT_EQ(notices.size(), asked);
}

} // namespace
