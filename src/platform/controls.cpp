// The built-in control classes "BUTTON", "EDIT", "STATIC", "COMBOBOX" and "LISTBOX" on Qt
// widgets: each control is a window whose procedure answers the Win32 control messages
// from its widget, and whose widget's signals become the notifications (WM_COMMAND with
// the control's id and a code) sent to its parent. Frames, icons and drawn buttons are
// canvases with a picture, so the program draws on them as on any window.
#include "platform/dialog.h"
#include "platform/gdi_internal.h"
#include "platform/window_internal.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QValidator>

#include <algorithm>
#include <cstring>

namespace platform {

// Changes the program makes through messages raise no notifications, as in Win32; only
// the user's changes (and SetWindowText on a one-line edit) do.
static int quietChanges = 0;

struct QuietChange {
    QuietChange() { ++quietChanges; }
    ~QuietChange() { --quietChanges; }
    QuietChange(const QuietChange&) = delete;
    QuietChange& operator=(const QuietChange&) = delete;
};

static void Notify(HWND control, UINT code) {
    WindowRecord* record = FindWindowRecord(control);
    if (record == nullptr || record->parent == 0)
        return;
    SendMessage(record->parent, WM_COMMAND,
                MAKEWPARAM(static_cast<unsigned>(record->id) & 0xFFFF, code),
                static_cast<LPARAM>(control));
}

static QString TextArgument(LPARAM lParam) {
    return TextFromProgram(reinterpret_cast<const char*>(lParam));
}

// "&Name" shows as "Name" with N as its access key; "&&" is a plain "&".
static QString WithoutAccessKeys(const QString& text) {
    QString result;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        result += text[i];
    }
    return result;
}

static LRESULT CopyTextResult(const QString& text, WPARAM wParam, LPARAM lParam) {
    return CopyTextToProgram(text, reinterpret_cast<char*>(lParam), static_cast<int>(wParam));
}

/*** buttons ***/

static DWORD ButtonType(const WindowRecord* record) {
    return record->style & BS_TYPEMASK;
}

static bool IsRadio(DWORD type) {
    return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

static void ShowCheck(WindowRecord* record) {
    QuietChange quiet;
    if (auto* box = qobject_cast<QCheckBox*>(record->client))
        box->setCheckState(record->checkState == BST_CHECKED         ? Qt::Checked
                           : record->checkState == BST_INDETERMINATE ? Qt::PartiallyChecked
                                                                     : Qt::Unchecked);
    else if (auto* radio = qobject_cast<QRadioButton*>(record->client))
        radio->setChecked(record->checkState == BST_CHECKED);
}

// The radio buttons of a group: from the nearest control with WS_GROUP at or before this
// one up to the next control with WS_GROUP.
static std::vector<WindowRecord*> RadioGroupOf(WindowRecord* button) {
    std::vector<WindowRecord*> group;
    WindowRecord* parent = FindWindowRecord(button->parent);
    if (parent == nullptr)
        return group;
    const std::vector<HWND>& siblings = parent->children;
    auto self = std::find(siblings.begin(), siblings.end(), button->handle);
    if (self == siblings.end())
        return group;
    auto start = self;
    while (start != siblings.begin()) {
        WindowRecord* each = FindWindowRecord(*start);
        if (each != nullptr && (each->style & WS_GROUP) != 0)
            break;
        --start;
    }
    for (auto each = start; each != siblings.end(); ++each) {
        WindowRecord* record = FindWindowRecord(*each);
        if (record == nullptr)
            continue;
        if (each != start && (record->style & WS_GROUP) != 0)
            break;
        if (record->kind == WindowKind::Control && record->windowClass->name == "BUTTON" &&
            IsRadio(ButtonType(record)))
            group.push_back(record);
    }
    return group;
}

static void ButtonClicked(HWND button) {
    WindowRecord* record = FindWindowRecord(button);
    if (record == nullptr || quietChanges != 0)
        return;
    DWORD type = ButtonType(record);
    if (type == BS_AUTOCHECKBOX) {
        record->checkState = record->checkState == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    } else if (type == BS_AUTO3STATE) {
        record->checkState = (record->checkState + 1) % 3;
    } else if (type == BS_AUTORADIOBUTTON) {
        for (WindowRecord* other : RadioGroupOf(record)) {
            other->checkState = other == record ? BST_CHECKED : BST_UNCHECKED;
            ShowCheck(other);
        }
    }
    // The toolkit toggled the box itself; what shows is what the program (or the
    // automatic rule above) decided.
    ShowCheck(record);
    Notify(button, BN_CLICKED);
}

static LRESULT DrawnButtonPaint(WindowRecord* record) {
    HWND button = record->handle;
    PAINTSTRUCT paint{};
    HDC context = BeginPaint(button, &paint);
    if (context == nullptr)
        return 0;
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_BUTTON;
    item.CtlID = static_cast<UINT>(record->id);
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = (record->checkState != 0 ? ODS_SELECTED : 0) |
                     ((record->style & WS_DISABLED) != 0 ? ODS_DISABLED : 0);
    item.hwndItem = button;
    item.hDC = context;
    item.rcItem = RECT{0, 0, record->client->width(), record->client->height()};
    SendMessage(record->parent, WM_DRAWITEM, static_cast<WPARAM>(record->id),
                reinterpret_cast<LPARAM>(&item));
    EndPaint(button, &paint);
    return 0;
}

static LRESULT ButtonProcedure(HWND button, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = FindWindowRecord(button);
    if (record == nullptr)
        return 0;
    DWORD type = ButtonType(record);
    switch (message) {
    case BM_GETCHECK:
        return record->checkState;
    case BM_SETCHECK:
        record->checkState = static_cast<int>(wParam <= BST_INDETERMINATE ? wParam : BST_CHECKED);
        ShowCheck(record);
        return 0;
    case BM_SETSTYLE:
        record->style = (record->style & ~BS_TYPEMASK) | (static_cast<DWORD>(wParam) & BS_TYPEMASK);
        if (auto* push = qobject_cast<QPushButton*>(record->client))
            push->setDefault((record->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
        return 0;
    case BM_CLICK:
        if (auto* clickable = qobject_cast<QAbstractButton*>(record->client))
            clickable->click();
        else
            Notify(button, BN_CLICKED);
        return 0;
    case WM_SETTEXT:
        record->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
        if (auto* clickable = qobject_cast<QAbstractButton*>(record->client))
            clickable->setText(TextArgument(lParam));
        else if (auto* group = qobject_cast<QGroupBox*>(record->client))
            group->setTitle(TextArgument(lParam));
        return 1;
    case WM_PAINT:
        if (type == BS_OWNERDRAW)
            return DrawnButtonPaint(record);
        break;
    case WM_LBUTTONDOWN:
        if (type == BS_OWNERDRAW && (record->style & WS_DISABLED) == 0) {
            record->checkState = 1; // pressed
            SetCapture(button);
            InvalidateRect(button, nullptr, false);
            UpdateWindow(button);
        }
        return 0;
    case WM_LBUTTONUP:
        if (type == BS_OWNERDRAW && record->checkState != 0) {
            record->checkState = 0;
            ReleaseCapture();
            InvalidateRect(button, nullptr, false);
            UpdateWindow(button);
            int x = GET_X_LPARAM(lParam);
            int y = GET_Y_LPARAM(lParam);
            if (x >= 0 && y >= 0 && x < record->client->width() && y < record->client->height())
                Notify(button, BN_CLICKED);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProc(button, message, wParam, lParam);
}

static HWND CreateButton(const WindowClass*, const char* text, DWORD style, DWORD exStyle,
                         const QRect& geometry, HWND parent, int id) {
    DWORD type = style & BS_TYPEMASK;
    HWND made = CreatePlatformWindow(
        "BUTTON", style | WS_CHILD, exStyle, text, parent, id, geometry, WindowKind::Control,
        [type, text](WindowRecord* record, QWidget* parentWidget) -> QWidget* {
            QString label = TextFromProgram(text);
            HWND handle = record->handle;
            if (type == BS_GROUPBOX)
                return new QGroupBox(label, parentWidget);
            if (type == BS_OWNERDRAW) {
                QWidget* canvas = CreateCanvasWidget(parentWidget);
                canvas->setAttribute(Qt::WA_OpaquePaintEvent, false);
                record->hasBacking = true;
                record->transparentBacking = true;
                record->invalid = RECT{0, 0, 1 << 15, 1 << 15};
                return canvas;
            }
            QAbstractButton* button = nullptr;
            if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
                type == BS_AUTO3STATE) {
                auto* box = new QCheckBox(label, parentWidget);
                box->setTristate(type == BS_3STATE || type == BS_AUTO3STATE);
                button = box;
            } else if (IsRadio(type)) {
                auto* radio = new QRadioButton(label, parentWidget);
                radio->setAutoExclusive(false); // groups follow WS_GROUP, not the parent
                button = radio;
            } else {
                auto* push = new QPushButton(label, parentWidget);
                push->setAutoDefault(false);
                push->setDefault(type == BS_DEFPUSHBUTTON);
                button = push;
            }
            QObject::connect(button, &QAbstractButton::clicked,
                             [handle]() { ButtonClicked(handle); });
            return button;
        });
    return made;
}

/*** edits ***/

// Win32 edits hold lines ended by "\r\n"; the toolkit's by "\n". Offsets differ the same
// way: each line end counts two characters in Win32.
static QString EditTextFromProgram(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == QLatin1Char('\r')) {
            // "\r\n" and the soft break "\r\r\n" are one line end; a lone "\r" is dropped.
            continue;
        }
        result += text[i];
    }
    return result;
}

static QString EditTextToProgram(const QString& text) {
    QString result = text;
    result.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return result;
}

static int ToolkitOffset(const QString& text, long programOffset) {
    long counted = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (counted >= programOffset)
            return i;
        counted += text[i] == QLatin1Char('\n') ? 2 : 1;
    }
    return static_cast<int>(text.size());
}

static long ProgramOffset(const QString& text, int toolkitOffset) {
    long counted = 0;
    for (int i = 0; i < toolkitOffset && i < text.size(); ++i)
        counted += text[i] == QLatin1Char('\n') ? 2 : 1;
    return counted;
}

static QFont FixedFontLike(const QFont& font) {
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (font.pointSize() > 0)
        fixed.setPointSize(font.pointSize());
    return fixed;
}

static void SetControlFont(WindowRecord* record, WPARAM font) {
    // The program sends only the fixed-pitch font (for results boxes); 0 is the default.
    QWidget* widget = record->client;
    QFont base =
        widget->parentWidget() != nullptr ? widget->parentWidget()->font() : QApplication::font();
    widget->setFont(font != 0 ? FixedFontLike(base) : base);
}

static LRESULT MultiLineEditProcedure(WindowRecord* record, QPlainTextEdit* edit, UINT message,
                                      WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETTEXT: {
        QuietChange quiet;
        edit->setPlainText(EditTextFromProgram(TextArgument(lParam)));
        return 1;
    }
    case WM_GETTEXT:
        return CopyTextResult(EditTextToProgram(edit->toPlainText()), wParam, lParam);
    case WM_GETTEXTLENGTH:
        return EditTextToProgram(edit->toPlainText()).size();
    case EM_SETSEL: {
        QString text = edit->toPlainText();
        QTextCursor cursor = edit->textCursor();
        long start = static_cast<long>(static_cast<std::intptr_t>(wParam));
        long end = static_cast<long>(lParam);
        if (start == -1) {
            cursor.clearSelection();
        } else {
            if (end == -1)
                end = ProgramOffset(text, static_cast<int>(text.size()));
            cursor.setPosition(ToolkitOffset(text, start));
            cursor.setPosition(ToolkitOffset(text, end), QTextCursor::KeepAnchor);
        }
        edit->setTextCursor(cursor);
        return 0;
    }
    case EM_GETSEL: {
        QString text = edit->toPlainText();
        QTextCursor cursor = edit->textCursor();
        auto start = static_cast<DWORD>(ProgramOffset(text, cursor.selectionStart()));
        auto end = static_cast<DWORD>(ProgramOffset(text, cursor.selectionEnd()));
        if (wParam != 0)
            *reinterpret_cast<DWORD*>(wParam) = start;
        if (lParam != 0)
            *reinterpret_cast<DWORD*>(lParam) = end;
        return static_cast<LRESULT>(MAKELONG(start, end));
    }
    case EM_REPLACESEL: {
        QuietChange quiet;
        QTextCursor cursor = edit->textCursor();
        cursor.insertText(EditTextFromProgram(TextArgument(lParam)));
        edit->setTextCursor(cursor);
        edit->ensureCursorVisible();
        return 0;
    }
    case EM_SCROLLCARET:
        edit->ensureCursorVisible();
        return 1;
    case EM_GETLINECOUNT:
        return edit->blockCount();
    case EM_SETREADONLY:
        edit->setReadOnly(wParam != 0);
        record->style =
            wParam != 0 ? (record->style | ES_READONLY) : (record->style & ~ES_READONLY);
        return 1;
    case EM_LIMITTEXT:
        return 0;
    case WM_SETFONT:
        SetControlFont(record, wParam);
        return 0;
    default:
        return DefWindowProc(record->handle, message, wParam, lParam);
    }
}

// EM_LIMITTEXT stops the user typing past the limit but, as in Win32, neither cuts the
// text already there nor limits what the program sets.
static void ApplyTextLimit(WindowRecord* record, QLineEdit* edit, int extra) {
    int limit = record->textLimit > 0 ? record->textLimit : 32767;
    edit->setMaxLength(std::max(limit, static_cast<int>(edit->text().size()) + extra));
}

// The program's texts are Latin-1. A character beyond it shows as the "?" it becomes, the
// moment it is typed or pasted, so the user sees what the program will get.
class Latin1Validator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        for (QChar& each : input)
            if (each.unicode() > 0xFF)
                each = QLatin1Char('?');
        return Acceptable;
    }
};

static LRESULT EditProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = FindWindowRecord(control);
    if (record == nullptr)
        return 0;
    if (auto* text = qobject_cast<QPlainTextEdit*>(record->client))
        return MultiLineEditProcedure(record, text, message, wParam, lParam);
    auto* edit = qobject_cast<QLineEdit*>(record->client);
    if (edit == nullptr)
        return DefWindowProc(control, message, wParam, lParam);
    switch (message) {
    case WM_SETTEXT: {
        QString text = EditTextFromProgram(TextArgument(lParam));
        edit->setMaxLength(std::max(edit->maxLength(), static_cast<int>(text.size())));
        edit->setText(text);
        ApplyTextLimit(record, edit, 0);
        return 1;
    }
    case WM_GETTEXT:
        return CopyTextResult(edit->text(), wParam, lParam);
    case WM_GETTEXTLENGTH:
        return edit->text().size();
    case EM_SETSEL: {
        long start = static_cast<long>(static_cast<std::intptr_t>(wParam));
        long end = static_cast<long>(lParam);
        long length = static_cast<long>(edit->text().size());
        if (start == -1) {
            edit->deselect();
        } else {
            if (end < 0 || end > length)
                end = length;
            start = std::clamp(start, 0L, length);
            edit->setSelection(static_cast<int>(start), static_cast<int>(end - start));
        }
        return 0;
    }
    case EM_GETSEL: {
        DWORD start = static_cast<DWORD>(edit->hasSelectedText() ? edit->selectionStart()
                                                                 : edit->cursorPosition());
        DWORD end = static_cast<DWORD>(edit->hasSelectedText() ? edit->selectionEnd()
                                                               : edit->cursorPosition());
        if (wParam != 0)
            *reinterpret_cast<DWORD*>(wParam) = start;
        if (lParam != 0)
            *reinterpret_cast<DWORD*>(lParam) = end;
        return static_cast<LRESULT>(MAKELONG(start, end));
    }
    case EM_REPLACESEL:
        edit->insert(EditTextFromProgram(TextArgument(lParam)));
        return 0;
    case EM_LIMITTEXT:
        record->textLimit = wParam == 0 ? 0 : static_cast<int>(std::min<WPARAM>(wParam, 32767));
        ApplyTextLimit(record, edit, 0);
        return 0;
    case EM_SETREADONLY:
        edit->setReadOnly(wParam != 0);
        record->style =
            wParam != 0 ? (record->style | ES_READONLY) : (record->style & ~ES_READONLY);
        return 1;
    case EM_SCROLLCARET:
        return 1;
    case EM_GETLINECOUNT:
        return 1;
    case WM_SETFONT:
        SetControlFont(record, wParam);
        return 0;
    default:
        return DefWindowProc(control, message, wParam, lParam);
    }
}

static HWND CreateEdit(const WindowClass*, const char* text, DWORD style, DWORD exStyle,
                       const QRect& geometry, HWND parent, int id) {
    return CreatePlatformWindow(
        "EDIT", style | WS_CHILD, exStyle, text, parent, id, geometry, WindowKind::Control,
        [style, exStyle, text](WindowRecord* record, QWidget* parentWidget) -> QWidget* {
            HWND handle = record->handle;
            QString initial = EditTextFromProgram(TextFromProgram(text));
            if ((style & ES_MULTILINE) != 0) {
                auto* edit = new QPlainTextEdit(parentWidget);
                edit->setPlainText(initial);
                edit->setReadOnly((style & ES_READONLY) != 0);
                bool horizontal = (style & (WS_HSCROLL | ES_AUTOHSCROLL)) != 0;
                edit->setLineWrapMode(horizontal ? QPlainTextEdit::NoWrap
                                                 : QPlainTextEdit::WidgetWidth);
                edit->setHorizontalScrollBarPolicy(
                    (style & WS_HSCROLL) != 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
                edit->setVerticalScrollBarPolicy((style & WS_VSCROLL) != 0 ? Qt::ScrollBarAlwaysOn
                                                                           : Qt::ScrollBarAsNeeded);
                if ((style & WS_BORDER) == 0 && (exStyle & WS_EX_CLIENTEDGE) == 0)
                    edit->setFrameShape(QFrame::NoFrame);
                QObject::connect(edit, &QPlainTextEdit::textChanged, [handle]() {
                    if (quietChanges == 0)
                        Notify(handle, EN_CHANGE);
                });
                return edit;
            }
            auto* edit = new QLineEdit(initial, parentWidget);
            edit->setReadOnly((style & ES_READONLY) != 0);
            edit->setFrame((style & WS_BORDER) != 0 || (exStyle & WS_EX_CLIENTEDGE) != 0);
            edit->setMaxLength(32767);
            if ((style & ES_PASSWORD) != 0)
                edit->setEchoMode(QLineEdit::Password);
            if ((style & ES_NUMBER) != 0)
                edit->setValidator(new QIntValidator(0, 2147483647, edit));
            else
                edit->setValidator(new Latin1Validator(edit));
            if ((style & ES_CENTER) != 0)
                edit->setAlignment(Qt::AlignCenter);
            else if ((style & ES_RIGHT) != 0)
                edit->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            QObject::connect(edit, &QLineEdit::textChanged, [handle, edit]() {
                if (WindowRecord* self = FindWindowRecord(handle))
                    ApplyTextLimit(self, edit, 0); // shortened text: the limit comes back
                if (quietChanges == 0)
                    Notify(handle, EN_CHANGE);
            });
            return edit;
        });
}

/*** static controls ***/

static bool IsCanvasStatic(DWORD type) {
    return type == SS_ICON || type == SS_BITMAP ||
           (type >= SS_BLACKRECT && type <= SS_WHITEFRAME) || type == SS_ETCHEDFRAME;
}

static void PaintStaticFrame(WindowRecord* record) {
    DWORD type = record->style & SS_TYPEMASK;
    // Frames are drawn on the edge only, so what the program drew inside stays.
    {
        QPainter painter(&record->backing);
        QRect area(0, 0, record->client->width(), record->client->height());
        QPalette palette = record->client->palette();
        switch (type) {
        case SS_BLACKRECT:
            painter.fillRect(area, Qt::black);
            break;
        case SS_GRAYRECT:
            painter.fillRect(area, palette.color(QPalette::Dark));
            break;
        case SS_WHITERECT:
            painter.fillRect(area, Qt::white);
            break;
        case SS_BLACKFRAME:
            painter.setPen(Qt::black);
            painter.drawRect(area.adjusted(0, 0, -1, -1));
            break;
        case SS_GRAYFRAME:
            painter.setPen(palette.color(QPalette::Dark));
            painter.drawRect(area.adjusted(0, 0, -1, -1));
            break;
        case SS_WHITEFRAME:
            painter.setPen(Qt::white);
            painter.drawRect(area.adjusted(0, 0, -1, -1));
            break;
        case SS_ETCHEDFRAME:
            painter.setPen(palette.color(QPalette::Dark));
            painter.drawRect(area.adjusted(0, 0, -2, -2));
            painter.setPen(palette.color(QPalette::Light));
            painter.drawRect(area.adjusted(1, 1, -1, -1));
            break;
        default:
            break;
        }
    }
    ValidateRect(record->handle, nullptr);
    record->client->update();
}

static LRESULT StaticProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = FindWindowRecord(control);
    if (record == nullptr)
        return 0;
    switch (message) {
    case WM_SETTEXT:
        record->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
        if (auto* label = qobject_cast<QLabel*>(record->client)) {
            QString text = TextArgument(lParam);
            label->setText((record->style & SS_NOPREFIX) != 0 ? text : WithoutAccessKeys(text));
        }
        return 1;
    case WM_PAINT:
        if (record->hasBacking) {
            PaintStaticFrame(record);
            return 0;
        }
        break;
    case WM_SETFONT:
        SetControlFont(record, wParam);
        return 0;
    default:
        break;
    }
    return DefWindowProc(control, message, wParam, lParam);
}

static HWND CreateStatic(const WindowClass*, const char* text, DWORD style, DWORD exStyle,
                         const QRect& geometry, HWND parent, int id) {
    DWORD type = style & SS_TYPEMASK;
    return CreatePlatformWindow(
        "STATIC", style | WS_CHILD, exStyle, text, parent, id, geometry, WindowKind::Control,
        [type, style, text](WindowRecord* record, QWidget* parentWidget) -> QWidget* {
            if (IsCanvasStatic(type)) {
                QWidget* canvas = CreateCanvasWidget(parentWidget);
                canvas->setAttribute(Qt::WA_OpaquePaintEvent, false);
                record->hasBacking = true;
                record->transparentBacking = true;
                record->invalid = RECT{0, 0, 1 << 15, 1 << 15};
                return canvas;
            }
            QString label = TextFromProgram(text);
            auto* widget = new QLabel((style & SS_NOPREFIX) != 0 ? label : WithoutAccessKeys(label),
                                      parentWidget);
            Qt::Alignment horizontal = type == SS_CENTER  ? Qt::AlignHCenter
                                       : type == SS_RIGHT ? Qt::AlignRight
                                                          : Qt::AlignLeft;
            widget->setAlignment(horizontal | Qt::AlignTop);
            widget->setWordWrap(type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT);
            if ((style & SS_SUNKEN) != 0)
                widget->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            return widget;
        });
}

/*** combo boxes ***/

static int SortedPosition(const QStringList& items, const QString& text) {
    int position = 0;
    while (position < items.size() && items[position].compare(text, Qt::CaseInsensitive) <= 0)
        ++position;
    return position;
}

static QStringList ComboItems(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

static int FindExact(const QStringList& items, WPARAM start, const QString& text) {
    int first = static_cast<int>(static_cast<std::intptr_t>(start)) + 1;
    if (first < 0 || first >= items.size())
        first = 0;
    for (int n = 0; n < items.size(); ++n) {
        int i = (first + n) % static_cast<int>(items.size());
        if (items[i].compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

static LRESULT ComboProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = FindWindowRecord(control);
    auto* combo = record != nullptr ? qobject_cast<QComboBox*>(record->client) : nullptr;
    if (combo == nullptr)
        return record != nullptr ? DefWindowProc(control, message, wParam, lParam) : 0;
    QuietChange quiet;
    int count = combo->count();
    int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
    switch (message) {
    case CB_ADDSTRING:
    case CB_INSERTSTRING: {
        QString text = TextArgument(lParam);
        int position = count;
        if (message == CB_ADDSTRING && (record->style & CBS_SORT) != 0)
            position = SortedPosition(ComboItems(combo), text);
        else if (message == CB_INSERTSTRING && index >= 0 && index <= count)
            position = index;
        else if (message == CB_INSERTSTRING && index > count)
            return CB_ERR;
        int selected = combo->currentIndex();
        combo->insertItem(position, text);
        // The toolkit selects the first item added; a Win32 combo box selects nothing.
        if (selected < 0)
            combo->setCurrentIndex(-1);
        return position;
    }
    case CB_DELETESTRING:
        if (index < 0 || index >= count)
            return CB_ERR;
        combo->removeItem(index);
        return combo->count();
    case CB_RESETCONTENT:
        combo->clear();
        return 0;
    case CB_GETCOUNT:
        return count;
    case CB_SETCURSEL:
        if (index < 0 || index >= count) {
            combo->setCurrentIndex(-1);
            return CB_ERR;
        }
        combo->setCurrentIndex(index);
        return index;
    case CB_GETCURSEL: {
        int current = combo->currentIndex();
        if (combo->isEditable() && current >= 0 && combo->currentText() != combo->itemText(current))
            return FindExact(ComboItems(combo), static_cast<WPARAM>(-1), combo->currentText());
        return current >= 0 ? current : CB_ERR;
    }
    case CB_FINDSTRINGEXACT:
        return FindExact(ComboItems(combo), wParam, TextArgument(lParam));
    case CB_SELECTSTRING: {
        QString prefix = TextArgument(lParam);
        for (int i = 0; i < count; ++i)
            if (combo->itemText(i).startsWith(prefix, Qt::CaseInsensitive)) {
                combo->setCurrentIndex(i);
                return i;
            }
        return CB_ERR;
    }
    case CB_LIMITTEXT:
        if (combo->lineEdit() != nullptr)
            combo->lineEdit()->setMaxLength(
                wParam == 0 ? 32767 : static_cast<int>(std::min<WPARAM>(wParam, 32767)));
        return 1;
    case WM_SETTEXT:
        if (combo->isEditable())
            combo->setEditText(TextArgument(lParam));
        else
            combo->setCurrentIndex(combo->findText(TextArgument(lParam)));
        return 1;
    case WM_GETTEXT:
        return CopyTextResult(combo->currentText(), wParam, lParam);
    case WM_GETTEXTLENGTH:
        return combo->currentText().size();
    case WM_SETFONT:
        SetControlFont(record, wParam);
        return 0;
    default:
        return DefWindowProc(control, message, wParam, lParam);
    }
}

static HWND CreateCombo(const WindowClass*, const char* text, DWORD style, DWORD exStyle,
                        const QRect& geometry, HWND parent, int id) {
    HWND made = CreatePlatformWindow(
        "COMBOBOX", style | WS_CHILD, exStyle, text, parent, id, geometry, WindowKind::Control,
        [style](WindowRecord* record, QWidget* parentWidget) -> QWidget* {
            HWND handle = record->handle;
            auto* combo = new QComboBox(parentWidget);
            DWORD type = style & 0x3;
            combo->setEditable(type == CBS_DROPDOWN || type == CBS_SIMPLE);
            combo->setInsertPolicy(QComboBox::NoInsert);
            QObject::connect(combo, &QComboBox::currentIndexChanged, [handle]() {
                if (quietChanges == 0)
                    Notify(handle, CBN_SELCHANGE);
            });
            if (combo->lineEdit() != nullptr) {
                combo->setValidator(new Latin1Validator(combo));
                QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, [handle]() {
                    if (quietChanges == 0)
                        Notify(handle, CBN_EDITCHANGE);
                });
            }
            return combo;
        });
    // The template's height includes the opened list; the closed box is one line high.
    if (WindowRecord* record = FindWindowRecord(made)) {
        int height = record->client->sizeHint().height();
        record->client->setGeometry(geometry.x(), geometry.y(), geometry.width(), height);
        record->toldHeight = height;
    }
    return made;
}

/*** list boxes ***/

// The selected row, or LB_ERR. The current row is not it: a list that takes the focus
// with nothing selected makes its first row current without selecting it.
static LRESULT SelectedRow(const QListWidget* list) {
    QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? LB_ERR : list->row(selected.first());
}

static LRESULT ListProcedure(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = FindWindowRecord(control);
    auto* list = record != nullptr ? qobject_cast<QListWidget*>(record->client) : nullptr;
    if (list == nullptr)
        return record != nullptr ? DefWindowProc(control, message, wParam, lParam) : 0;
    QuietChange quiet;
    int count = list->count();
    int index = static_cast<int>(static_cast<std::intptr_t>(wParam));
    auto items = [list]() {
        QStringList result;
        for (int i = 0; i < list->count(); ++i)
            result << list->item(i)->text();
        return result;
    };
    switch (message) {
    case LB_ADDSTRING:
    case LB_INSERTSTRING: {
        QString text = TextArgument(lParam);
        int position = count;
        if (message == LB_ADDSTRING && (record->style & LBS_SORT) != 0)
            position = SortedPosition(items(), text);
        else if (message == LB_INSERTSTRING && index >= 0 && index <= count)
            position = index;
        else if (message == LB_INSERTSTRING && index > count)
            return LB_ERR;
        list->insertItem(position, text);
        return position;
    }
    case LB_DELETESTRING:
        if (index < 0 || index >= count)
            return LB_ERR;
        delete list->takeItem(index);
        return list->count();
    case LB_RESETCONTENT:
        list->clear();
        return 0;
    case LB_GETCOUNT:
        return count;
    case LB_SETCURSEL:
        if (index < 0 || index >= count) {
            list->clearSelection();
            list->setCurrentRow(-1);
            return index == -1 ? 0 : LB_ERR;
        }
        list->setCurrentRow(index);
        return index;
    case LB_GETCURSEL:
        return SelectedRow(list);
    case LB_FINDSTRINGEXACT:
        return FindExact(items(), wParam, TextArgument(lParam));
    case WM_SETFONT:
        SetControlFont(record, wParam);
        return 0;
    default:
        return DefWindowProc(control, message, wParam, lParam);
    }
}

static HWND CreateList(const WindowClass*, const char* text, DWORD style, DWORD exStyle,
                       const QRect& geometry, HWND parent, int id) {
    return CreatePlatformWindow(
        "LISTBOX", style | WS_CHILD, exStyle, text, parent, id, geometry, WindowKind::Control,
        [style](WindowRecord* record, QWidget* parentWidget) -> QWidget* {
            HWND handle = record->handle;
            auto* list = new QListWidget(parentWidget);
            list->setSelectionMode(QAbstractItemView::SingleSelection);
            if ((style & LBS_NOTIFY) != 0) {
                // The selection, not the current row: the view makes its first row
                // current when it takes the focus, which selects nothing.
                QObject::connect(list, &QListWidget::itemSelectionChanged, [handle]() {
                    if (quietChanges == 0)
                        Notify(handle, LBN_SELCHANGE);
                });
                QObject::connect(list, &QListWidget::itemDoubleClicked, [handle]() {
                    if (quietChanges == 0)
                        Notify(handle, LBN_DBLCLK);
                });
            }
            return list;
        });
}

void RegisterControlClasses() {
    RegisterBuiltInClass("BUTTON", ButtonProcedure, 0, CreateButton);
    RegisterBuiltInClass("EDIT", EditProcedure, 0, CreateEdit);
    RegisterBuiltInClass("STATIC", StaticProcedure, 0, CreateStatic);
    RegisterBuiltInClass("COMBOBOX", ComboProcedure, 0, CreateCombo);
    RegisterBuiltInClass("LISTBOX", ListProcedure, 0, CreateList);
}

} // namespace platform
