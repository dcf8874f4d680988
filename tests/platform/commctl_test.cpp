// The status bar and the toolbar on a main window, as the shell uses them: panes set, read
// back and measured, the bars placed along the foot and the top when the parent's size is
// passed on, button clicks becoming commands, tips asked of the parent, and a picture.
#include "platform/commctl.h"
#include "platform/gdi.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "resources/pictures.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
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

LRESULT MapProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProc(window, message, wParam, lParam);
}

// Three 16 x 16 images side by side: red, green and blue squares in a transparent border.
const char* const* TestStrip() {
    static std::vector<std::string> lines;
    static std::vector<const char*> pointers;
    if (pointers.empty()) {
        lines.push_back("48 16 4 1");
        lines.push_back("  c None");
        lines.push_back("r c #FF0000");
        lines.push_back("g c #00FF00");
        lines.push_back("b c #0000FF");
        for (int y = 0; y < 16; ++y) {
            std::string row;
            for (int x = 0; x < 48; ++x) {
                int inImage = x % 16;
                bool border = inImage < 3 || inImage > 12 || y < 3 || y > 12;
                row += border ? ' ' : "rgb"[x / 16];
            }
            lines.push_back(row);
        }
        for (const std::string& line : lines)
            pointers.push_back(line.c_str());
    }
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
    WNDCLASS map{};
    map.lpfnWndProc = MapProcedure;
    map.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    map.lpszClassName = "COMMCTLTESTMAP";
    ASSERT_TRUE(RegisterClass(&map));
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

std::string OutputPath(const char* name) {
    const char* output = std::getenv("TARNMAP_TEST_OUTPUT");
    return std::string(output != nullptr ? output : ".") + "/" + name;
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
        MSG message{};
        while (PeekMessage(&message, 0, 0, 0, PM_REMOVE))
            DispatchMessage(&message);
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

TEST_F(CommonControlsTest, StatusBarKeepsItsPanesAndSitsAlongTheFoot) {
    InitCommonControls();
    statusBar = CreateWindow(STATUSCLASSNAME, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0,
                             0, main, 1150, nullptr);
    ASSERT_NE(statusBar, 0u);
    EXPECT_EQ(GetWindowLong(statusBar, GWL_ID), 1150);
    EXPECT_EQ(SendMessage(statusBar, SB_GETPARTS, 0, 0), 1) << "one part to start with";

    int start[3] = {90, 180, 270};
    ASSERT_TRUE(SendMessage(statusBar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(start)));
    int edges[3] = {};
    EXPECT_EQ(SendMessage(statusBar, SB_GETPARTS, 3, reinterpret_cast<LPARAM>(edges)), 3);
    EXPECT_EQ(edges[0], 90);
    EXPECT_EQ(edges[2], 270);
    int tooMany[300] = {};
    EXPECT_FALSE(SendMessage(statusBar, SB_SETPARTS, 300, reinterpret_cast<LPARAM>(tooMany)));
    EXPECT_FALSE(SendMessage(statusBar, SB_SETPARTS, 0, reinterpret_cast<LPARAM>(start)));
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

    // The panes as the shell lays them out, from the width of "NORM" in the bar's context.
    HDC dc = GetDC(statusBar);
    ASSERT_NE(dc, nullptr);
    SIZE norm{};
    ASSERT_TRUE(GetTextExtentPoint32(dc, "NORM", 4, &norm));
    ReleaseDC(statusBar, dc);
    EXPECT_GT(norm.cx, 10);
    int width = client.right - client.left;
    int laid[3] = {width - 20 - 2 * norm.cx - 8, width - 20 - norm.cx - 4, width - 20};
    ASSERT_TRUE(SendMessage(statusBar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(laid)));
    EXPECT_EQ(SendMessage(statusBar, SB_GETPARTS, 2, reinterpret_cast<LPARAM>(edges)), 3);
    EXPECT_EQ(edges[0], laid[0]);
    EXPECT_EQ(edges[1], laid[1]);
    EXPECT_EQ(edges[2], 270) << "only as many edges as asked for are copied";
    RECT middle{};
    ASSERT_TRUE(SendMessage(statusBar, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&middle)));
    EXPECT_GT(middle.left, laid[0]);
    EXPECT_EQ(middle.right, laid[1]);

    // Each part keeps its own text; the part is the low byte, the drawing type the high.
    const char* texts[3] = {" LEFT drag hosts, RIGHT drag lines", "007", "IDLE"};
    for (int part = 0; part < 3; ++part)
        EXPECT_TRUE(SendMessage(statusBar, SB_SETTEXT, static_cast<WPARAM>(part),
                                reinterpret_cast<LPARAM>(texts[part])));
    EXPECT_TRUE(
        SendMessage(statusBar, SB_SETTEXT, 2 | SBT_POPOUT, reinterpret_cast<LPARAM>("POLL")));
    EXPECT_FALSE(SendMessage(statusBar, SB_SETTEXT, 3, reinterpret_cast<LPARAM>("lost")));
    char text[64];
    LRESULT result = SendMessage(statusBar, SB_GETTEXT, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, texts[0]);
    EXPECT_EQ(LOWORD(static_cast<std::uintptr_t>(result)), std::string(texts[0]).size());
    SendMessage(statusBar, SB_GETTEXT, 1, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "007");
    result = SendMessage(statusBar, SB_GETTEXT, 2, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "POLL");
    EXPECT_EQ(HIWORD(static_cast<std::uintptr_t>(result)), SBT_POPOUT);
    EXPECT_EQ(LOWORD(static_cast<std::uintptr_t>(SendMessage(statusBar, SB_GETTEXTLENGTH, 1, 0))),
              3);
    EXPECT_EQ(SendMessage(statusBar, SB_GETTEXT, 7, reinterpret_cast<LPARAM>(text)), 0);

    // Drawn: the message pane has its sunken frame and dark text; the countdown pane holds
    // its text inside its own frame and nothing spills into the gap between panes.
    UpdateWindow(statusBar);
    RECT message{};
    SendMessage(statusBar, SB_GETRECT, 0, reinterpret_cast<LPARAM>(&message));
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

    ShowWindow(statusBar, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(statusBar));
    ShowWindow(statusBar, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(statusBar));
}

TEST_F(CommonControlsTest, ToolbarButtonsSendCommandsAndAskForTips) {
    toolbar = MakeToolbar(WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS);
    ASSERT_NE(toolbar, 0u);
    EXPECT_EQ(GetWindowLong(toolbar, GWL_ID), 1160);
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

    // A disabled button is grey and does nothing; enabled again it works.
    EXPECT_TRUE(SendMessage(toolbar, TB_ENABLEBUTTON, 3003, MAKELPARAM(0, 0)));
    EXPECT_FALSE(SendMessage(toolbar, TB_ISBUTTONENABLED, 3003, 0));
    EXPECT_FALSE(SendMessage(toolbar, TB_ENABLEBUTTON, 4444, MAKELPARAM(0, 0)));
    UpdateWindow(toolbar);
    COLORREF grey = WindowPixel(toolbar, atThird.x, atThird.y);
    EXPECT_EQ(GetRValue(grey), GetBValue(grey));
    Click(atThird.x, atThird.y);
    EXPECT_EQ(commands.size(), 1u);
    SendMessage(toolbar, TB_ENABLEBUTTON, 3003, MAKELPARAM(1, 0));
    Click(atThird.x, atThird.y);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(LOWORD(commands[1]), 3003);
    EXPECT_TRUE(SendMessage(toolbar, TB_CHECKBUTTON, 3003, MAKELPARAM(1, 0)));
    EXPECT_TRUE(SendMessage(toolbar, TB_ISBUTTONCHECKED, 3003, 0));
    EXPECT_EQ(SendMessage(toolbar, TB_GETSTATE, 3003, 0), TBSTATE_ENABLED | TBSTATE_CHECKED);
    EXPECT_EQ(SendMessage(toolbar, TB_GETSTATE, 4444, 0), -1);

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

    ShowWindow(toolbar, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(toolbar));
    ShowWindow(toolbar, SW_SHOW);
    EXPECT_TRUE(IsWindowVisible(toolbar));
}

TEST_F(CommonControlsTest, RefusedRequestsAndAToolbarWithoutTips) {
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

// The main window as the program shows it, with the program's own toolbar pictures; the
// flat toolbar is drawn as well, for comparison.
TEST_F(CommonControlsTest, MainWindowWithBothBarsLooksTidy) {
    RegisterBitmapResource("TOOLBAR_122", FindPictureResource("TOOLBAR_122"));
    // New, load, save | check, stop (disabled here), quiet | help.
    static const TBBUTTON buttons[] = {
        {0, 2025, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
        {1, 2002, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
        {2, 2004, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
        {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {}, 0, 0},
        {3, 1010, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
        {4, 1011, 0, TBSTYLE_BUTTON, {}, 0, 0},
        {5, 1013, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
        {0, 0, TBSTATE_ENABLED, TBSTYLE_SEP, {}, 0, 0},
        {6, 2021, TBSTATE_ENABLED, TBSTYLE_BUTTON, {}, 0, 0},
    };
    for (DWORD look : {DWORD{0}, TBSTYLE_FLAT}) {
        statusBar = CreateStatusWindow(WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, "", main, 1150);
        toolbar = CreateToolbarEx(main, WS_CHILD | WS_VISIBLE | TBSTYLE_TOOLTIPS | look, 1160, 8,
                                  nullptr, 122, buttons, 9, 16, 16, 16, 16, sizeof(TBBUTTON));
        ASSERT_NE(statusBar, 0u);
        ASSERT_NE(toolbar, 0u);
        RECT client{};
        GetClientRect(main, &client);
        RECT top{};
        RECT foot{};
        GetWindowRect(toolbar, &top);
        GetWindowRect(statusBar, &foot);
        int topHeight = top.bottom - top.top;
        int footHeight = foot.bottom - foot.top;
        HWND map =
            CreateWindow("COMMCTLTESTMAP", "", WS_CHILD | WS_VISIBLE, 0, topHeight, client.right,
                         client.bottom - topHeight - footHeight, main, 1, nullptr);
        ASSERT_NE(map, 0u);

        HDC dc = GetDC(statusBar);
        SIZE norm{};
        GetTextExtentPoint32(dc, "NORM", 4, &norm);
        ReleaseDC(statusBar, dc);
        int edges[3] = {client.right - 20 - 2 * norm.cx - 8, client.right - 20 - norm.cx - 4,
                        client.right - 20};
        SendMessage(statusBar, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(edges));
        SendMessage(statusBar, SB_SETTEXT, 0,
                    reinterpret_cast<LPARAM>("Tarnmap network monitor - ready"));
        SendMessage(statusBar, SB_SETTEXT, 1, reinterpret_cast<LPARAM>("inactive"));
        SendMessage(statusBar, SB_SETTEXT, 2, reinterpret_cast<LPARAM>("IDLE"));

        // The countdown pane, laid out from "NORM" in the bar's context, holds its widest
        // text in the bar's own font.
        RECT countdown{};
        SendMessage(statusBar, SB_GETRECT, 1, reinterpret_cast<LPARAM>(&countdown));
        dc = GetDC(statusBar);
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessage(statusBar, WM_GETFONT, 0, 0)));
        SIZE inactive{};
        GetTextExtentPoint32(dc, "inactive", 8, &inactive);
        ReleaseDC(statusBar, dc);
        EXPECT_LE(inactive.cx, countdown.right - countdown.left - 4);
        if (look != 0) {
            // The mouse over "Check Systems" and "Quiet Alarm" pressed.
            POINT hover = Middle([&] {
                RECT r{};
                SendMessage(toolbar, TB_GETITEMRECT, 4, reinterpret_cast<LPARAM>(&r));
                return r;
            }());
            SimulateMouse(toolbar, WM_MOUSEMOVE, hover.x, hover.y, 0);
        }
        UpdateWindow(toolbar);
        UpdateWindow(statusBar);
        UpdateWindow(map);
        std::string path =
            OutputPath(look == 0 ? "commctl_main_window.png" : "commctl_main_window_flat.png");
        EXPECT_TRUE(SaveWindowImage(main, path.c_str())) << path;

        // Nothing is hidden under another: map, toolbar and status bar tile the client area.
        RECT mapRect{};
        GetWindowRect(map, &mapRect);
        EXPECT_EQ(mapRect.top, top.bottom);
        EXPECT_EQ(mapRect.bottom, foot.top);
        DestroyWindow(map);
        DestroyWindow(toolbar);
        DestroyWindow(statusBar);
        toolbar = 0;
        statusBar = 0;
    }
}

} // namespace
