// The program's main window for tests: opened on a map the test writes, in a directory of
// its own, with a window of the test's own beside it; and the map window fixture, whose grid
// cells are 20 x 20 pixels, with helpers that drive it with the mouse.
#pragma once

#include "platform/window.h"
#include "support/netns.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

// Hosts (name, col, row, kind): alpha (2, 2, Server), beta (10, 4, Router), gamma (6, 12,
// Workstation), all on 127.0.0.1; lines (3,3)-(10,4), (20,5)-(25,5), (20,5)-(20,10).
extern const char* const testMapText;

// Settings under the test's directory, resources and window classes registered, the stack
// started. SetUp opens no main window; OpenMap does.
class MainWindowTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Writes NAME.db and NAME.INI and opens the main window on NAME.db with a client area
    // of width x height pixels.
    void OpenMap(const std::string& name, const std::string& map, const std::string& settings,
                 int width = 720, int height = 700);
    // The text of a status bar pane (0 the message, 1 the countdown, 2 the state).
    static std::string PaneText(int part = 0);
    static std::string Title();
    void SetClientSize(int width, int height);
    // Writes a PNG of `window` under the test output directory.
    static void SavePicture(platform::HWND window, const char* name);
    // Runs the message loop until no poll cycle is under way (its done message handled),
    // at most `limitMs`; false when the limit came first or a quit message (left queued).
    bool RunCycleToEnd(unsigned limitMs = 60000);

    TempDir dir_{true};
    platform::HWND window_ = 0;
    // A window of the test's own; its timers and WM_USER run these.
    platform::HWND testWindow_ = 0;
    std::function<void(platform::UINT_PTR id)> onTestTimer;
    std::function<void()> onTestMessage;
};

class MapWindowTest : public MainWindowTest {
  protected:
    void SetUp() override;

    // Sends a mouse message through the toolkit to the middle of cell (col, row) of the
    // map window, then dispatches what it queued.
    void Mouse(platform::UINT message, int col, int row, platform::WPARAM keys = 0);
    // A left press and release on a cell.
    void LeftClick(int col, int row, platform::WPARAM keys = 0);
    static std::string StatusText() { return PaneText(0); }
    static void SaveMapPicture(const char* name);
};
