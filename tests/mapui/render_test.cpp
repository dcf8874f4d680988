// The map as drawn into a real map window: colours by the probe engine's rules, pictures
// at their sizes and shrunk to the grid, labels, name boxes and their frames, the edit grid,
// the edges, lines under hosts, repaint areas without trails, tiny windows and the iconic
// view; pictures of them to look at.
#include "mapui/editor.h"
#include "mapui/render.h"
#include "monitor/mapwnd.h"
#include "monitor/probe.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "resources/resources.h"
#include "support/ui_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace platform;

namespace {

constexpr int CELL_WIDTH = 25;
constexpr int CELL_HEIGHT = 15;
constexpr COLORREF BLACK = RGB(0, 0, 0);
constexpr COLORREF WHITE = RGB(255, 255, 255);
constexpr COLORREF YELLOW = RGB(255, 255, 0);
constexpr COLORREF SCRIBBLE = RGB(255, 0, 255);
// Every slot a colour of its own, so a pixel tells which slot a host was drawn in.
constexpr unsigned DISTINCT_COLORS[COLOR_SLOT_COUNT] = {10, 11, 16, 20, 6, 5, 14, 2, 0, 15};
using Size2 = std::pair<int, int>;

LRESULT MapProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT)
        return PaintMap(window);
    return DefWindowProc(window, message, wParam, lParam);
}

// The test's map classes: one with the map's solid background, one with the desktop
// colour, and a frame. The brush is kept for the whole run as the program keeps its own.
void RegisterMapClasses() {
    static HBRUSH backBrush = nullptr;
    if (backBrush != nullptr)
        return;
    backBrush = CreateSolidBrush(PaletteColor(DISTINCT_COLORS[SLOT_BACK]));
    const std::tuple<const char*, WNDPROC, HBRUSH> classes[] = {
        {"RENDERTESTSOLID", MapProcedure, backBrush},
        {"RENDERTESTFRAME", DefWindowProc, backBrush},
        {"RENDERTESTDESKTOP", MapProcedure, GetSysColorBrush(COLOR_DESKTOP)}};
    for (const auto& [name, procedure, brush] : classes) {
        WNDCLASS windowClass{};
        windowClass.lpfnWndProc = procedure;
        windowClass.hbrBackground = brush;
        windowClass.lpszClassName = name;
        ASSERT_TRUE(RegisterClass(&windowClass)) << name;
    }
}

struct Pixel {
    int x, y;
    COLORREF color;
    const char* what = "";
};

void ExpectPixels(HWND window, std::initializer_list<Pixel> pixels) {
    for (const Pixel& p : pixels)
        EXPECT_EQ(WindowPixel(window, p.x, p.y), p.color) << p.what << " at " << p.x << "," << p.y;
}

class RenderTest : public testing::Test {
  protected:
    void SetUp() override {
        static bool loaded = false;
        if (!loaded) {
            RegisterResources();
            ASSERT_EQ(LoadHostBitmaps(), 0);
            CreateEdgePens();
            loaded = true;
        }
        RegisterMapClasses();
        std::memcpy(colorTable, DISTINCT_COLORS, sizeof colorTable);
        options.useIcons = 1;
        options.labelIcons = options.scaledMapFont = options.useIcmpLibrary = options.useRawIcmp =
            options.fitMap = rawIcmpUsed = 0;
        options.solidBackground = 1;
        editMode = 0;
        ClearMap();
        SetCells(CELL_WIDTH, CELL_HEIGHT);
    }
    void TearDown() override {
        for (HWND window : made)
            DestroyWindow(window);
        editMode = 0;
        ClearMap();
    }

    static void SetCells(int width, int height) {
        gridCellWidth = width;
        gridCellHeight = height;
    }

    // A map window of 36 x 35 cells at the current cell size, with the foot band at its
    // bottom as when neither toolbar nor status bar is shown, painted.
    HWND MakeMap() {
        const int width = GRID_COLUMNS * gridCellWidth;
        const int height = GRID_ROWS * gridCellHeight;
        HWND parent = CreateWindow("RENDERTESTFRAME", "main", WS_OVERLAPPEDWINDOW, 0, 0, width + 40,
                                   height + 60, 0, 0, nullptr);
        made.push_back(parent);
        const char* mapClass =
            options.solidBackground != 0 ? "RENDERTESTSOLID" : "RENDERTESTDESKTOP";
        HWND map = CreateWindow(mapClass, "", WS_CHILD | WS_VISIBLE, 0, 0, width, height, parent,
                                MAP_WINDOW_ID, nullptr);
        RECT client{};
        GetClientRect(map, &client);
        EXPECT_EQ(Size2(client.right, client.bottom), Size2(width, height));
        bandTop = height - 20;
        Render(map);
        return map;
    }

    static void Render(HWND window) {
        InvalidateRect(window, nullptr, true);
        UpdateWindow(window);
    }

    static int AddHost(const char* name, int col, int row, unsigned kind, unsigned missed = 0,
                       unsigned status = 0, unsigned flags = 0) {
        int index = AppendHost(col, row);
        EXPECT_GE(index, 0);
        HostRecord& host = hostTable[index];
        CopyField(host.name, sizeof host.name, name);
        CopyField(host.address, sizeof host.address, "127.0.0.1");
        host.kind = kind;
        host.missed = missed;
        host.status = status;
        host.flags = flags;
        return index;
    }

    static void AddLine(int x1, int y1, int x2, int y2) {
        LineRecord& line = lineTable[AppendLine(x1, y1)];
        line.x2 = x2;
        line.y2 = y2;
    }

    static COLORREF SlotColor(ColorSlot slot) { return PaletteColor(colorTable[slot]); }
    static COLORREF Background() {
        return options.solidBackground != 0 ? SlotColor(SLOT_BACK) : GetSysColor(COLOR_DESKTOP);
    }
    static int Left(int index) { return hostTable[index].col * gridCellWidth; }
    static int Top(int index) { return hostTable[index].row * gridCellHeight; }
    static Size2 Drawn(int index) {
        return {hostTable[index].drawWidth, hostTable[index].drawHeight};
    }

    // Every pixel of a map window made by MakeMap, row by row.
    static std::vector<COLORREF> Pixels(HWND map) {
        std::vector<COLORREF> pixels;
        for (int y = 0; y < GRID_ROWS * gridCellHeight; ++y)
            for (int x = 0; x < GRID_COLUMNS * gridCellWidth; ++x)
                pixels.push_back(WindowPixel(map, x, y));
        return pixels;
    }

    // Covers the map window's picture with a colour the map never shows, without a paint.
    static void Scribble(HWND map) {
        HBRUSH brush = CreateSolidBrush(SCRIBBLE);
        HDC dc = GetDC(map);
        RECT all{0, 0, GRID_COLUMNS * gridCellWidth, GRID_ROWS * gridCellHeight};
        FillRect(dc, &all, brush);
        ReleaseDC(map, dc);
        DeleteObject(brush);
    }

    // The size of a text in the font the map uses when text is not scaled.
    static SIZE TextSize(const char* text) {
        HDC dc = CreateCompatibleDC(nullptr);
        HFONT previous = SelectObject(dc, static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT)));
        SIZE size{};
        GetTextExtentPoint32(dc, text, static_cast<int>(std::strlen(text)), &size);
        SelectObject(dc, previous);
        DeleteDC(dc);
        return size;
    }

    std::vector<HWND> made;
};

// The palette, then the engine rules over the bands (the bands themselves are seen in the
// poll tests): a hard error shows the worst colour at once, a plain time-out steps through.
TEST_F(RenderTest, PaletteAndEngineRulesChooseTheColour) {
    for (auto [index, colour] : {std::pair<unsigned, COLORREF>{0, RGB(0, 0, 0)},
                                 {5, RGB(192, 0, 0)},
                                 {14, RGB(128, 128, 255)},
                                 {23, RGB(255, 192, 255)},
                                 {24, RGB(64, 64, 64)},
                                 {0xFFFFFFFFu, RGB(64, 64, 64)}})
        EXPECT_EQ(PaletteColor(index), colour) << index;

    struct Case {
        unsigned missed, status, flags;
        ColorSlot plain, library, raw; // no engine rule, ICMP library, raw socket once used
        const char* address = "10.0.0.1";
    };
    const Case cases[] = {
        {9, 11003, HOST_NOT_MONITORED, SLOT_INACTIVE, SLOT_INACTIVE, SLOT_INACTIVE},
        {1, 11010, 0, SLOT_ONE, SLOT_ONE, SLOT_EIGHT},
        {0, 11003, 0, SLOT_OK, SLOT_EIGHT, SLOT_EIGHT},
        {5, 10004, 0, SLOT_FOUR, SLOT_EIGHT, SLOT_FOUR},
        {0, 0, 0, SLOT_INACTIVE, SLOT_INACTIVE, SLOT_INACTIVE, ""}, // never given an address
    };
    enum Engine { PLAIN, LIBRARY, RAW, RAW_NOT_USED_YET };
    for (Engine engine : {PLAIN, LIBRARY, RAW, RAW_NOT_USED_YET}) {
        options.useIcmpLibrary = engine == LIBRARY;
        options.useRawIcmp = engine == RAW || engine == RAW_NOT_USED_YET;
        rawIcmpUsed = engine == RAW;
        for (const Case& each : cases) {
            HostRecord host{};
            host.missed = each.missed;
            host.status = each.status;
            host.flags = each.flags;
            CopyField(host.address, sizeof host.address, each.address);
            EXPECT_EQ(HostColorSlot(host), engine == LIBRARY ? each.library
                                           : engine == RAW   ? each.raw
                                                             : each.plain)
                << "engine " << engine << ", status " << each.status;
        }
    }
}

// Every picture at its own size, pixel for pixel against its bitmap: black stays black,
// white is either the host colour or, outside the outline, the background. The Net
// picture is wider than the others; its last columns must not be lost.
TEST_F(RenderTest, PicturesKeepTheirSizeAndOutline) {
    HDC pictureDc = CreateCompatibleDC(nullptr);
    for (bool solid : {true, false}) {
        SCOPED_TRACE(solid ? "solid background" : "desktop background");
        ClearMap();
        options.solidBackground = solid;
        for (unsigned kind = 0; kind < HOST_KIND_COUNT; ++kind)
            AddHost(hostKindNames[kind], (kind % 5) * 7, (kind / 5) * 6, kind, kind % 3);
        HWND map = MakeMap();
        SaveWindowImage(map,
                        PicturePath(solid ? "render_kinds.png" : "render_desktop.png").c_str());
        for (int kind = 0; kind < hostCount; ++kind) {
            SCOPED_TRACE(hostKindPictures[kind]);
            BITMAP picture{};
            GetObject(hostBitmaps[kind], sizeof picture, &picture);
            HBITMAP previous = SelectObject(pictureDc, hostBitmaps[kind]);
            EXPECT_EQ(Drawn(kind), Size2(picture.bmWidth, picture.bmHeight));
            const COLORREF color = SlotColor(HostColorSlot(hostTable[kind]));
            int coloured = 0;
            int wrong = 0;
            for (int y = 0; y < picture.bmHeight; ++y) {
                for (int x = 0; x < picture.bmWidth; ++x) {
                    COLORREF seen = WindowPixel(map, Left(kind) + x, Top(kind) + y);
                    if (GetPixel(pictureDc, x, y) == BLACK)
                        wrong += seen != BLACK;
                    else
                        wrong += seen != color && seen != Background();
                    coloured += seen == color;
                }
            }
            SelectObject(pictureDc, previous);
            EXPECT_EQ(wrong, 0);
            EXPECT_GT(coloured, 50) << "the white inside takes the host colour";
            ExpectPixels(map, {{Left(kind), Top(kind), Background()},
                               {Left(kind) + picture.bmWidth - 1, Top(kind) + picture.bmHeight - 1,
                                Background()}});
            for (int y = 0; kind == KIND_NET && y < picture.bmHeight; ++y)
                EXPECT_EQ(WindowPixel(map, Left(kind) + 40, Top(kind) + y), Background()) << y;
        }
        // A band given another colour shows it at the next paint.
        colorTable[HostColorSlot(hostTable[0])] = 13;
        Render(map);
        int recoloured = 0;
        for (int y = 0; y < Drawn(0).second; ++y)
            for (int x = 0; x < Drawn(0).first; ++x)
                recoloured += WindowPixel(map, Left(0) + x, Top(0) + y) == PaletteColor(13);
        EXPECT_GT(recoloured, 50);
        std::memcpy(colorTable, DISTINCT_COLORS, sizeof colorTable);
    }
    DeleteDC(pictureDc);
}

TEST_F(RenderTest, ScaledTextShrinksWidePicturesToTwoCells) {
    options.scaledMapFont = 1;
    SetCells(10, 10);
    int pc = AddHost("pc", 2, 2, KIND_WORKSTATION);
    int lanbox = AddHost("box", 8, 2, KIND_LANBOX);
    HWND map = MakeMap();
    EXPECT_EQ(Drawn(pc), Size2(20, 20));
    EXPECT_EQ(Drawn(lanbox), Size2(20, 20)) << "29 pixels are two cells or more";
    // Shrinking keeps the outline: the monitor's top edge is still there, and nothing is
    // drawn beyond the square.
    int black = 0;
    for (int x = 0; x < 20; ++x)
        black += WindowPixel(map, Left(pc) + x, Top(pc) + 1) == BLACK;
    EXPECT_GT(black, 8);
    ExpectPixels(map, {{Left(pc) + 10, Top(pc) + 8, SlotColor(SLOT_OK)},
                       {Left(pc) + 25, Top(pc) + 10, Background()},
                       {Left(pc) + 10, Top(pc) + 25, Background()}});

    // However small the cells, the text stays readable: a cell 4 pixels high does not make
    // a label 4 pixels high, nor a cell 10 pixels wide letters of one pixel.
    ClearMap();
    options.labelIcons = 1;
    SetCells(10, 4);
    pc = AddHost("mainframe", 2, 2, KIND_HOST);
    MakeMap();
    EXPECT_GE(hostTable[pc].drawHeight - 20, 9);
    EXPECT_GE(hostTable[pc].drawWidth, 9 * 3);
    options.labelIcons = 0;

    // Cells wide enough leave the pictures as they are; so does unscaled text.
    ClearMap();
    SetCells(CELL_WIDTH, CELL_HEIGHT);
    pc = AddHost("pc", 2, 2, KIND_WORKSTATION);
    lanbox = AddHost("box", 8, 2, KIND_LANBOX);
    MakeMap();
    EXPECT_EQ(Drawn(pc), Size2(39, 39));
    EXPECT_EQ(Drawn(lanbox), Size2(29, 16));
    options.scaledMapFont = 0;
    SetCells(10, 10);
    MakeMap();
    EXPECT_EQ(hostTable[pc].drawWidth, 39);
}

// FIT on cells twice the size pictures are made for: pictures and labels twice as large,
// the pictures drawn from the large ones (their outline is no doubled staircase), and lines
// drawn from the middle of one picture to the middle of the other, wherever on the
// pictures their ends lie.
TEST_F(RenderTest, FitGrowsPicturesAndLabelsAndLinesMeetTheirMiddles) {
    options.fitMap = 1;
    SetCells(40, 40);
    const int pc = AddHost("pc", 2, 2, KIND_WORKSTATION);
    const int router = AddHost("router", 20, 10, KIND_ROUTER);
    AddLine(3, 3, 21, 11);
    HWND map = MakeMap();
    SaveWindowImage(map, PicturePath("render_fit.png").c_str());
    EXPECT_EQ(Drawn(pc), Size2(78, 78));
    EXPECT_EQ(Drawn(router), Size2(78, 78));
    const double fromX = Left(pc) + 39, fromY = Top(pc) + 39;
    const double toX = Left(router) + 39, toY = Top(router) + 39;
    for (double along : {0.1, 0.3, 0.5, 0.7, 0.9}) {
        const int x = static_cast<int>(std::lround(fromX + along * (toX - fromX)));
        const int y = static_cast<int>(std::lround(fromY + along * (toY - fromY)));
        EXPECT_EQ(WindowPixel(map, x, y), YELLOW) << along << " of the way at " << x << "," << y;
    }

    // The router's rim as the large picture gives it differs from the small picture's
    // pixels doubled wherever the rim runs aslant.
    HDC pictureDc = CreateCompatibleDC(nullptr);
    HBITMAP previous = SelectObject(pictureDc, hostBitmaps[KIND_ROUTER]);
    int differing = 0;
    for (int y = 0; y < 78; ++y)
        for (int x = 0; x < 78; ++x)
            differing += (GetPixel(pictureDc, x / 2, y / 2) == BLACK) !=
                         (WindowPixel(map, Left(router) + x, Top(router) + y) == BLACK);
    SelectObject(pictureDc, previous);
    DeleteDC(pictureDc);
    EXPECT_GT(differing, 100);

    options.labelIcons = 1;
    Render(map);
    EXPECT_GE(hostTable[pc].drawHeight - 78, 2 * TextSize("pc").cy - 2) << "the label grows too";
}

// On a screen of device pixel ratio 2 the map has twice the pixels each way: lines and
// frames in the same places, and pictures and text drawn at the finer pixels rather than
// the ratio-1 map scaled up; with FIT as without.
TEST_F(RenderTest, ADenseScreenGetsTheMapAtItsOwnPixels) {
    options.labelIcons = 1;
    const int pc = AddHost("pc", 2, 2, KIND_WORKSTATION);
    const int router = AddHost("router", 12, 8, KIND_ROUTER);
    AddHost("box", 20, 3, KIND_WORKSTATION, 0, 0, HOST_PROTOCOL_NONE);
    AddLine(0, 20, 30, 20);
    AddLine(3, 3, 13, 9);
    for (bool fit : {false, true}) {
        SCOPED_TRACE(fit ? "FIT" : "own sizes");
        options.fitMap = fit;
        SetCells(fit ? 50 : CELL_WIDTH, fit ? 40 : CELL_HEIGHT);
        HWND single = MakeMap();
        ForceDevicePixelRatio(2);
        HWND dense = MakeMap();
        ForceDevicePixelRatio(0);
        SaveWindowImage(dense,
                        PicturePath(fit ? "render_fit_ratio2.png" : "render_ratio2.png").c_str());
        const int mapWidth = GRID_COLUMNS * gridCellWidth;
        const int mapHeight = GRID_ROWS * gridCellHeight;
        EXPECT_EQ(WindowPixel(dense, 2 * mapWidth - 1, 2 * mapHeight - 1),
                  WindowPixel(single, mapWidth - 1, mapHeight - 1));
        EXPECT_EQ(WindowPixel(dense, 2 * mapWidth, 0), static_cast<COLORREF>(-1));
        // The level line and the foot band: each pixel two by two.
        const int lineY = 20 * gridCellHeight + gridCellHeight / 2;
        for (int x : {3, 100, mapWidth - 3})
            for (int y : {lineY, mapHeight - 2})
                for (int d : {0, 1})
                    EXPECT_EQ(WindowPixel(dense, 2 * x + d, 2 * y + d), WindowPixel(single, x, y))
                        << x << "," << y;
        // Neither the pictures nor their labels are the single map's scaled up.
        const int side = fit ? 78 : 39;
        for (int host : {pc, router}) {
            int picture = 0;
            int label = 0;
            for (int y = 0; y < 2 * Drawn(host).second; ++y)
                for (int x = 0; x < 2 * Drawn(host).first; ++x)
                    (y < 2 * side ? picture : label) +=
                        WindowPixel(dense, 2 * Left(host) + x, 2 * Top(host) + y) !=
                        WindowPixel(single, Left(host) + x / 2, Top(host) + y / 2);
            EXPECT_GT(picture, 30) << hostTable[host].name;
            EXPECT_GT(label, 50) << hostTable[host].name;
        }
    }
}

TEST_F(RenderTest, LabelsAreCentredOrWidenTheHost) {
    options.labelIcons = 1;
    int narrow = AddHost("a", 2, 2, KIND_WORKSTATION);
    int wide = AddHost("averylongnamehere", 12, 2, KIND_LANBOX, 1);
    HWND map = MakeMap();

    const SIZE a = TextSize("a");
    EXPECT_EQ(Drawn(narrow), Size2(39, 39 + a.cy));
    const int top = Top(narrow) + 39;
    const int left = Left(narrow) + (39 - a.cx) / 2;
    ExpectPixels(map, {{left, top, SlotColor(SLOT_OK)},
                       {left + a.cx - 1, top, SlotColor(SLOT_OK)},
                       {left - 1, top, Background()},
                       {left + a.cx, top, Background()},
                       {left, top + a.cy, Background()}});

    // The name field holds 16 characters, wider than the picture's 29 pixels.
    EXPECT_GT(TextSize("averylongnamehe").cx, 29);
    const SIZE full = TextSize(hostTable[wide].name);
    EXPECT_EQ(Drawn(wide), Size2(full.cx, 16 + full.cy));
    ExpectPixels(map, {{Left(wide), Top(wide) + 16, SlotColor(SLOT_ONE)},
                       {Left(wide) + full.cx - 1, Top(wide) + 16, SlotColor(SLOT_ONE)},
                       {Left(wide) - 1, Top(wide) + 16, Background()}});
}

TEST_F(RenderTest, BoxesFitTheirNameAndWearARaisedFrame) {
    options.useIcons = 0;
    int alpha = AddHost("alpha", 2, 2, KIND_SERVER, 3);
    int none = AddHost("none", 10, 2, KIND_SERVER, 0, 0, HOST_PROTOCOL_NONE);
    int odd = AddHost("odd", 18, 2, 9); // a kind without a picture
    HWND map = MakeMap();
    SaveWindowImage(map, PicturePath("render_boxes.png").c_str());

    TEXTMETRIC metrics{};
    HDC dc = CreateCompatibleDC(nullptr);
    SelectObject(dc, static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT)));
    GetTextMetrics(dc, &metrics);
    DeleteDC(dc);
    const int h = metrics.tmHeight + metrics.tmExternalLeading;
    const int w = TextSize("alpha").cx;
    const int x = Left(alpha);
    const int y = Top(alpha);
    EXPECT_EQ(Drawn(alpha), Size2(w, h));
    ExpectPixels(map, {{x, y, SlotColor(SLOT_THREE)}, {x + w - 1, y, SlotColor(SLOT_THREE)}});
    int textPixels = 0;
    for (int i = 0; i < w; ++i)
        textPixels += GetGValue(WindowPixel(map, x + i, y + h / 2)) < 64;
    EXPECT_GT(textPixels, 3) << "the name is written in the (black) text colour";
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF dark = GetSysColor(COLOR_BTNSHADOW);
    for (int ring = 1; ring <= 2; ++ring) {
        SCOPED_TRACE(testing::Message() << "ring " << ring);
        ExpectPixels(map, {{x - ring, y + h / 2, light, "left"},
                           {x + w / 2, y - ring, light, "top"},
                           {x + w + ring, y + h / 2, dark, "right"},
                           {x + w / 2, y + h + ring, dark, "bottom"}});
    }
    ExpectPixels(map, {{x - 3, y + h / 2, Background()}, {x + w + 3, y + h / 2, Background()}});

    // No protocol: a plain white box one cell wide.
    EXPECT_EQ(Drawn(none), Size2(CELL_WIDTH, h));
    ExpectPixels(map, {{Left(none) + 5, Top(none) + 5, WHITE}, {Left(none), Top(none) + 5, BLACK}});

    // A kind without a picture is a name box even while pictures are on.
    options.useIcons = 1;
    Render(map);
    EXPECT_EQ(Drawn(odd), Size2(TextSize("odd").cx, h));
    EXPECT_EQ(WindowPixel(map, Left(odd), Top(odd)), SlotColor(SLOT_OK));
    EXPECT_EQ(hostTable[alpha].drawWidth, 39) << "a server has its picture";
}

TEST_F(RenderTest, ScaledBoxesAreSizedByTheGrid) {
    options.useIcons = 0;
    options.scaledMapFont = 1;
    int shortName = AddHost("ab", 2, 2, KIND_HOST);
    int five = AddHost("abcde", 6, 2, KIND_HOST);
    int twelve = AddHost("abcdefghijkl", 10, 2, KIND_HOST);
    int none = AddHost("none", 14, 2, KIND_HOST, 0, 0, HOST_PROTOCOL_NONE);
    HWND map = MakeMap();
    SaveWindowImage(map, PicturePath("render_scaled_boxes.png").c_str());
    EXPECT_EQ(hostTable[shortName].drawWidth, (CELL_WIDTH / 4) * 2 + 4);
    // The whole box takes the host colour, not only the text's extent.
    EXPECT_EQ(
        WindowPixel(map, Left(shortName) + hostTable[shortName].drawWidth - 1, Top(shortName)),
        SlotColor(SLOT_OK));
    EXPECT_EQ(Drawn(five), Size2((CELL_WIDTH / 4) * 6 + 4, CELL_HEIGHT));
    EXPECT_EQ(Drawn(twelve), Drawn(five));
    EXPECT_EQ(Drawn(none), Size2(CELL_WIDTH, CELL_HEIGHT - CELL_HEIGHT / 4));
    // The name is clipped to its box.
    const int right = Left(twelve) + hostTable[twelve].drawWidth;
    EXPECT_EQ(WindowPixel(map, right - 1, Top(twelve)), SlotColor(SLOT_OK));
    for (int y = 0; y < CELL_HEIGHT; ++y)
        EXPECT_NE(WindowPixel(map, right + 3, Top(twelve) + y), SlotColor(SLOT_TEXT));
}

TEST_F(RenderTest, GridInEditStatesOnlyAndEdgesFrameTheMap) {
    const COLORREF light = GetSysColor(COLOR_BTNHIGHLIGHT);
    const COLORREF dark = GetSysColor(COLOR_BTNSHADOW);
    const int w = GRID_COLUMNS * CELL_WIDTH;
    const int h = GRID_ROWS * CELL_HEIGHT;
    const int lastColumn = (GRID_COLUMNS - 1) * CELL_WIDTH;
    const int lastRow = (GRID_ROWS - 3) * CELL_HEIGHT; // above the foot band
    for (bool solid : {true, false}) {
        SCOPED_TRACE(solid ? "solid background" : "desktop background");
        options.solidBackground = solid;
        HWND map = MakeMap();
        for (int mode : {0, 1, 3, 6, 7, 0}) {
            SCOPED_TRACE(testing::Message() << "edit mode " << mode);
            editMode = mode;
            Render(map);
            if (mode == 1)
                SaveWindowImage(
                    map,
                    PicturePath(solid ? "render_grid.png" : "render_grid_desktop.png").c_str());
            const COLORREF grid = mode == 0 ? Background() : solid ? BLACK : dark;
            ExpectPixels(map, {{5 * CELL_WIDTH, 100, grid},
                               {lastColumn, lastRow + 3, grid},
                               {100, lastRow, grid},
                               {w - 1, lastRow, grid},
                               {5 * CELL_WIDTH + 1, 100 + 1, Background()}});
        }
        // A raised top edge on a solid map; the sunken band at the foot: shadow above and
        // left, light below and right.
        ExpectPixels(map, {{100, 0, solid ? dark : Background()},
                           {100, 1, solid ? light : Background()},
                           {100, 2, Background()},
                           {100, bandTop - 3, Background()},
                           {100, bandTop - 2, dark},
                           {100, bandTop - 1, dark},
                           {0, h - 5, dark},
                           {1, h - 5, dark},
                           {100, h - 1, light},
                           {w - 1, h - 5, light},
                           {w - 1, h - 1, light},
                           {1, h - 1, dark},
                           {100, h - 5, Background()}});
    }
}

// Lines and hosts may lie billions of pixels away, as a map file can put them: the paint
// stays quick, draws what falls inside, and leaves the records as they were read.
TEST_F(RenderTest, LinesRunBetweenCellCentresUnderTheHostsAndFarOffPartsAreCut) {
    AddLine(0, 10, 30, 10);
    AddLine(30, 2, 30, 20);
    AddLine(0, 25, 100000000, 25);
    AddLine(-2147483647 - 1, 30, 2147483647, 30);
    int pc = AddHost("pc", 8, 10, KIND_WORKSTATION);
    int far = AddHost("far", -159383553, 5, KIND_WORKSTATION);
    auto start = std::chrono::steady_clock::now();
    HWND map = MakeMap();
    double elapsed =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("map with far-off lines and hosts painted in %.1f ms\n", elapsed);
    EXPECT_LT(elapsed, 1000) << "a goal of 100 ms";
    SaveWindowImage(map, PicturePath("render_lines.png").c_str());
    const int y = 10 * CELL_HEIGHT + CELL_HEIGHT / 2;
    const int right = GRID_COLUMNS * CELL_WIDTH - 1;
    ExpectPixels(map, {{CELL_WIDTH / 2, y, YELLOW},
                       {100, y, YELLOW},
                       {100, y - 1, Background()},
                       {30 * CELL_WIDTH + CELL_WIDTH / 2, 5 * CELL_HEIGHT, YELLOW},
                       {Left(pc) + 19, y, SlotColor(SLOT_OK), "the host covers it"},
                       {right, 25 * CELL_HEIGHT + CELL_HEIGHT / 2, YELLOW, "up to the edge"},
                       {0, 30 * CELL_HEIGHT + CELL_HEIGHT / 2, YELLOW, "both ends far off"},
                       {right, 30 * CELL_HEIGHT + CELL_HEIGHT / 2, YELLOW}});
    EXPECT_EQ(Drawn(far), Size2(0, 0)) << "nothing of it shows";
    EXPECT_EQ(lineTable[2].x2, 100000000);
    EXPECT_EQ(hostTable[far].col, -159383553);
    // Their repaint areas stay far off as well.
    EXPECT_LT(HostRepaintArea(hostTable[far]).right, 0);
    EXPECT_GT(LineRepaintArea(lineTable[2]).right, right);
}

// What the editor and the cycle repaint for a host or a line covers all that was drawn for
// it: once the record is gone, repainting only that area leaves the map as it was before
// (a host dragged or deleted leaves no trail, nor does a line).
TEST_F(RenderTest, ARepaintedAreaLeavesNoTrailOfWhatWasThere) {
    HWND map = MakeMap();
    const std::vector<COLORREF> empty = Pixels(map);
    options.labelIcons = 1;
    const struct {
        const char* what;
        unsigned icons;
        const char* name;
        unsigned kind;
        int x1, y1, x2, y2; // a line instead when x1 >= 0
    } cases[] = {
        {"labelled picture", 1, "averylongnamehere", KIND_LANBOX, -1, 0, 0, 0},
        {"framed name box", 0, "alpha", KIND_SERVER, -1, 0, 0, 0},
        {"diagonal line", 1, "", 0, 3, 4, 9, 20},
        {"rising line", 1, "", 0, 30, 20, 2, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        options.useIcons = c.icons;
        if (c.x1 < 0)
            AddHost(c.name, 5, 6, c.kind, 3);
        else
            AddLine(c.x1, c.y1, c.x2, c.y2);
        Render(map);
        ASSERT_NE(Pixels(map), empty) << "something was drawn";
        const HostRecord host = hostTable[0];
        const LineRecord line = lineTable[0];
        ClearMap();
        if (c.x1 < 0)
            InvalidateHost(map, host);
        else
            InvalidateLine(map, line);
        UpdateWindow(map);
        EXPECT_EQ(Pixels(map), empty);
        Render(map);
    }
}

// A paint draws only what meets its area, and there it gives the pixels of a whole repaint:
// the map repainted in small tiles, on a picture scribbled over, is the map repainted at
// once (hosts overlapping, labels, frames, lines under hosts, the grid, the edges). A host
// that changes colour repaints its area alone and draws only the hosts reaching into it.
TEST_F(RenderTest, APaintDrawsWhatMeetsItsAreaAsAWholeRepaintDoes) {
    AddLine(1, 1, 33, 30);
    AddLine(20, 2, 20, 31);
    AddLine(34, 3, 2, 29);
    AddHost("averylongnamehere", 4, 4, KIND_LANBOX, 1);
    AddHost("hub", 9, 4, KIND_HUB, 2);
    const int changing = AddHost("net", 18, 14, KIND_NET, 8);
    const int above = AddHost("odd", 18, 15, 9, 3); // no picture: a framed name box
    AddHost("none", 26, 22, KIND_SERVER, 0, 0, HOST_PROTOCOL_NONE);
    AddHost("printer", 30, 8, KIND_PRINTER);
    AddHost("far", 2, 27, KIND_ROUTER);
    for (bool icons : {true, false}) {
        SCOPED_TRACE(icons ? "labelled pictures, edit grid" : "name boxes, desktop background");
        options.useIcons = options.labelIcons = editMode = icons ? 1 : 0;
        options.solidBackground = icons;
        HWND map = MakeMap();
        const std::vector<COLORREF> whole = Pixels(map);
        if (icons)
            SaveWindowImage(map, PicturePath("render_busy.png").c_str());
        Scribble(map);
        const int width = GRID_COLUMNS * CELL_WIDTH;
        const int height = GRID_ROWS * CELL_HEIGHT;
        for (int top = 0; top < height; top += 11) {
            for (int left = 0; left < width; left += 13) {
                RECT tile{left, top, left + 13, top + 11};
                InvalidateRect(map, &tile, true);
                UpdateWindow(map);
            }
        }
        EXPECT_EQ(Pixels(map), whole);

        const RECT area = HostRepaintArea(hostTable[changing]);
        for (int i = 0; i < hostCount; ++i)
            if (i != changing)
                hostTable[i].drawWidth = hostTable[i].drawHeight = 0;
        hostTable[changing].missed = 0;
        Scribble(map);
        InvalidateHost(map, hostTable[changing]);
        UpdateWindow(map);
        const std::vector<COLORREF> partial = Pixels(map);
        if (icons)
            SaveWindowImage(map, PicturePath("render_one_host.png").c_str());
        for (int i = 0; i < hostCount; ++i)
            EXPECT_EQ(Drawn(i) != Size2(0, 0), i == changing || i == above)
                << hostTable[i].name << " drawn";
        Render(map);
        const std::vector<COLORREF> after = Pixels(map);
        int wrong = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const bool inside =
                    x >= area.left && x < area.right && y >= area.top && y < area.bottom;
                const std::size_t at = static_cast<std::size_t>(y) * width + x;
                wrong += partial[at] != (inside ? after[at] : SCRIBBLE);
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_NE(after, whole) << "the colour changed";
        hostTable[changing].missed = 8;
    }
}

// Below 36 x 35 pixels there is no cell to draw in: the paint ends without looping.
TEST_F(RenderTest, ATinyWindowDrawsNothing) {
    AddHost("pc", 0, 0, KIND_WORKSTATION);
    AddLine(0, 0, 1, 0);
    HWND map = MakeMap(); // drawn once at a usable size
    editMode = 1;
    hostTable[0].drawWidth = 0;
    for (const auto& [width, height] : {Size2(0, CELL_HEIGHT), Size2(CELL_WIDTH, 0), Size2(0, 0)}) {
        SetCells(width, height);
        Render(map);
        EXPECT_EQ(hostTable[0].drawWidth, 0);
        ExpectPixels(map, {{3, 3, Background()}, {0, 0, Background()}});
    }
}

TEST_F(RenderTest, TheMinimisedMainWindowShowsBoxesOnly) {
    int pc = AddHost("workstation", 1, 1, KIND_WORKSTATION, 1);
    AddLine(0, 20, 30, 20);
    editMode = 1;
    HWND main =
        CreateWindow("RENDERTESTSOLID", "map", WS_OVERLAPPEDWINDOW, 0, 0, 900, 600, 0, 0, nullptr);
    made.push_back(main);
    ShowWindow(main, SW_MINIMIZE);
    if (!IsIconic(main))
        GTEST_SKIP() << "this display cannot minimise a window";
    Render(main);
    EXPECT_EQ(Drawn(pc), Size2((CELL_WIDTH / 4) * 6 + 4, CELL_HEIGHT)) << "a box, not a picture";
    ExpectPixels(main, {{Left(pc) + 1, Top(pc) + 1, SlotColor(SLOT_ONE)},
                        {Left(pc) - 1, Top(pc) + 1, Background(), "no frame"},
                        {100, 20 * CELL_HEIGHT + CELL_HEIGHT / 2, Background(), "no lines"},
                        {5 * CELL_WIDTH, 50, Background(), "no grid"}});
}

} // namespace
