// Drawing contexts on images. Lines, rectangles, fills, blits and flood fills work on the
// pixels directly so their results are exact to the pixel; text is drawn with QPainter.
// Order: object table, colours, contexts, lines and shapes, fills, blits, text, bitmaps.
#include "platform/gdi.h"
#include "platform/gdi_internal.h"
#include "platform/testing.h"
#include "platform/window_internal.h"

#include <QApplication>
#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QStaticText>
#include <QString>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace platform {

namespace {

// ---- Objects ---------------------------------------------------------------------------

struct PenData final : GdiPen {
    COLORREF color = 0;
};

struct BrushData final : GdiBrush {
    COLORREF color = 0;
    int systemColor = -1; // >= 0: the colour follows GetSysColor of this index
};

// One line of text as a font shaped it, drawn again without shaping.
struct LaidOutText {
    int width = 0;
    QStaticText glyphs;
};

struct FontData final : GdiFont {
    LOGFONT logFont{};
    bool realised = false;
    QFont font;
    TEXTMETRIC metrics{};
    // Lines this font has measured and laid out, by their text: a map's labels are
    // measured and drawn again at every repaint, and shaping them is most of its cost.
    std::unordered_map<QString, LaidOutText> laidOut;
};

struct BitmapData final : GdiBitmap {
    QImage image;
    DeviceContext* selectedInto = nullptr;
};

enum class Kind { Pen, Brush, Font, Bitmap };

// Every live object, so that a stale or made-up handle is refused rather than followed.
struct ObjectRecord {
    Kind kind;
    bool stock;
    int selections;     // contexts the object is selected into
    bool deletePending; // DeleteObject came while it was selected
};

std::unordered_map<const GdiObject*, ObjectRecord>& Objects() {
    static std::unordered_map<const GdiObject*, ObjectRecord> objects;
    return objects;
}

template <class T> T* Register(T* object, Kind kind, bool stock = false) {
    Objects()[object] = ObjectRecord{kind, stock, 0, false};
    return object;
}

ObjectRecord* FindObject(const GdiObject* object) {
    auto it = Objects().find(object);
    return it == Objects().end() ? nullptr : &it->second;
}

template <class T> T* AsKind(const GdiObject* object, Kind kind) {
    ObjectRecord* record = FindObject(object);
    if (record == nullptr || record->kind != kind)
        return nullptr;
    return static_cast<T*>(const_cast<GdiObject*>(object));
}

PenData* AsPen(const GdiObject* object) {
    return AsKind<PenData>(object, Kind::Pen);
}
BrushData* AsBrush(const GdiObject* object) {
    return AsKind<BrushData>(object, Kind::Brush);
}
FontData* AsFont(const GdiObject* object) {
    return AsKind<FontData>(object, Kind::Font);
}
BitmapData* AsBitmap(const GdiObject* object) {
    return AsKind<BitmapData>(object, Kind::Bitmap);
}
void DestroyObject(GdiObject* object) {
    ObjectRecord* record = FindObject(object);
    if (record == nullptr)
        return;
    Kind kind = record->kind;
    Objects().erase(object);
    switch (kind) {
    case Kind::Pen:
        delete static_cast<PenData*>(object);
        break;
    case Kind::Brush:
        delete static_cast<BrushData*>(object);
        break;
    case Kind::Font:
        delete static_cast<FontData*>(object);
        break;
    case Kind::Bitmap:
        delete static_cast<BitmapData*>(object);
        break;
        break;
    }
}

void AddSelection(GdiObject* object) {
    if (ObjectRecord* record = FindObject(object))
        record->selections++;
}

void DropSelection(GdiObject* object) {
    ObjectRecord* record = FindObject(object);
    if (record == nullptr)
        return;
    if (record->selections > 0)
        record->selections--;
    if (record->selections == 0 && record->deletePending && !record->stock)
        DestroyObject(object);
}

} // namespace

// ---- Contexts ----------------------------------------------------------------------------

struct DeviceContext {
    QImage* image = nullptr; // what is drawn on: the owner's image or the selected bitmap's
    bool memory = false;
    BitmapData* bitmap = nullptr;
    PenData* pen = nullptr;
    BrushData* brush = nullptr;
    FontData* font = nullptr;
    COLORREF textColor = RGB(0, 0, 0);
    COLORREF backgroundColor = RGB(255, 255, 255);
    int backgroundMode = OPAQUE;
    POINT position{0, 0};
    RECT clip{INT_MIN / 2, INT_MIN / 2, INT_MAX / 2, INT_MAX / 2};
    // Image pixels per unit drawn: the image's device pixel ratio (a window's picture on a
    // dense screen), 1 for bitmaps. Every call takes units; each unit covers ratio x ratio
    // pixels, and text is drawn at the image's own resolution.
    int ratio = 1;
};

namespace {

std::unordered_set<DeviceContext*>& Contexts() {
    static std::unordered_set<DeviceContext*> contexts;
    return contexts;
}

DeviceContext* Live(HDC dc) {
    return dc != nullptr && Contexts().count(dc) != 0 ? dc : nullptr;
}

RECT Intersect(const RECT& a, const RECT& b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right < r.left)
        r.right = r.left;
    if (r.bottom < r.top)
        r.bottom = r.top;
    return r;
}

bool IsEmpty(const RECT& r) {
    return r.right <= r.left || r.bottom <= r.top;
}

bool Contains(const RECT& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

// The units a context may change: its image, narrowed by its clip.
RECT DrawArea(const DeviceContext* dc) {
    if (dc->image == nullptr || dc->image->isNull())
        return RECT{0, 0, 0, 0};
    return Intersect(RECT{0, 0, dc->image->width() / dc->ratio, dc->image->height() / dc->ratio},
                     dc->clip);
}

// The image pixels of a rectangle of units.
RECT ImagePixels(const DeviceContext* dc, const RECT& rect) {
    const int r = dc->ratio;
    return RECT{rect.left * r, rect.top * r, rect.right * r, rect.bottom * r};
}

QRgb* Row(QImage* image, int y) {
    return reinterpret_cast<QRgb*>(image->scanLine(y));
}

QRgb ToPixel(COLORREF color) {
    return 0xFF000000u | (static_cast<QRgb>(GetRValue(color)) << 16) |
           (static_cast<QRgb>(GetGValue(color)) << 8) | GetBValue(color);
}

COLORREF FromPixel(QRgb pixel) {
    return RGB(qRed(pixel), qGreen(pixel), qBlue(pixel));
}

// A colour as the context shows it: flags removed.
COLORREF ResolveColor(const DeviceContext*, COLORREF color) {
    return color & 0x00FFFFFFu;
}

// The solid colour a brush paints with; false for an unknown brush. Accepts the
// `(HBRUSH)(COLOR_x + 1)` form of a system colour.
bool BrushColor(const DeviceContext* dc, const GdiBrush* handle, COLORREF* color) {
    auto value = reinterpret_cast<std::uintptr_t>(handle);
    if (value >= 1 && value <= static_cast<std::uintptr_t>(COLOR_INFOBK) + 1) {
        *color = GetSysColor(static_cast<int>(value) - 1);
        return true;
    }
    const BrushData* brush = AsBrush(handle);
    if (brush == nullptr)
        return false;
    *color =
        brush->systemColor >= 0 ? GetSysColor(brush->systemColor) : ResolveColor(dc, brush->color);
    return true;
}

void FillArea(DeviceContext* dc, const RECT& rect, COLORREF color) {
    RECT area = Intersect(DrawArea(dc), rect);
    if (IsEmpty(area))
        return;
    if (dc->ratio != 1)
        area = ImagePixels(dc, area);
    QRgb pixel = ToPixel(color);
    for (int y = area.top; y < area.bottom; ++y) {
        QRgb* row = Row(dc->image, y);
        std::fill(row + area.left, row + area.right, pixel);
    }
}

void PlotPixel(DeviceContext* dc, const RECT& area, int x, int y, QRgb pixel) {
    if (!Contains(area, x, y))
        return;
    if (dc->ratio == 1) {
        Row(dc->image, y)[x] = pixel;
        return;
    }
    const int r = dc->ratio;
    for (int row = y * r; row < (y + 1) * r; ++row)
        std::fill(Row(dc->image, row) + x * r, Row(dc->image, row) + (x + 1) * r, pixel);
}

} // namespace

HDC CreateImageContext(QImage* image) {
    if (image != nullptr && !image->isNull() && image->format() != QImage::Format_RGB32 &&
        image->format() != QImage::Format_ARGB32 &&
        image->format() != QImage::Format_ARGB32_Premultiplied)
        *image = image->convertToFormat(QImage::Format_RGB32);
    auto* dc = new DeviceContext;
    dc->image = image;
    if (image != nullptr)
        dc->ratio = std::max(1, static_cast<int>(std::lround(image->devicePixelRatio())));
    dc->pen = static_cast<PenData*>(static_cast<GdiPen*>(GetStockObject(BLACK_PEN)));
    dc->brush = static_cast<BrushData*>(static_cast<GdiBrush*>(GetStockObject(WHITE_BRUSH)));
    dc->font = static_cast<FontData*>(static_cast<GdiFont*>(GetStockObject(SYSTEM_FONT)));
    Contexts().insert(dc);
    return dc;
}

void DeleteImageContext(HDC handle) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr)
        return;
    Contexts().erase(dc);
    if (dc->bitmap != nullptr && dc->bitmap->selectedInto == dc)
        dc->bitmap->selectedInto = nullptr;
    DropSelection(dc->bitmap);
    DropSelection(dc->pen);
    DropSelection(dc->brush);
    DropSelection(dc->font);
    delete dc;
}

void SetContextClip(HDC handle, const RECT& clip) {
    if (DeviceContext* dc = Live(handle))
        dc->clip = clip;
}

HDC CreateCompatibleDC(HDC) {
    HDC dc = CreateImageContext(nullptr);
    dc->memory = true;
    // A memory context starts on a 1 x 1 bitmap that every such context shares.
    static BitmapData* defaultBitmap = [] {
        auto* bitmap = Register(new BitmapData, Kind::Bitmap, true);
        bitmap->image = QImage(1, 1, QImage::Format_RGB32);
        bitmap->image.fill(0xFF000000u);
        return bitmap;
    }();
    dc->bitmap = defaultBitmap;
    dc->image = &defaultBitmap->image;
    return dc;
}

int GetDeviceCaps(HDC handle, int index) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr || (index != LOGPIXELSX && index != LOGPIXELSY))
        return 0;
    return 96 * dc->ratio;
}

BOOL DeleteDC(HDC handle) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr || !dc->memory)
        return 0;
    DeleteImageContext(dc);
    return 1;
}

// ---- Stock objects and system colours ----------------------------------------------------

namespace {

LOGFONT MakeLogFont(int height, int weight, BYTE pitchAndFamily, const char* face) {
    LOGFONT font{};
    font.lfHeight = height;
    font.lfWeight = weight;
    font.lfPitchAndFamily = pitchAndFamily;
    std::snprintf(font.lfFaceName, sizeof font.lfFaceName, "%s", face);
    return font;
}

FontData* NewFont(const LOGFONT& logFont, bool stock) {
    auto* font = Register(new FontData, Kind::Font, stock);
    font->logFont = logFont;
    font->logFont.lfFaceName[LF_FACESIZE - 1] = '\0';
    return font;
}

} // namespace

HGDIOBJ GetStockObject(int which) {
    static GdiObject* stock[SYSTEM_FIXED_FONT + 1] = {};
    if (which < 0 || which > SYSTEM_FIXED_FONT)
        return nullptr;
    if (stock[which] != nullptr)
        return stock[which];
    GdiObject* object = nullptr;
    switch (which) {
    case WHITE_BRUSH: {
        auto* brush = Register(new BrushData, Kind::Brush, true);
        brush->color = RGB(255, 255, 255);
        object = brush;
        break;
    }
    case BLACK_PEN:
        object = Register(new PenData, Kind::Pen, true);
        break;
    // The classic fonts' sizes, with faces of this system.
    case SYSTEM_FIXED_FONT:
        object = NewFont(MakeLogFont(15, FW_NORMAL, FIXED_PITCH | FF_MODERN, ""), true);
        break;
    case ANSI_FIXED_FONT:
        object = NewFont(MakeLogFont(13, FW_NORMAL, FIXED_PITCH | FF_MODERN, ""), true);
        break;
    case ANSI_VAR_FONT:
        object = NewFont(MakeLogFont(13, FW_NORMAL, VARIABLE_PITCH | FF_SWISS, ""), true);
        break;
    case SYSTEM_FONT:
        object = NewFont(MakeLogFont(16, FW_BOLD, VARIABLE_PITCH | FF_SWISS, ""), true);
        break;
    default:
        return nullptr;
    }
    stock[which] = object;
    return object;
}

void EnsureApplication() {
    if (QCoreApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "tarnmap";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv); // lives until the process ends
}

COLORREF GetSysColor(int index) {
    static const COLORREF classic[COLOR_INFOBK + 1] = {
        RGB(192, 192, 192), RGB(0, 128, 128),   RGB(0, 0, 128),     RGB(128, 128, 128),
        RGB(192, 192, 192), RGB(255, 255, 255), RGB(0, 0, 0),       RGB(0, 0, 0),
        RGB(0, 0, 0),       RGB(255, 255, 255), RGB(192, 192, 192), RGB(192, 192, 192),
        RGB(128, 128, 128), RGB(0, 0, 128),     RGB(255, 255, 255), RGB(192, 192, 192),
        RGB(128, 128, 128), RGB(128, 128, 128), RGB(0, 0, 0),       RGB(192, 192, 192),
        RGB(255, 255, 255), RGB(0, 0, 0),       RGB(192, 192, 192), RGB(0, 0, 0),
        RGB(255, 255, 225)};
    if (index < 0 || index > COLOR_INFOBK)
        return 0;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr)
        return classic[index];
    const QPalette palette = QGuiApplication::palette();
    QColor color;
    switch (index) {
    case COLOR_SCROLLBAR:
    case COLOR_BTNFACE:
    case COLOR_ACTIVEBORDER:
    case COLOR_INACTIVEBORDER:
        color = palette.color(QPalette::Active, QPalette::Button);
        break;
    case COLOR_MENU:
        color = palette.color(QPalette::Active, QPalette::Window);
        break;
    case COLOR_WINDOW:
        color = palette.color(QPalette::Active, QPalette::Base);
        break;
    case COLOR_MENUTEXT:
        color = palette.color(QPalette::Active, QPalette::WindowText);
        break;
    case COLOR_WINDOWTEXT:
        color = palette.color(QPalette::Active, QPalette::Text);
        break;
    case COLOR_ACTIVECAPTION:
    case COLOR_HIGHLIGHT:
        color = palette.color(QPalette::Active, QPalette::Highlight);
        break;
    case COLOR_CAPTIONTEXT:
    case COLOR_HIGHLIGHTTEXT:
        color = palette.color(QPalette::Active, QPalette::HighlightedText);
        break;
    case COLOR_BTNSHADOW:
        color = palette.color(QPalette::Active, QPalette::Dark);
        break;
    case COLOR_GRAYTEXT:
        color = palette.color(QPalette::Disabled, QPalette::Text);
        break;
    case COLOR_BTNTEXT:
        color = palette.color(QPalette::Active, QPalette::ButtonText);
        break;
    case COLOR_BTNHIGHLIGHT:
        color = palette.color(QPalette::Active, QPalette::Light);
        break;
    case COLOR_3DDKSHADOW:
        color = palette.color(QPalette::Active, QPalette::Shadow);
        break;
    case COLOR_3DLIGHT:
        color = palette.color(QPalette::Active, QPalette::Midlight);
        break;
    case COLOR_INFOTEXT:
        color = palette.color(QPalette::Active, QPalette::ToolTipText);
        break;
    case COLOR_INFOBK:
        color = palette.color(QPalette::Active, QPalette::ToolTipBase);
        break;
    default:
        return classic[index];
    }
    return RGB(color.red(), color.green(), color.blue());
}

HBRUSH GetSysColorBrush(int index) {
    static BrushData* brushes[COLOR_INFOBK + 1] = {};
    if (index < 0 || index > COLOR_INFOBK)
        return nullptr;
    if (brushes[index] == nullptr) {
        brushes[index] = Register(new BrushData, Kind::Brush, true);
        brushes[index]->systemColor = index;
    }
    return brushes[index];
}

// ---- Object creation, selection, deletion --------------------------------------------------

HPEN CreatePen(int style, int width, COLORREF color) {
    if (style != PS_SOLID || width > 1)
        return nullptr;
    auto* pen = Register(new PenData, Kind::Pen);
    pen->color = color;
    return pen;
}

HBRUSH CreateSolidBrush(COLORREF color) {
    auto* brush = Register(new BrushData, Kind::Brush);
    brush->color = color;
    return brush;
}

HFONT CreateFont(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                 DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                 DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, const char* faceName) {
    LOGFONT font{};
    font.lfHeight = height;
    font.lfWidth = width;
    font.lfEscapement = escapement;
    font.lfOrientation = orientation;
    font.lfWeight = weight;
    font.lfItalic = static_cast<BYTE>(italic != 0);
    font.lfUnderline = static_cast<BYTE>(underline != 0);
    font.lfStrikeOut = static_cast<BYTE>(strikeOut != 0);
    font.lfCharSet = static_cast<BYTE>(charSet);
    font.lfOutPrecision = static_cast<BYTE>(outPrecision);
    font.lfClipPrecision = static_cast<BYTE>(clipPrecision);
    font.lfQuality = static_cast<BYTE>(quality);
    font.lfPitchAndFamily = static_cast<BYTE>(pitchAndFamily);
    std::snprintf(font.lfFaceName, sizeof font.lfFaceName, "%s",
                  faceName != nullptr ? faceName : "");
    return NewFont(font, false);
}

namespace {

// Puts `object` in the context's `slot`, keeping the selection counts; returns the old one.
template <class T> T* Swap(T*& slot, T* object) {
    T* previous = slot;
    slot = object;
    AddSelection(object);
    DropSelection(previous);
    return previous;
}

} // namespace

HGDIOBJ SelectObject(HDC handle, HGDIOBJ object) {
    DeviceContext* dc = Live(handle);
    ObjectRecord* record = FindObject(object);
    if (dc == nullptr || record == nullptr)
        return nullptr;
    switch (record->kind) {
    case Kind::Pen:
        return Swap(dc->pen, AsPen(object));
    case Kind::Brush:
        return Swap(dc->brush, AsBrush(object));
    case Kind::Font:
        return Swap(dc->font, AsFont(object));
    case Kind::Bitmap: {
        BitmapData* bitmap = AsBitmap(object);
        if (!dc->memory)
            return nullptr;
        if (!record->stock && bitmap->selectedInto != nullptr && bitmap->selectedInto != dc)
            return nullptr;
        BitmapData* previous = dc->bitmap;
        if (previous != nullptr && previous->selectedInto == dc)
            previous->selectedInto = nullptr;
        if (!record->stock)
            bitmap->selectedInto = dc;
        dc->image = &bitmap->image;
        return Swap(dc->bitmap, bitmap);
    }
    }
    return nullptr;
}

HPEN SelectObject(HDC dc, HPEN pen) {
    return static_cast<HPEN>(SelectObject(dc, static_cast<HGDIOBJ>(pen)));
}
HBRUSH SelectObject(HDC dc, HBRUSH brush) {
    return static_cast<HBRUSH>(SelectObject(dc, static_cast<HGDIOBJ>(brush)));
}
HFONT SelectObject(HDC dc, HFONT font) {
    return static_cast<HFONT>(SelectObject(dc, static_cast<HGDIOBJ>(font)));
}
HBITMAP SelectObject(HDC dc, HBITMAP bitmap) {
    return static_cast<HBITMAP>(SelectObject(dc, static_cast<HGDIOBJ>(bitmap)));
}

BOOL DeleteObject(HGDIOBJ object) {
    ObjectRecord* record = FindObject(object);
    if (record == nullptr)
        return 0;
    if (record->stock)
        return 1;
    if (record->selections > 0) {
        record->deletePending = true;
        return 1;
    }
    DestroyObject(object);
    return 1;
}

int GetObject(HGDIOBJ object, int size, void* out) {
    if (out == nullptr)
        return 0;
    if (BitmapData* bitmap = AsBitmap(object)) {
        if (size < static_cast<int>(sizeof(BITMAP)))
            return 0;
        BITMAP info{};
        info.bmWidth = bitmap->image.width();
        info.bmHeight = bitmap->image.height();
        info.bmWidthBytes = info.bmWidth * 4;
        info.bmPlanes = 1;
        info.bmBitsPixel = 32;
        std::memcpy(out, &info, sizeof info);
        return sizeof info;
    }
    if (FontData* font = AsFont(object)) {
        if (size < static_cast<int>(sizeof(LOGFONT)))
            return 0;
        std::memcpy(out, &font->logFont, sizeof font->logFont);
        return sizeof font->logFont;
    }
    return 0;
}

// ---- Context state -----------------------------------------------------------------------

COLORREF SetTextColor(HDC handle, COLORREF color) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr)
        return CLR_INVALID;
    return std::exchange(dc->textColor, color);
}

COLORREF SetBkColor(HDC handle, COLORREF color) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr)
        return CLR_INVALID;
    return std::exchange(dc->backgroundColor, color);
}

COLORREF GetBkColor(HDC handle) {
    DeviceContext* dc = Live(handle);
    return dc != nullptr ? dc->backgroundColor : CLR_INVALID;
}

int SetBkMode(HDC handle, int mode) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr || (mode != OPAQUE && mode != TRANSPARENT))
        return 0;
    return std::exchange(dc->backgroundMode, mode);
}

int GetBkMode(HDC handle) {
    DeviceContext* dc = Live(handle);
    return dc != nullptr ? dc->backgroundMode : 0;
}

// ---- Lines and shapes ----------------------------------------------------------------------

namespace {

// A line from (x0, y0) towards (x1, y1) without its last pixel, as the classic interface
// draws it, so that joined lines never paint their shared corner twice.
void DrawLine(DeviceContext* dc, int x0, int y0, int x1, int y1) {
    const PenData* pen = dc->pen;
    if (pen == nullptr || (x0 == x1 && y0 == y1))
        return;
    RECT area = DrawArea(dc);
    if (IsEmpty(area))
        return;
    const QRgb color = ToPixel(ResolveColor(dc, pen->color));
    long long dx = std::llabs(static_cast<long long>(x1) - x0);
    long long dy = -std::llabs(static_cast<long long>(y1) - y0);
    const int stepX = x0 < x1 ? 1 : -1;
    const int stepY = y0 < y1 ? 1 : -1;
    long long error = dx + dy;
    int x = x0;
    int y = y0;
    while (x != x1 || y != y1) {
        PlotPixel(dc, area, x, y, color);
        long long twice = 2 * error;
        if (twice >= dy) {
            error += dy;
            x += stepX;
        }
        if (twice <= dx) {
            error += dx;
            y += stepY;
        }
    }
}

// The outline of a rectangle with the selected pen, right and bottom edges exclusive.
void DrawOutline(DeviceContext* dc, int left, int top, int right, int bottom) {
    if (right - left < 1 || bottom - top < 1)
        return;
    if (right - left == 1 || bottom - top == 1) {
        // Too thin for four edges: the pen covers all of it.
        FillArea(dc, RECT{left, top, right, bottom}, ResolveColor(dc, dc->pen->color));
        return;
    }
    DrawLine(dc, left, top, right - 1, top);
    DrawLine(dc, right - 1, top, right - 1, bottom - 1);
    DrawLine(dc, right - 1, bottom - 1, left, bottom - 1);
    DrawLine(dc, left, bottom - 1, left, top);
}

} // namespace

BOOL MoveToEx(HDC handle, int x, int y, POINT* previous) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr)
        return 0;
    if (previous != nullptr)
        *previous = dc->position;
    dc->position = POINT{x, y};
    return 1;
}

BOOL LineTo(HDC handle, int x, int y) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr)
        return 0;
    DrawLine(dc, dc->position.x, dc->position.y, x, y);
    dc->position = POINT{x, y};
    return 1;
}

BOOL Rectangle(HDC handle, int left, int top, int right, int bottom) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr)
        return 0;
    if (left > right)
        std::swap(left, right);
    if (top > bottom)
        std::swap(top, bottom);
    COLORREF fill = 0;
    if (BrushColor(dc, dc->brush, &fill))
        FillArea(dc, RECT{left + 1, top + 1, right - 1, bottom - 1}, fill);
    DrawOutline(dc, left, top, right, bottom);
    return 1;
}

int FillRect(HDC handle, const RECT* rect, HBRUSH brush) {
    DeviceContext* dc = Live(handle);
    COLORREF color = 0;
    if (dc == nullptr || rect == nullptr || !BrushColor(dc, brush, &color))
        return 0;
    FillArea(dc, *rect, color);
    return 1;
}

COLORREF SetPixel(HDC handle, int x, int y, COLORREF color) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr || !Contains(DrawArea(dc), x, y))
        return CLR_INVALID;
    COLORREF shown = ResolveColor(dc, color);
    PlotPixel(dc, DrawArea(dc), x, y, ToPixel(shown));
    return shown;
}

// The colour of a unit's top-left pixel.
COLORREF GetPixel(HDC handle, int x, int y) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr || !Contains(DrawArea(dc), x, y))
        return CLR_INVALID;
    return FromPixel(Row(dc->image, y * dc->ratio)[x * dc->ratio]);
}

// ---- Flood fill --------------------------------------------------------------------------

BOOL FloodFill(HDC handle, int x, int y, COLORREF borderColor) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr)
        return 0;
    if (!Contains(DrawArea(dc), x, y))
        return 0;
    // Filled pixel by pixel of the image, at whatever ratio.
    const RECT area = ImagePixels(dc, DrawArea(dc));
    x *= dc->ratio;
    y *= dc->ratio;
    const QRgb border = ToPixel(ResolveColor(dc, borderColor)) & 0xFFFFFFu;
    QImage* image = dc->image;
    auto inside = [&](int px, int py) { return (Row(image, py)[px] & 0xFFFFFFu) != border; };
    if (!inside(x, y))
        return 0;
    COLORREF fillColor = 0;
    if (!BrushColor(dc, dc->brush, &fillColor))
        return 0;
    const QRgb fill = ToPixel(fillColor);

    // Scan-line fill with an explicit stack: a filled pixel is marked done, so filling
    // with a colour that still counts as inside cannot loop, and every pixel not yet
    // marked still has its original colour.
    const int width = area.right - area.left;
    std::vector<unsigned char> done(static_cast<std::size_t>(width) * (area.bottom - area.top));
    auto isDone = [&](int px, int py) {
        return done[static_cast<std::size_t>(py - area.top) * width + (px - area.left)] != 0;
    };
    auto open = [&](int px, int py) { return !isDone(px, py) && inside(px, py); };
    std::vector<POINT> seeds{POINT{x, y}};
    while (!seeds.empty()) {
        POINT seed = seeds.back();
        seeds.pop_back();
        if (!open(seed.x, seed.y))
            continue;
        int left = seed.x;
        while (left > area.left && open(left - 1, seed.y))
            --left;
        int right = seed.x;
        while (right + 1 < area.right && open(right + 1, seed.y))
            ++right;
        QRgb* row = Row(image, seed.y);
        for (int px = left; px <= right; ++px) {
            row[px] = fill;
            done[static_cast<std::size_t>(seed.y - area.top) * width + (px - area.left)] = 1;
        }
        for (int ny : {seed.y - 1, seed.y + 1}) {
            if (ny < area.top || ny >= area.bottom)
                continue;
            bool inRun = false;
            for (int px = left; px <= right; ++px) {
                bool o = open(px, ny);
                if (o && !inRun)
                    seeds.push_back(POINT{px, ny});
                inRun = o;
            }
        }
    }
    return 1;
}

// ---- Blits -------------------------------------------------------------------------------

namespace {

// The source pixels [first, last) along one axis that destination pixel `index` of `count`
// covers when `sourceCount` pixels are stretched to `count`.
std::pair<int, int> SourceSpan(int index, int count, int sourceCount) {
    int first = static_cast<int>(static_cast<long long>(index) * sourceCount / count);
    int last = static_cast<int>(static_cast<long long>(index + 1) * sourceCount / count);
    return {first, std::max(last, first + 1)};
}

// A blit without stretching from another image: destination pixel (dx, dy) is source pixel
// (dx - offsetX, dy - offsetY), one to one; pixels outside the source stay as they are.
BOOL CopyPixels(DeviceContext* dest, const RECT& area, int offsetX, int offsetY,
                const QImage& image, DWORD rop) {
    const int first = std::max(static_cast<int>(area.left), offsetX);
    const int last = std::min(static_cast<int>(area.right), offsetX + image.width());
    for (int dy = area.top; dy < area.bottom && first < last; ++dy) {
        const int sy = dy - offsetY;
        if (sy < 0 || sy >= image.height())
            continue;
        const QRgb* from = reinterpret_cast<const QRgb*>(image.constScanLine(sy));
        QRgb* row = Row(dest->image, dy);
        for (int dx = first; dx < last; ++dx) {
            const QRgb value = from[dx - offsetX];
            row[dx] = 0xFF000000u | (rop == SRCAND ? value & row[dx] : value);
        }
    }
    return 1;
}

BOOL Blit(HDC destHandle, int x, int y, int width, int height, HDC sourceHandle, int sourceX,
          int sourceY, int sourceWidth, int sourceHeight, DWORD rop) {
    DeviceContext* dest = Live(destHandle);
    if (dest == nullptr || width <= 0 || height <= 0)
        return 0;
    DeviceContext* source = Live(sourceHandle);
    if ((rop != SRCCOPY && rop != SRCAND) || source == nullptr || source->image == nullptr ||
        sourceWidth <= 0 || sourceHeight <= 0)
        return 0;
    RECT area = Intersect(DrawArea(dest), RECT{x, y, x + width, y + height});
    if (IsEmpty(area))
        return 1;
    // From here on in image pixels of each side.
    if (dest->ratio != 1) {
        area = ImagePixels(dest, area);
        x *= dest->ratio;
        y *= dest->ratio;
        width *= dest->ratio;
        height *= dest->ratio;
    }
    if (source->ratio != 1) {
        sourceX *= source->ratio;
        sourceY *= source->ratio;
        sourceWidth *= source->ratio;
        sourceHeight *= source->ratio;
    }
    if (width == sourceWidth && height == sourceHeight && source->image != dest->image)
        return CopyPixels(dest, area, x - sourceX, y - sourceY, *source->image, rop);

    // Sample the source first, so a blit within one image reads the pixels as they were.
    const int areaWidth = area.right - area.left;
    std::vector<QRgb> sampled(static_cast<std::size_t>(areaWidth) * (area.bottom - area.top));
    std::vector<unsigned char> present(sampled.size());
    {
        const QImage& image = *source->image;
        for (int dy = area.top; dy < area.bottom; ++dy) {
            // Pixels dropped in shrinking are ANDed together, so black lines stay.
            auto rows = SourceSpan(dy - y, height, sourceHeight);
            for (int dx = area.left; dx < area.right; ++dx) {
                auto columns = SourceSpan(dx - x, width, sourceWidth);
                bool any = false;
                QRgb value = 0xFFFFFFFFu;
                for (int sy = sourceY + rows.first; sy < sourceY + rows.second; ++sy) {
                    if (sy < 0 || sy >= image.height())
                        continue;
                    const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(sy));
                    for (int sx = sourceX + columns.first; sx < sourceX + columns.second; ++sx) {
                        if (sx < 0 || sx >= image.width())
                            continue;
                        value &= row[sx];
                        any = true;
                    }
                }
                std::size_t at = static_cast<std::size_t>(dy - area.top) * areaWidth +
                                 static_cast<std::size_t>(dx - area.left);
                sampled[at] = value;
                present[at] = any ? 1 : 0;
            }
        }
    }
    for (int dy = area.top; dy < area.bottom; ++dy) {
        QRgb* row = Row(dest->image, dy);
        for (int dx = area.left; dx < area.right; ++dx) {
            std::size_t at = static_cast<std::size_t>(dy - area.top) * areaWidth +
                             static_cast<std::size_t>(dx - area.left);
            if (!present[at])
                continue; // nothing of the source there: the destination stays
            row[dx] = 0xFF000000u | (rop == SRCAND ? sampled[at] & row[dx] : sampled[at]);
        }
    }
    return 1;
}

} // namespace

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop) {
    return Blit(dest, x, y, width, height, source, sourceX, sourceY, width, height, rop);
}

BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
                int sourceWidth, int sourceHeight, DWORD rop) {
    return Blit(dest, x, y, width, height, source, sourceX, sourceY, sourceWidth, sourceHeight,
                rop);
}

// ---- Text --------------------------------------------------------------------------------

namespace {

int FindPixelSize(QFont& font, int cellHeight) {
    font.setPixelSize(cellHeight);
    int measured = QFontMetrics(font).height();
    int size = measured > 0 ? std::max(1, cellHeight * cellHeight / measured) : cellHeight;
    font.setPixelSize(size);
    while (size > 1 && QFontMetrics(font).height() > cellHeight) {
        --size;
        font.setPixelSize(size);
    }
    return size;
}

// Builds the Qt font and the metrics of a font handle on first use.
FontData* Realise(FontData* data) {
    if (data->realised)
        return data;
    EnsureApplication();
    const LOGFONT& lf = data->logFont;
    const int pitch = lf.lfPitchAndFamily & 0x03;
    const int family = lf.lfPitchAndFamily & 0xF0;
    const bool fixed = pitch == FIXED_PITCH || (pitch == DEFAULT_PITCH && family == FF_MODERN);
    const QString face = QString::fromLatin1(lf.lfFaceName);
    QFont font;
    if (!face.isEmpty() && QFontDatabase::hasFamily(face) &&
        (!fixed || QFontDatabase::isFixedPitch(face))) {
        font.setFamily(face);
    } else if (fixed) {
        font.setFamily(QFontDatabase::systemFont(QFontDatabase::FixedFont).family());
        font.setStyleHint(QFont::TypeWriter);
        font.setFixedPitch(true);
    } else if (family == FF_ROMAN) {
        font.setFamily(QStringLiteral("serif"));
        font.setStyleHint(QFont::Serif);
    } else {
        font.setFamily(QStringLiteral("sans-serif"));
        font.setStyleHint(QFont::SansSerif);
    }
    int weight = lf.lfWeight <= 0 ? FW_NORMAL : std::min(lf.lfWeight, 1000);
    font.setWeight(static_cast<QFont::Weight>(weight));
    font.setItalic(lf.lfItalic != 0);
    font.setUnderline(lf.lfUnderline != 0);
    font.setStrikeOut(lf.lfStrikeOut != 0);
    int characterHeight = 0;
    if (lf.lfHeight < 0) {
        characterHeight = std::min(-lf.lfHeight, 2000);
        font.setPixelSize(characterHeight);
    } else {
        characterHeight = FindPixelSize(font, lf.lfHeight == 0 ? 16 : std::min(lf.lfHeight, 2000));
    }
    if (lf.lfWidth > 0) {
        int natural = QFontMetrics(font).averageCharWidth();
        if (natural > 0)
            font.setStretch(std::clamp((100 * lf.lfWidth + natural / 2) / natural, 1, 4000));
    }
    QFontMetrics metrics(font);
    TEXTMETRIC& tm = data->metrics;
    tm.tmAscent = metrics.ascent();
    tm.tmDescent = metrics.descent();
    tm.tmHeight = tm.tmAscent + tm.tmDescent;
    tm.tmInternalLeading = std::max(0, tm.tmHeight - characterHeight);
    tm.tmExternalLeading = std::max(0, metrics.leading());
    tm.tmAveCharWidth = metrics.averageCharWidth();
    tm.tmMaxCharWidth = metrics.maxWidth();
    tm.tmWeight = weight;
    tm.tmItalic = lf.lfItalic != 0 ? 1 : 0;
    tm.tmPitchAndFamily = static_cast<BYTE>((fixed ? 0 : 1) | family);
    data->font = font;
    data->realised = true;
    return data;
}

FontData* CurrentFont(DeviceContext* dc) {
    FontData* font = dc->font;
    if (font == nullptr)
        font = static_cast<FontData*>(static_cast<GdiFont*>(GetStockObject(SYSTEM_FONT)));
    return Realise(font);
}

// Lines laid out per font at most: past it the font forgets them and starts again.
constexpr std::size_t LAID_OUT_LIMIT = 1024;

const LaidOutText& LayOut(FontData* font, const QString& text) {
    auto found = font->laidOut.find(text);
    if (found != font->laidOut.end())
        return found->second;
    if (font->laidOut.size() >= LAID_OUT_LIMIT)
        font->laidOut.clear();
    LaidOutText& line = font->laidOut[text];
    line.width = QFontMetrics(font->font).horizontalAdvance(text);
    line.glyphs.setText(text);
    line.glyphs.setTextFormat(Qt::PlainText);
    line.glyphs.setPerformanceHint(QStaticText::AggressiveCaching);
    line.glyphs.prepare(QTransform(), font->font);
    return line;
}

int TextWidth(FontData* font, const QString& text) {
    return LayOut(font, text).width;
}

// One line of text with its cell's top-left at (left, top), narrowed to `clip` when given;
// the cell is filled in the background colour first when the mode is OPAQUE.
void DrawTextLine(DeviceContext* dc, int left, int top, const QString& text, const RECT* clip) {
    if (text.isEmpty())
        return;
    RECT area = DrawArea(dc);
    if (clip != nullptr)
        area = Intersect(area, *clip);
    if (IsEmpty(area))
        return;
    FontData* font = CurrentFont(dc);
    const LaidOutText& line = LayOut(font, text);
    if (dc->backgroundMode == OPAQUE) {
        RECT cell =
            Intersect(area, RECT{left, top, left + line.width, top + font->metrics.tmHeight});
        FillArea(dc, cell, ResolveColor(dc, dc->backgroundColor));
    }
    QPainter painter(dc->image);
    painter.setClipRect(area.left, area.top, area.right - area.left, area.bottom - area.top);
    painter.setFont(font->font);
    painter.setPen(QColor::fromRgb(ToPixel(ResolveColor(dc, dc->textColor))));
    painter.drawStaticText(left, top, line.glyphs);
}

} // namespace

BOOL GetTextMetrics(HDC handle, TEXTMETRIC* metrics) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr || metrics == nullptr)
        return 0;
    *metrics = CurrentFont(dc)->metrics;
    return 1;
}

BOOL GetTextExtentPoint32(HDC handle, const char* text, int length, SIZE* size) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr || size == nullptr || length < 0 || (text == nullptr && length > 0))
        return 0;
    FontData* font = CurrentFont(dc);
    size->cx = TextWidth(font, TextToShow(QByteArrayView(text, length)));
    size->cy = font->metrics.tmHeight;
    return 1;
}

BOOL TextOut(HDC handle, int x, int y, const char* text, int length) {
    return ExtTextOut(handle, x, y, 0, nullptr, text, length < 0 ? 0u : static_cast<UINT>(length),
                      nullptr);
}

BOOL ExtTextOut(HDC handle, int x, int y, UINT options, const RECT* rect, const char* text,
                UINT length, const int*) {
    DeviceContext* dc = Live(handle);
    if (dc == nullptr || (text == nullptr && length > 0) || length > INT_MAX)
        return 0;
    if ((options & ETO_OPAQUE) && rect != nullptr)
        FillArea(dc, *rect, ResolveColor(dc, dc->backgroundColor));
    QString decoded = TextToShow(QByteArrayView(text, length));
    DrawTextLine(dc, x, y, decoded, (options & ETO_CLIPPED) ? rect : nullptr);
    return 1;
}

QFont GetQtFont(HFONT handle) {
    FontData* font = AsFont(handle);
    if (font == nullptr)
        font = static_cast<FontData*>(static_cast<GdiFont*>(GetStockObject(SYSTEM_FONT)));
    return Realise(font)->font;
}

// ---- Bitmaps -----------------------------------------------------------------------------

namespace {

BitmapData* NewBitmap(int width, int height) {
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
        return nullptr;
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return nullptr;
    image.fill(0xFF000000u);
    auto* bitmap = Register(new BitmapData, Kind::Bitmap);
    bitmap->image = std::move(image);
    return bitmap;
}

struct NamedBitmap {
    std::string name; // upper case
    const char* const* xpm;
};

std::vector<NamedBitmap>& BitmapResources() {
    static std::vector<NamedBitmap> resources;
    return resources;
}

std::string UpperCase(const char* text) {
    std::string result = text != nullptr ? text : "";
    for (char& c : result)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

} // namespace

HBITMAP CreateCompatibleBitmap(HDC, int width, int height) {
    return NewBitmap(width, height);
}

void RegisterBitmapResource(const char* name, const char* const* xpm) {
    if (name == nullptr || xpm == nullptr)
        return;
    std::string key = UpperCase(name);
    for (NamedBitmap& entry : BitmapResources()) {
        if (entry.name == key) {
            entry.xpm = xpm;
            return;
        }
    }
    BitmapResources().push_back(NamedBitmap{key, xpm});
}

const char* const* FindBitmapResource(const char* name) {
    if (name == nullptr)
        return nullptr;
    std::string key = UpperCase(name);
    for (const NamedBitmap& entry : BitmapResources())
        if (entry.name == key)
            return entry.xpm;
    return nullptr;
}

HBITMAP LoadBitmap(const char* name) {
    std::string key = UpperCase(name);
    for (const NamedBitmap& entry : BitmapResources()) {
        if (entry.name != key)
            continue;
        QImage image(entry.xpm);
        if (image.isNull())
            return nullptr;
        // A bitmap has no transparency: transparent picture pixels show as white.
        QImage opaque(image.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        {
            QPainter painter(&opaque);
            painter.drawImage(0, 0, image);
        }
        auto* bitmap = Register(new BitmapData, Kind::Bitmap);
        bitmap->image = std::move(opaque);
        return bitmap;
    }
    return nullptr;
}

QImage* GetBitmapImage(HBITMAP handle) {
    BitmapData* bitmap = AsBitmap(handle);
    return bitmap != nullptr ? &bitmap->image : nullptr;
}

} // namespace platform
