// Menus: menu bars and popup menus built from templates held as data or item by item,
// swapped on a window, their items checked and greyed by command id, and popup menus
// tracked at a point. Choosing an item posts WM_COMMAND with its id to the owner window.
#pragma once

#include "platform/window.h"

#include <span>

namespace platform {

// Item flags (AppendMenu, templates) and the flags of CheckMenuItem and EnableMenuItem.
constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_SEPARATOR = 0x0800;

// TrackPopupMenu flags.
constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_CENTERALIGN = 0x0004;
constexpr UINT TPM_RIGHTALIGN = 0x0008;
constexpr UINT TPM_NONOTIFY = 0x0080;
constexpr UINT TPM_RETURNCMD = 0x0100;

// One line of a menu template. `depth` 0 is an item of the bar, 1 an item of the popup
// opened by the last depth-0 popup item, and so on. Text keeps "&" before the accelerator
// letter; a separator has no text. `flags` holds MF_POPUP, MF_SEPARATOR, MF_CHECKED and
// MF_GRAYED.
struct MenuTemplateItem {
    int depth;
    const char* text;
    UINT id;
    UINT flags;
};

struct MenuTemplate {
    const char* name; // "FLMMENU0"
    std::span<const MenuTemplateItem> items;
};

// Makes a template known to LoadMenu and to window classes by its name (case does not
// matter). The template must outlive the program. Returns false for a name already taken.
bool RegisterMenuTemplate(const MenuTemplate* menuTemplate);
// A new menu bar built from the registered template, or 0.
HMENU LoadMenu(const char* name);
HMENU CreatePopupMenu(); // an empty popup menu
// Appends an item: a command (`item` is its id), a separator, or with MF_POPUP a submenu
// (`item` is the popup's HMENU, which then belongs to this menu).
bool AppendMenu(HMENU menu, UINT flags, UINT_PTR item, const char* text);
// Destroys a menu with its submenus; a window showing it is left without a menu bar.
bool DestroyMenu(HMENU menu);

// Shows `menu` as the window's menu bar in place of the one it had (0: none). The old menu
// is kept for the caller. A window's menu is destroyed with the window.
bool SetMenu(HWND window, HMENU menu);
HMENU GetMenu(HWND window);

// The item is a command id (MF_BYCOMMAND, searched in submenus too) or a position
// (MF_BYPOSITION). CheckMenuItem returns the previous MF_CHECKED state, EnableMenuItem the
// previous MF_GRAYED/MF_DISABLED state; both return -1 for a missing item.
int CheckMenuItem(HMENU menu, UINT item, UINT flags);
int EnableMenuItem(HMENU menu, UINT item, UINT flags);

// Shows a popup menu at the screen point and waits until it closes. The chosen command is
// returned with TPM_RETURNCMD; otherwise it is posted to `owner` as WM_COMMAND and the
// result is non-zero when the menu could be shown. `reserved` and `rect` are unused.
int TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner,
                   const RECT* rect);

} // namespace platform
