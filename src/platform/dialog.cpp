// Modal dialog boxes on QDialog, built from the registered templates with their controls
// placed by dialog units of the template's font; the default dialog processing (Enter,
// Escape, the close box, the colour requests); the item helpers; message boxes on
// QMessageBox and the open and save dialogs on QFileDialog, each with its testing seam.
#include "platform/dialog.h"

#include "platform/gdi_internal.h"
#include "platform/journal_internal.h"
#include "platform/testing.h"
#include "platform/window_internal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace platform {

/*** globals ***/

static std::map<std::string, const DialogTemplate*> dialogTemplates; // by upper-case name
static const char dialogClassName[] = "#32770"; // Win32's name for the dialog class

static std::string UpperCase(const char* text) {
    std::string result = text != nullptr ? text : "";
    for (char& c : result)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

bool RegisterDialogTemplate(const DialogTemplate* dialogTemplate) {
    if (dialogTemplate == nullptr || dialogTemplate->name == nullptr)
        return false;
    return dialogTemplates.emplace(UpperCase(dialogTemplate->name), dialogTemplate).second;
}

// A dialog procedure returns a brush for the colour requests as its result.
static HBRUSH BrushFromResult(LRESULT result) {
    return reinterpret_cast<HBRUSH>(result);
}

// Our own solid brushes, one per colour, for erasing dialogs: a brush a dialog procedure
// returns may be deleted by the program after the dialog closes.
static HBRUSH SolidBrushOf(const QColor& color) {
    // Few colours ever come up; the brushes live as long as the program.
    static auto* brushes = new std::map<QRgb, HBRUSH>;
    QRgb key = color.rgb();
    auto found = brushes->find(key);
    if (found != brushes->end())
        return found->second;
    HBRUSH brush = CreateSolidBrush(RGB(color.red(), color.green(), color.blue()));
    (*brushes)[key] = brush;
    return brush;
}

/*** default processing ***/

static void PressCommand(HWND dialog, int id) {
    SendMessage(dialog, WM_COMMAND, MAKEWPARAM(static_cast<unsigned>(id), BN_CLICKED),
                static_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Enter: the default push button's command when it is enabled, IDOK without one.
static void PressDefault(HWND dialog) {
    WindowRecord* record = FindWindowRecord(dialog);
    if (record == nullptr)
        return;
    for (HWND child : record->children) {
        WindowRecord* item = FindWindowRecord(child);
        if (item != nullptr && item->windowClass->name == "BUTTON" &&
            (item->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            if (IsWindowEnabled(child))
                PressCommand(dialog, item->id);
            return;
        }
    }
    PressCommand(dialog, IDOK);
}

static LRESULT DialogWindowProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = FindWindowRecord(dialog);
    if (record == nullptr)
        return 0;
    INT_PTR result = record->dialogProcedure != nullptr
                         ? record->dialogProcedure(dialog, message, wParam, lParam)
                         : 0;
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
        return result;
    default:
        break;
    }
    if (result != 0)
        return result;
    if (message == WM_CLOSE) {
        // The close box cancels, unless the procedure took WM_CLOSE itself.
        PostMessage(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                    static_cast<LPARAM>(GetDlgItem(dialog, IDCANCEL)));
        return 0;
    }
    return DefWindowProc(dialog, message, wParam, lParam);
}

void RegisterDialogClass() {
    RegisterBuiltInClass(dialogClassName, DialogWindowProcedure, 0, nullptr);
}

/*** colours ***/

static void ShowRequestedColor(WindowRecord* control, const QColor& color) {
    if (color == control->requestedBackground)
        return;
    control->requestedBackground = color;
    QWidget* widget = control->client;
    if (!color.isValid()) {
        widget->setAutoFillBackground(false);
        widget->setPalette(QPalette());
        return;
    }
    QPalette palette = widget->palette();
    palette.setColor(widget->backgroundRole(), color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// Asks the dialog procedure for the colours of the dialog and of its buttons and static
// texts, as Win32 does before painting them, and shows its answers. (Results boxes keep
// the white of an edit, which reads better than the button face Win32 gives read-only
// edits.)
static void ApplyColorRequests(WindowRecord* record, HDC scratch) {
    HWND dialog = record->handle;
    LRESULT answer = SendMessage(dialog, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(scratch),
                                 static_cast<LPARAM>(dialog));
    if ((record = FindWindowRecord(dialog)) == nullptr)
        return;
    QColor background = answer != 0 ? BrushColor(BrushFromResult(answer))
                                    : QApplication::palette().color(QPalette::Window);
    if (background != record->requestedBackground) {
        record->requestedBackground = background;
        record->eraseBrush = SolidBrushOf(background);
        InvalidateRect(dialog, nullptr, true);
    }
    std::vector<HWND> children = record->children;
    for (HWND child : children) {
        WindowRecord* control = FindWindowRecord(child);
        if (control == nullptr || control->kind != WindowKind::Control || control->hasBacking)
            continue;
        UINT request = 0;
        const std::string& className = control->windowClass->name;
        if (className == "STATIC")
            request = WM_CTLCOLORSTATIC;
        else if (className == "BUTTON")
            request = qobject_cast<QPushButton*>(control->client) != nullptr ? WM_CTLCOLORBTN
                                                                             : WM_CTLCOLORSTATIC;
        if (request == 0)
            continue;
        LRESULT brush = SendMessage(dialog, request, reinterpret_cast<WPARAM>(scratch),
                                    static_cast<LPARAM>(child));
        if ((control = FindWindowRecord(child)) == nullptr)
            continue;
        // A push button keeps its face; the colour shows around it only.
        if (request != WM_CTLCOLORBTN)
            ShowRequestedColor(control, brush != 0 ? BrushColor(BrushFromResult(brush)) : QColor());
    }
}

static void AskForColors(WindowRecord* record) {
    // The requests come with a context the procedure may set colours in; it draws on a
    // scratch picture.
    QImage scratch(1, 1, QImage::Format_RGB32);
    HDC context = CreateImageContext(&scratch);
    ApplyColorRequests(record, context);
    DeleteImageContext(context);
}

/*** the dialog widget ***/

class DialogWidget final : public QDialog {
  public:
    explicit DialogWidget(QWidget* parent) : QDialog(parent) {}
    Q_DISABLE_COPY_MOVE(DialogWidget)

    // Only EndDialog ends the dialog; a toolkit reject is the user cancelling.
    void reject() override {
        if (WindowRecord* record = FindWindowRecord(this))
            PressCommand(record->handle, IDCANCEL);
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        WindowRecord* record = FindWindowRecord(this);
        if (record == nullptr)
            return;
        HWND dialog = record->handle;
        AskForColors(record);
        if ((record = FindWindowRecord(dialog)) != nullptr)
            PaintWindowSurface(record, this, event);
    }
    void resizeEvent(QResizeEvent*) override {
        if (WindowRecord* record = FindWindowRecord(this))
            NoteClientGeometry(record);
    }
    void keyPressEvent(QKeyEvent* event) override {
        WindowRecord* record = FindWindowRecord(this);
        if (record == nullptr) {
            event->ignore();
            return;
        }
        switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (auto* button = qobject_cast<QPushButton*>(focusWidget());
                button != nullptr && button->isEnabled())
                button->click();
            else
                PressDefault(record->handle);
            return;
        case Qt::Key_Escape:
            PressCommand(record->handle, IDCANCEL);
            return;
        default:
            QWidget::keyPressEvent(event);
            return;
        }
    }
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        if (WindowRecord* record = FindWindowRecord(this))
            CallWindowProcedure(record, WM_CLOSE, 0, 0);
    }
};

/*** dialog boxes ***/

static QFont DialogFont(int points) {
    QFont font = QApplication::font();
    font.setPointSize(points > 0 ? points : 8);
    return font;
}

// Win32's base units: the average width of the letters, rounded, and the line height.
static void BaseUnits(const QFont& font, int* width, int* height) {
    QFontMetrics metrics(font);
    int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    *width = std::max(1, (letters / 26 + 1) / 2);
    *height = std::max(1, metrics.height());
}

static int Scale(int units, int base, int divisor) {
    return static_cast<int>(std::lround(static_cast<double>(units) * base / divisor));
}

LONG GetDialogBaseUnits() {
    int width = 0;
    int height = 0;
    BaseUnits(DialogFont(8), &width, &height);
    return static_cast<LONG>(MAKELONG(static_cast<unsigned>(width), static_cast<unsigned>(height)));
}

static HWND BuildDialog(HWND owner, const DialogTemplate* dialogTemplate, DLGPROC procedure) {
    QFont font = DialogFont(dialogTemplate->fontPoints);
    int unitWidth = 0;
    int unitHeight = 0;
    BaseUnits(font, &unitWidth, &unitHeight);
    QRect client(0, 0, Scale(dialogTemplate->width, unitWidth, 4),
                 Scale(dialogTemplate->height, unitHeight, 8));
    DWORD style = dialogTemplate->style & ~(WS_CHILD | WS_VISIBLE);
    HWND dialog = CreatePlatformWindow(
        dialogClassName, style, 0, dialogTemplate->caption, owner, 0, client, WindowKind::Dialog,
        [&](WindowRecord* record, QWidget* parentWidget) -> QWidget* {
            auto* widget = new DialogWidget(parentWidget);
            widget->setFont(font);
            widget->setWindowTitle(TextFromProgram(dialogTemplate->caption));
            record->dialogProcedure = procedure;
            record->unitWidth = unitWidth;
            record->unitHeight = unitHeight;
            record->hasBacking = true;
            record->invalid = RECT{0, 0, 1 << 15, 1 << 15};
            record->eraseWanted = true;
            record->eraseBrush = SolidBrushOf(QApplication::palette().color(QPalette::Window));
            return widget;
        });
    WindowRecord* record = FindWindowRecord(dialog);
    if (record == nullptr)
        return 0;
    if ((style & WS_THICKFRAME) == 0)
        record->frame->setFixedSize(client.size());
    for (const DialogItem& item : dialogTemplate->items) {
        HWND control =
            CreateWindowEx(0, item.className, item.text, item.style | WS_CHILD | WS_VISIBLE,
                           Scale(item.x, unitWidth, 4), Scale(item.y, unitHeight, 8),
                           Scale(item.width, unitWidth, 4), Scale(item.height, unitHeight, 8),
                           dialog, static_cast<HMENU>(item.id), nullptr);
        if (control == 0)
            std::fprintf(stderr, "tarnmap: dialog %s: control %d of class %s not made\n",
                         dialogTemplate->name, item.id, item.className);
    }
    return dialog;
}

static void PlaceOverOwner(QWidget* dialog, HWND owner) {
    QWidget* ownerWidget = nullptr;
    if (WindowRecord* record = FindWindowRecord(owner))
        ownerWidget = record->frame->window();
    QRect area =
        ownerWidget != nullptr && ownerWidget->isVisible()
            ? ownerWidget->frameGeometry()
            : (QApplication::primaryScreen() != nullptr ? QApplication::primaryScreen()->geometry()
                                                        : QRect(0, 0, 800, 600));
    QSize size = dialog->size();
    dialog->move(area.center().x() - size.width() / 2, area.center().y() - size.height() / 2);
}

// Builds the dialog, sends WM_INITDIALOG and runs the test seam's hook: what a modal and a
// modeless dialog share. Returns the dialog, or 0 when the template is unknown or the
// dialog is gone already.
static HWND OpenDialog(HWND owner, const char* templateName, DLGPROC procedure) {
    auto found = dialogTemplates.find(UpperCase(templateName));
    if (found == dialogTemplates.end() || procedure == nullptr)
        return 0;
    HWND dialog = BuildDialog(owner, found->second, procedure);
    WindowRecord* record = FindWindowRecord(dialog);
    if (record == nullptr)
        return 0;

    HWND firstStop = 0;
    for (HWND child : record->children)
        if (WindowRecord* item = FindWindowRecord(child); item != nullptr &&
                                                          (item->style & WS_TABSTOP) != 0 &&
                                                          (item->style & WS_DISABLED) == 0) {
            firstStop = child;
            break;
        }
    if (CallWindowProcedure(record, WM_INITDIALOG, static_cast<WPARAM>(firstStop), 0) != 0 &&
        firstStop != 0)
        SetFocus(firstStop);
    if ((record = FindWindowRecord(dialog)) != nullptr)
        AskForColors(record);
    std::function<void(HWND)> hook;
    if (TakeDialogHook(&hook) && IsWindow(dialog))
        hook(dialog);
    return IsWindow(dialog) ? dialog : 0;
}

INT_PTR DialogBox(HWND owner, const char* templateName, DLGPROC procedure) {
    HWND dialog = OpenDialog(owner, templateName, procedure);
    if (dialog == 0)
        return -1;
    WindowRecord* record = FindWindowRecord(dialog);
    if (record != nullptr && !record->dialogEnded) {
        auto* widget = static_cast<DialogWidget*>(record->frame);
        PlaceOverOwner(widget, owner);
        RunNestedLoop([widget]() { widget->exec(); },
                      [widget]() { widget->QDialog::done(QDialog::Rejected); });
    }
    record = FindWindowRecord(dialog);
    INT_PTR result = record != nullptr ? record->dialogResult : 0;
    DestroyWindow(dialog);
    return result;
}

HWND CreateDialog(HWND owner, const char* templateName, DLGPROC procedure) {
    HWND dialog = OpenDialog(owner, templateName, procedure);
    WindowRecord* record = FindWindowRecord(dialog);
    if (record == nullptr || record->dialogEnded)
        return dialog;
    auto* widget = static_cast<DialogWidget*>(record->frame);
    widget->setModal(false);
    PlaceOverOwner(widget, owner);
    widget->show();
    widget->activateWindow(); // as Win32 activates a dialog it shows; with no window manager
                              // nothing else would give it the keyboard
    return dialog;
}

bool EndDialog(HWND dialog, INT_PTR result) {
    WindowRecord* record = FindWindowRecord(dialog);
    if (record == nullptr || record->kind != WindowKind::Dialog)
        return false;
    record->dialogResult = result;
    record->dialogEnded = true;
    static_cast<DialogWidget*>(record->frame)->done(0);
    return true;
}

/*** items ***/

HWND GetDlgItem(HWND dialog, int id) {
    WindowRecord* record = FindWindowRecord(dialog);
    if (record == nullptr)
        return 0;
    for (HWND child : record->children)
        if (WindowRecord* item = FindWindowRecord(child); item != nullptr && item->id == id)
            return child;
    return 0;
}

LRESULT SendDlgItemMessage(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessage(GetDlgItem(dialog, id), message, wParam, lParam);
}

bool SetDlgItemText(HWND dialog, int id, const char* text) {
    return SetWindowText(GetDlgItem(dialog, id), text);
}

int GetDlgItemText(HWND dialog, int id, char* buffer, int size) {
    return GetWindowText(GetDlgItem(dialog, id), buffer, size);
}

bool SetDlgItemInt(HWND dialog, int id, UINT value, bool isSigned) {
    char text[16];
    if (isSigned)
        std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    else
        std::snprintf(text, sizeof text, "%u", value);
    return SetDlgItemText(dialog, id, text);
}

UINT GetDlgItemInt(HWND dialog, int id, bool* translated, bool isSigned) {
    if (translated != nullptr)
        *translated = false;
    char text[64];
    if (GetDlgItemText(dialog, id, text, sizeof text) <= 0)
        return 0;
    const char* each = text;
    while (*each == ' ' || *each == '\t')
        ++each;
    bool negative = false;
    if (*each == '-' && isSigned) {
        negative = true;
        ++each;
    }
    if (!std::isdigit(static_cast<unsigned char>(*each)))
        return 0;
    unsigned long long value = 0;
    while (std::isdigit(static_cast<unsigned char>(*each))) {
        value = value * 10 + static_cast<unsigned>(*each - '0');
        if (value > 0xFFFFFFFFull)
            return 0;
        ++each;
    }
    while (*each == ' ' || *each == '\t')
        ++each;
    if (*each != '\0')
        return 0;
    if (isSigned && value > (negative ? 0x80000000ull : 0x7FFFFFFFull))
        return 0;
    if (translated != nullptr)
        *translated = true;
    return negative ? static_cast<UINT>(-static_cast<long long>(value)) : static_cast<UINT>(value);
}

bool CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND button = GetDlgItem(dialog, id);
    if (button == 0)
        return false;
    SendMessage(button, BM_SETCHECK, check, 0);
    return true;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    return static_cast<UINT>(SendDlgItemMessage(dialog, id, BM_GETCHECK, 0, 0));
}

/*** message boxes ***/

namespace {

struct Choice {
    QMessageBox::StandardButton button;
    int result;
};

// The buttons of each MB_ layout (the low four bits of the type), left to right.
const std::vector<Choice> messageBoxLayouts[] = {
    {{QMessageBox::Ok, IDOK}},
    {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}},
    {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}},
    {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}},
    {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}},
    {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}},
    {{QMessageBox::Ok, IDOK}}, // 6 is not a layout of ours
    {{QMessageBox::Save, IDYES}, {QMessageBox::Discard, IDNO}, {QMessageBox::Cancel, IDCANCEL}},
};

QMessageBox::Icon MessageBoxIcon(UINT type) {
    switch (type & 0xF0) {
    case MB_ICONSTOP:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

QWidget* OwnerWidget(HWND owner) {
    WindowRecord* record = FindWindowRecord(owner);
    return record != nullptr ? record->frame->window() : nullptr;
}

} // namespace

int MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    std::string entry =
        std::string(caption != nullptr ? caption : "") + ": " + (text != nullptr ? text : "");
    RecordInJournal("messagebox", entry.c_str());
    UINT layoutIndex = type & 0xF;
    const std::vector<Choice>& layout =
        messageBoxLayouts[layoutIndex < std::size(messageBoxLayouts) ? layoutIndex : 0];
    size_t defaultIndex = (type & MB_DEFBUTTON3) != 0 ? 2 : (type & MB_DEFBUTTON2) != 0 ? 1 : 0;
    if (defaultIndex >= layout.size())
        defaultIndex = 0;

    QMessageBox::StandardButtons buttons;
    for (const Choice& choice : layout)
        buttons |= choice.button;
    QMessageBox box(MessageBoxIcon(type), TextToShow(caption), TextToShow(text), buttons,
                    OwnerWidget(owner));
    box.setDefaultButton(layout[defaultIndex].button);
    SavePictureIfAsked(&box);
    int answer = 0;
    if (TakeMessageBoxAnswer(layout[defaultIndex].result, &answer))
        return answer;
    int pressed = QMessageBox::NoButton;
    RunNestedLoop([&box, &pressed]() { pressed = box.exec(); },
                  [&box]() { box.done(QMessageBox::NoButton); });
    for (const Choice& choice : layout)
        if (choice.button == pressed)
            return choice.result;
    // Closed without a button: the box's Cancel (or its only button) answers.
    for (const Choice& choice : layout)
        if (choice.result == IDCANCEL)
            return IDCANCEL;
    return layout.size() == 1 ? layout[0].result : IDCANCEL;
}

/*** open and save dialogs ***/

// "Description\0*.a;*.b\0...\0\0" as toolkit filters "Description (*.a *.b)". A description
// that already ends in its patterns in parentheses ("Map files (*.db)") has them replaced,
// so they are not shown twice.
std::vector<std::string> FileDialogFilters(const char* filter) {
    std::vector<std::string> filters;
    if (filter == nullptr)
        return filters;
    const char* each = filter;
    while (*each != '\0') {
        QString description = TextFromProgram(each);
        each += std::strlen(each) + 1;
        QString patterns = TextFromProgram(each);
        if (*each != '\0')
            each += std::strlen(each) + 1;
        QStringList list = patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : list) {
            pattern = pattern.trimmed();
            if (pattern == QStringLiteral("*.*"))
                pattern = QStringLiteral("*");
        }
        qsizetype open = description.lastIndexOf(QLatin1Char('('));
        if (description.endsWith(QLatin1Char(')')) && open >= 0)
            description = description.left(open).trimmed();
        QString shown =
            description + QStringLiteral(" (") + list.join(QLatin1Char(' ')) + QStringLiteral(")");
        filters.push_back(shown.toStdString());
    }
    return filters;
}

static void SetUpFileDialog(QFileDialog& dialog, const OPENFILENAME* request, bool save,
                            const QStringList& filters) {
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite,
                     (request->Flags & OFN_OVERWRITEPROMPT) == 0);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        int index = static_cast<int>(request->nFilterIndex) - 1;
        if (index >= 0 && index < filters.size())
            dialog.selectNameFilter(filters[index]);
    }
    if (request->lpstrDefExt != nullptr)
        dialog.setDefaultSuffix(QString::fromLocal8Bit(request->lpstrDefExt));
    QString start = QString::fromLocal8Bit(request->lpstrFile);
    if (!start.isEmpty())
        dialog.selectFile(start);
}

// Why the last open or save dialog returned false, for CommDlgExtendedError.
static DWORD fileDialogError;

static bool AskForFile(OPENFILENAME* request, bool save) {
    fileDialogError = 0;
    if (request == nullptr || request->lpstrFile == nullptr || request->nMaxFile == 0)
        return false;
    const char* title = request->lpstrTitle != nullptr ? request->lpstrTitle
                        : save                         ? "Save As"
                                                       : "Open";
    QStringList filters;
    for (const std::string& each : FileDialogFilters(request->lpstrFilter))
        filters << QString::fromStdString(each);
    std::string answer;
    bool cancelled = true;
    bool answered = TakeFileDialogAnswer(&answer, &cancelled);
    if (!answered || PictureAsked()) {
        QString directory = request->lpstrInitialDir != nullptr
                                ? QString::fromLocal8Bit(request->lpstrInitialDir)
                                : QDir::currentPath();
        QFileDialog dialog(OwnerWidget(request->hwndOwner), TextFromProgram(title), directory);
        SetUpFileDialog(dialog, request, save, filters);
        SavePictureIfAsked(&dialog);
        if (!answered) {
            int accepted = QDialog::Rejected;
            RunNestedLoop([&dialog, &accepted]() { accepted = dialog.exec(); },
                          [&dialog]() { dialog.reject(); });
            cancelled = accepted != QDialog::Accepted || dialog.selectedFiles().isEmpty();
            if (!cancelled) {
                answer = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
                int index = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
                if (index >= 0)
                    request->nFilterIndex = static_cast<DWORD>(index + 1);
            }
        }
    }
    std::string entry = std::string(title) + ": " + (cancelled ? "(cancelled)" : answer);
    RecordInJournal(save ? "save" : "open", entry.c_str());
    if (cancelled)
        return false;

    QFileInfo chosen(QFile::decodeName(answer.c_str()));
    if ((request->Flags & OFN_FILEMUSTEXIST) != 0 && !chosen.isFile())
        return false;
    if ((request->Flags & OFN_PATHMUSTEXIST) != 0 && !chosen.absoluteDir().exists())
        return false;
    QByteArray path = QFile::encodeName(chosen.absoluteFilePath());
    if (static_cast<DWORD>(path.size()) + 1 > request->nMaxFile) {
        fileDialogError = FNERR_BUFFERTOOSMALL;
        return false;
    }
    std::memcpy(request->lpstrFile, path.constData(), static_cast<size_t>(path.size()));
    request->lpstrFile[path.size()] = '\0';
    int slash = static_cast<int>(path.lastIndexOf('/'));
    int nameStart = slash + 1;
    int dot = static_cast<int>(path.lastIndexOf('.'));
    request->nFileOffset = static_cast<WORD>(nameStart);
    request->nFileExtension = static_cast<WORD>(dot > nameStart ? dot + 1 : path.size());
    if (request->lpstrFileTitle != nullptr && request->nMaxFileTitle > 0)
        std::snprintf(request->lpstrFileTitle, request->nMaxFileTitle, "%s",
                      path.constData() + nameStart);
    return true;
}

bool GetOpenFileName(OPENFILENAME* request) {
    return AskForFile(request, false);
}
bool GetSaveFileName(OPENFILENAME* request) {
    return AskForFile(request, true);
}

DWORD CommDlgExtendedError() {
    return fileDialogError;
}

} // namespace platform
