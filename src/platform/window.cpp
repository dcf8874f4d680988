// Windows on Qt widgets: the class and window tables, creation and destruction, the
// widgets that turn toolkit events into window messages, painting through each window's
// picture, geometry, text, capture, key state and cursors.
//
// A top-level window is a frame widget holding an optional menu bar and the client widget;
// a child window is a client widget inside its parent's client widget. Every window that
// the program paints keeps a picture (QImage) of its client area: WM_PAINT draws into it
// and the widget only shows it, so a window can be read back at any time.
#include "platform/gdi_internal.h"
#include "platform/menu.h"
#include "platform/testing.h"
#include "platform/window_internal.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>

namespace platform {

/*** globals ***/

// Window classes by name in upper case.
static std::map<std::string, std::unique_ptr<WindowClass>> windowClasses;
// The window each of our widgets stands for.
static std::unordered_map<const QWidget*, HWND> windowOfWidget;
static HWND captureWindow = 0;
// The pictures' pixels per unit the tests ask for; 0 for the screen's own ratio.
static int forcedPixelRatio = 0;

/*** text ***/

QString TextFromProgram(const char* text) {
    return text == nullptr ? QString() : QString::fromLatin1(text);
}

QString TextToShow(QByteArrayView text) {
    return text.isValidUtf8() ? QString::fromUtf8(text) : QString::fromLatin1(text);
}

int CopyTextToProgram(const QString& text, char* buffer, int size) {
    if (buffer == nullptr || size <= 0)
        return 0;
    QByteArray bytes = text.toLatin1();
    int length = std::min(static_cast<int>(bytes.size()), size - 1);
    std::memcpy(buffer, bytes.constData(), static_cast<size_t>(length));
    buffer[length] = '\0';
    return length;
}

static std::string UpperCase(const char* name) {
    std::string result = name;
    for (char& c : result)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

static QRect ToQRect(const RECT& rect) {
    return QRect(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

static RECT ToRECT(const QRect& rect) {
    return RECT{rect.x(), rect.y(), rect.x() + rect.width(), rect.y() + rect.height()};
}

static bool IsEmptyRect(const RECT& rect) {
    return rect.right <= rect.left || rect.bottom <= rect.top;
}

/*** classes ***/

bool RegisterClass(const WNDCLASS* windowClass) {
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        windowClass->lpszClassName[0] == '\0' || windowClass->lpfnWndProc == nullptr)
        return false;
    std::string key = UpperCase(windowClass->lpszClassName);
    if (windowClasses.count(key) != 0)
        return false;
    auto entry = std::make_unique<WindowClass>();
    entry->name = windowClass->lpszClassName;
    entry->info = *windowClass;
    entry->info.lpszClassName = entry->name.c_str();
    entry->info.cbWndExtra = std::clamp(windowClass->cbWndExtra, 0, 64);
    if (windowClass->lpszMenuName != nullptr)
        entry->menuName = windowClass->lpszMenuName;
    entry->info.lpszMenuName = nullptr;
    windowClasses[key] = std::move(entry);
    return true;
}

void RegisterBuiltInClass(const char* name, WNDPROC procedure, UINT style,
                          ControlCreator createControl) {
    std::string key = UpperCase(name);
    if (windowClasses.count(key) != 0)
        return;
    auto entry = std::make_unique<WindowClass>();
    entry->name = name;
    entry->info.style = style;
    entry->info.lpfnWndProc = procedure;
    entry->info.lpszClassName = entry->name.c_str();
    entry->createControl = createControl;
    windowClasses[key] = std::move(entry);
}

static const WindowClass* FindWindowClass(const char* name) {
    if (name == nullptr)
        return nullptr;
    auto found = windowClasses.find(UpperCase(name));
    return found == windowClasses.end() ? nullptr : found->second.get();
}

/*** the window table ***/

WindowRecord::~WindowRecord() {
    delete detached;
}

WindowRecord* FindWindowRecord(HWND window) {
    return static_cast<WindowRecord*>(FindHandle(window));
}

WindowRecord* FindWindowRecord(const QWidget* widget) {
    auto found = windowOfWidget.find(widget);
    return found == windowOfWidget.end() ? nullptr : FindWindowRecord(found->second);
}

/*** the widgets ***/

static void SendClose(const QWidget* widget) {
    if (WindowRecord* record = FindWindowRecord(widget))
        CallWindowProcedure(record, WM_CLOSE, 0, 0);
}

// The client area of a window of a registered class, and the canvas of drawn controls.
class ClientWidget final : public QWidget {
  public:
    explicit ClientWidget(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMouseTracking(true);
        setFocusPolicy(Qt::NoFocus);
    }
    Q_DISABLE_COPY_MOVE(ClientWidget)

  protected:
    void paintEvent(QPaintEvent* event) override {
        if (WindowRecord* record = FindWindowRecord(this))
            PaintWindowSurface(record, this, event);
    }
    void resizeEvent(QResizeEvent*) override { Tell(); }
    void moveEvent(QMoveEvent*) override { Tell(); }
    void mousePressEvent(QMouseEvent* event) override {
        Mouse(event, event->button() == Qt::RightButton ? WM_RBUTTONDOWN : WM_LBUTTONDOWN);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        Mouse(event, event->button() == Qt::RightButton ? WM_RBUTTONUP : WM_LBUTTONUP);
    }
    void mouseDoubleClickEvent(QMouseEvent* event) override {
        Mouse(event, event->button() == Qt::RightButton ? WM_RBUTTONDBLCLK : WM_LBUTTONDBLCLK);
    }
    void mouseMoveEvent(QMouseEvent* event) override { Mouse(event, WM_MOUSEMOVE); }
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Tell() {
        if (WindowRecord* record = FindWindowRecord(this))
            NoteClientGeometry(record);
    }
    void Mouse(QMouseEvent* event, UINT message) {
        if (event->button() == Qt::MiddleButton)
            return;
        if (WindowRecord* record = FindWindowRecord(this))
            DeliverMouseEvent(record, this, message, event->position(), event->globalPosition(),
                              event->buttons(), event->modifiers());
    }
};

// A top-level window: the menu bar over the client area.
class FrameWidget final : public QWidget {
  public:
    explicit FrameWidget(QWidget* owner) : QWidget(owner, Qt::Window) {}
    Q_DISABLE_COPY_MOVE(FrameWidget)

    QMenuBar* menuBar = nullptr;
    QWidget* client = nullptr;

    void Layout() {
        int barHeight = 0;
        if (menuBar != nullptr && !menuBar->isHidden()) {
            barHeight = menuBar->heightForWidth(width());
            if (barHeight <= 0)
                barHeight = menuBar->sizeHint().height();
            menuBar->setGeometry(0, 0, width(), barHeight);
        }
        if (client != nullptr)
            client->setGeometry(0, barHeight, width(), std::max(0, height() - barHeight));
    }

  protected:
    void resizeEvent(QResizeEvent*) override { Layout(); }
    void moveEvent(QMoveEvent*) override {
        if (WindowRecord* record = FindWindowRecord(this))
            NoteClientGeometry(record);
    }
    void changeEvent(QEvent* event) override {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::WindowStateChange)
            if (WindowRecord* record = FindWindowRecord(this))
                NoteClientGeometry(record);
    }
    void closeEvent(QCloseEvent* event) override {
        // The procedure decides: WM_CLOSE destroys the window by default.
        event->ignore();
        SendClose(this);
    }
};

QWidget* CreateCanvasWidget(QWidget* parent) {
    return new ClientWidget(parent);
}

QMenuBar* FrameMenuBar(WindowRecord* record, bool create) {
    auto* frame = dynamic_cast<FrameWidget*>(record != nullptr ? record->frame : nullptr);
    if (frame == nullptr)
        return nullptr;
    if (frame->menuBar == nullptr && create) {
        frame->menuBar = new QMenuBar(frame);
        frame->menuBar->setNativeMenuBar(false);
    }
    return frame->menuBar;
}

void LayoutFrame(WindowRecord* record) {
    if (auto* frame = dynamic_cast<FrameWidget*>(record->frame))
        frame->Layout();
    NoteClientGeometry(record);
}

/*** creation and destruction ***/

static void RememberWidget(WindowRecord* record) {
    windowOfWidget[record->frame] = record->handle;
    windowOfWidget[record->client] = record->handle;
}

static WindowRecord* NewRecord(const WindowClass* windowClass, DWORD style, DWORD exStyle,
                               const char* text, HWND parent, WindowKind kind) {
    auto record = std::make_unique<WindowRecord>();
    record->windowClass = windowClass;
    record->procedure = windowClass->info.lpfnWndProc;
    record->kind = kind;
    record->style = style;
    record->exStyle = exStyle;
    record->text = text != nullptr ? text : "";
    record->extraBytes.assign(static_cast<size_t>(windowClass->info.cbWndExtra), 0);
    record->eraseBrush = windowClass->info.hbrBackground;
    if ((style & WS_CHILD) != 0) {
        record->parent = parent;
    } else if (parent != 0) {
        // The owner of a top-level window is the top-level window that holds `parent`.
        HWND owner = parent;
        while (WindowRecord* above = FindWindowRecord(owner)) {
            if (above->parent == 0)
                break;
            owner = above->parent;
        }
        record->owner = owner;
    }
    auto* result = static_cast<WindowRecord*>(RegisterHandle(std::move(record)));
    if (WindowRecord* parentRecord = FindWindowRecord(result->parent))
        parentRecord->children.push_back(result->handle);
    return result;
}

static QWidget* TopWidget(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    return record != nullptr ? record->frame->window() : nullptr;
}

static Qt::CursorShape CursorShapeOf(HCURSOR cursor);

HWND CreatePlatformWindow(const char* className, DWORD style, DWORD exStyle, const char* text,
                          HWND parent, int id, const QRect& geometry, WindowKind kind,
                          const std::function<QWidget*(WindowRecord*, QWidget*)>& makeWidget) {
    const WindowClass* windowClass = FindWindowClass(className);
    WindowRecord* parentRecord = FindWindowRecord(parent);
    if (windowClass == nullptr || ((style & WS_CHILD) != 0 && parentRecord == nullptr))
        return 0;
    WindowRecord* record = NewRecord(windowClass, style, exStyle, text, parent, kind);
    record->id = id;
    QWidget* parentWidget =
        (style & WS_CHILD) != 0 ? parentRecord->client : TopWidget(record->owner);
    QWidget* widget = makeWidget(record, parentWidget);
    record->frame = widget;
    record->client = widget;
    RememberWidget(record);
    widget->setGeometry(geometry);
    if ((style & WS_DISABLED) != 0)
        widget->setEnabled(false);
    if ((style & WS_CHILD) != 0)
        widget->setVisible((style & WS_VISIBLE) != 0);
    // Nothing told yet: the first look at the client area after WM_CREATE sends WM_SIZE.
    record->toldWidth = -1;
    record->toldHeight = -1;
    return record->handle;
}

HWND CreateWindowEx(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                    int y, int width, int height, HWND parent, HMENU menu, void* param) {
    const WindowClass* windowClass = FindWindowClass(className);
    if (windowClass == nullptr)
        return 0;
    bool child = (style & WS_CHILD) != 0;
    WindowRecord* parentRecord = FindWindowRecord(parent);
    if (child && parentRecord == nullptr)
        return 0;
    if (windowClass->createControl != nullptr) {
        // A control: in a dialog, or the hidden command buttons of the main window.
        QRect geometry(x == CW_USEDEFAULT ? 0 : x, y == CW_USEDEFAULT ? 0 : y,
                       width == CW_USEDEFAULT ? 0 : width, height == CW_USEDEFAULT ? 0 : height);
        return windowClass->createControl(windowClass, title, style, exStyle, geometry, parent,
                                          static_cast<int>(menu));
    }
    WindowRecord* record =
        NewRecord(windowClass, style, exStyle, title, parent, WindowKind::Window);
    record->hasBacking = true;
    record->invalid = RECT{0, 0, INT_MAX / 2, INT_MAX / 2};
    record->eraseWanted = true;
    auto* client = new ClientWidget(nullptr);
    if (child) {
        record->id = static_cast<int>(menu);
        client->setParent(parentRecord->client);
        record->frame = client;
        client->setGeometry(x == CW_USEDEFAULT ? 0 : x, y == CW_USEDEFAULT ? 0 : y,
                            width == CW_USEDEFAULT ? 100 : std::max(0, width),
                            height == CW_USEDEFAULT ? 100 : std::max(0, height));
    } else {
        auto* frame = new FrameWidget(TopWidget(record->owner));
        frame->client = client;
        client->setParent(frame);
        client->setFocusPolicy(Qt::StrongFocus);
        frame->setFocusProxy(client);
        frame->setWindowTitle(TextToShow(title));
        if (windowClass->info.hIcon != nullptr)
            frame->setWindowIcon(QIcon(QPixmap(windowClass->info.hIcon)));
        record->frame = frame;
        frame->resize(width == CW_USEDEFAULT ? 640 : std::max(1, width),
                      height == CW_USEDEFAULT ? 480 : std::max(1, height));
        if (x != CW_USEDEFAULT && y != CW_USEDEFAULT)
            frame->move(x, y);
    }
    record->client = client;
    record->creating = true; // nothing but WM_CREATE reaches the procedure before it returns
    RememberWidget(record);
    client->setCursor(windowClass->info.hCursor != nullptr
                          ? CursorShapeOf(windowClass->info.hCursor)
                          : Qt::ArrowCursor);
    if (!child) {
        HMENU bar = menu;
        if (bar == 0 && !windowClass->menuName.empty())
            bar = LoadMenu(windowClass->menuName.c_str());
        if (bar != 0)
            AttachMenuToWindow(record, bar);
        static_cast<FrameWidget*>(record->frame)->Layout();
    }
    if ((style & WS_DISABLED) != 0)
        record->frame->setEnabled(false);
    if (child)
        client->setVisible(false); // shown below, after creation, when WS_VISIBLE

    HWND handle = record->handle;
    QRect outer = record->frame->geometry();
    CREATESTRUCT create{param,         menu,
                        parent,        outer.height(),
                        outer.width(), outer.y(),
                        outer.x(),     static_cast<LONG>(style),
                        title,         windowClass->name.c_str(),
                        exStyle};
    LRESULT created = CallWindowProcedure(record, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create));
    record = FindWindowRecord(handle);
    if (record != nullptr)
        record->creating = false;
    if (created == -1) {
        DestroyWindow(handle);
        return 0;
    }
    if (record == nullptr)
        return 0;
    NoteClientGeometry(record);
    record = FindWindowRecord(handle);
    if (record != nullptr && (style & WS_VISIBLE) != 0)
        ShowWindow(handle, SW_SHOW);
    return FindWindowRecord(handle) != nullptr ? handle : 0;
}

HWND CreateWindow(const char* className, const char* title, DWORD style, int x, int y, int width,
                  int height, HWND parent, HMENU menu, void* param) {
    return CreateWindowEx(0, className, title, style, x, y, width, height, parent, menu, param);
}

static void SendDestroyToTree(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return;
    CallWindowProcedure(record, WM_DESTROY, 0, 0);
    record = FindWindowRecord(window);
    if (record == nullptr)
        return;
    std::vector<HWND> children = record->children;
    for (HWND child : children)
        SendDestroyToTree(child);
}

static void RemoveFromTables(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return;
    std::vector<HWND> children = record->children;
    for (HWND child : children)
        RemoveFromTables(child);
    if (captureWindow == window)
        captureWindow = 0;
    ForgetWindowMessages(window);
    DestroyMenuOfWindow(record);
    windowOfWidget.erase(record->frame);
    windowOfWidget.erase(record->client);
    RetireHandle(window);
}

bool DestroyWindow(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || record->destroying)
        return false;
    record->destroying = true;
    // Owned windows go first, as their owner's procedure may still be needed by them.
    for (HWND each : OwnedWindows(window))
        DestroyWindow(each);
    record = FindWindowRecord(window);
    if (record == nullptr)
        return true;
    QWidget* top = record->frame;
    top->hide();
    SendDestroyToTree(window);
    record = FindWindowRecord(window);
    if (record == nullptr)
        return true;
    if (WindowRecord* parentRecord = FindWindowRecord(record->parent)) {
        auto& siblings = parentRecord->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
    }
    // Detach the widget now, so that it never reaches a procedure again; it is freed with
    // the record.
    top->setParent(nullptr);
    record->detached = top;
    RemoveFromTables(window);
    FreeRetiredHandles();
    return true;
}

LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return 0;
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_SETTEXT: {
        const char* text = reinterpret_cast<const char*>(lParam);
        record->text = text != nullptr ? text : "";
        if (record->frame->isWindow())
            record->frame->setWindowTitle(TextToShow(record->text));
        return 1;
    }
    case WM_GETTEXT: {
        int size = static_cast<int>(wParam);
        char* buffer = reinterpret_cast<char*>(lParam);
        if (buffer == nullptr || size <= 0)
            return 0;
        int length = std::min(static_cast<int>(record->text.size()), size - 1);
        std::memcpy(buffer, record->text.data(), static_cast<size_t>(length));
        buffer[length] = '\0';
        return length;
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(record->text.size());
    default:
        return 0;
    }
}

/*** geometry and state ***/

void NoteClientGeometry(WindowRecord* record) {
    if (record->creating || record->destroying)
        return;
    HWND window = record->handle;
    QWidget* top = record->frame;
    bool minimized = top->isWindow() && top->isMinimized();
    QSize size = record->client->size();
    if (record->hasBacking) {
        // On a dense screen the picture has the screen's pixels, so nothing is blurred by
        // scaling it up; a fractional ratio is drawn at the next whole one.
        const int ratio =
            forcedPixelRatio > 0
                ? forcedPixelRatio
                : std::max(1,
                           static_cast<int>(std::ceil(record->client->devicePixelRatioF() - 0.01)));
        QSize wanted(std::max(1, size.width()) * ratio, std::max(1, size.height()) * ratio);
        if (record->backing.size() != wanted || record->backing.devicePixelRatio() != ratio) {
            QImage picture(wanted, record->transparentBacking ? QImage::Format_ARGB32_Premultiplied
                                                              : QImage::Format_RGB32);
            picture.setDevicePixelRatio(ratio);
            picture.fill(record->transparentBacking ? Qt::transparent : Qt::white);
            if (!record->backing.isNull()) {
                QPainter copy(&picture);
                copy.drawImage(0, 0, record->backing);
            }
            record->backing = picture;
        }
    }
    if (minimized) {
        if (!record->toldMinimized) {
            record->toldMinimized = true;
            CallWindowProcedure(record, WM_SIZE, SIZE_MINIMIZED, 0);
        }
        return;
    }
    bool sizeChanged = record->toldMinimized || size.width() != record->toldWidth ||
                       size.height() != record->toldHeight;
    if (sizeChanged) {
        record->toldMinimized = false;
        record->toldWidth = size.width();
        record->toldHeight = size.height();
        if (record->hasBacking)
            InvalidateRect(window, nullptr, true);
        WPARAM type = top->isWindow() && top->isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
        CallWindowProcedure(record, WM_SIZE, type, MAKELPARAM(size.width(), size.height()));
        record = FindWindowRecord(window);
        if (record == nullptr)
            return;
    }
    // WM_MOVE carries the client area's place: on the screen for a top-level window, in the
    // parent's client area for a child.
    QPoint place =
        record->parent != 0 ? record->client->pos() : record->client->mapToGlobal(QPoint(0, 0));
    if (!record->toldPlace || place.x() != record->toldX || place.y() != record->toldY) {
        record->toldPlace = true;
        record->toldX = place.x();
        record->toldY = place.y();
        CallWindowProcedure(record, WM_MOVE, 0, MAKELPARAM(place.x(), place.y()));
    }
}

bool GetClientRect(HWND window, RECT* rect) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || rect == nullptr)
        return false;
    *rect = RECT{0, 0, record->client->width(), record->client->height()};
    return true;
}

bool GetWindowRect(HWND window, RECT* rect) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || rect == nullptr)
        return false;
    QWidget* top = record->frame;
    if (top->isWindow()) {
        *rect = ToRECT(top->frameGeometry());
    } else {
        *rect = ToRECT(QRect(top->mapToGlobal(QPoint(0, 0)), top->size()));
    }
    return true;
}

bool ScreenToClient(HWND window, POINT* point) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || point == nullptr)
        return false;
    QPoint local = record->client->mapFromGlobal(QPoint(point->x, point->y));
    *point = POINT{local.x(), local.y()};
    return true;
}

bool ClientToScreen(HWND window, POINT* point) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || point == nullptr)
        return false;
    QPoint global = record->client->mapToGlobal(QPoint(point->x, point->y));
    *point = POINT{global.x(), global.y()};
    return true;
}

bool MoveWindow(HWND window, int x, int y, int width, int height, bool repaint) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return false;
    QWidget* top = record->frame;
    width = std::max(0, width);
    height = std::max(0, height);
    if (top->isWindow()) {
        // The rectangle is the whole window; the toolkit's size leaves out the decoration.
        QRect outer = top->frameGeometry();
        QRect inner = top->geometry();
        int extraWidth = outer.width() - inner.width();
        int extraHeight = outer.height() - inner.height();
        top->resize(std::max(1, width - extraWidth), std::max(1, height - extraHeight));
        top->move(x, y);
        LayoutFrame(record);
    } else {
        top->setGeometry(x, y, width, height);
        NoteClientGeometry(record);
    }
    if (repaint && IsWindow(window) && record->hasBacking)
        InvalidateRect(window, nullptr, true);
    return true;
}

bool ShowWindow(HWND window, int command) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return false;
    QWidget* top = record->frame;
    bool wasVisible = top->isVisible();
    bool topLevel = top->isWindow();
    switch (command) {
    case SW_HIDE:
        top->hide();
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
        if (topLevel)
            top->showMinimized();
        else
            top->show();
        break;
    case SW_SHOWMAXIMIZED:
        if (topLevel)
            top->showMaximized();
        else
            top->show();
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
        if (topLevel)
            top->showNormal();
        else
            top->show();
        break;
    default:
        top->show();
        break;
    }
    // Every command but hiding and minimising activates a top-level window, as in Win32.
    bool activates = command != SW_HIDE && command != SW_SHOWMINIMIZED && command != SW_MINIMIZE &&
                     command != SW_SHOWMINNOACTIVE;
    if (topLevel && activates && IsWindow(window))
        top->activateWindow();
    if (IsWindow(window))
        NoteClientGeometry(record);
    return wasVisible;
}

bool ShowFullScreen(HWND window, bool fullScreen) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || !record->frame->isWindow())
        return false;
    QWidget* top = record->frame;
    const Qt::WindowStates state = top->windowState();
    const bool wasFullScreen = (state & Qt::WindowFullScreen) != 0;
    if (fullScreen && !wasFullScreen)
        record->placeBeforeFullScreen = top->geometry();
    top->setWindowState(fullScreen ? state | Qt::WindowFullScreen : state & ~Qt::WindowFullScreen);
    // A window manager sizes a full-screen window, and restores it, itself; without one (a
    // display that shows only this program) nothing would: the window takes the screen, and
    // gives it back, in either case.
    if (fullScreen && !wasFullScreen && top->screen() != nullptr) {
        top->setGeometry(top->screen()->geometry());
    } else if (!fullScreen && record->placeBeforeFullScreen.isValid()) {
        top->setGeometry(record->placeBeforeFullScreen);
        record->placeBeforeFullScreen = QRect();
    }
    if (IsWindow(window))
        NoteClientGeometry(record);
    return wasFullScreen;
}

bool IsWindowVisible(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    return record != nullptr && record->frame->isVisible();
}

bool IsIconic(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    return record != nullptr && record->frame->isWindow() && record->frame->isMinimized();
}

bool EnableWindow(HWND window, bool enable) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return false;
    bool wasDisabled = (record->style & WS_DISABLED) != 0;
    if (enable)
        record->style &= ~WS_DISABLED;
    else
        record->style |= WS_DISABLED;
    record->frame->setEnabled(enable);
    if (wasDisabled == enable)
        CallWindowProcedure(record, WM_ENABLE, enable ? 1 : 0, 0);
    return wasDisabled;
}

bool IsWindowEnabled(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    return record != nullptr && (record->style & WS_DISABLED) == 0;
}

HWND GetParent(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return 0;
    return record->parent != 0 ? record->parent : record->owner;
}

bool SetWindowText(HWND window, const char* text) {
    if (!IsWindow(window))
        return false;
    return SendMessage(window, WM_SETTEXT, 0,
                       reinterpret_cast<LPARAM>(text != nullptr ? text : "")) != 0;
}

int GetWindowText(HWND window, char* buffer, int size) {
    if (buffer != nullptr && size > 0)
        buffer[0] = '\0';
    if (!IsWindow(window) || buffer == nullptr || size <= 0)
        return 0;
    return static_cast<int>(SendMessage(window, WM_GETTEXT, static_cast<WPARAM>(size),
                                        reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLength(HWND window) {
    return static_cast<int>(SendMessage(window, WM_GETTEXTLENGTH, 0, 0));
}

static bool ExtraBytesFit(const WindowRecord* record, int index, int count) {
    return index >= 0 &&
           static_cast<size_t>(index) + static_cast<size_t>(count) <= record->extraBytes.size();
}

WORD GetWindowWord(HWND window, int index) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || !ExtraBytesFit(record, index, 2))
        return 0;
    WORD value = 0;
    std::memcpy(&value, record->extraBytes.data() + index, 2);
    return value;
}

WORD SetWindowWord(HWND window, int index, WORD value) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || !ExtraBytesFit(record, index, 2))
        return 0;
    WORD previous = GetWindowWord(window, index);
    std::memcpy(record->extraBytes.data() + index, &value, 2);
    return previous;
}

// The window that holds the keyboard focus, or 0.
static HWND FocusWindow() {
    for (QWidget* widget = QApplication::focusWidget(); widget != nullptr;
         widget = widget->parentWidget())
        if (WindowRecord* record = FindWindowRecord(widget))
            return record->handle;
    return 0;
}

HWND SetFocus(HWND window) {
    HWND previous = FocusWindow();
    if (WindowRecord* record = FindWindowRecord(window))
        record->client->setFocus(Qt::OtherFocusReason);
    return previous;
}

int GetSystemMetrics(int index) {
    QScreen* screen = QGuiApplication::primaryScreen();
    QRect area = screen != nullptr ? screen->geometry() : QRect(0, 0, 800, 600);
    switch (index) {
    case SM_CXSCREEN:
        return area.width();
    case SM_CYSCREEN:
        return area.height();
    default:
        return 0;
    }
}

/*** painting ***/

// The shortest time between two paints of a window: one frame of a 60 Hz screen.
static constexpr std::chrono::milliseconds FRAME{16};

static RECT WaitingArea(const WindowRecord* record) {
    QRect area = ToQRect(record->invalid).intersected(record->client->rect());
    return area.isEmpty() ? RECT{} : ToRECT(area);
}

// Has Qt paint `area` now, or at the end of the frame when the window painted within it.
static void ShowWithinFrame(WindowRecord* record, const QRect& area) {
    if (record->frameDue)
        return; // the frame's end shows all that is waiting
    auto since = std::chrono::steady_clock::now() - record->paintedAt;
    if (since >= FRAME) {
        record->client->update(area);
        return;
    }
    record->frameDue = true;
    HWND window = record->handle;
    auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(FRAME - since);
    QTimer::singleShot(rest, Qt::PreciseTimer, record->client, [window] {
        WindowRecord* due = FindWindowRecord(window);
        if (due == nullptr || !due->frameDue)
            return;
        due->frameDue = false;
        if (RECT waiting = WaitingArea(due); !IsEmptyRect(waiting))
            due->client->update(ToQRect(waiting));
    });
}

bool InvalidateRect(HWND window, const RECT* rect, bool erase) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return false;
    if (!record->hasBacking)
        return true;
    RECT area =
        rect != nullptr ? *rect : RECT{0, 0, record->client->width(), record->client->height()};
    if (IsEmptyRect(area))
        return true;
    if (IsEmptyRect(record->invalid)) {
        record->invalid = area;
    } else {
        record->invalid.left = std::min(record->invalid.left, area.left);
        record->invalid.top = std::min(record->invalid.top, area.top);
        record->invalid.right = std::max(record->invalid.right, area.right);
        record->invalid.bottom = std::max(record->invalid.bottom, area.bottom);
    }
    record->eraseWanted = record->eraseWanted || erase;
    ShowWithinFrame(record, ToQRect(area).intersected(record->client->rect()));
    return true;
}

bool ValidateRect(HWND window, const RECT* rect) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return false;
    // The area waiting is kept as one rectangle: it is cleared when `rect` covers it.
    const RECT& waiting = record->invalid;
    if (rect == nullptr || (rect->left <= waiting.left && rect->top <= waiting.top &&
                            rect->right >= waiting.right && rect->bottom >= waiting.bottom)) {
        record->invalid = RECT{};
        record->eraseWanted = false;
    }
    return true;
}

bool UpdateWindow(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return false;
    // EndPaint shows the area painted, and only that: the rest of the widget is as it was.
    if (record->hasBacking && !IsEmptyRect(WaitingArea(record))) {
        record->paintedAt = std::chrono::steady_clock::now();
        CallWindowProcedure(record, WM_PAINT, 0, 0);
    }
    return true;
}

void PaintWindowSurface(WindowRecord* record, QWidget* widget, QPaintEvent* event) {
    HWND window = record->handle;
    if (!IsEmptyRect(WaitingArea(record)) && !record->inPaintEvent) {
        record->inPaintEvent = true;
        record->paintedAt = std::chrono::steady_clock::now();
        CallWindowProcedure(record, WM_PAINT, 0, 0);
        record = FindWindowRecord(window);
        if (record == nullptr)
            return;
        record->inPaintEvent = false;
    }
    QPainter painter(widget);
    QRect area = event->rect();
    const qreal ratio = record->backing.devicePixelRatio();
    painter.drawImage(area, record->backing, QRect(area.topLeft() * ratio, area.size() * ratio));
}

void ForceDevicePixelRatio(int ratio) {
    forcedPixelRatio = std::max(0, ratio);
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || paint == nullptr || !record->hasBacking)
        return nullptr;
    NoteClientGeometry(record);
    if ((record = FindWindowRecord(window)) == nullptr)
        return nullptr;
    paint->rcPaint = WaitingArea(record);
    paint->fErase = false;
    paint->hdc = CreateImageContext(&record->backing);
    if (record->eraseWanted && !IsEmptyRect(paint->rcPaint)) {
        if (record->eraseBrush)
            FillRect(paint->hdc, &paint->rcPaint, record->eraseBrush);
        else
            paint->fErase = true;
    }
    SetContextClip(paint->hdc, paint->rcPaint);
    record->invalid = RECT{};
    record->eraseWanted = false;
    return paint->hdc;
}

bool EndPaint(HWND window, const PAINTSTRUCT* paint) {
    if (paint == nullptr || paint->hdc == nullptr)
        return false;
    DeleteImageContext(paint->hdc);
    WindowRecord* record = FindWindowRecord(window);
    if (record != nullptr && !record->inPaintEvent)
        record->client->update(ToQRect(paint->rcPaint));
    return true;
}

HDC GetDC(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr || !record->hasBacking)
        return nullptr;
    NoteClientGeometry(record);
    if ((record = FindWindowRecord(window)) == nullptr)
        return nullptr;
    return CreateImageContext(&record->backing);
}

int ReleaseDC(HWND window, HDC context) {
    if (context == nullptr)
        return 0;
    DeleteImageContext(context);
    if (WindowRecord* record = FindWindowRecord(window))
        record->client->update();
    return 1;
}

QColor BrushColor(HBRUSH brush) {
    if (!brush)
        return QColor();
    QImage probe(1, 1, QImage::Format_RGB32);
    probe.fill(Qt::black);
    HDC context = CreateImageContext(&probe);
    RECT all{0, 0, 1, 1};
    FillRect(context, &all, brush);
    DeleteImageContext(context);
    return probe.pixelColor(0, 0);
}

/*** mouse, keys and cursors ***/

static WPARAM KeyStateFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
    WPARAM flags = 0;
    if ((buttons & Qt::LeftButton) != 0)
        flags |= MK_LBUTTON;
    if ((buttons & Qt::RightButton) != 0)
        flags |= MK_RBUTTON;
    if ((buttons & Qt::MiddleButton) != 0)
        flags |= MK_MBUTTON;
    if ((modifiers & Qt::ShiftModifier) != 0)
        flags |= MK_SHIFT;
    if ((modifiers & Qt::ControlModifier) != 0)
        flags |= MK_CONTROL;
    return flags;
}

void DeliverMouseEvent(WindowRecord* record, const QWidget* widget, UINT message,
                       const QPointF& local, const QPointF& global, Qt::MouseButtons buttons,
                       Qt::KeyboardModifiers modifiers) {
    QPoint position = local.toPoint();
    WindowRecord* target = record;
    if (captureWindow != 0 && captureWindow != record->handle) {
        if (WindowRecord* capturing = FindWindowRecord(captureWindow)) {
            target = capturing;
            position = capturing->client->mapFromGlobal(global.toPoint());
        }
    } else if (widget != record->client) {
        position = record->client->mapFromGlobal(global.toPoint());
    }
    // A double click counts as one only for classes that ask for it.
    if ((message == WM_LBUTTONDBLCLK || message == WM_RBUTTONDBLCLK) &&
        (target->windowClass->info.style & CS_DBLCLKS) == 0)
        message = message == WM_LBUTTONDBLCLK ? WM_LBUTTONDOWN : WM_RBUTTONDOWN;
    CallWindowProcedure(target, message, KeyStateFlags(buttons, modifiers),
                        MAKELPARAM(position.x(), position.y()));
}

void ClientWidget::keyPressEvent(QKeyEvent* event) {
    WindowRecord* record = FindWindowRecord(this);
    if (record == nullptr) {
        QWidget::keyPressEvent(event);
        return;
    }
    HWND window = record->handle;
    int key = event->key();
    int virtualKey = 0;
    char character = 0;
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        virtualKey = 'A' + (key - Qt::Key_A);
    else if (key >= Qt::Key_0 && key <= Qt::Key_9)
        virtualKey = '0' + (key - Qt::Key_0);
    else if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        virtualKey = VK_F1 + (key - Qt::Key_F1);
    else {
        static const std::pair<int, int> keys[] = {
            {Qt::Key_Backspace, VK_BACK}, {Qt::Key_Tab, VK_TAB},
            {Qt::Key_Return, VK_RETURN},  {Qt::Key_Enter, VK_RETURN},
            {Qt::Key_Shift, VK_SHIFT},    {Qt::Key_Control, VK_CONTROL},
            {Qt::Key_Alt, VK_MENU},       {Qt::Key_Escape, VK_ESCAPE},
            {Qt::Key_Space, VK_SPACE},    {Qt::Key_PageUp, VK_PRIOR},
            {Qt::Key_PageDown, VK_NEXT},  {Qt::Key_End, VK_END},
            {Qt::Key_Home, VK_HOME},      {Qt::Key_Left, VK_LEFT},
            {Qt::Key_Up, VK_UP},          {Qt::Key_Right, VK_RIGHT},
            {Qt::Key_Down, VK_DOWN},      {Qt::Key_Insert, VK_INSERT},
            {Qt::Key_Delete, VK_DELETE}};
        for (const auto& entry : keys)
            if (entry.first == key)
                virtualKey = entry.second;
    }
    switch (key) {
    case Qt::Key_Escape:
        character = 27;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        character = 13;
        break;
    case Qt::Key_Backspace:
        character = 8;
        break;
    case Qt::Key_Tab:
        character = 9;
        break;
    default: {
        QByteArray text = event->text().toLatin1();
        if (text.size() == 1 && text[0] != 0)
            character = text[0];
        break;
    }
    }
    if (virtualKey != 0)
        CallWindowProcedure(record, WM_KEYDOWN, static_cast<WPARAM>(virtualKey), 1);
    if (character != 0 && (record = FindWindowRecord(window)) != nullptr)
        CallWindowProcedure(record, WM_CHAR, static_cast<unsigned char>(character), 1);
}

HWND SetCapture(HWND window) {
    HWND previous = captureWindow;
    if (IsWindow(window))
        captureWindow = window;
    return previous;
}

bool ReleaseCapture() {
    captureWindow = 0;
    return true;
}

HWND GetCapture() {
    return captureWindow;
}

struct Cursor {
    int id;
    Qt::CursorShape shape;
};

static const Cursor cursorTable[] = {
    {IDC_ARROW, Qt::ArrowCursor},     {IDC_IBEAM, Qt::IBeamCursor},
    {IDC_WAIT, Qt::WaitCursor},       {IDC_CROSS, Qt::CrossCursor},
    {IDC_SIZEALL, Qt::SizeAllCursor}, {IDC_APPSTARTING, Qt::BusyCursor},
};
static HCURSOR currentCursor = &cursorTable[0];
static bool overrideActive = false;

static Qt::CursorShape CursorShapeOf(HCURSOR cursor) {
    return cursor != nullptr ? cursor->shape : Qt::ArrowCursor;
}

HCURSOR LoadCursor(int cursorId) {
    for (const Cursor& cursor : cursorTable)
        if (cursor.id == cursorId)
            return &cursor;
    return nullptr;
}

HCURSOR SetCursor(HCURSOR cursor) {
    HCURSOR previous = currentCursor;
    currentCursor = cursor;
    // Any cursor but the arrow is shown over all our windows until another one is set;
    // the arrow gives the windows their own class cursors back.
    if (cursor != nullptr && cursor->shape != Qt::ArrowCursor) {
        if (overrideActive)
            QGuiApplication::changeOverrideCursor(QCursor(cursor->shape));
        else
            QGuiApplication::setOverrideCursor(QCursor(cursor->shape));
        overrideActive = true;
    } else if (overrideActive) {
        QGuiApplication::restoreOverrideCursor();
        overrideActive = false;
    }
    return previous;
}

} // namespace platform
