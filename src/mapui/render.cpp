// Drawing the map: the edit grid, the edges, the lines and the hosts, each host as a picture
// or a name box in the colour of its band. Owns the palette, the colour table, the host
// pictures and the two edge pens.
#include "mapui/render.h"

#include "mapui/editor.h"
#include "mapui/statusbar.h"
#include "monitor/mapwnd.h"
#include "monitor/probe.h"
#include "platform/window.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>

using namespace platform;

/*** globals ***/

unsigned colorTable[COLOR_SLOT_COUNT] = {10, 11, 16, 16, 6, 5, 1, 2, 0, 14};
const char* const colorSlotNames[COLOR_SLOT_COUNT] = {
    "Responding",   "Lost 1 pkt", "Lost 2 pkts", "Lost 3 pkts", "Lost 4-7 pkts",
    "Lost 8+ pkts", "Inactive",   "Background*", "Text",        "Unreachable"};
HBITMAP hostBitmaps[HOST_KIND_COUNT];
int bitmapsLoaded = 0;
HPEN shadowPen = nullptr;
HPEN highlightPen = nullptr;

namespace {

// The 24 colours a colour slot can take.
const COLORREF palette[PALETTE_COLORS] = {
    RGB(0, 0, 0),     RGB(128, 128, 128), RGB(192, 192, 192), RGB(255, 255, 255),
    RGB(128, 0, 0),   RGB(192, 0, 0),     RGB(255, 0, 0),     RGB(255, 128, 128),
    RGB(0, 128, 0),   RGB(0, 192, 0),     RGB(0, 255, 0),     RGB(128, 255, 128),
    RGB(0, 0, 192),   RGB(0, 0, 255),     RGB(128, 128, 255), RGB(0, 255, 255),
    RGB(255, 255, 0), RGB(255, 255, 128), RGB(255, 0, 255),   RGB(255, 128, 255),
    RGB(192, 192, 0), RGB(255, 255, 192), RGB(192, 0, 192),   RGB(255, 192, 255)};

constexpr COLORREF LINE_COLOR = RGB(255, 255, 0);
constexpr COLORREF OUTLINE_COLOR = RGB(0, 0, 0);

// Status codes that let a failing host step through the missed-count bands: the ICMP
// library's time-out, and a socket wait cut off by the wait timer.
constexpr std::uint32_t ICMP_LIBRARY_TIMED_OUT = 11010;
constexpr std::uint32_t BLOCKING_CALL_CANCELLED = 10004;

// Text scaled to the grid fills a cell's height and is condensed to an eighth of a cell's
// width, so a name of a dozen letters fits a box sized for six; but it never gets lower or
// narrower than can be read: at least 9 pixels high, letters at least 4 pixels wide on
// average, and never condensed below about half their natural width.
constexpr int MIN_SCALED_TEXT_HEIGHT = 9;
constexpr int MIN_SCALED_TEXT_WIDTH = 4;

// Coloured pictures are made as large as the largest host picture when they are loaded.
int scratchWidth = 0;
int scratchHeight = 0;
SIZE pictureSizes[HOST_KIND_COUNT]; // each host picture's own, read when they are loaded

// A host picture as last coloured for a slot.
struct Coloured {
    HBITMAP picture; // null until first drawn
    COLORREF color;  // the host colour and the background it was coloured with
    COLORREF outside;
};
Coloured colouredPictures[HOST_KIND_COUNT][COLOR_SLOT_COUNT];

// With FIT, pictures and labels grow with the grid: at cells of this many pixels (the
// smaller side) they have their own size, and on larger cells they grow in proportion.
constexpr int FIT_CELL = 20;

// The host pictures drawn four times as large ("BMP_PC_4X", ...): what pictures grown by
// FIT, and pictures on a dense screen, are drawn from, so that they stay sharp.
constexpr int LARGE_FACTOR = 4;
struct LargePictures {
    HBITMAP bitmaps[HOST_KIND_COUNT];
    SIZE sizes[HOST_KIND_COUNT];
    int scratchWidth; // the largest of them
    int scratchHeight;
    Coloured coloured[HOST_KIND_COUNT][COLOR_SLOT_COUNT];
};
LargePictures largePictures;

// What one paint works with.
struct Paint {
    HDC dc;
    RECT area;        // the part of the window to paint; nothing outside it changes
    bool iconic;      // the iconic view of the minimised main window
    bool scaledText;  // text and boxes sized by the grid
    int lineHeight;   // of the selected font, with its leading: a name box's height
    int textHeight;   // of the selected font: a label's height
    int widestLetter; // no letter of the selected font is wider
    COLORREF outside; // around the pictures: the map's background
    HDC scratchDc;    // holds a coloured picture, while it is coloured or drawn
    HDC pictureDc;    // holds one host picture at a time
    bool fit;         // FIT: lines meet the hosts' middles
    double growth;    // 1, or how much larger FIT draws pictures and labels
    bool large;       // pictures drawn from the large ones: grown, or on a dense screen
};

// Whether the rectangle from (left, top) to (right, bottom), right and bottom excluded,
// has a pixel in the paint area.
bool MeetsArea(const Paint& paint, long long left, long long top, long long right,
               long long bottom) {
    return left < paint.area.right && right > paint.area.left && top < paint.area.bottom &&
           bottom > paint.area.top;
}

// A level or upright line from (x1, y1) to (x2, y2) without its last pixel, as LineTo draws
// it, cut to the paint area first: the pixels inside are the same, and none outside is
// visited.
void DrawStraightLine(const Paint& paint, int x1, int y1, int x2, int y2) {
    const bool level = y1 == y2;
    const int across = level ? y1 : x1;
    const int from = level ? x1 : y1;
    const int to = level ? x2 : y2;
    // The pixels along the line, as a range that excludes its high end.
    int low = from <= to ? from : to + 1;
    int high = from <= to ? to : from + 1;
    const RECT& area = paint.area;
    if (level ? across < area.top || across >= area.bottom
              : across < area.left || across >= area.right)
        return;
    low = std::max(low, static_cast<int>(level ? area.left : area.top));
    high = std::min(high, static_cast<int>(level ? area.right : area.bottom));
    if (low >= high)
        return;
    MoveToEx(paint.dc, level ? low : across, level ? across : low, nullptr);
    LineTo(paint.dc, level ? high : across, level ? across : high);
}

// Whether the paint is for the minimised main window: the window itself, or the window
// it belongs to, is iconic.
bool PaintsIconicView(HWND window) {
    if (IsIconic(window))
        return true;
    HWND parent = GetParent(window);
    return parent != 0 && IsIconic(parent);
}

HPEN EdgePen(HPEN pen) {
    return pen != nullptr ? pen : static_cast<HPEN>(GetStockObject(BLACK_PEN));
}

// The map's font grown by `growth`, for the labels and names under FIT.
HFONT CreateGrownFont(double growth) {
    LOGFONT font{};
    GetObject(GetStockObject(ANSI_VAR_FONT), sizeof font, &font);
    return CreateFont(static_cast<int>(std::lround(font.lfHeight * growth)), 0, 0, 0, font.lfWeight,
                      0, 0, 0, font.lfCharSet, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                      DEFAULT_QUALITY, font.lfPitchAndFamily, font.lfFaceName);
}

HFONT CreateScaledFont() {
    int height = std::max(gridCellHeight, MIN_SCALED_TEXT_HEIGHT);
    int width = std::max({gridCellWidth / 8, MIN_SCALED_TEXT_WIDTH, height / 4});
    return CreateFont(height, width, 0, 0, FW_NORMAL, 0, 0, 0, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                      CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH, "FLMFONTX");
}

int NameLength(const HostRecord& host) {
    return static_cast<int>(strnlen(host.name, sizeof host.name));
}

// The grid lines that cross the paint area.
void DrawEditGrid(const Paint& paint, int width, int height) {
    HPEN previous = nullptr;
    if (options.solidBackground == 0)
        previous = SelectObject(paint.dc, EdgePen(shadowPen));
    const int firstColumn = std::max(0, static_cast<int>(paint.area.left) / gridCellWidth);
    const int lastX = std::min(width, static_cast<int>(paint.area.right));
    for (int x = firstColumn * gridCellWidth; x < lastX; x += gridCellWidth)
        DrawStraightLine(paint, x, 0, x, height);
    const int firstRow = std::max(0, static_cast<int>(paint.area.top) / gridCellHeight);
    const int lastY = std::min(height, static_cast<int>(paint.area.bottom));
    for (int y = firstRow * gridCellHeight; y < lastY; y += gridCellHeight)
        DrawStraightLine(paint, 0, y, width, y);
    if (previous != nullptr)
        SelectObject(paint.dc, previous);
}

// The sunken band at the foot of the map (none in the wall view, which shows the map
// alone), and the top edge of a solid background: each stroke from one corner to the next,
// in the order drawn.
void DrawEdges(const Paint& paint, int width, int height) {
    const int top = bandTop;
    const HPEN dark = EdgePen(shadowPen);
    const HPEN light = EdgePen(highlightPen);
    const struct {
        HPEN pen;
        int x1, y1, x2, y2;
    } strokes[] = {
        {dark, 0, 0, width, 0}, // the raised top edge of a solid background
        {light, 0, 1, width, 1},
        {dark, 0, height, 0, top - 2}, // the band's outer ring
        {dark, 0, top - 2, width, top - 2},
        {light, width, top - 2, width, height},
        {light, width, height, 0, height},
        {dark, 1, height - 1, 1, top - 1}, // its inner ring
        {dark, 1, top - 1, width - 1, top - 1},
        {light, width - 1, top - 1, width - 1, height - 1},
        {light, width - 1, height - 1, 1, height - 1},
    };
    HPEN previous = SelectObject(paint.dc, dark);
    const std::size_t end = wallView != 0 ? 2 : std::size(strokes);
    for (std::size_t i = options.solidBackground != 0 ? 0 : 2; i < end; ++i) {
        SelectObject(paint.dc, strokes[i].pen);
        DrawStraightLine(paint, strokes[i].x1, strokes[i].y1, strokes[i].x2, strokes[i].y2);
    }
    SelectObject(paint.dc, previous);
}

// A line between two pixel positions, which may lie anywhere a cell of the map can.
struct Segment {
    long long x1, y1, x2, y2;
};

// Cuts `segment` to the rectangle from (left, top) to (right, bottom), ends included, at
// the parameters where it crosses each side (Liang-Barsky). False when nothing of it lies
// inside. A segment wholly inside is left exactly as it was.
bool ClipSegment(Segment& segment, long long left, long long top, long long right,
                 long long bottom) {
    auto inside = [&](long long x, long long y) {
        return x >= left && x <= right && y >= top && y <= bottom;
    };
    if (inside(segment.x1, segment.y1) && inside(segment.x2, segment.y2))
        return true;
    const double dx = static_cast<double>(segment.x2 - segment.x1);
    const double dy = static_cast<double>(segment.y2 - segment.y1);
    const double toward[4] = {-dx, dx, -dy, dy};
    const double room[4] = {
        static_cast<double>(segment.x1 - left), static_cast<double>(right - segment.x1),
        static_cast<double>(segment.y1 - top), static_cast<double>(bottom - segment.y1)};
    double enter = 0;
    double leave = 1;
    for (int side = 0; side < 4; ++side) {
        if (toward[side] == 0) {
            if (room[side] < 0)
                return false; // parallel to this side and outside it
            continue;
        }
        const double at = room[side] / toward[side];
        if (toward[side] < 0)
            enter = std::max(enter, at);
        else
            leave = std::min(leave, at);
    }
    if (enter > leave)
        return false;
    const Segment cut{segment.x1 + std::llround(enter * dx), segment.y1 + std::llround(enter * dy),
                      segment.x1 + std::llround(leave * dx), segment.y1 + std::llround(leave * dy)};
    segment = cut;
    return true;
}

// Under FIT a line's end on or beside a host (on a cell its picture, box or label covers, or
// on one next to those) goes to the middle of its picture or box, the nearest such middle
// when there are several; so lines meet the hosts whatever size they are drawn at, and
// maps drawn with ends beside the hosts keep them joined.
struct HostMiddle {
    long long lastCol, lastRow; // the last cell the host covers
    long long x, y;             // the middle of its picture or box
};
struct HostMiddles {
    int count;
    HostMiddle hosts[MAX_HOSTS]; // in the order of the host table
};
HostMiddles hostMiddles; // found again at each paint under FIT

void FindHostMiddles(const Paint& paint, bool pictures, HostMiddles& middles);

// The pixel a line's end at cell (col, row) is drawn to.
void LineEnd(const HostMiddles* middles, std::int32_t col, std::int32_t row, long long& x,
             long long& y) {
    x = CellLeft(col) + gridCellWidth / 2;
    y = CellTop(row) + gridCellHeight / 2;
    if (middles == nullptr)
        return;
    const long long cellX = x;
    const long long cellY = y;
    double nearest = std::numeric_limits<double>::infinity();
    for (int i = 0; i < middles->count; ++i) {
        const HostMiddle& host = middles->hosts[i];
        if (col < hostTable[i].col - 1LL || col > host.lastCol + 1 ||
            row < hostTable[i].row - 1LL || row > host.lastRow + 1)
            continue;
        const double distance =
            std::hypot(static_cast<double>(host.x - cellX), static_cast<double>(host.y - cellY));
        if (distance < nearest) {
            nearest = distance;
            x = host.x;
            y = host.y;
        }
    }
}

// The lines that cross the paint area, each cut to the window first: an end may lie
// billions of pixels away, and only what falls inside is drawn. A line is always cut to the
// window alone, so that its pixels are the same whatever part of the window is painted.
void DrawLines(const Paint& paint, bool pictures, int width, int height) {
    HDC dc = paint.dc;
    HPEN pen = CreatePen(PS_SOLID, 1, LINE_COLOR);
    HPEN previous = SelectObject(dc, pen);
    const int count = std::clamp(lineCount, 0, MAX_LINES);
    const HostMiddles* middles = nullptr;
    if (paint.fit) {
        FindHostMiddles(paint, pictures, hostMiddles);
        middles = &hostMiddles;
    }
    for (int i = 0; i < count; ++i) {
        const LineRecord& line = lineTable[i];
        Segment segment{};
        LineEnd(middles, line.x1, line.y1, segment.x1, segment.y1);
        LineEnd(middles, line.x2, line.y2, segment.x2, segment.y2);
        // One pixel beyond each edge, so that the cut ends themselves are never seen.
        if (!ClipSegment(segment, -1, -1, width, height))
            continue;
        // A drawn pixel lies within half a pixel of the exact line.
        Segment inArea = segment;
        if (!ClipSegment(inArea, paint.area.left - 1, paint.area.top - 1, paint.area.right,
                         paint.area.bottom))
            continue;
        MoveToEx(dc, static_cast<int>(segment.x1), static_cast<int>(segment.y1), nullptr);
        LineTo(dc, static_cast<int>(segment.x2), static_cast<int>(segment.y2));
    }
    SelectObject(dc, previous);
    DeleteObject(pen);
}

// A name box's frame: two rings around it.
constexpr int FRAME_RINGS = 2;
// How far the glyphs of a name may reach past the width it is measured at.
constexpr int GLYPH_OVERHANG = 2;

int NameWidth(const Paint& paint, const HostRecord& host) {
    SIZE text{};
    GetTextExtentPoint32(paint.dc, host.name, NameLength(host), &text);
    return text.cx;
}

// The size a picture is drawn at: its own, grown with the grid under FIT, or, with text
// scaled to the grid, a square of two cells when it is two cells wide or more (it is never
// enlarged then).
SIZE PictureSize(const Paint& paint, unsigned kind) {
    SIZE drawn = pictureSizes[kind];
    if (paint.growth != 1)
        return SIZE{static_cast<int>(std::lround(drawn.cx * paint.growth)),
                    static_cast<int>(std::lround(drawn.cy * paint.growth))};
    if (options.scaledMapFont != 0 && drawn.cx >= 2 * gridCellWidth)
        drawn = SIZE{2 * gridCellWidth, 2 * gridCellWidth};
    return drawn;
}

// Whether the host's size depends on the width of its name.
bool SizedByName(const Paint& paint, const HostRecord& host, HBITMAP picture) {
    if (picture != nullptr)
        return options.labelIcons != 0;
    return (host.flags & HOST_PROTOCOL_NONE) == 0 && !paint.scaledText;
}

// The size a host is drawn at, label included and frame not, when its name is `nameWidth`
// pixels wide: a picture with the label under it, a plain box one cell wide for a host with
// no protocol, else a box for the name (sized by the grid when text is scaled).
SIZE HostSize(const Paint& paint, const HostRecord& host, HBITMAP picture, int nameWidth) {
    if (picture != nullptr) {
        SIZE size = PictureSize(paint, host.kind);
        if (options.labelIcons != 0) {
            size.cx = std::max(size.cx, nameWidth);
            size.cy += paint.textHeight;
        }
        return size;
    }
    if ((host.flags & HOST_PROTOCOL_NONE) != 0)
        return {gridCellWidth,
                paint.scaledText ? gridCellHeight - gridCellHeight / 4 : paint.lineHeight};
    if (paint.scaledText) {
        const int length = NameLength(host);
        const int letters = length <= 4 ? length : 6;
        return {(gridCellWidth / 4) * letters + 4, gridCellHeight};
    }
    return {nameWidth, paint.lineHeight};
}

void FindHostMiddles(const Paint& paint, bool pictures, HostMiddles& middles) {
    middles.count = std::clamp(hostCount, 0, MAX_HOSTS);
    for (int i = 0; i < middles.count; ++i) {
        const HostRecord& host = hostTable[i];
        HBITMAP picture =
            pictures && host.kind < HOST_KIND_COUNT ? hostBitmaps[host.kind] : nullptr;
        const SIZE all = HostSize(paint, host, picture,
                                  SizedByName(paint, host, picture) ? NameWidth(paint, host) : 0);
        const SIZE body = picture != nullptr ? PictureSize(paint, host.kind) : all;
        middles.hosts[i] =
            HostMiddle{host.col + std::max(0, all.cx - 1) / gridCellWidth,
                       host.row + std::max(0, all.cy - 1) / gridCellHeight,
                       CellLeft(host.col) + body.cx / 2, CellTop(host.row) + body.cy / 2};
    }
}

// Whether drawing the host at (left, top) can change a pixel of the paint area. The height
// needs no name; the name is measured only for a host that could reach the area with a
// name of its length in the widest letters.
bool HostMeetsArea(const Paint& paint, const HostRecord& host, HBITMAP picture, int left, int top) {
    constexpr int REACH = FRAME_RINGS + GLYPH_OVERHANG;
    auto meets = [&](SIZE size) {
        return MeetsArea(paint, left - REACH, top - REACH, left + size.cx + REACH + 1,
                         top + size.cy + REACH + 1);
    };
    if (!SizedByName(paint, host, picture))
        return meets(HostSize(paint, host, picture, 0));
    if (!meets(HostSize(paint, host, picture, NameLength(host) * paint.widestLetter)))
        return false;
    return meets(HostSize(paint, host, picture, NameWidth(paint, host)));
}

// The name under a picture, centred when it is narrower and widening the host's area when
// it is wider.
void DrawPictureLabel(const Paint& paint, HostRecord& host, COLORREF color, int left, int top) {
    const int width = NameWidth(paint, host);
    host.drawHeight += paint.textHeight;
    int x = left + (host.drawWidth - width) / 2;
    if (width > host.drawWidth) {
        host.drawWidth = width;
        x = left;
    }
    SetBkMode(paint.dc, OPAQUE);
    SetBkColor(paint.dc, color);
    TextOut(paint.dc, x, top, host.name, NameLength(host));
}

// A host picture coloured in a picture the size of the largest: white parts take the host
// colour, black stays, and what lies outside the outline (connected to the corner) takes the
// background. Made on first use and kept: colouring costs far more than drawing.
HBITMAP ColouredPicture(const Paint& paint, const HostRecord& host, HBITMAP picture, ColorSlot slot,
                        COLORREF color) {
    Coloured& kept =
        paint.large ? largePictures.coloured[host.kind][slot] : colouredPictures[host.kind][slot];
    if (kept.picture != nullptr && kept.color == color && kept.outside == paint.outside)
        return kept.picture;
    const int width = paint.large ? largePictures.scratchWidth : scratchWidth;
    const int height = paint.large ? largePictures.scratchHeight : scratchHeight;
    const SIZE size = paint.large ? largePictures.sizes[host.kind] : pictureSizes[host.kind];
    if (kept.picture == nullptr)
        kept.picture = CreateCompatibleBitmap(paint.dc, width, height);
    kept.color = color;
    kept.outside = paint.outside;
    HBITMAP previousScratch = SelectObject(paint.scratchDc, kept.picture);
    HBRUSH fill = CreateSolidBrush(color);
    HPEN edge = CreatePen(PS_SOLID, 1, color);
    HBRUSH previousBrush = SelectObject(paint.scratchDc, fill);
    HPEN previousPen = SelectObject(paint.scratchDc, edge);
    Rectangle(paint.scratchDc, 0, 0, width, height);
    HBITMAP previousPicture = SelectObject(paint.pictureDc, picture);
    BitBlt(paint.scratchDc, 0, 0, size.cx, size.cy, paint.pictureDc, 0, 0, SRCAND);
    SelectObject(paint.pictureDc, previousPicture);
    HBRUSH outside = CreateSolidBrush(paint.outside);
    SelectObject(paint.scratchDc, outside);
    FloodFill(paint.scratchDc, 0, 0, OUTLINE_COLOR);
    SelectObject(paint.scratchDc, previousBrush);
    SelectObject(paint.scratchDc, previousPen);
    SelectObject(paint.scratchDc, previousScratch);
    DeleteObject(outside);
    DeleteObject(edge);
    DeleteObject(fill);
    return kept.picture;
}

void DrawHostPicture(const Paint& paint, HostRecord& host, HBITMAP picture, ColorSlot slot,
                     COLORREF color, int left, int top) {
    if (paint.large)
        picture = largePictures.bitmaps[host.kind];
    HBITMAP previous =
        SelectObject(paint.scratchDc, ColouredPicture(paint, host, picture, slot, color));
    const SIZE drawn = PictureSize(paint, host.kind);
    const SIZE source = paint.large ? largePictures.sizes[host.kind] : pictureSizes[host.kind];
    StretchBlt(paint.dc, left, top, drawn.cx, drawn.cy, paint.scratchDc, 0, 0, source.cx, source.cy,
               SRCCOPY);
    SelectObject(paint.scratchDc, previous);
    host.drawWidth = drawn.cx;
    host.drawHeight = drawn.cy;
    if (options.labelIcons != 0)
        DrawPictureLabel(paint, host, color, left, top + drawn.cy);
}

// A raised frame of two rings around a box of `width` x `height` at (left, top).
void DrawRaisedFrame(HDC dc, int left, int top, int width, int height) {
    HPEN previous = SelectObject(dc, EdgePen(highlightPen));
    for (int ring = FRAME_RINGS; ring >= 1; --ring) {
        const int x1 = left - ring;
        const int y1 = top - ring;
        const int x2 = left + width + ring;
        const int y2 = top + height + ring;
        SelectObject(dc, EdgePen(highlightPen));
        MoveToEx(dc, x1, y2, nullptr);
        LineTo(dc, x1, y1);
        LineTo(dc, x2, y1);
        SelectObject(dc, EdgePen(shadowPen));
        LineTo(dc, x2, y2);
        LineTo(dc, x1, y2);
    }
    SelectObject(dc, previous);
}

// A host without a picture: a plain box for a host with no protocol, else its name on the
// host colour.
void DrawHostBox(const Paint& paint, HostRecord& host, COLORREF color, int left, int top) {
    const bool named = SizedByName(paint, host, nullptr);
    const SIZE size = HostSize(paint, host, nullptr, named ? NameWidth(paint, host) : 0);
    if ((host.flags & HOST_PROTOCOL_NONE) != 0) {
        Rectangle(paint.dc, left, top, left + size.cx, top + size.cy);
    } else {
        RECT box{left, top, left + size.cx, top + size.cy};
        SetBkColor(paint.dc, color);
        ExtTextOut(paint.dc, left, top, ETO_OPAQUE | ETO_CLIPPED, &box, host.name,
                   static_cast<unsigned>(NameLength(host)), nullptr);
    }
    host.drawWidth = size.cx;
    host.drawHeight = size.cy;
    if (!paint.iconic)
        DrawRaisedFrame(paint.dc, left, top, size.cx, size.cy);
}

// Hosts whose corner lies further left or above the window than this cannot reach into
// it: no picture, name or frame is nearly as large.
constexpr long long HOST_REACH = 1 << 16;

// Every host that can change a pixel of the paint area; the others are not drawn, and keep
// the sizes they were last drawn at.
void DrawHosts(const Paint& paint, bool pictures, int width, int height) {
    const int count = std::clamp(hostCount, 0, MAX_HOSTS);
    for (int i = 0; i < count; ++i) {
        HostRecord& host = hostTable[i];
        const long long farLeft = CellLeft(host.col);
        const long long farTop = CellTop(host.row);
        if (farLeft < -HOST_REACH || farLeft > width || farTop < -HOST_REACH || farTop > height)
            continue;
        const int left = static_cast<int>(farLeft);
        const int top = static_cast<int>(farTop);
        HBITMAP picture =
            pictures && host.kind < HOST_KIND_COUNT ? hostBitmaps[host.kind] : nullptr;
        if (!HostMeetsArea(paint, host, picture, left, top))
            continue;
        const ColorSlot slot = HostColorSlot(host);
        const COLORREF color = PaletteColor(colorTable[slot]);
        if (picture != nullptr)
            DrawHostPicture(paint, host, picture, slot, color, left, top);
        else
            DrawHostBox(paint, host, color, left, top);
    }
}

} // namespace

/*** colours ***/

COLORREF PaletteColor(unsigned index) {
    if (index >= PALETTE_COLORS)
        return RGB(64, 64, 64);
    return palette[index];
}

ColorSlot HostColorSlot(const HostRecord& host) {
    // A host without an address is never checked either.
    if ((host.flags & HOST_NOT_MONITORED) != 0 || host.address[0] == '\0')
        return SLOT_INACTIVE;
    if (host.reach == REACH_UNREACHABLE)
        return SLOT_UNREACH;
    // A hard error (unreachable, no route, ...) shows the worst colour at once; only plain
    // time-outs step through the bands.
    if (options.useIcmpLibrary != 0 && host.status != 0 && host.status != ICMP_LIBRARY_TIMED_OUT)
        return SLOT_EIGHT;
    if (options.useRawIcmp != 0 && rawIcmpUsed != 0 && host.status != 0 &&
        host.status != BLOCKING_CALL_CANCELLED)
        return SLOT_EIGHT;
    switch (host.missed) {
    case 0:
        return SLOT_OK;
    case 1:
        return SLOT_ONE;
    case 2:
        return SLOT_TWO;
    case 3:
        return SLOT_THREE;
    default:
        return host.missed <= 7 ? SLOT_FOUR : SLOT_EIGHT;
    }
}

/*** painting ***/

int PaintMap(HWND window) {
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(window, &ps);
    if (dc == nullptr)
        return 0;
    // A window too small for a cell has no grid to place anything on; an empty area has
    // nothing to paint.
    const RECT& area = ps.rcPaint;
    if (gridCellWidth <= 0 || gridCellHeight <= 0 || area.right <= area.left ||
        area.bottom <= area.top) {
        EndPaint(window, &ps);
        return 1;
    }
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;

    Paint paint{};
    paint.dc = dc;
    paint.area = ps.rcPaint;
    paint.iconic = PaintsIconicView(window);
    paint.scaledText = paint.iconic || options.scaledMapFont != 0;
    paint.outside = options.solidBackground != 0 ? PaletteColor(colorTable[SLOT_BACK])
                                                 : GetSysColor(COLOR_DESKTOP);
    paint.fit = options.fitMap != 0 && !paint.iconic;
    paint.growth = 1;
    if (paint.fit && std::min(gridCellWidth, gridCellHeight) > FIT_CELL)
        paint.growth = static_cast<double>(std::min(gridCellWidth, gridCellHeight)) / FIT_CELL;
    // On a dense screen pictures come from the large ones too, at the screen's pixels.
    const bool dense = GetDeviceCaps(dc, LOGPIXELSX) > 96;
    paint.large = (paint.growth != 1 || dense) && largePictures.scratchWidth > 0;

    HFONT scaledFont = paint.scaledText    ? CreateScaledFont()
                       : paint.growth != 1 ? CreateGrownFont(paint.growth)
                                           : nullptr;
    HFONT previousFont = SelectObject(
        dc, scaledFont != nullptr ? scaledFont : static_cast<HFONT>(GetStockObject(ANSI_VAR_FONT)));
    const COLORREF previousText = SetTextColor(dc, PaletteColor(colorTable[SLOT_TEXT]));
    const COLORREF previousBack = GetBkColor(dc);
    const int previousMode = GetBkMode(dc);
    TEXTMETRIC metrics{};
    GetTextMetrics(dc, &metrics);
    paint.lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
    paint.textHeight = metrics.tmHeight;
    // A letter missing from the font may come wider from another; none is wider than high.
    paint.widestLetter = std::max(metrics.tmMaxCharWidth, metrics.tmHeight);

    const bool pictures =
        options.useIcons != 0 && bitmapsLoaded != 0 && !paint.iconic && scratchWidth > 0;
    if (pictures) {
        paint.scratchDc = CreateCompatibleDC(dc);
        paint.pictureDc = CreateCompatibleDC(dc);
    }

    if (!paint.iconic) {
        if (editMode > 0)
            DrawEditGrid(paint, width, height);
        DrawEdges(paint, width, height);
        DrawLines(paint, pictures, width, height);
    }
    DrawHosts(paint, pictures, width, height);

    SelectObject(dc, previousFont);
    SetTextColor(dc, previousText);
    SetBkColor(dc, previousBack);
    SetBkMode(dc, previousMode);
    if (scaledFont != nullptr)
        DeleteObject(scaledFont);
    if (pictures) {
        DeleteDC(paint.pictureDc);
        DeleteDC(paint.scratchDc);
    }
    EndPaint(window, &ps);
    return 1;
}

/*** pictures and pens ***/

namespace {

// Loads a picture and notes its size and the largest size of its set.
HBITMAP LoadPicture(const char* name, SIZE& size, int& largestWidth, int& largestHeight) {
    HBITMAP picture = LoadBitmap(name);
    BITMAP read{};
    if (picture != nullptr && GetObject(picture, sizeof read, &read) != 0) {
        largestWidth = std::max(largestWidth, read.bmWidth);
        largestHeight = std::max(largestHeight, read.bmHeight);
        size = SIZE{read.bmWidth, read.bmHeight};
    }
    return picture;
}

} // namespace

int LoadHostBitmaps() {
    FreeHostBitmaps();
    bool everyLarge = true;
    for (unsigned kind = 0; kind < HOST_KIND_COUNT; ++kind) {
        hostBitmaps[kind] =
            LoadPicture(hostKindPictures[kind], pictureSizes[kind], scratchWidth, scratchHeight);
        char name[32];
        std::snprintf(name, sizeof name, "%s_4X", hostKindPictures[kind]);
        LargePictures& large = largePictures;
        large.bitmaps[kind] =
            LoadPicture(name, large.sizes[kind], large.scratchWidth, large.scratchHeight);
        everyLarge = everyLarge && large.sizes[kind].cx == LARGE_FACTOR * pictureSizes[kind].cx &&
                     large.sizes[kind].cy == LARGE_FACTOR * pictureSizes[kind].cy;
    }
    // Grown pictures come from the large ones only when each matches its small one.
    if (!everyLarge)
        largePictures.scratchWidth = largePictures.scratchHeight = 0;
    bitmapsLoaded = 1;
    return 0;
}

void FreeHostBitmaps() {
    for (HBITMAP& picture : hostBitmaps) {
        if (picture != nullptr)
            DeleteObject(picture);
        picture = nullptr;
    }
    std::fill(std::begin(pictureSizes), std::end(pictureSizes), SIZE{});
    for (auto* table : {&colouredPictures, &largePictures.coloured}) {
        for (auto& slots : *table) {
            for (Coloured& kept : slots) {
                if (kept.picture != nullptr)
                    DeleteObject(kept.picture);
                kept = Coloured{};
            }
        }
    }
    for (HBITMAP& picture : largePictures.bitmaps) {
        if (picture != nullptr)
            DeleteObject(picture);
        picture = nullptr;
    }
    std::fill(std::begin(largePictures.sizes), std::end(largePictures.sizes), SIZE{});
    largePictures.scratchWidth = largePictures.scratchHeight = 0;
    scratchWidth = 0;
    scratchHeight = 0;
    bitmapsLoaded = 0;
}

void CreateEdgePens() {
    DeleteEdgePens();
    shadowPen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNSHADOW));
    highlightPen = CreatePen(PS_SOLID, 1, GetSysColor(COLOR_BTNHIGHLIGHT));
}

void DeleteEdgePens() {
    if (shadowPen != nullptr)
        DeleteObject(shadowPen);
    if (highlightPen != nullptr)
        DeleteObject(highlightPen);
    shadowPen = nullptr;
    highlightPen = nullptr;
}
