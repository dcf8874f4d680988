// Drawing the map: the edit grid, the foot frame, the lines and every host as a picture
// or a name box in the colour of its missed-check band; the palette, the colour table and
// the host pictures.
#pragma once

#include "model/hosts.h"
#include "model/settings.h"
#include "platform/gdi.h"

constexpr unsigned PALETTE_COLORS = 24;

enum ColorSlot : unsigned {
    SLOT_OK = 0,
    SLOT_ONE = 1,
    SLOT_TWO = 2,
    SLOT_THREE = 3,
    SLOT_FOUR = 4,
    SLOT_EIGHT = 5,
    SLOT_INACTIVE = 6,
    SLOT_BACK = 7,
    SLOT_TEXT = 8,
    SLOT_UNREACH = 9, // behind a host that is down, whatever its misses
};

extern unsigned colorTable[COLOR_SLOT_COUNT];              // palette index per slot
extern const char* const colorSlotNames[COLOR_SLOT_COUNT]; // "Responding", ... "Text"
extern platform::HBITMAP hostBitmaps[HOST_KIND_COUNT];
extern int bitmapsLoaded;
extern platform::HPEN shadowPen;    // button-shadow colour, for 3-D edges
extern platform::HPEN highlightPen; // button-highlight colour, for 3-D edges

// The RGB colour of a palette index; (64,64,64) outside 0 to 23.
platform::COLORREF PaletteColor(unsigned index);

// The slot a host is drawn in, by its flags, status and missed count.
ColorSlot HostColorSlot(const HostRecord& host);

// Paints the map into `window` (the map window, or the minimised main window). Returns 1,
// or 0 when there was nothing to paint on.
int PaintMap(platform::HWND window);

// Loads the nine host pictures; returns 0.
int LoadHostBitmaps();
void FreeHostBitmaps();

// The pens made at start-up and freed with the main window.
void CreateEdgePens();
void DeleteEdgePens();
