// What tests use to watch and steer the window half of the platform layer without
// replacing it: a hook run on the next dialog, answers for message boxes, file dialogs and
// popup menus, input made as the toolkit would deliver it, what windows, menus, the toolbar
// and the help window show, pictures of windows, and drawing on a test's own canvas. The
// system half's seams, the journal of outside effects among them, are in testing_sys.h,
// included here; message boxes ("messagebox: caption: text"), file dialogs ("open: title:
// path", "save: ..."), popup menus ("menu: id") and beeps write to the journal too. The real
// code always runs; these only observe or stand in for the person at the keyboard.
#pragma once

#include "platform/testing_sys.h"
#include "platform/window.h"

#include <functional>
#include <string>
#include <vector>

namespace platform {

// ---- Dialogs ----
// Runs `hook` with the dialog's handle after WM_INITDIALOG of the next dialog that opens
// (hooks queue up, one per dialog). The hook may set items and post or send commands; the
// dialog runs as usual afterwards.
void QueueDialogHook(std::function<void(HWND dialog)> hook);

// ---- Answers in place of the user ----
// The next message box is not shown and returns `answer` (IDOK, IDYES, ...).
void QueueMessageBoxAnswer(int answer);
// The next open or save dialog is not shown and returns `path`; null: the user cancelled.
void QueueFileDialogAnswer(const char* path);
// The next popup menu is not shown; `id` is chosen when it is an enabled command of the
// menu, 0 dismisses it.
void QueuePopupMenuAnswer(UINT id);
// With `on`, boxes, file dialogs and popup menus that have no answer queued are not shown
// either: a box gives its default button, a file dialog and a menu are cancelled. Lets a
// test run code that may ask the user without hanging.
void AnswerUnaskedQuestions(bool on);
// Forgets queued hooks and answers and clears the journal (leaving it on or off).
void ResetTestingSeams();

// The next message box or open or save dialog is also drawn to the PNG file `path`, as it
// would show, whether an answer stands in for the user or not.
void SaveNextBoxImage(const char* path);
// The filters an open or save dialog offers for an OPENFILENAME filter list.
std::vector<std::string> FileDialogFilters(const char* filter);
// ---- Input as the user gives it ----
// Sends a mouse event through the toolkit to the window's client area at (x, y): the
// message says which (WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_RBUTTONDBLCLK, ...), `keys` holds
// MK_SHIFT, MK_CONTROL and the buttons held during the event.
void SimulateMouse(HWND window, UINT message, int x, int y, WPARAM keys);
// Sends a key press (a VK_* code or an upper-case letter or digit) with its character.
void SimulateKey(HWND window, int virtualKey, char character);
// Clicks a button control as the mouse would (its notification follows).
void SimulateClick(HWND button);
// Presses the window's close box.
void SimulateCloseBox(HWND window);
// Chooses the command from the window's menu bar as the user would; a greyed item or one
// that is not on the bar does nothing.
void SimulateMenuChoice(HWND window, UINT id);
// Types `text` (UTF-8, as a keyboard may give any character) into an edit control or an
// editable combo box as the user would.
void SimulateTyping(HWND control, const char* text);
// Selects entry `index` of a list box or combo box as the user would.
void SimulateSelect(HWND control, int index);

// ---- Watching ----
// Runs `watcher` with the pane and the text every time a status bar pane's text is set,
// so that a test sees texts that are replaced before it could read them. An empty
// function stops watching; ResetTestingSeams stops it too.
void WatchStatusBarText(std::function<void(int part, const char* text)> watcher);

// ---- What the user sees ----
bool IsWindow(HWND window);
bool IsWindowVisible(HWND window);
bool IsWindowEnabled(HWND window);
// Copies the text, cut to `size` - 1 characters; returns the characters copied.
int GetWindowText(HWND window, char* buffer, int size);
int GetWindowTextLength(HWND window);
// The text an edit control or a combo box shows on the screen, or a window's title bar,
// in UTF-8.
std::string ShownText(HWND window);
HWND GetCapture(); // the window the mouse is captured by, or 0
int GetMenuItemCount(HMENU menu);
// MF_CHECKED, MF_GRAYED, MF_DISABLED, MF_POPUP and MF_SEPARATOR of the item, or -1 (as
// unsigned) when there is none.
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
// Copies the item's text, cut to `size` - 1 characters; returns the characters copied.
int GetMenuString(HMENU menu, UINT item, char* buffer, int size, UINT flags);
// Rests the mouse on the toolbar at (x, y) as the user would, which asks the parent for
// the tip, and copies the tip then shown (cut to `size` - 1 characters). Returns the
// length copied; -1 when no tip is shown.
int ToolbarTipAt(HWND toolbar, int x, int y, char* buffer, int size);
// The help page a topic opens ("index.html" for the contents and unknown topics).
const char* HelpPageForTopic(DWORD topic);
// True while the help window is shown, with the file name of its page in `page`.
bool HelpWindowPage(char* page, unsigned size);

// ---- The help window ----
// Whether the help window is shown and takes the user's input, modal dialogs or not.
bool HelpWindowTakesInput();
// Presses Escape in the help window.
void PressEscapeInHelpWindow();
// Writes the shown help window to a PNG file; false when it is not shown.
bool SaveHelpWindowImage(const char* path);

// ---- Pictures ----
// Writes the window as it looks now to a PNG file: the client-area picture of a window,
// the whole widget for a dialog or control. Returns false when it cannot be written.
bool SaveWindowImage(HWND window, const char* path);
// The colour of one pixel of the window's client-area picture as 0x00BBGGRR, or -1 (as
// unsigned); the picture has `ratio` x `ratio` pixels per unit on a dense screen.
std::uint32_t WindowPixel(HWND window, int x, int y);
// Windows sized or made from now on keep pictures of `ratio` pixels per unit, as on a screen
// of that device pixel ratio; 0 gives each window its screen's ratio again.
void ForceDevicePixelRatio(int ratio);

// ---- Desktop notifications ----
// A notification service of the test's own on the session bus that the environment names
// (DBUS_SESSION_BUS_ADDRESS): it owns org.freedesktop.Notifications on a connection of its
// own and records every Notify call, answered as the message loop runs. False when there is
// no bus or the name is taken.
struct RecordedNotice {
    std::string appName;
    std::string appIcon;
    std::string summary;
    std::string body;
    int urgency = -1;   // the hint; -1 without one
    int imageWidth = 0; // of the image-data hint; 0 without one
    int imageHeight = 0;
    long long imageColour = -1; // its most common opaque colour as a COLORREF; -1 for none
};
bool StartNoticeRecorder();
void StopNoticeRecorder();
std::vector<RecordedNotice> RecordedNotices();

// ---- A test's own canvas ----
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
COLORREF SetPixel(HDC dc, int x, int y, COLORREF color);
// CLR_INVALID outside the context's image or clip area.
COLORREF GetPixel(HDC dc, int x, int y);

} // namespace platform
