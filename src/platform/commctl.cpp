// The status bar and the toolbar as drawn controls. Each bar is a window of the window layer
// on a canvas widget: its procedure keeps the panes or buttons, paints them into the
// window's picture in the system colours, places the bar along its parent's edge, and turns
// the mouse messages it gets into WM_COMMAND for the parent. Tips are the toolkit's tool
// tips, with the text asked of the parent as WM_NOTIFY TTN_NEEDTEXT, as Win32 does.
#include "platform/commctl.h"

#include "platform/gdi_internal.h"
#include "platform/testing.h"
#include "platform/window_internal.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QImage>
#include <QPainter>
#include <QSizeGrip>
#include <QToolTip>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

struct StatusPart {
    int right; // the right edge in client coordinates; -1: to the end of the bar
    std::string text;
    WPARAM type; // SBT_* of the last SB_SETTEXT
};

struct StatusBar {
    std::vector<StatusPart> parts;
    HFONT font = nullptr;
    QWidget* grip = nullptr; // sizes the top-level window; the bar draws its dots
};

struct ToolButton {
    TBBUTTON info;
    QRect rect; // in the toolbar's client area
};

struct Toolbar {
    std::vector<ToolButton> buttons;
    QImage strip;     // the images side by side, with their transparency
    QImage greyStrip; // the same, greyed, for disabled buttons
    int bitmapCount = 0;
    QSize imageSize{16, 16};
    QSize buttonSize{23, 22};
    int pressed = -1;          // the button held down with the mouse
    bool pressedInside = true; // the mouse is over the held button
    int hot = -1;              // the button under the mouse (flat buttons show an edge)
};

/*** globals ***/

static std::unordered_map<HWND, StatusBar> statusBars;
static std::unordered_map<HWND, Toolbar> toolbars;
static HFONT statusFont = nullptr; // the panes' font unless WM_SETFONT gives another

// What the last tip request ended in, for ToolbarTipAt.
static bool tipShown = false;
static QString tipText;

constexpr int MAX_STATUS_PARTS = 256; // as in Win32
constexpr int MAX_TIP_LENGTH = 255;
constexpr int SEPARATOR_WIDTH = 8;
constexpr int TOOLBAR_INDENT = 4;  // left of the first button
constexpr int TOOLBAR_DIVIDER = 2; // the etched line along the top
constexpr int TOOLBAR_PADDING = 2; // above and below the buttons
constexpr int PANE_GAP = 2;        // between two panes, and before the first
constexpr int GRIP_SIZE = 14;

/*** drawing ***/

static QColor SystemColor(int index) {
    COLORREF color = GetSysColor(index);
    return QColor(GetRValue(color), GetGValue(color), GetBValue(color));
}

// A one-pixel frame just inside `r`: the top and left sides in one colour, the bottom and
// right sides in the other, which makes it look raised or sunken.
static void DrawFrame(QPainter& painter, const QRect& r, int topLeft, int bottomRight) {
    if (r.width() < 2 || r.height() < 2)
        return;
    QColor light = SystemColor(topLeft);
    QColor dark = SystemColor(bottomRight);
    painter.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), light);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), light);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), dark);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), dark);
}

static void DrawRaisedEdge(QPainter& painter, const QRect& r) {
    DrawFrame(painter, r, COLOR_3DLIGHT, COLOR_3DDKSHADOW);
    DrawFrame(painter, r.adjusted(1, 1, -1, -1), COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW);
}

static void DrawSunkenEdge(QPainter& painter, const QRect& r) {
    DrawFrame(painter, r, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT);
    DrawFrame(painter, r.adjusted(1, 1, -1, -1), COLOR_3DDKSHADOW, COLOR_3DLIGHT);
}

// The etched line under a menu bar or between groups of buttons.
static void DrawEtchedLine(QPainter& painter, int x, int y, int length, bool vertical) {
    QRect shadow = vertical ? QRect(x, y, 1, length) : QRect(x, y, length, 1);
    painter.fillRect(shadow, SystemColor(COLOR_BTNSHADOW));
    painter.fillRect(shadow.translated(vertical ? 1 : 0, vertical ? 0 : 1),
                     SystemColor(COLOR_BTNHIGHLIGHT));
}

/*** status bar ***/

// The desktop's face at the size of the classic status bar font: the panes are laid out
// from the width of "NORM" in the bold system font and must hold texts like "inactive".
static HFONT DefaultStatusFont() {
    if (statusFont == nullptr) {
        QByteArray face = QApplication::font().family().toLatin1();
        statusFont = CreateFont(-11, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                VARIABLE_PITCH | FF_SWISS, face.constData());
    }
    return statusFont;
}

static StatusBar* FindStatusBar(HWND window) {
    auto found = statusBars.find(window);
    return found == statusBars.end() ? nullptr : &found->second;
}

static int StatusBarHeight(const StatusBar& bar) {
    return std::max(20, QFontMetrics(GetQtFont(bar.font)).height() + 8);
}

static bool HasGrip(const WindowRecord* record) {
    return (record->style & SBARS_SIZEGRIP) != 0;
}

static int PartRight(const WindowRecord* record, const StatusBar& bar, int part, int width) {
    int right = bar.parts[static_cast<size_t>(part)].right;
    if (right < 0)
        right = width - (HasGrip(record) ? GRIP_SIZE + 2 : PANE_GAP);
    return right;
}

// The pane of a part, frame included. Edges that run backwards (a window narrower than
// the panes) give empty panes rather than turned-over ones.
static RECT PartRect(const WindowRecord* record, const StatusBar& bar, int part) {
    int width = record->client->width();
    int height = record->client->height();
    int left = part == 0 ? PANE_GAP : PartRight(record, bar, part - 1, width) + PANE_GAP;
    int right = std::max(left, PartRight(record, bar, part, width));
    return RECT{left, 2, right, std::max(2, height - 1)};
}

static void PlaceGrip(WindowRecord* record, StatusBar& bar) {
    if (bar.grip == nullptr)
        return;
    int size = std::min(record->client->height(), GRIP_SIZE + 4);
    bar.grip->setGeometry(record->client->width() - size, record->client->height() - size, size,
                          size);
}

// Along the foot of the parent's client area, its full width, as high as the font needs.
static void PlaceStatusBar(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    StatusBar* bar = FindStatusBar(window);
    RECT parent{};
    if (record == nullptr || bar == nullptr || !GetClientRect(record->parent, &parent))
        return;
    int height = StatusBarHeight(*bar);
    MoveWindow(window, 0, parent.bottom - height, parent.right, height, true);
    if ((record = FindWindowRecord(window)) != nullptr && (bar = FindStatusBar(window)) != nullptr)
        PlaceGrip(record, *bar);
}

static void InvalidatePart(HWND window, const WindowRecord* record, const StatusBar& bar,
                           int part) {
    RECT area = PartRect(record, bar, part);
    InvalidateRect(window, &area, true);
}

static void PaintStatusBar(HWND window, WindowRecord* record, const StatusBar& bar) {
    PAINTSTRUCT paint{};
    if (BeginPaint(window, &paint) == nullptr)
        return;
    int width = record->client->width();
    int height = record->client->height();
    {
        QPainter painter(&record->backing);
        painter.setClipRect(QRect(paint.rcPaint.left, paint.rcPaint.top,
                                  paint.rcPaint.right - paint.rcPaint.left,
                                  paint.rcPaint.bottom - paint.rcPaint.top));
        painter.fillRect(QRect(0, 0, width, height), SystemColor(COLOR_BTNFACE));
        painter.setFont(GetQtFont(bar.font));
        painter.setPen(SystemColor(COLOR_BTNTEXT));
        for (int part = 0; part < static_cast<int>(bar.parts.size()); ++part) {
            const StatusPart& each = bar.parts[static_cast<size_t>(part)];
            RECT r = PartRect(record, bar, part);
            QRect pane(r.left, r.top, r.right - r.left, r.bottom - r.top);
            if (pane.width() < 2)
                continue;
            if ((each.type & SBT_POPOUT) != 0)
                DrawFrame(painter, pane, COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW);
            else if ((each.type & SBT_NOBORDERS) == 0)
                DrawFrame(painter, pane, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT);
            QRect inside = pane.adjusted(3, 1, -1, -1);
            painter.save();
            painter.setClipRect(inside, Qt::IntersectClip);
            painter.drawText(inside, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                             TextToShow(each.text));
            painter.restore();
        }
        if (HasGrip(record)) {
            // Six dots in a triangle in the corner, each with its highlight.
            for (int row = 0; row < 3; ++row) {
                for (int column = 0; column < 3 - row; ++column) {
                    int x = width - 4 - 4 * column;
                    int y = height - 4 - 4 * row;
                    painter.fillRect(QRect(x, y, 2, 2), SystemColor(COLOR_BTNHIGHLIGHT));
                    painter.fillRect(QRect(x - 1, y - 1, 2, 2), SystemColor(COLOR_BTNSHADOW));
                }
            }
        }
    }
    EndPaint(window, &paint);
}

static LRESULT SetPartText(HWND window, WindowRecord* record, StatusBar& bar, WPARAM wParam,
                           const char* text) {
    int part = static_cast<int>(wParam & 0xFF);
    if (part >= static_cast<int>(bar.parts.size()))
        return 0;
    StatusPart& each = bar.parts[static_cast<size_t>(part)];
    each.text = text != nullptr ? text : "";
    each.type = wParam & 0xFF00;
    if (part == 0)
        record->text = each.text;
    InvalidatePart(window, record, bar, part);
    NoteStatusBarText(part, each.text.c_str());
    return 1;
}

static LRESULT StatusBarProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = FindWindowRecord(window);
    StatusBar* bar = FindStatusBar(window);
    if (record == nullptr || bar == nullptr)
        return DefWindowProc(window, message, wParam, lParam);
    switch (message) {
    case SB_SETPARTS: {
        const int* edges = reinterpret_cast<const int*>(lParam);
        int count = static_cast<int>(wParam);
        if (edges == nullptr || count < 1 || count > MAX_STATUS_PARTS)
            return 0;
        bar->parts.resize(static_cast<size_t>(count), StatusPart{-1, std::string(), 0});
        for (int part = 0; part < count; ++part)
            bar->parts[static_cast<size_t>(part)].right = edges[part];
        InvalidateRect(window, nullptr, true);
        return 1;
    }
    case SB_GETPARTS: {
        int* edges = reinterpret_cast<int*>(lParam);
        int count = static_cast<int>(bar->parts.size());
        if (edges != nullptr) {
            int wanted = std::min(count, static_cast<int>(std::min<WPARAM>(wParam, 256)));
            for (int part = 0; part < wanted; ++part)
                edges[part] = bar->parts[static_cast<size_t>(part)].right;
        }
        return count;
    }
    case SB_SETTEXT:
        return SetPartText(window, record, *bar, wParam, reinterpret_cast<const char*>(lParam));
    case SB_GETTEXT: {
        size_t part = wParam & 0xFF;
        if (part >= bar->parts.size())
            return 0;
        const StatusPart& each = bar->parts[part];
        char* buffer = reinterpret_cast<char*>(lParam);
        if (buffer != nullptr)
            std::memcpy(buffer, each.text.c_str(), each.text.size() + 1);
        return static_cast<LRESULT>(
            MAKELONG(static_cast<unsigned>(each.text.size()), static_cast<unsigned>(each.type)));
    }
    case SB_GETRECT: {
        auto* rect = reinterpret_cast<RECT*>(lParam);
        if (rect == nullptr || wParam >= bar->parts.size())
            return 0;
        *rect = PartRect(record, *bar, static_cast<int>(wParam));
        return 1;
    }
    case WM_SETTEXT:
        return SetPartText(window, record, *bar, 0, reinterpret_cast<const char*>(lParam));
    case WM_SETFONT: {
        HFONT font = reinterpret_cast<HFONT>(wParam);
        bar->font = font != nullptr ? font : DefaultStatusFont();
        PlaceStatusBar(window);
        InvalidateRect(window, nullptr, true);
        return 0;
    }
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(bar->font);
    case WM_SIZE:
        // Both the parent's size passed on and the bar's own: either way the bar takes its
        // place again, which changes nothing the second time.
        PlaceStatusBar(window);
        return 0;
    case WM_PAINT:
        PaintStatusBar(window, record, *bar);
        return 0;
    case WM_DESTROY:
        statusBars.erase(window);
        return 0;
    default:
        return DefWindowProc(window, message, wParam, lParam);
    }
}

// A grip that sizes the window like any other, drawn by the bar's own picture.
class StatusGrip final : public QSizeGrip {
  public:
    explicit StatusGrip(QWidget* parent) : QSizeGrip(parent) {}
    Q_DISABLE_COPY_MOVE(StatusGrip)

  protected:
    void paintEvent(QPaintEvent*) override {}
};

static QWidget* MakeCanvas(WindowRecord* record, QWidget* parentWidget) {
    QWidget* canvas = CreateCanvasWidget(parentWidget);
    record->hasBacking = true;
    record->invalid = RECT{0, 0, 1 << 15, 1 << 15};
    record->eraseWanted = false;
    return canvas;
}

static HWND CreateStatusBarControl(const WindowClass*, const char* text, DWORD style, DWORD exStyle,
                                   const QRect& geometry, HWND parent, int id) {
    HWND window = CreatePlatformWindow(STATUSCLASSNAME, style | WS_CHILD, exStyle, text, parent, id,
                                       geometry, WindowKind::Control, MakeCanvas);
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return 0;
    StatusBar& bar = statusBars[window];
    bar.font = DefaultStatusFont();
    bar.parts.push_back(StatusPart{-1, text != nullptr ? text : "", 0});
    if ((style & SBARS_SIZEGRIP) != 0) {
        bar.grip = new StatusGrip(record->client);
        bar.grip->show();
    }
    PlaceStatusBar(window);
    return window;
}

HWND CreateStatusWindow(LONG style, const char* text, HWND parent, UINT id) {
    InitCommonControls();
    return CreateWindow(STATUSCLASSNAME, text, static_cast<DWORD>(style) | WS_CHILD, 0, 0, 0, 0,
                        parent, id, nullptr);
}

/*** toolbar ***/

static Toolbar* FindToolbar(HWND window) {
    auto found = toolbars.find(window);
    return found == toolbars.end() ? nullptr : &found->second;
}

static bool IsSeparator(const ToolButton& button) {
    return (button.info.fsStyle & TBSTYLE_SEP) != 0;
}

static bool IsHidden(const ToolButton& button) {
    return (button.info.fsState & TBSTATE_HIDDEN) != 0;
}

static bool IsEnabled(const ToolButton& button) {
    return (button.info.fsState & TBSTATE_ENABLED) != 0;
}

static int ToolbarHeight(const Toolbar& bar) {
    return TOOLBAR_DIVIDER + 2 * TOOLBAR_PADDING + bar.buttonSize.height();
}

static void LayOutButtons(Toolbar& bar) {
    int x = TOOLBAR_INDENT;
    int y = TOOLBAR_DIVIDER + TOOLBAR_PADDING;
    for (ToolButton& button : bar.buttons) {
        if (IsHidden(button)) {
            button.rect = QRect();
            continue;
        }
        int width = bar.buttonSize.width();
        if (IsSeparator(button))
            width = button.info.iBitmap > 0 ? std::min(button.info.iBitmap, 200) : SEPARATOR_WIDTH;
        button.rect = QRect(x, y, width, bar.buttonSize.height());
        x += width;
    }
}

// The button (not a separator) at a point, or -1.
static int HitTestButton(const Toolbar& bar, int x, int y) {
    for (size_t index = 0; index < bar.buttons.size(); ++index) {
        const ToolButton& button = bar.buttons[index];
        if (!IsSeparator(button) && !IsHidden(button) && button.rect.contains(x, y))
            return static_cast<int>(index);
    }
    return -1;
}

static void InvalidateButton(HWND window, const Toolbar& bar, int index) {
    if (index < 0 || index >= static_cast<int>(bar.buttons.size()))
        return;
    const QRect& r = bar.buttons[static_cast<size_t>(index)].rect;
    RECT area{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    InvalidateRect(window, &area, true);
}

// Along the top of the parent's client area, its full width.
static void PlaceToolbar(HWND window) {
    WindowRecord* record = FindWindowRecord(window);
    Toolbar* bar = FindToolbar(window);
    RECT parent{};
    if (record == nullptr || bar == nullptr || !GetClientRect(record->parent, &parent))
        return;
    MoveWindow(window, 0, 0, parent.right, ToolbarHeight(*bar), true);
}

static void DrawButton(QPainter& painter, const WindowRecord* record, const Toolbar& bar,
                       int index) {
    const ToolButton& button = bar.buttons[static_cast<size_t>(index)];
    const QRect& r = button.rect;
    bool flat = (record->style & TBSTYLE_FLAT) != 0;
    if (IsSeparator(button)) {
        if (flat)
            DrawEtchedLine(painter, r.left() + r.width() / 2 - 1, r.top() + 1, r.height() - 2,
                           true);
        return;
    }
    bool enabled = IsEnabled(button);
    bool held = bar.pressed == index && bar.pressedInside;
    bool down = held || (button.info.fsState & TBSTATE_PRESSED) != 0;
    if (flat) {
        if (down)
            DrawFrame(painter, r, COLOR_BTNSHADOW, COLOR_BTNHIGHLIGHT);
        else if (enabled && bar.hot == index)
            DrawFrame(painter, r, COLOR_BTNHIGHLIGHT, COLOR_BTNSHADOW);
    } else if (down) {
        DrawSunkenEdge(painter, r);
    } else {
        DrawRaisedEdge(painter, r);
    }
    int image = button.info.iBitmap;
    const QImage& strip = enabled ? bar.strip : bar.greyStrip;
    int imageWidth = bar.imageSize.width();
    if (image < 0 || image >= bar.bitmapCount || (image + 1) * imageWidth > strip.width())
        return;
    int offset = down ? 1 : 0;
    QPoint at(r.left() + (r.width() - imageWidth) / 2 + offset,
              r.top() + (r.height() - bar.imageSize.height()) / 2 + offset);
    painter.drawImage(at, strip, QRect(image * imageWidth, 0, imageWidth, bar.imageSize.height()));
}

static void PaintToolbar(HWND window, WindowRecord* record, const Toolbar& bar) {
    PAINTSTRUCT paint{};
    if (BeginPaint(window, &paint) == nullptr)
        return;
    {
        QPainter painter(&record->backing);
        painter.setClipRect(QRect(paint.rcPaint.left, paint.rcPaint.top,
                                  paint.rcPaint.right - paint.rcPaint.left,
                                  paint.rcPaint.bottom - paint.rcPaint.top));
        painter.fillRect(record->backing.rect(), SystemColor(COLOR_BTNFACE));
        DrawEtchedLine(painter, 0, 0, record->client->width(), false);
        for (int index = 0; index < static_cast<int>(bar.buttons.size()); ++index)
            if (!IsHidden(bar.buttons[static_cast<size_t>(index)]))
                DrawButton(painter, record, bar, index);
    }
    EndPaint(window, &paint);
}

static void SetHotButton(HWND window, Toolbar& bar, int index) {
    if (bar.hot == index)
        return;
    InvalidateButton(window, bar, bar.hot);
    bar.hot = index;
    InvalidateButton(window, bar, bar.hot);
}

static LRESULT ToolbarMouse(HWND window, Toolbar& bar, UINT message, LPARAM lParam) {
    int x = GET_X_LPARAM(lParam);
    int y = GET_Y_LPARAM(lParam);
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        int index = HitTestButton(bar, x, y);
        if (index < 0 || !IsEnabled(bar.buttons[static_cast<size_t>(index)]))
            return 0;
        // The toolkit keeps sending this canvas the mouse until the button is released,
        // wherever it goes, as a capture would.
        bar.pressed = index;
        bar.pressedInside = true;
        InvalidateButton(window, bar, index);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (bar.pressed >= 0) {
            bool inside = bar.buttons[static_cast<size_t>(bar.pressed)].rect.contains(x, y);
            if (inside != bar.pressedInside) {
                bar.pressedInside = inside;
                InvalidateButton(window, bar, bar.pressed);
            }
        } else {
            int index = HitTestButton(bar, x, y);
            if (index >= 0 && !IsEnabled(bar.buttons[static_cast<size_t>(index)]))
                index = -1;
            SetHotButton(window, bar, index);
        }
        return 0;
    case WM_LBUTTONUP: {
        int index = bar.pressed;
        if (index < 0)
            return 0;
        bar.pressed = -1;
        InvalidateButton(window, bar, index);
        ToolButton& button = bar.buttons[static_cast<size_t>(index)];
        if (!button.rect.contains(x, y) || !IsEnabled(button))
            return 0;
        // The parent may do anything now, even destroy the toolbar: nothing of it is used
        // after this.
        WindowRecord* record = FindWindowRecord(window);
        HWND parent = record != nullptr ? record->parent : 0;
        auto command = static_cast<unsigned>(button.info.idCommand);
        SendMessage(parent, WM_COMMAND, MAKEWPARAM(command, 0), static_cast<LPARAM>(window));
        return 0;
    }
    default:
        return 0;
    }
}

static LRESULT ToolbarProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = FindWindowRecord(window);
    Toolbar* bar = FindToolbar(window);
    if (record == nullptr || bar == nullptr)
        return DefWindowProc(window, message, wParam, lParam);
    switch (message) {
    case TB_BUTTONCOUNT:
        return static_cast<LRESULT>(bar->buttons.size());
    case TB_GETITEMRECT: {
        auto* rect = reinterpret_cast<RECT*>(lParam);
        if (rect == nullptr || wParam >= bar->buttons.size())
            return 0;
        const QRect& r = bar->buttons[wParam].rect;
        *rect = RECT{r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
        return 1;
    }
    case TB_BUTTONSTRUCTSIZE:
        return 0;
    case TB_AUTOSIZE:
    case WM_SIZE:
        PlaceToolbar(window);
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
        return ToolbarMouse(window, *bar, message, lParam);
    case WM_PAINT:
        PaintToolbar(window, record, *bar);
        return 0;
    case WM_DESTROY:
        toolbars.erase(window);
        return 0;
    default:
        return DefWindowProc(window, message, wParam, lParam);
    }
}

// Asks the parent for a button's tip as Win32's tool tips do. Empty: no tip.
static QString AskTipText(HWND toolbar, HWND parent, int command) {
    TOOLTIPTEXT tip{};
    tip.hdr.hwndFrom = toolbar;
    tip.hdr.idFrom = static_cast<UINT_PTR>(static_cast<UINT>(command));
    tip.hdr.code = TTN_NEEDTEXT;
    tip.lpszText = tip.szText;
    SendMessage(parent, WM_NOTIFY, tip.hdr.idFrom, reinterpret_cast<LPARAM>(&tip));
    const char* text = tip.lpszText;
    if (text == nullptr || text == tip.szText) {
        tip.szText[sizeof tip.szText - 1] = '\0';
        text = tip.szText;
    } else if (reinterpret_cast<std::uintptr_t>(text) <= 0xFFFF) {
        return QString(); // a string resource: the program has none
    }
    return TextToShow(QByteArrayView(text, strnlen(text, MAX_TIP_LENGTH)));
}

// Shows or hides the tip for the point of a tool-tip event on a toolbar's canvas.
static void ShowTip(QWidget* canvas, QHelpEvent* help) {
    tipShown = false;
    tipText.clear();
    WindowRecord* record = FindWindowRecord(canvas);
    Toolbar* bar = record != nullptr ? FindToolbar(record->handle) : nullptr;
    int index = bar != nullptr && (record->style & TBSTYLE_TOOLTIPS) != 0
                    ? HitTestButton(*bar, help->pos().x(), help->pos().y())
                    : -1;
    if (index < 0) {
        QToolTip::hideText();
        return;
    }
    QRect area = bar->buttons[static_cast<size_t>(index)].rect;
    HWND toolbar = record->handle;
    QString text = AskTipText(toolbar, record->parent,
                              bar->buttons[static_cast<size_t>(index)].info.idCommand);
    if (text.isEmpty() || FindWindowRecord(toolbar) == nullptr) {
        QToolTip::hideText();
        return;
    }
    tipShown = true;
    tipText = text;
    QToolTip::showText(help->globalPos(), text, canvas, area);
}

// Tool-tip requests and the mouse leaving, which the canvas does not turn into messages.
class ToolbarEvents final : public QObject {
  public:
    ToolbarEvents() = default;
    Q_DISABLE_COPY_MOVE(ToolbarEvents)

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* canvas = qobject_cast<QWidget*>(watched);
        if (canvas == nullptr)
            return false;
        if (event->type() == QEvent::ToolTip) {
            ShowTip(canvas, static_cast<QHelpEvent*>(event));
            return true;
        }
        if (event->type() == QEvent::Leave) {
            if (WindowRecord* record = FindWindowRecord(canvas))
                if (Toolbar* bar = FindToolbar(record->handle))
                    SetHotButton(record->handle, *bar, -1);
        }
        return false;
    }
};

static ToolbarEvents* toolbarEvents = nullptr;

static HWND CreateToolbarControl(const WindowClass*, const char* text, DWORD style, DWORD exStyle,
                                 const QRect& geometry, HWND parent, int id) {
    HWND window = CreatePlatformWindow(TOOLBARCLASSNAME, style | WS_CHILD, exStyle, text, parent,
                                       id, geometry, WindowKind::Control, MakeCanvas);
    WindowRecord* record = FindWindowRecord(window);
    if (record == nullptr)
        return 0;
    toolbars[window] = Toolbar{};
    if (toolbarEvents == nullptr)
        toolbarEvents = new ToolbarEvents;
    record->client->installEventFilter(toolbarEvents);
    PlaceToolbar(window);
    return window;
}

// Disabled buttons show their image in light grey, keeping its shape.
static QImage GreyedImage(const QImage& image) {
    QImage grey = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < grey.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(grey.scanLine(y));
        for (int x = 0; x < grey.width(); ++x) {
            int level = 128 + qGray(row[x]) / 2;
            row[x] = qRgba(level, level, level, qAlpha(row[x]) * 3 / 4);
        }
    }
    return grey;
}

HWND CreateToolbarEx(HWND parent, DWORD style, UINT id, int bitmapCount, HINSTANCE,
                     UINT_PTR bitmapId, const TBBUTTON* buttons, int buttonCount, int dxButton,
                     int dyButton, int dxBitmap, int dyBitmap, UINT buttonSize) {
    if (buttonSize != sizeof(TBBUTTON) || buttonCount < 0 ||
        (buttons == nullptr && buttonCount > 0))
        return 0;
    InitCommonControls();
    HWND window =
        CreateWindow(TOOLBARCLASSNAME, "", style | WS_CHILD, 0, 0, 0, 0, parent, id, nullptr);
    Toolbar* bar = FindToolbar(window);
    if (bar == nullptr)
        return 0;
    QSize image(dxBitmap > 0 ? std::min(dxBitmap, 256) : 16,
                dyBitmap > 0 ? std::min(dyBitmap, 256) : 16);
    bar->imageSize = image;
    bar->buttonSize = QSize(std::max(std::min(dxButton, 512), image.width() + 7),
                            std::max(std::min(dyButton, 512), image.height() + 6));
    char name[32];
    std::snprintf(name, sizeof name, "TOOLBAR_%u", static_cast<unsigned>(bitmapId));
    if (const char* const* xpm = FindBitmapResource(name)) {
        bar->strip = QImage(xpm).convertToFormat(QImage::Format_ARGB32_Premultiplied);
        bar->greyStrip =
            GreyedImage(bar->strip).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    bar->bitmapCount = std::max(0, bitmapCount);
    for (int index = 0; index < buttonCount; ++index)
        bar->buttons.push_back(ToolButton{buttons[index], QRect()});
    LayOutButtons(*bar);
    PlaceToolbar(window);
    InvalidateRect(window, nullptr, true);
    return window;
}

int ToolbarTipAt(HWND toolbar, int x, int y, char* buffer, int size) {
    if (buffer != nullptr && size > 0)
        buffer[0] = '\0';
    WindowRecord* record = FindWindowRecord(toolbar);
    if (record == nullptr || FindToolbar(toolbar) == nullptr)
        return -1;
    QWidget* canvas = record->client;
    QPoint local(x, y);
    QHelpEvent help(QEvent::ToolTip, local, canvas->mapToGlobal(local));
    QApplication::sendEvent(canvas, &help);
    if (!tipShown || !QToolTip::isVisible() || QToolTip::text() != tipText)
        return -1;
    return CopyTextToProgram(tipText, buffer, size);
}

/*** start-up ***/

void InitCommonControls() {
    RegisterBuiltInClass(STATUSCLASSNAME, StatusBarProcedure, 0, CreateStatusBarControl);
    RegisterBuiltInClass(TOOLBARCLASSNAME, ToolbarProcedure, CS_DBLCLKS, CreateToolbarControl);
}

} // namespace platform
