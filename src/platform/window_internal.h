// What the platform files share about windows behind the public handles: the record of
// each window, its widgets and picture, and the built-in window classes of the controls.
// Included only by src/platform/*.cpp.
#pragma once

#include "platform/messages_internal.h"
#include "platform/window.h"

#include <QByteArrayView>
#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QString>

#include <chrono>
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

// A window: its handle record (handle, procedure, parent, owner) and all the rest.
struct WindowRecord final : HandleRecord {
    ~WindowRecord() override;
    const WindowClass* windowClass = nullptr;
    WindowKind kind = WindowKind::Window;
    DWORD style = 0;
    DWORD exStyle = 0;
    int id = 0;                      // a child's identifier
    HMENU menu = 0;                  // a top-level window's menu bar
    std::vector<HWND> children;      // in creation order
    QWidget* frame = nullptr;        // the top-level widget, or the child's own widget
    QWidget* client = nullptr;       // the widget that is the client area
    QWidget* detached = nullptr;     // a destroyed window's top widget, freed with the record
    bool hasBacking = false;         // windows and dialogs keep a picture of their client area
    bool transparentBacking = false; // drawn controls: the dialog shows where nothing is drawn
    QImage backing;
    RECT invalid{}; // the area waiting for WM_PAINT (empty: none)
    bool eraseWanted = false;
    HBRUSH eraseBrush{}; // what BeginPaint erases with; null: the procedure does
    bool inPaintEvent = false;
    // A window paints at most once a frame: what is invalidated within a frame of its last
    // paint is shown at the frame's end, so a burst of changes (a cycle's hosts changing
    // colour one after another) costs one paint.
    std::chrono::steady_clock::time_point paintedAt{};
    bool frameDue = false; // the end of this frame will show the area waiting
    std::string text;
    std::vector<unsigned char> extraBytes;
    int toldWidth = -1; // client size and place last told by WM_SIZE and WM_MOVE
    int toldHeight = -1;
    int toldX = 0;
    int toldY = 0;
    bool toldPlace = false;
    QRect placeBeforeFullScreen; // a top-level window's frame before it took the screen
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
// Every handle of the registry is a window's.
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
// The creation of every window, with its extended style (CreateWindow passes none).
HWND CreateWindowEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                    int y, int width, int height, HWND parent, HMENU menu, void* param);
// Takes `rect` (null: all) out of the area waiting for WM_PAINT.
bool ValidateRect(HWND window, const RECT* rect);
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

// ---- The test seams (testing.cpp) ----
// Each takes the queued answer or hook, if there is one.
bool TakeMessageBoxAnswer(int defaultAnswer, int* answer);
bool TakeFileDialogAnswer(std::string* path, bool* cancelled);
bool TakePopupMenuAnswer(UINT* id);
bool TakeDialogHook(std::function<void(HWND dialog)>* hook);
// Tells the status bar watcher, if there is one.
void NoteStatusBarText(int part, const char* text);

// ---- Text ----
QString TextFromProgram(const char* text); // program texts are 8-bit (Latin-1)
// Text that is only shown, never read back into the program: UTF-8 when it is valid UTF-8
// (file names, names typed on Linux), Latin-1 otherwise (maps written on Windows).
QString TextToShow(QByteArrayView text);

// Whether a test asked for a picture of the next box or file dialog, and drawing it (laid
// out as it shows, without reaching the screen) when it did.
bool PictureAsked();
void SavePictureIfAsked(QWidget* box);
// Copies `text` as 8-bit text into `buffer` cut to `size` - 1; returns the length copied.
int CopyTextToProgram(const QString& text, char* buffer, int size);

} // namespace platform
