// Drawing contexts checked pixel by pixel on memory contexts: line ends, rectangle edges,
// raster operations, flood fill, stretching, text, bitmaps from XPM data and palettes.
#include "platform/gdi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace platform;

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);

// A memory context on a new white bitmap of the given size; frees both at the end.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HBITMAP previous;
    Canvas(int width, int height) {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(dc, width, height);
        previous = SelectObject(dc, bitmap);
        PatBlt(dc, 0, 0, width, height, WHITENESS);
    }
    ~Canvas() {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
};

std::string OutputPath(const char* name) {
    const char* dir = std::getenv("TARNMAP_TEST_OUTPUT");
    std::string base = dir != nullptr ? dir : ".";
    std::filesystem::create_directories(base);
    return base + "/" + name;
}

// Bounding box of the pixels darker than mid-grey inside `area`.
RECT DarkBounds(const Canvas& canvas, RECT area) {
    RECT box{area.right, area.bottom, area.left, area.top};
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x)
            if (GetRValue(canvas.at(x, y)) < 128) {
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x + 1);
                box.bottom = std::max(box.bottom, y + 1);
            }
    return box;
}

} // namespace

TEST(Gdi, LinesLeaveOutTheirLastPixel) {
    Canvas canvas(20, 20);
    MoveToEx(canvas.dc, 2, 2, nullptr);
    LineTo(canvas.dc, 10, 2); // horizontal
    LineTo(canvas.dc, 10, 8); // continues down from the shared corner
    for (int x = 2; x < 10; ++x)
        EXPECT_EQ(canvas.at(x, 2), kBlack) << x;
    EXPECT_EQ(canvas.at(10, 2), kBlack); // first pixel of the second line
    for (int y = 3; y < 8; ++y)
        EXPECT_EQ(canvas.at(10, y), kBlack) << y;
    EXPECT_EQ(canvas.at(10, 8), kWhite);
    EXPECT_EQ(canvas.at(1, 2), kWhite);

    // Backwards and diagonal, in a coloured pen.
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HPEN old = SelectObject(canvas.dc, red);
    POINT previous{};
    MoveToEx(canvas.dc, 15, 12, &previous);
    EXPECT_EQ(previous.x, 10);
    EXPECT_EQ(previous.y, 8);
    LineTo(canvas.dc, 12, 15);
    EXPECT_EQ(canvas.at(15, 12), RGB(255, 0, 0));
    EXPECT_EQ(canvas.at(14, 13), RGB(255, 0, 0));
    EXPECT_EQ(canvas.at(13, 14), RGB(255, 0, 0));
    EXPECT_EQ(canvas.at(12, 15), kWhite);

    // A null pen draws nothing but still moves the position.
    SelectObject(canvas.dc, static_cast<HPEN>(GetStockObject(NULL_PEN)));
    MoveToEx(canvas.dc, 0, 18, nullptr);
    LineTo(canvas.dc, 19, 18);
    EXPECT_EQ(canvas.at(5, 18), kWhite);
    MoveToEx(canvas.dc, 0, 0, &previous);
    EXPECT_EQ(previous.x, 19);

    // A dotted pen leaves gaps, filled with the background colour only when opaque.
    HPEN dotted = CreatePen(PS_DOT, 1, kBlack);
    SelectObject(canvas.dc, dotted);
    SetBkMode(canvas.dc, TRANSPARENT);
    MoveToEx(canvas.dc, 0, 19, nullptr);
    LineTo(canvas.dc, 20, 19);
    int black = 0, white = 0;
    for (int x = 0; x < 20; ++x)
        (canvas.at(x, 19) == kBlack ? black : white)++;
    EXPECT_GT(black, 0);
    EXPECT_GT(white, 0);
    SetBkMode(canvas.dc, OPAQUE);
    SetBkColor(canvas.dc, RGB(0, 0, 255));
    MoveToEx(canvas.dc, 0, 19, nullptr);
    LineTo(canvas.dc, 20, 19);
    for (int x = 0; x < 20; ++x)
        EXPECT_TRUE(canvas.at(x, 19) == kBlack || canvas.at(x, 19) == RGB(0, 0, 255)) << x;

    // A wide pen covers its width across the line.
    HPEN wide = CreatePen(PS_SOLID, 3, RGB(0, 128, 0));
    SelectObject(canvas.dc, wide);
    MoveToEx(canvas.dc, 2, 15, nullptr);
    LineTo(canvas.dc, 8, 15);
    for (int y = 14; y <= 16; ++y)
        EXPECT_EQ(canvas.at(5, y), RGB(0, 128, 0)) << y;
    EXPECT_EQ(canvas.at(5, 13), kWhite);
    EXPECT_EQ(canvas.at(5, 17), kWhite);

    SelectObject(canvas.dc, old);
    DeleteObject(red);
    DeleteObject(dotted);
    DeleteObject(wide);
}

TEST(Gdi, RectanglesOutlineWithThePenFillWithTheBrushAndExcludeRightAndBottom) {
    Canvas canvas(20, 20);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
    HPEN oldPen = SelectObject(canvas.dc, pen);
    HBRUSH oldBrush = SelectObject(canvas.dc, brush);
    Rectangle(canvas.dc, 2, 5, 8, 10);
    for (int x = 2; x < 8; ++x) {
        EXPECT_EQ(canvas.at(x, 5), RGB(255, 0, 0)) << x;
        EXPECT_EQ(canvas.at(x, 9), RGB(255, 0, 0)) << x;
        EXPECT_EQ(canvas.at(x, 10), kWhite) << x;
    }
    for (int y = 5; y < 10; ++y) {
        EXPECT_EQ(canvas.at(2, y), RGB(255, 0, 0)) << y;
        EXPECT_EQ(canvas.at(7, y), RGB(255, 0, 0)) << y;
        EXPECT_EQ(canvas.at(8, y), kWhite) << y;
    }
    for (int y = 6; y < 9; ++y)
        for (int x = 3; x < 7; ++x)
            EXPECT_EQ(canvas.at(x, y), RGB(0, 0, 255)) << x << "," << y;

    // Without a pen the fill stops one pixel short, as it always has.
    SelectObject(canvas.dc, static_cast<HPEN>(GetStockObject(NULL_PEN)));
    Rectangle(canvas.dc, 10, 10, 14, 14);
    EXPECT_EQ(canvas.at(10, 10), RGB(0, 0, 255));
    EXPECT_EQ(canvas.at(12, 12), RGB(0, 0, 255));
    EXPECT_EQ(canvas.at(13, 12), kWhite);
    EXPECT_EQ(canvas.at(12, 13), kWhite);

    // A hollow brush leaves the inside; FillRect and FrameRect cover exactly the rectangle.
    SelectObject(canvas.dc, pen);
    SelectObject(canvas.dc, static_cast<HBRUSH>(GetStockObject(HOLLOW_BRUSH)));
    Rectangle(canvas.dc, 14, 0, 20, 4);
    EXPECT_EQ(canvas.at(16, 2), kWhite);
    EXPECT_EQ(canvas.at(19, 2), RGB(255, 0, 0));
    RECT fill{0, 12, 3, 15};
    FillRect(canvas.dc, &fill, brush);
    EXPECT_EQ(canvas.at(2, 14), RGB(0, 0, 255));
    EXPECT_EQ(canvas.at(3, 14), kWhite);
    EXPECT_EQ(canvas.at(2, 15), kWhite);
    RECT frame{0, 16, 5, 20};
    FrameRect(canvas.dc, &frame, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(canvas.at(4, 19), kBlack);
    EXPECT_EQ(canvas.at(2, 17), kWhite);
    // A system colour given as a brush number, as window classes do.
    RECT face{5, 16, 7, 18};
    FillRect(canvas.dc, &face, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    EXPECT_EQ(canvas.at(5, 16), GetSysColor(COLOR_BTNFACE));

    SelectObject(canvas.dc, oldPen);
    SelectObject(canvas.dc, oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

TEST(Gdi, SelectObjectReturnsThePreviousObjectAndDeletionWaitsForDeselection) {
    Canvas canvas(4, 4);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 255, 0));
    HPEN first = SelectObject(canvas.dc, pen);
    EXPECT_EQ(first, static_cast<HPEN>(GetStockObject(BLACK_PEN)));
    EXPECT_EQ(SelectObject(canvas.dc, first), pen);
    HBRUSH brush = CreateSolidBrush(kBlack);
    EXPECT_EQ(SelectObject(canvas.dc, brush), static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HFONT font = CreateFont(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH,
                            "FLMFONTX");
    EXPECT_EQ(SelectObject(canvas.dc, font), static_cast<HFONT>(GetStockObject(SYSTEM_FONT)));
    // The generic form hands back the same object.
    EXPECT_EQ(SelectObject(canvas.dc, static_cast<HGDIOBJ>(GetStockObject(ANSI_VAR_FONT))),
              static_cast<HGDIOBJ>(font));
    EXPECT_EQ(GetCurrentObject(canvas.dc, OBJ_BRUSH), static_cast<HGDIOBJ>(brush));

    // A pen deleted while selected keeps drawing until it is replaced, then is gone.
    SelectObject(canvas.dc, pen);
    EXPECT_TRUE(DeleteObject(pen));
    MoveToEx(canvas.dc, 0, 0, nullptr);
    LineTo(canvas.dc, 3, 0);
    EXPECT_EQ(canvas.at(0, 0), RGB(0, 255, 0));
    SelectObject(canvas.dc, static_cast<HPEN>(GetStockObject(BLACK_PEN)));
    EXPECT_FALSE(DeleteObject(pen));
    EXPECT_EQ(SelectObject(canvas.dc, pen), nullptr);

    // Stock objects survive DeleteObject; a bitmap goes into one memory context at a time.
    EXPECT_TRUE(DeleteObject(GetStockObject(WHITE_BRUSH)));
    EXPECT_NE(SelectObject(canvas.dc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH))), nullptr);
    HDC other = CreateCompatibleDC(canvas.dc);
    EXPECT_EQ(SelectObject(other, canvas.bitmap), nullptr);
    DeleteDC(other);
    EXPECT_TRUE(DeleteObject(brush));
    EXPECT_TRUE(DeleteObject(font));
    EXPECT_FALSE(DeleteObject(font));
}

TEST(Gdi, RasterOperationsCombineColoursBitByBit) {
    const COLORREF sourceColors[4] = {RGB(0x12, 0x34, 0x56), RGB(0xF0, 0x0F, 0xAA), kBlack, kWhite};
    const COLORREF destColors[4] = {RGB(0xFF, 0x80, 0x01), RGB(0x3C, 0xC3, 0x55),
                                    RGB(0x99, 0x99, 0x99), RGB(0x10, 0x20, 0x30)};
    struct Case {
        DWORD rop;
        COLORREF (*expected)(COLORREF source, COLORREF dest);
    };
    const Case cases[] = {
        {SRCAND, [](COLORREF s, COLORREF d) { return s & d; }},
        {SRCPAINT, [](COLORREF s, COLORREF d) { return s | d; }},
        {SRCINVERT, [](COLORREF s, COLORREF d) { return s ^ d; }},
        {SRCCOPY, [](COLORREF s, COLORREF) { return s; }},
        {NOTSRCCOPY, [](COLORREF s, COLORREF) { return ~s & 0xFFFFFFu; }},
        {SRCERASE, [](COLORREF s, COLORREF d) { return s & ~d & 0xFFFFFFu; }},
        {DSTINVERT, [](COLORREF, COLORREF d) { return ~d & 0xFFFFFFu; }},
        {BLACKNESS, [](COLORREF, COLORREF) { return kBlack; }},
    };
    Canvas source(4, 1);
    for (int i = 0; i < 4; ++i)
        SetPixel(source.dc, i, 0, sourceColors[i]);
    for (const Case& c : cases) {
        Canvas dest(6, 1);
        for (int i = 0; i < 4; ++i)
            SetPixel(dest.dc, i + 1, 0, destColors[i]);
        ASSERT_TRUE(BitBlt(dest.dc, 1, 0, 4, 1, source.dc, 0, 0, c.rop));
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(dest.at(i + 1, 0), c.expected(sourceColors[i], destColors[i]))
                << std::hex << c.rop << " pixel " << i;
        EXPECT_EQ(dest.at(0, 0), kWhite);
        EXPECT_EQ(dest.at(5, 0), kWhite);
    }

    // PATCOPY paints the brush; a blit within one bitmap reads the pixels as they were.
    Canvas canvas(6, 1);
    HBRUSH brush = CreateSolidBrush(RGB(1, 2, 3));
    HBRUSH old = SelectObject(canvas.dc, brush);
    PatBlt(canvas.dc, 0, 0, 2, 1, PATCOPY);
    EXPECT_EQ(canvas.at(1, 0), RGB(1, 2, 3));
    SetPixel(canvas.dc, 2, 0, RGB(9, 9, 9));
    BitBlt(canvas.dc, 1, 0, 3, 1, canvas.dc, 0, 0, SRCCOPY);
    EXPECT_EQ(canvas.at(1, 0), RGB(1, 2, 3));
    EXPECT_EQ(canvas.at(2, 0), RGB(1, 2, 3));
    EXPECT_EQ(canvas.at(3, 0), RGB(9, 9, 9));
    SelectObject(canvas.dc, old);
    DeleteObject(brush);
}

TEST(Gdi, FloodFillStopsAtTheOutline) {
    // White canvas, a black square outline whose left edge has a pixel pushed outwards
    // (a notch that belongs to the inside), a red dot outside and a red dot inside.
    auto prepare = [](Canvas& canvas) {
        SelectObject(canvas.dc, static_cast<HBRUSH>(GetStockObject(HOLLOW_BRUSH)));
        Rectangle(canvas.dc, 5, 5, 15, 15);
        SetPixel(canvas.dc, 5, 9, kWhite);
        for (int y = 8; y <= 10; ++y)
            SetPixel(canvas.dc, 4, y, kBlack);
        SetPixel(canvas.dc, 1, 18, RGB(255, 0, 0));
        SetPixel(canvas.dc, 9, 9, RGB(255, 0, 0));
    };
    const COLORREF green = RGB(0, 200, 0);
    HBRUSH brush = CreateSolidBrush(green);
    for (UINT type : {FLOODFILLBORDER, FLOODFILLSURFACE}) {
        Canvas canvas(20, 20);
        prepare(canvas);
        HBRUSH old = SelectObject(canvas.dc, brush);
        COLORREF reference = type == FLOODFILLBORDER ? kBlack : kWhite;
        ASSERT_TRUE(ExtFloodFill(canvas.dc, 0, 0, reference, type));
        EXPECT_EQ(canvas.at(0, 0), green);
        EXPECT_EQ(canvas.at(19, 19), green);
        EXPECT_EQ(canvas.at(5, 4), green);
        EXPECT_EQ(canvas.at(16, 10), green);
        EXPECT_EQ(canvas.at(5, 5), kBlack);   // the outline stays
        EXPECT_EQ(canvas.at(5, 9), kWhite);   // the notch behind the patch stays
        EXPECT_EQ(canvas.at(10, 10), kWhite); // the inside stays
        EXPECT_EQ(canvas.at(9, 9), RGB(255, 0, 0));
        // The red dot outside is not the border colour but not the surface colour either.
        EXPECT_EQ(canvas.at(1, 18), type == FLOODFILLBORDER ? green : RGB(255, 0, 0));
        // Starting on the border (or off the surface) fills nothing.
        EXPECT_FALSE(
            ExtFloodFill(canvas.dc, 5, 5, type == FLOODFILLBORDER ? kBlack : kWhite, type));
        SelectObject(canvas.dc, old);
    }

    // Diagonal neighbours do not connect: a fill inside a diamond stays inside.
    {
        Canvas canvas(9, 9);
        for (int i = 0; i < 4; ++i) {
            SetPixel(canvas.dc, 4 + i, i, kBlack);
            SetPixel(canvas.dc, 8 - i, 4 + i, kBlack);
            SetPixel(canvas.dc, 4 - i, 8 - i, kBlack);
            SetPixel(canvas.dc, i, 4 - i, kBlack);
        }
        HBRUSH old = SelectObject(canvas.dc, brush);
        FloodFill(canvas.dc, 4, 4, kBlack);
        EXPECT_EQ(canvas.at(4, 4), green);
        EXPECT_EQ(canvas.at(0, 0), kWhite);
        EXPECT_EQ(canvas.at(8, 8), kWhite);
        SelectObject(canvas.dc, old);
    }

    // A long winding corridor: one fill must reach its far end without running out of stack.
    {
        const int size = 1200;
        Canvas canvas(size, size);
        for (int x = 2; x < size; x += 2) {
            bool openAtTop = (x / 2) % 2 == 0;
            MoveToEx(canvas.dc, x, openAtTop ? 1 : 0, nullptr);
            LineTo(canvas.dc, x, openAtTop ? size : size - 1);
        }
        HBRUSH old = SelectObject(canvas.dc, brush);
        ASSERT_TRUE(FloodFill(canvas.dc, 0, 0, kBlack));
        EXPECT_EQ(canvas.at(size - 1, size / 2), green);
        EXPECT_EQ(canvas.at(3, size - 1), green);
        SelectObject(canvas.dc, old);
    }
    DeleteObject(brush);
}

TEST(Gdi, StretchBltShrinksAndEnlargesToTheGivenSize) {
    // 39 x 39 white with a one-pixel black line at column 19 and row 7.
    Canvas source(39, 39);
    MoveToEx(source.dc, 19, 0, nullptr);
    LineTo(source.dc, 19, 39);
    MoveToEx(source.dc, 0, 7, nullptr);
    LineTo(source.dc, 39, 7);

    Canvas dest(30, 30);
    // The default mode keeps thin black lines when shrinking.
    ASSERT_TRUE(StretchBlt(dest.dc, 2, 3, 20, 20, source.dc, 0, 0, 39, 39, SRCCOPY));
    RECT ink = DarkBounds(dest, RECT{0, 0, 30, 30});
    EXPECT_EQ(ink.left, 2);
    EXPECT_EQ(ink.top, 3);
    EXPECT_EQ(ink.right, 22);
    EXPECT_EQ(ink.bottom, 23);
    EXPECT_EQ(dest.at(22, 10), kWhite);
    EXPECT_EQ(dest.at(10, 23), kWhite);
    int blackColumns = 0;
    for (int x = 2; x < 22; ++x)
        blackColumns += dest.at(x, 20) == kBlack;
    EXPECT_EQ(blackColumns, 1);

    // Enlarging repeats pixels.
    Canvas small(2, 2);
    SetPixel(small.dc, 1, 0, RGB(255, 0, 0));
    SetPixel(small.dc, 0, 1, RGB(0, 0, 255));
    SetStretchBltMode(dest.dc, COLORONCOLOR);
    ASSERT_TRUE(StretchBlt(dest.dc, 0, 0, 4, 4, small.dc, 0, 0, 2, 2, SRCCOPY));
    EXPECT_EQ(dest.at(0, 0), kWhite);
    EXPECT_EQ(dest.at(3, 1), RGB(255, 0, 0));
    EXPECT_EQ(dest.at(2, 0), RGB(255, 0, 0));
    EXPECT_EQ(dest.at(1, 3), RGB(0, 0, 255));
    EXPECT_EQ(dest.at(4, 0), kWhite);
}

TEST(Gdi, TextMetricsOfStockAndCreatedFontsAreSane) {
    Canvas canvas(10, 10);
    for (int stock : {SYSTEM_FONT, ANSI_VAR_FONT, ANSI_FIXED_FONT, SYSTEM_FIXED_FONT,
                      DEFAULT_GUI_FONT, OEM_FIXED_FONT}) {
        SelectObject(canvas.dc, GetStockObject(stock));
        TEXTMETRIC tm{};
        ASSERT_TRUE(GetTextMetrics(canvas.dc, &tm));
        EXPECT_GT(tm.tmHeight, 8) << stock;
        EXPECT_LT(tm.tmHeight, 30) << stock;
        EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent) << stock;
        EXPECT_GT(tm.tmAveCharWidth, 2) << stock;
        EXPECT_GE(tm.tmMaxCharWidth, tm.tmAveCharWidth) << stock;
        EXPECT_GE(tm.tmExternalLeading, 0) << stock;
        SIZE narrow{}, wide{};
        GetTextExtentPoint32(canvas.dc, "iiii", 4, &narrow);
        GetTextExtentPoint32(canvas.dc, "WWWW", 4, &wide);
        EXPECT_EQ(narrow.cy, tm.tmHeight);
        bool fixed =
            stock == ANSI_FIXED_FONT || stock == SYSTEM_FIXED_FONT || stock == OEM_FIXED_FONT;
        if (fixed)
            EXPECT_EQ(narrow.cx, wide.cx) << stock;
        else
            EXPECT_LT(narrow.cx, wide.cx) << stock;
        EXPECT_EQ((tm.tmPitchAndFamily & 1) == 0, fixed) << stock;
    }
    SelectObject(canvas.dc, GetStockObject(SYSTEM_FONT));

    // A positive height is the cell, a negative one the character without leading.
    HFONT cell = CreateFont(20, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0, VARIABLE_PITCH,
                            "FLMFONTX");
    HFONT character = CreateFont(-20, 0, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0,
                                 VARIABLE_PITCH, "FLMFONTX");
    HFONT narrowFont = CreateFont(20, 4, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0,
                                  VARIABLE_PITCH, "FLMFONTX");
    TEXTMETRIC tmCell{}, tmCharacter{}, tmNarrow{};
    SelectObject(canvas.dc, cell);
    GetTextMetrics(canvas.dc, &tmCell);
    SelectObject(canvas.dc, character);
    GetTextMetrics(canvas.dc, &tmCharacter);
    SelectObject(canvas.dc, narrowFont);
    GetTextMetrics(canvas.dc, &tmNarrow);
    SelectObject(canvas.dc, GetStockObject(SYSTEM_FONT));
    EXPECT_LE(tmCell.tmHeight, 20);
    EXPECT_GE(tmCell.tmHeight, 17);
    EXPECT_GT(tmCharacter.tmHeight, 20);
    EXPECT_NEAR(tmNarrow.tmAveCharWidth, 4, 1);
    EXPECT_LT(tmNarrow.tmAveCharWidth, tmCell.tmAveCharWidth);
    DeleteObject(cell);
    DeleteObject(character);
    DeleteObject(narrowFont);
}

TEST(Gdi, OpaqueTextFillsItsRectangleAndStaysInsideWhenClipped) {
    Canvas canvas(60, 30);
    SelectObject(canvas.dc, GetStockObject(ANSI_VAR_FONT));
    SetBkColor(canvas.dc, RGB(255, 0, 0));
    SetTextColor(canvas.dc, kBlack);
    RECT box{2, 2, 30, 20};
    const char* text = "WWWWWWWWWWWW";
    ASSERT_TRUE(ExtTextOut(canvas.dc, 2, 2, ETO_OPAQUE | ETO_CLIPPED, &box, text, 12, nullptr));
    EXPECT_EQ(canvas.at(2, 19), RGB(255, 0, 0));
    EXPECT_EQ(canvas.at(29, 19), RGB(255, 0, 0));
    EXPECT_EQ(canvas.at(1, 10), kWhite);
    EXPECT_EQ(canvas.at(2, 20), kWhite);
    for (int y = 0; y < 30; ++y)
        for (int x = 30; x < 60; ++x)
            ASSERT_EQ(canvas.at(x, y), kWhite) << x << "," << y;
    RECT ink = DarkBounds(canvas, box);
    EXPECT_LT(ink.left, ink.right); // some text is there

    // Transparent text over the bitmap leaves the background alone.
    SetBkMode(canvas.dc, TRANSPARENT);
    TextOut(canvas.dc, 35, 5, "x", 1);
    EXPECT_EQ(canvas.at(35, 5), kWhite);
}

TEST(Gdi, DrawTextMeasuresAndCentres) {
    Canvas canvas(100, 40);
    SelectObject(canvas.dc, GetStockObject(ANSI_VAR_FONT));
    SetBkMode(canvas.dc, TRANSPARENT);
    SIZE extent{};
    GetTextExtentPoint32(canvas.dc, "File", 4, &extent);
    RECT measure{10, 10, 10, 10};
    int height = DrawText(canvas.dc, "&File", -1, &measure, DT_SINGLELINE | DT_CALCRECT);
    EXPECT_EQ(measure.right - measure.left, extent.cx);
    EXPECT_EQ(measure.bottom - measure.top, extent.cy);
    EXPECT_EQ(height, extent.cy);
    EXPECT_EQ(canvas.at(10, 10), kWhite); // measuring draws nothing

    RECT box{0, 0, 100, 40};
    DrawText(canvas.dc, "Hello", -1, &box, DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    RECT ink = DarkBounds(canvas, box);
    EXPECT_NEAR((ink.left + ink.right) / 2, 50, 3);
    EXPECT_NEAR((ink.top + ink.bottom) / 2, 20, 4);

    RECT wrap{0, 0, 40, 0};
    int lines = DrawText(canvas.dc, "one two three four", -1, &wrap, DT_WORDBREAK | DT_CALCRECT) /
                extent.cy;
    EXPECT_GE(lines, 2);
}

TEST(Gdi, BitmapsLoadFromRegisteredXpmData) {
    static const char* const tiny[] = {"3 2 3 1", ". c #FFFFFF", "# c #000000", "r c #FF0000",
                                       "#.r",     "r#.",         nullptr};
    static const char* const clear[] = {"2 1 2 1", "  c None", "# c #102030", " #", nullptr};
    RegisterBitmapResource("BMP_TINY", tiny);
    RegisterBitmapResource("BMP_CLEAR", clear);
    EXPECT_EQ(LoadBitmap("BMP_MISSING"), nullptr);
    HBITMAP bitmap = LoadBitmap("bmp_tiny");
    ASSERT_NE(bitmap, nullptr);
    BITMAP info{};
    ASSERT_EQ(GetObject(bitmap, sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.bmWidth, 3);
    EXPECT_EQ(info.bmHeight, 2);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP old = SelectObject(dc, bitmap);
    EXPECT_EQ(GetPixel(dc, 0, 0), kBlack);
    EXPECT_EQ(GetPixel(dc, 1, 0), kWhite);
    EXPECT_EQ(GetPixel(dc, 2, 0), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(dc, 0, 1), RGB(255, 0, 0));
    EXPECT_EQ(GetPixel(dc, 3, 0), CLR_INVALID);
    HBITMAP clearBitmap = LoadBitmap("BMP_CLEAR");
    SelectObject(dc, clearBitmap);
    EXPECT_EQ(GetPixel(dc, 0, 0), kWhite);
    EXPECT_EQ(GetPixel(dc, 1, 0), RGB(0x10, 0x20, 0x30));
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_TRUE(DeleteObject(clearBitmap));
}

TEST(Gdi, PalettesResolveIndexedColoursAndPicturesKeepTheirOrientation) {
    Canvas canvas(8, 6);
    struct {
        LOGPALETTE head;
        PALETTEENTRY more[2];
    } logo{};
    logo.head.palVersion = 0x300;
    logo.head.palNumEntries = 3;
    logo.head.palPalEntry[0] = PALETTEENTRY{10, 20, 30, 0};
    logo.more[0] = PALETTEENTRY{40, 50, 60, 0};
    logo.more[1] = PALETTEENTRY{70, 80, 90, 0};
    HPALETTE palette = CreatePalette(&logo.head);
    ASSERT_NE(palette, nullptr);
    HPALETTE previous = SelectPalette(canvas.dc, palette, 0);
    EXPECT_EQ(previous, static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE)));
    EXPECT_EQ(RealizePalette(canvas.dc), 0u);
    EXPECT_EQ(SetPixel(canvas.dc, 0, 0, PALETTEINDEX(2)), RGB(70, 80, 90));
    EXPECT_EQ(canvas.at(0, 0), RGB(70, 80, 90));
    SetPixel(canvas.dc, 1, 0, PALETTERGB(1, 2, 3));
    EXPECT_EQ(canvas.at(1, 0), RGB(1, 2, 3));
    EXPECT_EQ(SelectPalette(canvas.dc, previous, 0), palette);
    EXPECT_TRUE(DeleteObject(palette));

    // A 4 x 3 picture of 8 bits per pixel stored bottom-up: the first stored row is the
    // picture's bottom row. Drawn 2 x 1 with the source corner one pixel in from the
    // lower left: the middle of the second row from the bottom.
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[3];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = 4;
    info.header.biHeight = 3;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biClrUsed = 3;
    info.colors[0] = RGBQUAD{0, 0, 255, 0}; // red, stored blue first
    info.colors[1] = RGBQUAD{255, 0, 0, 0}; // blue
    info.colors[2] = RGBQUAD{0, 255, 0, 0}; // green
    const unsigned char bits[12] = {0, 0, 0, 0, 1, 2, 2, 1, 1, 1, 1, 1};
    const auto* bitmapInfo = reinterpret_cast<const BITMAPINFO*>(&info);
    EXPECT_EQ(
        SetDIBitsToDevice(canvas.dc, 0, 2, 4, 3, 0, 0, 0, 3, bits, bitmapInfo, DIB_RGB_COLORS), 3);
    EXPECT_EQ(canvas.at(0, 2), RGB(0, 0, 255)); // top row: all blue
    EXPECT_EQ(canvas.at(1, 3), RGB(0, 255, 0));
    EXPECT_EQ(canvas.at(0, 3), RGB(0, 0, 255));
    EXPECT_EQ(canvas.at(3, 4), RGB(255, 0, 0)); // bottom row: all red
    SetDIBitsToDevice(canvas.dc, 6, 0, 2, 1, 1, 1, 0, 3, bits, bitmapInfo, DIB_RGB_COLORS);
    EXPECT_EQ(canvas.at(6, 0), RGB(0, 255, 0));
    EXPECT_EQ(canvas.at(7, 0), RGB(0, 255, 0));
    EXPECT_EQ(canvas.at(6, 1), kWhite);
}

TEST(Gdi, ClippingLimitsEveryKindOfDrawing) {
    Canvas canvas(10, 10);
    EXPECT_EQ(IntersectClipRect(canvas.dc, 2, 2, 6, 6), SIMPLEREGION);
    RECT all{0, 0, 10, 10};
    FillRect(canvas.dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(canvas.at(2, 2), kBlack);
    EXPECT_EQ(canvas.at(5, 5), kBlack);
    EXPECT_EQ(canvas.at(6, 5), CLR_INVALID); // outside the clip
    RECT box{};
    EXPECT_EQ(GetClipBox(canvas.dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.right, 6);
    EXPECT_EQ(SetPixel(canvas.dc, 7, 7, kBlack), CLR_INVALID);
    EXPECT_EQ(IntersectClipRect(canvas.dc, 8, 8, 9, 9), NULLREGION);
}

// The map's way of drawing a host picture, saved for a look: white areas take the host
// colour, the outside the background, shrunk to a square; plus grid, line, box and label.
TEST(Gdi, SampleMapDrawingIsSavedAsPng) {
    static std::vector<std::string> rows;
    static std::vector<const char*> xpm;
    if (xpm.empty()) {
        rows.push_back("39 39 2 1");
        rows.push_back(". c #FFFFFF");
        rows.push_back("# c #000000");
        for (int y = 0; y < 39; ++y) {
            std::string row(39, '.');
            bool screen = y >= 4 && y <= 26;
            if (screen && (y == 4 || y == 26))
                std::fill(row.begin() + 4, row.begin() + 35, '#');
            else if (screen)
                row[4] = row[34] = '#';
            if (y >= 30 && y <= 36 && (y == 30 || y == 36))
                std::fill(row.begin() + 1, row.begin() + 38, '#');
            else if (y > 30 && y < 36)
                row[1] = row[37] = '#';
            if (y > 26 && y < 30)
                row[19] = '#';
            rows.push_back(row);
        }
        for (const std::string& row : rows)
            xpm.push_back(row.c_str());
        xpm.push_back(nullptr);
    }
    RegisterBitmapResource("BMP_SAMPLE", xpm.data());

    Canvas map(200, 120);
    const COLORREF back = RGB(192, 192, 192);
    RECT all{0, 0, 200, 120};
    HBRUSH backBrush = CreateSolidBrush(back);
    FillRect(map.dc, &all, backBrush);
    HPEN shadow = CreatePen(PS_SOLID, 1, RGB(128, 128, 128));
    HPEN highlight = CreatePen(PS_SOLID, 1, kWhite);
    HPEN oldPen = SelectObject(map.dc, shadow);
    for (int x = 0; x < 200; x += 20) {
        MoveToEx(map.dc, x, 0, nullptr);
        LineTo(map.dc, x, 120);
    }
    for (int y = 0; y < 120; y += 20) {
        MoveToEx(map.dc, 0, y, nullptr);
        LineTo(map.dc, 200, y);
    }
    HPEN yellow = CreatePen(PS_SOLID, 1, RGB(255, 255, 0));
    SelectObject(map.dc, yellow);
    MoveToEx(map.dc, 30, 30, nullptr);
    LineTo(map.dc, 130, 90);

    // Host picture: colour fill, AND the picture, flood the outside, stretch to the map.
    HBITMAP picture = LoadBitmap("BMP_SAMPLE");
    ASSERT_NE(picture, nullptr);
    HDC pictureDc = CreateCompatibleDC(map.dc);
    HDC scratchDc = CreateCompatibleDC(map.dc);
    HBITMAP scratch = CreateCompatibleBitmap(map.dc, 39, 39);
    HBITMAP oldPicture = SelectObject(pictureDc, picture);
    HBITMAP oldScratch = SelectObject(scratchDc, scratch);
    const COLORREF hostColor = RGB(0, 255, 0);
    HBRUSH hostBrush = CreateSolidBrush(hostColor);
    HPEN hostPen = CreatePen(PS_SOLID, 1, hostColor);
    SelectObject(scratchDc, hostBrush);
    HPEN oldScratchPen = SelectObject(scratchDc, hostPen);
    Rectangle(scratchDc, 0, 0, 39, 39);
    BitBlt(scratchDc, 0, 0, 39, 39, pictureDc, 0, 0, SRCAND);
    SelectObject(scratchDc, backBrush);
    FloodFill(scratchDc, 0, 0, kBlack);
    EXPECT_EQ(GetPixel(scratchDc, 0, 0), back);
    EXPECT_EQ(GetPixel(scratchDc, 20, 15), hostColor);
    EXPECT_EQ(GetPixel(scratchDc, 4, 4), kBlack);
    StretchBlt(map.dc, 20, 20, 39, 39, scratchDc, 0, 0, 39, 39, SRCCOPY);
    StretchBlt(map.dc, 140, 20, 20, 20, scratchDc, 0, 0, 39, 39, SRCCOPY);
    EXPECT_EQ(map.at(20 + 20, 20 + 15), hostColor);

    // Label under the picture in the host colour, and a name box with a raised frame.
    SelectObject(map.dc, GetStockObject(ANSI_VAR_FONT));
    SetBkColor(map.dc, hostColor);
    SetTextColor(map.dc, kBlack);
    SIZE label{};
    GetTextExtentPoint32(map.dc, "gateway", 7, &label);
    TextOut(map.dc, 20 + (39 - label.cx) / 2, 59, "gateway", 7);
    SetBkColor(map.dc, RGB(255, 255, 0));
    RECT nameBox{100, 90, 100 + 40, 90 + 14};
    ExtTextOut(map.dc, 100, 90, ETO_OPAQUE | ETO_CLIPPED, &nameBox, "server", 6, nullptr);
    for (int ring = 1; ring <= 2; ++ring) {
        SelectObject(map.dc, highlight);
        MoveToEx(map.dc, 100 - ring, 104 + ring, nullptr);
        LineTo(map.dc, 100 - ring, 90 - ring);
        LineTo(map.dc, 140 + ring, 90 - ring);
        SelectObject(map.dc, shadow);
        LineTo(map.dc, 140 + ring, 104 + ring);
        LineTo(map.dc, 100 - ring, 104 + ring);
    }
    EXPECT_EQ(map.at(98, 95), kWhite);

    // The map's scaled font for cells of 22 x 17 pixels (average width 22 / 8).
    HFONT scaled = CreateFont(17, 22 / 8, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0,
                              VARIABLE_PITCH, "FLMFONTX");
    HFONT oldFont = SelectObject(map.dc, scaled);
    SetBkMode(map.dc, TRANSPARENT);
    TextOut(map.dc, 100, 40, "router-7", 8);
    SelectObject(map.dc, oldFont);
    DeleteObject(scaled);
    EXPECT_EQ(map.at(142, 95), RGB(128, 128, 128));

    EXPECT_TRUE(SaveBitmapToPng(map.bitmap, OutputPath("gdi_sample.png").c_str()));
    EXPECT_FALSE(SaveBitmapToPng(nullptr, OutputPath("none.png").c_str()));

    SelectObject(scratchDc, oldScratchPen);
    SelectObject(scratchDc, oldScratch);
    SelectObject(pictureDc, oldPicture);
    DeleteDC(scratchDc);
    DeleteDC(pictureDc);
    DeleteObject(scratch);
    DeleteObject(picture);
    SelectObject(map.dc, oldPen);
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(shadow), static_cast<HGDIOBJ>(highlight),
                           static_cast<HGDIOBJ>(yellow), static_cast<HGDIOBJ>(hostPen),
                           static_cast<HGDIOBJ>(hostBrush), static_cast<HGDIOBJ>(backBrush)})
        EXPECT_TRUE(DeleteObject(object));
}
