// What the platform files share about windows behind the public handles: the record of
// each window, its widgets and picture, the built-in window classes of the controls, and
// the rules for running a nested toolkit loop. Included only by src/platform/*.cpp.
#pragma once

#include "platform/window.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QMenuBar;
class QWidget;
class QPaintEvent;

namespace platform {

struct WindowClass;
// Makes a control of a built-in class (CreateWindow on "BUTTON", "EDIT", ...).
using ControlCreator = HWND (*)(const WindowClass* windowClass, const char* text, DWORD style,
                                DWORD exStyle, const QRect& geometry, HWND parent, int id);

struct WindowClass {
    std::string name;
    WNDCLASS info{}; // info.lpszClassName points into `name`
    std::string menuName;
    ControlCreator createControl = nullptr; // set for the controls of the platform layer
};

enum class WindowKind { Window, Dialog, Control };

struct WindowRecord {
    HWND handle = 0;
    const WindowClass* windowClass = nullptr;
    WNDPROC procedure = nullptr;
    WindowKind kind = WindowKind::Window;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND parent = 0;                 // the parent of a child window
    HWND owner = 0;                  // the owner of a top-level window
    int id = 0;                      // a child's identifier
    HMENU menu = 0;                  // a top-level window's menu bar
    std::vector<HWND> children;      // in creation order
    QWidget* frame = nullptr;        // the top-level widget, or the child's own widget
    QWidget* client = nullptr;       // the widget that is the client area
    bool hasBacking = false;         // windows and dialogs keep a picture of their client area
    bool transparentBacking = false; // drawn controls: the dialog shows where nothing is drawn
    QImage backing;
    RECT invalid{}; // the area waiting for WM_PAINT (empty: none)
    bool eraseWanted = false;
    HBRUSH eraseBrush{}; // what BeginPaint erases with; null: the procedure does
    bool inPaintEvent = false;
    std::string text;
    std::vector<unsigned char> extraBytes;
    int toldWidth = -1; // client size and place last told by WM_SIZE and WM_MOVE
    int toldHeight = -1;
    int toldX = 0;
    int toldY = 0;
    bool toldPlace = false;
    bool toldMinimized = false;
    bool creating = false; // inside WM_CREATE: size and place are told after it returns
    bool destroying = false;
    // Dialogs.
    DLGPROC dialogProcedure = nullptr;
    INT_PTR dialogResult = 0;
    bool dialogEnded = false;
    int unitWidth = 0; // the dialog's base units in pixels (average character width, height)
    int unitHeight = 0;
    // Controls: the check state of buttons the program checks itself, the colour a
    // WM_CTLCOLOR* answer asked for.
    int checkState = 0;
    int textLimit = 0; // edits: EM_LIMITTEXT's limit, 0 for none
    QColor requestedBackground;
};

// ---- The window table ----
WindowRecord* FindWindowRecord(HWND window);
WindowRecord* FindWindowRecord(const QWidget* widget); // the window a widget stands for
// Registers a window class that the platform provides itself (the controls).
void RegisterBuiltInClass(const char* name, WNDPROC procedure, UINT style,
                          ControlCreator createControl);
// Creates a window whose widget the caller makes: `makeWidget` gets the record (handle,
// class and styles set) and the parent's client widget, and returns the widget, which
// becomes frame and client. Used for dialogs and controls. No WM_CREATE is sent.
HWND CreatePlatformWindow(const char* className, DWORD style, DWORD exStyle, const char* text,
                          HWND parent, int id, const QRect& geometry, WindowKind kind,
                          const std::function<QWidget*(WindowRecord*, QWidget*)>& makeWidget);
// Calls the procedure of a window (counting the depth, so nothing is freed under it).
LRESULT CallWindowProcedure(WindowRecord* record, UINT message, WPARAM wParam, LPARAM lParam);
// Sends WM_SIZE and WM_MOVE when the client area's size or place changed since last told.
void NoteClientGeometry(WindowRecord* record);

// ---- Painting ----
// The paintEvent of a window that keeps a picture: WM_PAINT for what waits, then the
// picture onto the widget.
void PaintWindowSurface(WindowRecord* record, QWidget* widget, QPaintEvent* event);
// The colour a brush paints with, found by painting with it.
QColor BrushColor(HBRUSH brush);
QWidget* CreateCanvasWidget(QWidget* parent); // a plain client-area widget with input

// ---- Input ----
// Delivers a toolkit mouse event to the window (or the capturing window) as its message.
void DeliverMouseEvent(WindowRecord* record, const QWidget* widget, UINT message,
                       const QPointF& local, const QPointF& global, Qt::MouseButtons buttons,
                       Qt::KeyboardModifiers modifiers);

// ---- The queue and nested loops ----
void StartMessageDispatcher();
// Runs a nested toolkit loop (a modal dialog, a popup menu, a message box) during which
// the queue dispatches its own messages, as the loop of a Win32 dialog box does.
void RunNestedLoop(const std::function<void()>& loop);
// Removes every queued message of a window and its timers (it is being destroyed).
void ForgetWindowMessages(HWND window);

// Frees the records and widgets of destroyed windows once no window procedure runs.
void FreeDestroyedWindows();
// The menu bar widget of a top-level window (made when `create`), laid out by the frame.
QMenuBar* FrameMenuBar(WindowRecord* record, bool create);
// Places menu bar and client area in a top-level window's frame, then tells the change.
void LayoutFrame(WindowRecord* record);

// The built-in classes: the controls (controls.cpp) and the dialog class (dialog.cpp).
void RegisterControlClasses();
void RegisterDialogClass();

// ---- Menus (menu.cpp) ----
// Puts the menu's bar on the window (0 removes it); the window's frame lays it out.
void AttachMenuToWindow(WindowRecord* record, HMENU menu);
void DestroyMenuOfWindow(WindowRecord* record);

// ---- Text ----
QString TextFromProgram(const char* text); // program texts are 8-bit (Latin-1)

// Whether a test asked for a picture of the next box or file dialog, and drawing it (laid
// out as it shows, without reaching the screen) when it did.
bool PictureAsked();
void SavePictureIfAsked(QWidget* box);
// Copies `text` as 8-bit text into `buffer` cut to `size` - 1; returns the length copied.
int CopyTextToProgram(const QString& text, char* buffer, int size);

} // namespace platform
