// Drawing: device contexts, pens, brushes, fonts and bitmaps with the names,
// numbers and pixel rules of the classic graphics device interface. Every context draws
// on an image; what a window shows is the image of its context (see window.h).
#pragma once

#include "platform/types.h"

#include <cstdint>

namespace platform {

// ---- Colours ---------------------------------------------------------------------------

using COLORREF = std::uint32_t; // 0x00BBGGRR
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using BOOL = int;

constexpr COLORREF RGB(int red, int green, int blue) {
    return static_cast<COLORREF>((red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16));
}
constexpr BYTE GetRValue(COLORREF color) {
    return static_cast<BYTE>(color & 0xFF);
}
constexpr BYTE GetGValue(COLORREF color) {
    return static_cast<BYTE>((color >> 8) & 0xFF);
}
constexpr BYTE GetBValue(COLORREF color) {
    return static_cast<BYTE>((color >> 16) & 0xFF);
}
constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

// ---- Handles ---------------------------------------------------------------------------

// The objects are defined in gdi.cpp; callers only hold and pass handles. A pen, brush,
// font or bitmap handle converts to HGDIOBJ as it does in the classic interface.
// The handle types have no virtual functions, so a stale handle is only a value until
// gdi.cpp finds it among the live objects.
struct GdiObject {
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;

  protected:
    GdiObject() = default;
    ~GdiObject() = default;
};
struct GdiPen : GdiObject {
  protected:
    GdiPen() = default;
    ~GdiPen() = default;
};
struct GdiBrush : GdiObject {
  protected:
    GdiBrush() = default;
    ~GdiBrush() = default;
};
struct GdiFont : GdiObject {
  protected:
    GdiFont() = default;
    ~GdiFont() = default;
};
struct GdiBitmap : GdiObject {
  protected:
    GdiBitmap() = default;
    ~GdiBitmap() = default;
};

struct DeviceContext;
using HDC = DeviceContext*;
using HGDIOBJ = GdiObject*;
using HPEN = GdiPen*;
using HBRUSH = GdiBrush*;
using HFONT = GdiFont*;
using HBITMAP = GdiBitmap*;

struct SIZE {
    int cx;
    int cy;
};

// ---- Stock objects and system colours ----------------------------------------------------

// The stock objects the program uses.
constexpr int WHITE_BRUSH = 0;
constexpr int BLACK_PEN = 7;
constexpr int ANSI_FIXED_FONT = 11;
constexpr int ANSI_VAR_FONT = 12;
constexpr int SYSTEM_FONT = 13;
constexpr int SYSTEM_FIXED_FONT = 16;

HGDIOBJ GetStockObject(int which);

constexpr int COLOR_SCROLLBAR = 0;
constexpr int COLOR_BACKGROUND = 1;
constexpr int COLOR_DESKTOP = COLOR_BACKGROUND;
constexpr int COLOR_ACTIVECAPTION = 2;
constexpr int COLOR_MENU = 4;
constexpr int COLOR_WINDOW = 5;
constexpr int COLOR_MENUTEXT = 7;
constexpr int COLOR_WINDOWTEXT = 8;
constexpr int COLOR_CAPTIONTEXT = 9;
constexpr int COLOR_ACTIVEBORDER = 10;
constexpr int COLOR_INACTIVEBORDER = 11;
constexpr int COLOR_HIGHLIGHT = 13;
constexpr int COLOR_HIGHLIGHTTEXT = 14;
constexpr int COLOR_BTNFACE = 15;
constexpr int COLOR_BTNSHADOW = 16;
constexpr int COLOR_GRAYTEXT = 17;
constexpr int COLOR_BTNTEXT = 18;
constexpr int COLOR_BTNHIGHLIGHT = 20;
constexpr int COLOR_3DDKSHADOW = 21;
constexpr int COLOR_3DLIGHT = 22;
constexpr int COLOR_INFOTEXT = 23;
constexpr int COLOR_INFOBK = 24;

// The colours of the application's palette when the application object exists, otherwise
// the classic defaults. The desktop colour is always the classic teal.
COLORREF GetSysColor(int index);
// A brush of the system colour, owned by the system: DeleteObject leaves it alone. A
// brush handle made as `(HBRUSH)(COLOR_x + 1)`, as window classes do, is accepted by
// the brush-taking calls as that system colour.
HBRUSH GetSysColorBrush(int index);

// ---- Pens, brushes, fonts ----------------------------------------------------------------

constexpr int PS_SOLID = 0;

// Solid pens one pixel wide (width 0 or 1), the only ones the program draws with; null
// for any other.
HPEN CreatePen(int style, int width, COLORREF color);
HBRUSH CreateSolidBrush(COLORREF color);

constexpr int LF_FACESIZE = 32;
constexpr int FW_NORMAL = 400;
constexpr int FW_BOLD = 700;
constexpr BYTE ANSI_CHARSET = 0;
constexpr BYTE DEFAULT_CHARSET = 1;
constexpr BYTE OUT_DEFAULT_PRECIS = 0;
constexpr BYTE CLIP_DEFAULT_PRECIS = 0;
constexpr BYTE DEFAULT_QUALITY = 0;
constexpr BYTE DEFAULT_PITCH = 0;
constexpr BYTE FIXED_PITCH = 1;
constexpr BYTE VARIABLE_PITCH = 2;
constexpr BYTE FF_ROMAN = 0x10;
constexpr BYTE FF_SWISS = 0x20;
constexpr BYTE FF_MODERN = 0x30;

struct LOGFONT {
    int lfHeight; // > 0: cell height; < 0: character height; 0: default
    int lfWidth;  // average character width; 0: the face's own proportions
    int lfEscapement;
    int lfOrientation;
    int lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    char lfFaceName[LF_FACESIZE];
};

// A face that is not installed is replaced by the closest font of the same pitch and
// family; fixed pitch (or the modern family) always gives a monospace font.
HFONT CreateFont(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                 DWORD underline, DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                 DWORD clipPrecision, DWORD quality, DWORD pitchAndFamily, const char* faceName);

// SelectObject returns the object of the same kind that was selected before, or null
// when the object cannot be selected (a bitmap into a window's context or into a second
// memory context, a handle that is not a live object).
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
HPEN SelectObject(HDC dc, HPEN pen);
HBRUSH SelectObject(HDC dc, HBRUSH brush);
HFONT SelectObject(HDC dc, HFONT font);
HBITMAP SelectObject(HDC dc, HBITMAP bitmap);
// Deleting an object still selected into a context is deferred until it is deselected;
// stock objects are never deleted. False for a handle that is not a live object.
BOOL DeleteObject(HGDIOBJ object);

struct BITMAP {
    int bmType;
    int bmWidth;
    int bmHeight;
    int bmWidthBytes;
    WORD bmPlanes;
    WORD bmBitsPixel;
    void* bmBits;
};
// Fills a BITMAP for a bitmap or a LOGFONT for a font; returns the bytes written, 0 when
// `size` is too small or the handle is not a bitmap or font.
int GetObject(HGDIOBJ object, int size, void* out);

// ---- Device capabilities -----------------------------------------------------------------

constexpr int LOGPIXELSX = 88;
constexpr int LOGPIXELSY = 90;
// LOGPIXELSX and LOGPIXELSY: 96 pixels per inch of units, times the pixels per unit of the
// context's image (a window's picture on a dense screen has 2 or more); 0 for others.
int GetDeviceCaps(HDC dc, int index);

// ---- Context state -------------------------------------------------------------------------

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
COLORREF SetTextColor(HDC dc, COLORREF color);
COLORREF SetBkColor(HDC dc, COLORREF color);
COLORREF GetBkColor(HDC dc);
int SetBkMode(HDC dc, int mode);
int GetBkMode(HDC dc);

// ---- Lines and shapes (right and bottom edges exclusive, last pixel of a line not drawn) --

BOOL MoveToEx(HDC dc, int x, int y, POINT* previous);
BOOL LineTo(HDC dc, int x, int y);
BOOL Rectangle(HDC dc, int left, int top, int right, int bottom);

// Fills with the selected brush the 4-connected area around (x, y) up to the border
// colour. False when the start pixel is outside the clip area or is itself the border colour.
BOOL FloodFill(HDC dc, int x, int y, COLORREF borderColor);

// ---- Text --------------------------------------------------------------------------------

struct TEXTMETRIC {
    int tmHeight;
    int tmAscent;
    int tmDescent;
    int tmInternalLeading;
    int tmExternalLeading;
    int tmAveCharWidth;
    int tmMaxCharWidth;
    int tmWeight;
    BYTE tmItalic;
    BYTE tmPitchAndFamily; // bit 0 set for a variable pitch, as in the classic interface
};
BOOL GetTextMetrics(HDC dc, TEXTMETRIC* metrics);
BOOL GetTextExtentPoint32(HDC dc, const char* text, int length, SIZE* size);
BOOL TextOut(HDC dc, int x, int y, const char* text, int length);

// ETO_OPAQUE fills `rect` with the background colour, ETO_CLIPPED keeps the text inside
// it. Characters are placed by the font's own advances: `spacing` is not used.
constexpr UINT ETO_OPAQUE = 0x0002;
constexpr UINT ETO_CLIPPED = 0x0004;
BOOL ExtTextOut(HDC dc, int x, int y, UINT options, const RECT* rect, const char* text, UINT length,
                const int* spacing);

// Text is 8-bit: valid UTF-8 is read as UTF-8, anything else as Latin-1.

// ---- Memory contexts, bitmaps, blits ------------------------------------------------------

// A memory context starts with a 1 x 1 stock bitmap selected; select a bitmap to draw on
// it. DeleteDC frees a memory context (window contexts are released by their owner).
HDC CreateCompatibleDC(HDC dc);
BOOL DeleteDC(HDC dc);
// A colour bitmap, black when made.
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height);

// Bitmaps held as XPM data in the program, looked up by name (without regard to case).
// Register before loading; registering a name again replaces it.
void RegisterBitmapResource(const char* name, const char* const* xpm);
// A new bitmap of the named resource (delete it with DeleteObject), or null when no such
// resource is registered or its data cannot be read. Transparent XPM pixels become white.
HBITMAP LoadBitmap(const char* name);

constexpr DWORD SRCCOPY = 0x00CC0020;
constexpr DWORD SRCAND = 0x008800C6;

// The two raster operations the program uses: SRCCOPY, and SRCAND, an exact AND of the
// 24-bit colours of source and destination. Others fail.
BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
            DWORD rop);
// Shrinking ANDs the pixels it drops together, keeping black lines, as the classic
// default stretch mode does. Widths and heights must be positive.
BOOL StretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
                int sourceWidth, int sourceHeight, DWORD rop);

} // namespace platform
