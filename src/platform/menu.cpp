// Menus on QMenuBar, QMenu and QAction. The menu data (items, ids, check and grey state)
// is ours; every item has a QAction that shows it, carrying the command id, and a popup
// menu has a QMenu. A bar becomes widgets only when a window shows it.
#include "platform/menu.h"

#include "platform/journal_internal.h"
#include "platform/testing.h"
#include "platform/window_internal.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

struct MenuItem {
    std::string text;
    UINT id;         // command id; 0 for separators and popups
    UINT flags;      // MF_CHECKED, MF_GRAYED, MF_DISABLED, MF_POPUP, MF_SEPARATOR
    HMENU popup;     // the submenu of an MF_POPUP item
    QAction* action; // ours for commands and separators; the submenu's for popups
};

struct MenuRecord {
    HMENU handle = 0;
    bool isBar = false;
    std::vector<MenuItem> items;
    std::unique_ptr<QMenu> popupWidget; // popup menus only
    HMENU parentMenu = 0;               // the menu holding this one as a popup
    HWND window = 0;                    // the window showing this bar
    HWND trackOwner = 0;                // the owner while this popup is tracked
};

/*** globals ***/

static std::unordered_map<HMENU, std::unique_ptr<MenuRecord>> menuTable;
static std::map<std::string, const MenuTemplate*> menuTemplates; // by upper-case name
static HMENU nextMenuHandle = 0x4D000001u;
static bool returningChoice = false; // TrackPopupMenu with TPM_RETURNCMD runs
static UINT trackedChoice = 0;
// Tracked popups destroyed while they were open (the window that owned them went away in
// their loop): closed at once, freed when TrackPopupMenu has left their loop.
static std::vector<std::unique_ptr<QMenu>> closedTrackedMenus;

static MenuRecord* FindMenu(HMENU menu) {
    auto found = menuTable.find(menu);
    return found == menuTable.end() ? nullptr : found->second.get();
}

static std::string UpperCase(const char* text) {
    std::string result = text != nullptr ? text : "";
    for (char& c : result)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

static HMENU NewMenu(bool isBar) {
    auto record = std::make_unique<MenuRecord>();
    while (nextMenuHandle == 0 || menuTable.count(nextMenuHandle) != 0)
        ++nextMenuHandle;
    record->handle = nextMenuHandle++;
    record->isBar = isBar;
    if (!isBar)
        record->popupWidget = std::make_unique<QMenu>();
    HMENU handle = record->handle;
    menuTable[handle] = std::move(record);
    return handle;
}

HMENU CreatePopupMenu() {
    return NewMenu(false);
}

// The window that receives the commands of a menu: the one showing its bar, or the owner
// of the popup being tracked.
static HWND CommandOwner(HMENU menu) {
    for (MenuRecord* record = FindMenu(menu); record != nullptr;
         record = FindMenu(record->parentMenu)) {
        if (record->window != 0)
            return record->window;
        if (record->trackOwner != 0)
            return record->trackOwner;
    }
    return 0;
}

static MenuItem* FindItemInMenu(MenuRecord* record, UINT item, UINT flags, HMENU* holder) {
    if (record == nullptr)
        return nullptr;
    if ((flags & MF_BYPOSITION) != 0) {
        if (item >= record->items.size())
            return nullptr;
        *holder = record->handle;
        return &record->items[item];
    }
    for (MenuItem& each : record->items) {
        if ((each.flags & (MF_POPUP | MF_SEPARATOR)) == 0 && each.id == item) {
            *holder = record->handle;
            return &each;
        }
        if ((each.flags & MF_POPUP) != 0)
            if (MenuItem* found = FindItemInMenu(FindMenu(each.popup), item, flags, holder))
                return found;
    }
    return nullptr;
}

static void ShowItemState(MenuItem& item) {
    if (item.action == nullptr)
        return;
    bool checked = (item.flags & MF_CHECKED) != 0;
    if ((item.flags & (MF_POPUP | MF_SEPARATOR)) == 0) {
        // Only a checked item is checkable, so that choosing an item never toggles it.
        item.action->setCheckable(checked);
        item.action->setChecked(checked);
    }
    item.action->setEnabled((item.flags & (MF_GRAYED | MF_DISABLED)) == 0);
}

static void CommandChosen(HMENU menu, UINT id) {
    HMENU holder = 0;
    if (MenuItem* item = FindItemInMenu(FindMenu(menu), id, MF_BYCOMMAND, &holder))
        ShowItemState(*item); // undo the toolkit's own toggling of a checked item
    if (returningChoice) {
        trackedChoice = id;
        return;
    }
    HWND owner = CommandOwner(menu);
    if (owner != 0)
        PostMessage(owner, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

bool AppendMenu(HMENU menu, UINT flags, UINT_PTR item, const char* text) {
    MenuRecord* record = FindMenu(menu);
    if (record == nullptr)
        return false;
    MenuItem entry{text != nullptr ? text : "", 0,
                   flags & (MF_CHECKED | MF_GRAYED | MF_DISABLED | MF_POPUP | MF_SEPARATOR), 0,
                   nullptr};
    if ((flags & MF_POPUP) != 0) {
        MenuRecord* popup = FindMenu(static_cast<HMENU>(item));
        if (popup == nullptr || popup->isBar || popup->parentMenu != 0 || popup == record)
            return false;
        popup->parentMenu = menu;
        entry.popup = popup->handle;
        popup->popupWidget->setTitle(TextFromProgram(entry.text.c_str()));
        entry.action = popup->popupWidget->menuAction();
    } else {
        entry.action = new QAction(TextFromProgram(entry.text.c_str()));
        if ((flags & MF_SEPARATOR) != 0) {
            entry.action->setSeparator(true);
        } else {
            entry.id = static_cast<UINT>(item);
            entry.action->setData(entry.id);
            UINT id = entry.id;
            QObject::connect(entry.action, &QAction::triggered,
                             [menu, id]() { CommandChosen(menu, id); });
        }
    }
    ShowItemState(entry);
    record->items.push_back(entry);
    if (record->popupWidget != nullptr)
        record->popupWidget->addAction(entry.action);
    if (WindowRecord* window = FindWindowRecord(record->window)) {
        if (QMenuBar* bar = FrameMenuBar(window, false))
            bar->addAction(entry.action);
        LayoutFrame(window);
    }
    return true;
}

bool RegisterMenuTemplate(const MenuTemplate* menuTemplate) {
    if (menuTemplate == nullptr || menuTemplate->name == nullptr)
        return false;
    return menuTemplates.emplace(UpperCase(menuTemplate->name), menuTemplate).second;
}

HMENU LoadMenu(const char* name) {
    auto found = menuTemplates.find(UpperCase(name));
    if (found == menuTemplates.end())
        return 0;
    HMENU bar = NewMenu(true);
    std::vector<HMENU> levels{bar};
    for (const MenuTemplateItem& item : found->second->items) {
        // An item deeper than the open popups has no menu to go to: the template is wrong.
        if (item.depth < 0 || static_cast<size_t>(item.depth) >= levels.size())
            continue;
        levels.resize(static_cast<size_t>(item.depth) + 1);
        if ((item.flags & MF_POPUP) != 0) {
            HMENU popup = CreatePopupMenu();
            AppendMenu(levels.back(), item.flags, popup, item.text);
            levels.push_back(popup);
        } else {
            AppendMenu(levels.back(), item.flags, item.id, item.text);
        }
    }
    return bar;
}

static void DetachFromWindow(MenuRecord* record) {
    WindowRecord* window = FindWindowRecord(record->window);
    record->window = 0;
    if (window == nullptr || window->menu != record->handle)
        return;
    window->menu = 0;
    if (QMenuBar* bar = FrameMenuBar(window, false)) {
        for (const MenuItem& item : record->items)
            bar->removeAction(item.action);
        bar->hide();
    }
    LayoutFrame(window);
}

bool DestroyMenu(HMENU menu) {
    MenuRecord* record = FindMenu(menu);
    if (record == nullptr)
        return false;
    DetachFromWindow(record);
    if (record->trackOwner != 0 && record->popupWidget != nullptr) {
        record->popupWidget->close();
        closedTrackedMenus.push_back(std::move(record->popupWidget));
    }
    for (MenuItem& item : record->items) {
        if ((item.flags & MF_POPUP) != 0) {
            if (MenuRecord* popup = FindMenu(item.popup))
                popup->parentMenu = 0;
            DestroyMenu(item.popup);
        } else {
            delete item.action;
        }
    }
    menuTable.erase(menu);
    return true;
}

int GetMenuItemCount(HMENU menu) {
    MenuRecord* record = FindMenu(menu);
    return record != nullptr ? static_cast<int>(record->items.size()) : -1;
}

void AttachMenuToWindow(WindowRecord* window, HMENU menu) {
    if (MenuRecord* old = FindMenu(window->menu))
        DetachFromWindow(old);
    MenuRecord* record = FindMenu(menu);
    if (record == nullptr || !record->isBar) {
        window->menu = 0;
        LayoutFrame(window);
        return;
    }
    if (WindowRecord* other = FindWindowRecord(record->window))
        if (other != window)
            DetachFromWindow(record);
    QMenuBar* bar = FrameMenuBar(window, true);
    if (bar == nullptr)
        return;
    for (const MenuItem& item : record->items)
        bar->addAction(item.action);
    bar->show();
    window->menu = menu;
    record->window = window->handle;
    LayoutFrame(window);
}

void DestroyMenuOfWindow(WindowRecord* window) {
    if (window->menu != 0)
        DestroyMenu(window->menu);
    window->menu = 0;
}

bool SetMenu(HWND window, HMENU menu) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || record->parent != 0 || record->kind != WindowKind::Window)
        return false;
    if (menu != 0 && FindMenu(menu) == nullptr)
        return false;
    AttachMenuToWindow(record, menu);
    return true;
}

HMENU GetMenu(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    return record != nullptr ? record->menu : 0;
}

int CheckMenuItem(HMENU menu, UINT item, UINT flags) {
    HMENU holder = 0;
    MenuItem* entry = FindItemInMenu(FindMenu(menu), item, flags, &holder);
    if (entry == nullptr)
        return -1;
    int previous = static_cast<int>(entry->flags & MF_CHECKED);
    entry->flags = (entry->flags & ~MF_CHECKED) | (flags & MF_CHECKED);
    ShowItemState(*entry);
    return previous;
}

int EnableMenuItem(HMENU menu, UINT item, UINT flags) {
    HMENU holder = 0;
    MenuItem* entry = FindItemInMenu(FindMenu(menu), item, flags, &holder);
    if (entry == nullptr)
        return -1;
    int previous = static_cast<int>(entry->flags & (MF_GRAYED | MF_DISABLED));
    entry->flags =
        (entry->flags & ~(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
    ShowItemState(*entry);
    return previous;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
    HMENU holder = 0;
    MenuItem* entry = FindItemInMenu(FindMenu(menu), item, flags, &holder);
    return entry != nullptr ? entry->flags : static_cast<UINT>(-1);
}

int GetMenuString(HMENU menu, UINT item, char* buffer, int size, UINT flags) {
    if (buffer == nullptr || size <= 0)
        return 0;
    buffer[0] = '\0';
    HMENU holder = 0;
    MenuItem* entry = FindItemInMenu(FindMenu(menu), item, flags, &holder);
    if (entry == nullptr)
        return 0;
    int length = std::min(static_cast<int>(entry->text.size()), size - 1);
    entry->text.copy(buffer, static_cast<size_t>(length));
    buffer[length] = '\0';
    return length;
}

int TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
    MenuRecord* record = FindMenu(menu);
    if (record == nullptr || record->isBar)
        return 0;
    record->trackOwner = owner;
    returningChoice = true;
    trackedChoice = 0;
    UINT answer = 0;
    if (TakePopupMenuAnswer(&answer)) {
        // A test chose for the user: only an enabled command of this menu can be chosen.
        HMENU holder = 0;
        MenuItem* item = FindItemInMenu(record, answer, MF_BYCOMMAND, &holder);
        if (item != nullptr && (item->flags & (MF_GRAYED | MF_DISABLED)) == 0)
            trackedChoice = answer;
    } else {
        QMenu* widget = record->popupWidget.get();
        QPoint place(x, y);
        int width = widget->sizeHint().width();
        if ((flags & TPM_RIGHTALIGN) != 0)
            place.rx() -= width;
        else if ((flags & TPM_CENTERALIGN) != 0)
            place.rx() -= width / 2;
        RunNestedLoop([widget, place]() { widget->exec(place); }, [widget]() { widget->close(); });
        std::erase_if(closedTrackedMenus, [widget](const std::unique_ptr<QMenu>& closed) {
            return closed.get() == widget;
        });
    }
    returningChoice = false;
    if ((record = FindMenu(menu)) != nullptr)
        record->trackOwner = 0;
    char chosen[16];
    std::snprintf(chosen, sizeof chosen, "%u", trackedChoice);
    RecordInJournal("menu", chosen);
    if ((flags & TPM_RETURNCMD) != 0)
        return static_cast<int>(trackedChoice);
    if (trackedChoice != 0 && (flags & TPM_NONOTIFY) == 0)
        PostMessage(owner, WM_COMMAND, MAKEWPARAM(trackedChoice, 0), 0);
    return 1;
}

} // namespace platform
