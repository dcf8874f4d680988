// A main window on a small map of the test's own, in a directory of its own, sized so the
// grid cells are 20 x 20 pixels, and helpers that drive the map window with the mouse.
#pragma once

#include "platform/window.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <string>

// Hosts (name, col, row, kind): alpha (2, 2, Server), beta (10, 4, Router), gamma (6, 12,
// Workstation), all on 127.0.0.1; lines (3,3)-(10,4), (20,5)-(25,5), (20,5)-(20,10).
extern const char* const testMapText;

class MapWindowTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Sends a mouse message through the toolkit to the middle of cell (col, row) of the
    // map window, then dispatches what it queued.
    void Mouse(platform::UINT message, int col, int row, platform::WPARAM keys = 0);
    // A left press and release on a cell.
    void LeftClick(int col, int row, platform::WPARAM keys = 0);
    // The text of the status bar's message pane.
    static std::string StatusText();
    // Resizes the main window so its client area is width x height pixels.
    void SetClientSize(int width, int height);
    // Writes a PNG of the map window under the test output directory.
    static void SaveMapPicture(const char* name);

    TempDir dir_{true};
    platform::HWND window_ = 0;
};
