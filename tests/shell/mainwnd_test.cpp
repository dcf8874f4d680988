// The main window as the user meets it: created on a map, resized, driven by commands and
// keys; its bars, menus and title.
#include "mapui/editor.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/commctl.h"
#include "platform/menu.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "resources/commands.h"
#include "resources/resources.h"
#include "shell/filecmds.h"
#include "shell/mainwnd.h"
#include "shell/startup.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using namespace platform;

namespace {

std::string PaneText(int part) {
    char text[256] = {};
    SendMessage(statusBar, SB_GETTEXT, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(text));
    return text;
}

std::string Title() {
    char text[256] = {};
    GetWindowText(mainWindow, text, sizeof text);
    return text;
}

// A main window on a copy of the example map, in a directory of its own.
class MainWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
        FlushProfileCache();
        WriteWholeFile(dir_.file("office.db"),
                       ReadWholeFile(std::string(TARNMAP_SOURCE_DIR) + "/examples/office.db"));
        WriteWholeFile(dir_.file("office.INI"), "[OPTS]\r\nTIMER=15\r\nNOCHECK=0\r\n");
        RegisterResources();
        ConnectMapReports();
        static bool classes = RegisterWindowClasses();
        ASSERT_TRUE(classes);
        CopyField(mapPath, sizeof mapPath, "office.db");
        window_ = CreateWindow(MAIN_CLASS, "Tarnmap", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 1, 1,
                               640, 400, 0, 0, nullptr);
        ASSERT_NE(window_, 0u);
        ShowWindow(window_, SW_SHOW);
        UpdateWindow(window_);
    }
    void TearDown() override {
        if (IsWindow(window_))
            DestroyWindow(window_);
        MSG message;
        while (PeekMessage(&message, 0, 0, 0, PM_REMOVE)) {
        }
        editMode = 0;
    }
    TempDir dir_{true};
    HWND window_ = 0;
};

TEST_F(MainWindowTest, StartsWithTitleBarsCountdownAndIdle) {
    EXPECT_EQ(Title(), "office");
    EXPECT_EQ(hostCount, 9);
    EXPECT_EQ(PaneText(0), defaultStatusText);
    EXPECT_EQ(PaneText(1), "010");
    EXPECT_EQ(PaneText(2), "IDLE");
    EXPECT_EQ(pollTimerActive, 1) << "NOCHECK 0 in the map's settings";
    EXPECT_TRUE(IsWindowVisible(toolBar));
    EXPECT_TRUE(IsWindowVisible(statusBar));
    EXPECT_EQ(GetMenuState(GetMenu(window_), CMD_SHOW_TOOLBAR, MF_BYCOMMAND) & MF_CHECKED,
              MF_CHECKED);

    // The map window lies between the bars.
    RECT tool, status, map, client;
    GetWindowRect(toolBar, &tool);
    GetWindowRect(statusBar, &status);
    GetWindowRect(mapWindow, &map);
    GetClientRect(window_, &client);
    EXPECT_EQ(map.top, tool.bottom);
    EXPECT_EQ(map.bottom, status.top);
    EXPECT_EQ(map.right - map.left, client.right);

    SaveWindowImage(window_, (std::string(getenv("TARNMAP_TEST_OUTPUT")) + "/main_window.png").c_str());
}

} // namespace
