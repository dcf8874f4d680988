// Drawing contexts checked pixel by pixel on memory contexts: line ends, rectangle edges,
// raster operations, flood fill, stretching, text and bitmaps from XPM data.
#include "platform/gdi.h"
#include "platform/testing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace platform;

namespace {

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 200, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

// A memory context on a new white bitmap of the given size; frees both at the end.
struct Canvas {
    HDC dc;
    HBITMAP bitmap;
    HBITMAP previous;
    Canvas(int width, int height) {
        dc = CreateCompatibleDC(nullptr);
        bitmap = CreateCompatibleBitmap(dc, width, height);
        previous = SelectObject(dc, bitmap);
        RECT all{0, 0, width, height};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    ~Canvas() {
        SelectObject(dc, previous);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF at(int x, int y) const { return GetPixel(dc, x, y); }
};

// A pen or brush made for a test, selected while it lives, deleted afterwards.
template <typename Handle> class Selected {
  public:
    Selected(HDC dc, Handle object)
        : dc_(dc), object_(object), previous_(SelectObject(dc, object)) {}
    ~Selected() {
        SelectObject(dc_, previous_);
        DeleteObject(object_);
    }

  private:
    HDC dc_;
    Handle object_;
    Handle previous_;
};

char Letter(COLORREF c) {
    return c == kWhite        ? '.'
           : c == kBlack      ? '#'
           : c == kRed        ? 'r'
           : c == kGreen      ? 'g'
           : c == kBlue       ? 'b'
           : c == CLR_INVALID ? 'x'
                              : '?';
}

// The pixels from (x0, y0) to (x1, y1), both included, along a row, column or diagonal,
// as letters: . white, # black, r red, g green, b blue, x outside the picture, ? other.
std::string Pixels(HDC dc, int x0, int y0, int x1, int y1) {
    std::string letters;
    int dx = (x1 > x0) - (x1 < x0);
    int dy = (y1 > y0) - (y1 < y0);
    for (int x = x0, y = y0;; x += dx, y += dy) {
        letters += Letter(GetPixel(dc, x, y));
        if (x == x1 && y == y1)
            return letters;
    }
}

// The rows of an area (right and bottom excluded) as letters, each row ended by '\n'.
std::string Area(HDC dc, int left, int top, int right, int bottom) {
    std::string rows;
    for (int y = top; y < bottom; ++y)
        rows += Pixels(dc, left, y, right - 1, y) + "\n";
    return rows;
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

HFONT Font(int height, int width = 0) {
    return CreateFont(height, width, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, 0, 0, 0,
                      VARIABLE_PITCH, "FLMFONTX");
}

} // namespace

TEST(Gdi, LinesLeaveOutTheirLastPixel) {
    Canvas canvas(20, 20);
    HDC dc = canvas.dc;
    MoveToEx(dc, 2, 2, nullptr);
    LineTo(dc, 10, 2);
    LineTo(dc, 10, 8); // continues down from the shared corner
    EXPECT_EQ(Pixels(dc, 1, 2, 11, 2), ".#########.");
    EXPECT_EQ(Pixels(dc, 10, 2, 10, 9), "######..");

    POINT previous{};
    {
        Selected<HPEN> red(dc, CreatePen(PS_SOLID, 1, kRed));
        MoveToEx(dc, 15, 12, &previous);
        EXPECT_EQ(previous.x, 10);
        EXPECT_EQ(previous.y, 8);
        LineTo(dc, 12, 15); // backwards and diagonal
        EXPECT_EQ(Pixels(dc, 15, 12, 12, 15), "rrr.");
    }
    EXPECT_EQ(CreatePen(PS_SOLID, 3, kGreen), nullptr) << "only one-pixel pens";
}

TEST(Gdi, RectanglesOutlineWithThePenFillWithTheBrushAndExcludeRightAndBottom) {
    Canvas canvas(20, 20);
    HDC dc = canvas.dc;
    Selected<HPEN> pen(dc, CreatePen(PS_SOLID, 1, kRed));
    HBRUSH blue = CreateSolidBrush(kBlue);
    Selected<HBRUSH> brush(dc, blue);
    Rectangle(dc, 2, 5, 8, 10);
    EXPECT_EQ(Area(dc, 1, 4, 9, 11), "........\n"
                                     ".rrrrrr.\n"
                                     ".rbbbbr.\n"
                                     ".rbbbbr.\n"
                                     ".rbbbbr.\n"
                                     ".rrrrrr.\n"
                                     "........\n");

    // FillRect covers exactly the rectangle.
    RECT fill{0, 12, 3, 15};
    FillRect(dc, &fill, blue);
    EXPECT_EQ(Area(dc, 0, 12, 4, 16), "bbb.\nbbb.\nbbb.\n....\n");
    // A system colour given as a brush number, as window classes do.
    RECT face{5, 16, 7, 18};
    FillRect(dc, &face, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    EXPECT_EQ(canvas.at(5, 16), GetSysColor(COLOR_BTNFACE));
}

TEST(Gdi, SelectObjectReturnsThePreviousObjectAndDeletionWaitsForDeselection) {
    Canvas canvas(4, 4);
    HPEN pen = CreatePen(PS_SOLID, 1, kGreen);
    HPEN first = SelectObject(canvas.dc, pen);
    EXPECT_EQ(first, static_cast<HPEN>(GetStockObject(BLACK_PEN)));
    EXPECT_EQ(SelectObject(canvas.dc, first), pen);
    HBRUSH brush = CreateSolidBrush(kBlack);
    EXPECT_EQ(SelectObject(canvas.dc, brush), static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    HFONT font = Font(12);
    EXPECT_EQ(SelectObject(canvas.dc, font), static_cast<HFONT>(GetStockObject(SYSTEM_FONT)));
    // The generic form hands back the same object.
    EXPECT_EQ(SelectObject(canvas.dc, static_cast<HGDIOBJ>(GetStockObject(ANSI_VAR_FONT))),
              static_cast<HGDIOBJ>(font));

    // A pen deleted while selected keeps drawing until it is replaced, then is gone.
    SelectObject(canvas.dc, pen);
    EXPECT_TRUE(DeleteObject(pen));
    MoveToEx(canvas.dc, 0, 0, nullptr);
    LineTo(canvas.dc, 3, 0);
    EXPECT_EQ(canvas.at(0, 0), kGreen);
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

TEST(Gdi, BlitsCopyOrAndTheColoursExactly) {
    const COLORREF sourceColors[3] = {RGB(0x12, 0x34, 0x56), RGB(0xF0, 0x0F, 0xAA), kWhite};
    const COLORREF destColors[3] = {RGB(0xFF, 0x80, 0x01), RGB(0x3C, 0xC3, 0x55), kBlack};
    Canvas source(3, 1), copied(5, 1), anded(5, 1);
    for (int i = 0; i < 3; ++i) {
        SetPixel(source.dc, i, 0, sourceColors[i]);
        SetPixel(copied.dc, i + 1, 0, destColors[i]);
        SetPixel(anded.dc, i + 1, 0, destColors[i]);
    }
    ASSERT_TRUE(BitBlt(copied.dc, 1, 0, 3, 1, source.dc, 0, 0, SRCCOPY));
    ASSERT_TRUE(BitBlt(anded.dc, 1, 0, 3, 1, source.dc, 0, 0, SRCAND));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(copied.at(i + 1, 0), sourceColors[i]) << i;
        EXPECT_EQ(anded.at(i + 1, 0), sourceColors[i] & destColors[i]) << i;
    }
    EXPECT_EQ(Pixels(anded.dc, 0, 0, 4, 0).front(), '.');
    EXPECT_EQ(Pixels(anded.dc, 0, 0, 4, 0).back(), '.');

    // Where a blit reaches past the source's edges, the destination stays as it was.
    Canvas wider(5, 1);
    for (int i = 0; i < 5; ++i)
        SetPixel(wider.dc, i, 0, kRed);
    ASSERT_TRUE(BitBlt(wider.dc, 0, 0, 5, 1, source.dc, -1, 0, SRCCOPY));
    EXPECT_EQ(wider.at(0, 0), kRed);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(wider.at(i + 1, 0), sourceColors[i]) << i;
    EXPECT_EQ(wider.at(4, 0), kRed);

    // A blit within one bitmap reads the pixels as they were.
    Canvas canvas(6, 1);
    SetPixel(canvas.dc, 0, 0, kRed);
    SetPixel(canvas.dc, 1, 0, kRed);
    SetPixel(canvas.dc, 2, 0, kBlue);
    EXPECT_EQ(Pixels(canvas.dc, 0, 0, 5, 0), "rrb...");
    BitBlt(canvas.dc, 1, 0, 3, 1, canvas.dc, 0, 0, SRCCOPY);
    EXPECT_EQ(Pixels(canvas.dc, 0, 0, 5, 0), "rrrb..");
}

TEST(Gdi, FloodFillStopsAtTheOutline) {
    HBRUSH green = CreateSolidBrush(kGreen);
    // A black square outline whose left edge has a pixel pushed outwards (a notch that
    // belongs to the inside), a red dot outside and a red dot inside.
    Canvas canvas(20, 20);
    Rectangle(canvas.dc, 5, 5, 15, 15); // white inside, as the canvas
    SetPixel(canvas.dc, 5, 9, kWhite);
    for (int y = 8; y <= 10; ++y)
        SetPixel(canvas.dc, 4, y, kBlack);
    SetPixel(canvas.dc, 1, 18, kRed);
    SetPixel(canvas.dc, 9, 9, kRed);
    SelectObject(canvas.dc, green);
    ASSERT_TRUE(FloodFill(canvas.dc, 0, 0, kBlack));
    EXPECT_EQ(Pixels(canvas.dc, 0, 0, 19, 19), "ggggg#...r....#ggggg");
    EXPECT_EQ(Pixels(canvas.dc, 3, 9, 7, 9), "g#...") << "the notch stays inside";
    EXPECT_EQ(canvas.at(5, 4), kGreen);
    EXPECT_EQ(canvas.at(1, 18), kGreen) << "only the border colour stops the fill";
    EXPECT_FALSE(FloodFill(canvas.dc, 5, 5, kBlack)) << "starting on the border fills nothing";

    // Diagonal neighbours do not connect: a fill inside a diamond stays inside.
    Canvas diamond(9, 9);
    for (int i = 0; i < 4; ++i) {
        SetPixel(diamond.dc, 4 + i, i, kBlack);
        SetPixel(diamond.dc, 8 - i, 4 + i, kBlack);
        SetPixel(diamond.dc, 4 - i, 8 - i, kBlack);
        SetPixel(diamond.dc, i, 4 - i, kBlack);
    }
    SelectObject(diamond.dc, green);
    FloodFill(diamond.dc, 4, 4, kBlack);
    EXPECT_EQ(Pixels(diamond.dc, 0, 0, 8, 8), "..#ggg#..");

    // A long winding corridor: one fill must reach its far end without running out of stack.
    const int size = 1200;
    Canvas corridor(size, size);
    for (int x = 2; x < size; x += 2) {
        bool openAtTop = (x / 2) % 2 == 0;
        MoveToEx(corridor.dc, x, openAtTop ? 1 : 0, nullptr);
        LineTo(corridor.dc, x, openAtTop ? size : size - 1);
    }
    SelectObject(corridor.dc, green);
    ASSERT_TRUE(FloodFill(corridor.dc, 0, 0, kBlack));
    EXPECT_EQ(corridor.at(size - 1, size / 2), kGreen);
    EXPECT_EQ(corridor.at(3, size - 1), kGreen);
    SelectObject(corridor.dc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SelectObject(diamond.dc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SelectObject(canvas.dc, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DeleteObject(green);
}

TEST(Gdi, StretchBltShrinksAndEnlargesToTheGivenSize) {
    // 39 x 39 white with a one-pixel black line at column 19 and row 7.
    Canvas source(39, 39);
    MoveToEx(source.dc, 19, 0, nullptr);
    LineTo(source.dc, 19, 39);
    MoveToEx(source.dc, 0, 7, nullptr);
    LineTo(source.dc, 39, 7);

    // The default mode keeps thin black lines when shrinking.
    Canvas dest(30, 30);
    ASSERT_TRUE(StretchBlt(dest.dc, 2, 3, 20, 20, source.dc, 0, 0, 39, 39, SRCCOPY));
    RECT ink = DarkBounds(dest, RECT{0, 0, 30, 30});
    EXPECT_EQ((std::vector<LONG>{ink.left, ink.top, ink.right, ink.bottom}),
              (std::vector<LONG>{2, 3, 22, 23}));
    std::string row = Pixels(dest.dc, 2, 20, 21, 20);
    EXPECT_EQ(row.find_first_not_of('.'), row.find_last_not_of('.')) << row;
    EXPECT_EQ(row[row.find_first_not_of('.')], '#') << row;

    // Enlarging repeats pixels.
    Canvas small(2, 2);
    SetPixel(small.dc, 1, 0, kRed);
    SetPixel(small.dc, 0, 1, kBlue);
    ASSERT_TRUE(StretchBlt(dest.dc, 0, 0, 4, 4, small.dc, 0, 0, 2, 2, SRCCOPY));
    EXPECT_EQ(Area(dest.dc, 0, 0, 5, 4), "..rr.\n..rr.\nbb...\nbb...\n");
}

TEST(Gdi, TextMetricsOfStockAndCreatedFontsAreSane) {
    Canvas canvas(10, 10);
    for (int stock : {SYSTEM_FONT, ANSI_VAR_FONT, ANSI_FIXED_FONT, SYSTEM_FIXED_FONT}) {
        SCOPED_TRACE(stock);
        SelectObject(canvas.dc, GetStockObject(stock));
        TEXTMETRIC tm{};
        ASSERT_TRUE(GetTextMetrics(canvas.dc, &tm));
        EXPECT_GT(tm.tmHeight, 8);
        EXPECT_LT(tm.tmHeight, 30);
        EXPECT_EQ(tm.tmHeight, tm.tmAscent + tm.tmDescent);
        EXPECT_GT(tm.tmAveCharWidth, 2);
        EXPECT_GE(tm.tmMaxCharWidth, tm.tmAveCharWidth);
        EXPECT_GE(tm.tmExternalLeading, 0);
        SIZE narrow{}, wide{};
        GetTextExtentPoint32(canvas.dc, "iiii", 4, &narrow);
        GetTextExtentPoint32(canvas.dc, "WWWW", 4, &wide);
        EXPECT_EQ(narrow.cy, tm.tmHeight);
        bool fixed = stock == ANSI_FIXED_FONT || stock == SYSTEM_FIXED_FONT;
        EXPECT_EQ(narrow.cx == wide.cx, fixed);
        EXPECT_EQ((tm.tmPitchAndFamily & 1) == 0, fixed);
    }

    // A positive height is the cell, a negative one the character without leading.
    auto metrics = [&canvas](HFONT font) {
        TEXTMETRIC tm{};
        SelectObject(canvas.dc, font);
        GetTextMetrics(canvas.dc, &tm);
        SelectObject(canvas.dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(font);
        return tm;
    };
    TEXTMETRIC cell = metrics(Font(20));
    TEXTMETRIC character = metrics(Font(-20));
    TEXTMETRIC narrow = metrics(Font(20, 4));
    EXPECT_LE(cell.tmHeight, 20);
    EXPECT_GE(cell.tmHeight, 17);
    EXPECT_GT(character.tmHeight, 20);
    EXPECT_NEAR(narrow.tmAveCharWidth, 4, 1);
    EXPECT_LT(narrow.tmAveCharWidth, cell.tmAveCharWidth);
}

TEST(Gdi, OpaqueTextFillsItsRectangleAndStaysInsideWhenClipped) {
    Canvas canvas(100, 40);
    SelectObject(canvas.dc, GetStockObject(ANSI_VAR_FONT));
    SetBkColor(canvas.dc, kRed);
    SetTextColor(canvas.dc, kBlack);
    RECT box{2, 2, 30, 20};
    ASSERT_TRUE(
        ExtTextOut(canvas.dc, 2, 2, ETO_OPAQUE | ETO_CLIPPED, &box, "WWWWWWWWWWWW", 12, nullptr));
    EXPECT_EQ(Pixels(canvas.dc, 1, 19, 30, 19), "." + std::string(28, 'r') + ".");
    EXPECT_EQ(canvas.at(2, 20), kWhite);
    std::string blank;
    for (int y = 0; y < 40; ++y)
        blank += std::string(70, '.') + "\n";
    EXPECT_EQ(Area(canvas.dc, 30, 0, 100, 40), blank);
    RECT ink = DarkBounds(canvas, box);
    EXPECT_LT(ink.left, ink.right); // some text is there

    // Transparent text over the bitmap leaves the background alone.
    SetBkMode(canvas.dc, TRANSPARENT);
    TextOut(canvas.dc, 35, 5, "x", 1);
    EXPECT_EQ(canvas.at(35, 5), kWhite);
}

TEST(Gdi, BitmapsLoadFromRegisteredXpmData) {
    static const char* const tiny[] = {"3 2 3 1", ". c #FFFFFF", "# c #000000", "r c #FF0000",
                                       "#.r",     "r#.",         nullptr};
    static const char* const clear[] = {"2 1 2 1", "  c None", "# c #0000FF", " #", nullptr};
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
    EXPECT_EQ(Area(dc, 0, 0, 4, 2), "#.rx\nr#.x\n");
    HBITMAP clearBitmap = LoadBitmap("BMP_CLEAR");
    SelectObject(dc, clearBitmap);
    EXPECT_EQ(Pixels(dc, 0, 0, 1, 0), ".b") << "None is white";
    SelectObject(dc, old);
    DeleteDC(dc);
    EXPECT_TRUE(DeleteObject(bitmap));
    EXPECT_TRUE(DeleteObject(clearBitmap));
}
