// Dialogs as the logic knows them: modal dialog boxes built from templates held as data,
// their dialog procedures, the controls in them (buttons, check boxes, radio buttons,
// group boxes, static texts and frames, edits, combo boxes, list boxes, drawn buttons) with
// their messages and notifications, message boxes and the open and save file dialogs.
// Names and numbers are Win32's.
#pragma once

#include "platform/window.h"

#include <span>

namespace platform {

// ---- Dialog results and commands ----
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Dialog styles of a template (the WS_* styles apply too: WS_THICKFRAME makes it resizable).
constexpr DWORD DS_MODALFRAME = 0x0080;

// ---- Buttons ("BUTTON") ----
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_CHECKBOX = 0x0002;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD BS_RADIOBUTTON = 0x0004;
constexpr DWORD BS_3STATE = 0x0005;
constexpr DWORD BS_AUTO3STATE = 0x0006;
constexpr DWORD BS_GROUPBOX = 0x0007;
constexpr DWORD BS_AUTORADIOBUTTON = 0x0009;
constexpr DWORD BS_OWNERDRAW = 0x000B;
constexpr DWORD BS_TYPEMASK = 0x000F;
constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_SETSTYLE = 0x00F4;
constexpr UINT BM_CLICK = 0x00F5;
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;
constexpr UINT BST_INDETERMINATE = 2;
constexpr UINT BN_CLICKED = 0;

// ---- Edits ("EDIT") ----
constexpr DWORD ES_LEFT = 0x0000;
constexpr DWORD ES_CENTER = 0x0001;
constexpr DWORD ES_RIGHT = 0x0002;
constexpr DWORD ES_MULTILINE = 0x0004;
constexpr DWORD ES_PASSWORD = 0x0020;
constexpr DWORD ES_AUTOVSCROLL = 0x0040;
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD ES_READONLY = 0x0800;
constexpr DWORD ES_NUMBER = 0x2000;
constexpr UINT EM_GETSEL = 0x00B0;
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_SCROLLCARET = 0x00B7;
constexpr UINT EM_GETLINECOUNT = 0x00BA;
constexpr UINT EM_REPLACESEL = 0x00C2;
constexpr UINT EM_LIMITTEXT = 0x00C5;
constexpr UINT EM_SETREADONLY = 0x00CF;
constexpr UINT EN_CHANGE = 0x0300;

// ---- Static controls ("STATIC") ----
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_ICON = 0x0003;
constexpr DWORD SS_BLACKRECT = 0x0004;
constexpr DWORD SS_GRAYRECT = 0x0005;
constexpr DWORD SS_WHITERECT = 0x0006;
constexpr DWORD SS_BLACKFRAME = 0x0007;
constexpr DWORD SS_GRAYFRAME = 0x0008;
constexpr DWORD SS_WHITEFRAME = 0x0009;
constexpr DWORD SS_BITMAP = 0x000E;
constexpr DWORD SS_ETCHEDFRAME = 0x0012;
constexpr DWORD SS_TYPEMASK = 0x001F;
constexpr DWORD SS_NOPREFIX = 0x0080;
constexpr DWORD SS_SUNKEN = 0x1000;

// ---- Combo boxes ("COMBOBOX") ----
constexpr DWORD CBS_SIMPLE = 0x0001;
constexpr DWORD CBS_DROPDOWN = 0x0002;     // with an edit field
constexpr DWORD CBS_DROPDOWNLIST = 0x0003; // a list to choose from, nothing typed
constexpr DWORD CBS_AUTOHSCROLL = 0x0040;
constexpr DWORD CBS_SORT = 0x0100;
constexpr UINT CB_LIMITTEXT = 0x0141;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SELECTSTRING = 0x014D;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_FINDSTRINGEXACT = 0x0158;
constexpr LRESULT CB_ERR = -1;
constexpr UINT CBN_SELCHANGE = 1;
constexpr UINT CBN_EDITCHANGE = 5;

// ---- List boxes ("LISTBOX") ----
constexpr DWORD LBS_NOTIFY = 0x0001;
constexpr DWORD LBS_SORT = 0x0002;
constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_INSERTSTRING = 0x0181;
constexpr UINT LB_DELETESTRING = 0x0182;
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETCURSEL = 0x0186;
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETCOUNT = 0x018B;
constexpr UINT LB_FINDSTRINGEXACT = 0x01A2;
constexpr LRESULT LB_ERR = -1;
constexpr UINT LBN_SELCHANGE = 1;
constexpr UINT LBN_DBLCLK = 2;

// ---- Drawn buttons (BS_OWNERDRAW): WM_DRAWITEM to the dialog ----
constexpr UINT ODT_BUTTON = 4;
constexpr UINT ODA_DRAWENTIRE = 0x0001;
constexpr UINT ODA_SELECT = 0x0002;
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_DISABLED = 0x0004;

struct DRAWITEMSTRUCT {
    UINT CtlType;
    UINT CtlID;
    UINT itemID;
    UINT itemAction;
    UINT itemState;
    HWND hwndItem;
    HDC hDC;     // draws on the button; valid during WM_DRAWITEM only
    RECT rcItem; // the button's client area
    UINT_PTR itemData;
};

// ---- Templates ----
// One control of a dialog template; places and sizes are in dialog units (a quarter of
// the dialog font's average character width, an eighth of its height). WS_CHILD and
// WS_VISIBLE are implied.
struct DialogItem {
    const char* className; // "BUTTON", "EDIT", "STATIC", "COMBOBOX", "LISTBOX", or a
                           // registered window class
    const char* text;
    int id;
    int x;
    int y;
    int width;
    int height;
    DWORD style;
};

struct DialogTemplate {
    const char* name;    // "DLG_OPTIONS"
    const char* caption; // the title
    int width;           // the client area, in dialog units
    int height;
    const char* fontName; // shown in the system's sans-serif face at this size
    int fontPoints;
    DWORD style; // WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, WS_THICKFRAME when resizable
    std::span<const DialogItem> items;
};

// The usual controls, with the default styles of a Win32 resource script; `style` adds to
// them.
constexpr DialogItem PushButton(const char* text, int id, int x, int y, int width, int height,
                                DWORD style = 0) {
    return {"BUTTON", text, id, x, y, width, height, BS_PUSHBUTTON | WS_TABSTOP | style};
}
constexpr DialogItem DefPushButton(const char* text, int id, int x, int y, int width, int height,
                                   DWORD style = 0) {
    return {"BUTTON", text, id, x, y, width, height, BS_DEFPUSHBUTTON | WS_TABSTOP | style};
}
constexpr DialogItem AutoCheckBox(const char* text, int id, int x, int y, int width, int height,
                                  DWORD style = 0) {
    return {"BUTTON", text, id, x, y, width, height, BS_AUTOCHECKBOX | WS_TABSTOP | style};
}
// The first button of a radio group carries WS_GROUP (and the next control after the group
// too); clicking one unchecks the others of its group.
constexpr DialogItem AutoRadioButton(const char* text, int id, int x, int y, int width, int height,
                                     DWORD style = 0) {
    return {"BUTTON", text, id, x, y, width, height, BS_AUTORADIOBUTTON | style};
}
constexpr DialogItem GroupBox(const char* text, int id, int x, int y, int width, int height,
                              DWORD style = 0) {
    return {"BUTTON", text, id, x, y, width, height, BS_GROUPBOX | style};
}
constexpr DialogItem LeftText(const char* text, int id, int x, int y, int width, int height,
                              DWORD style = 0) {
    return {"STATIC", text, id, x, y, width, height, SS_LEFT | WS_GROUP | style};
}
constexpr DialogItem RightText(const char* text, int id, int x, int y, int width, int height,
                               DWORD style = 0) {
    return {"STATIC", text, id, x, y, width, height, SS_RIGHT | WS_GROUP | style};
}
constexpr DialogItem EditText(int id, int x, int y, int width, int height, DWORD style = 0) {
    return {"EDIT", "", id, x, y, width, height, ES_LEFT | WS_BORDER | WS_TABSTOP | style};
}
constexpr DialogItem ComboBox(int id, int x, int y, int width, int height, DWORD style) {
    return {"COMBOBOX", "", id, x, y, width, height, WS_TABSTOP | style};
}
constexpr DialogItem ListBox(int id, int x, int y, int width, int height, DWORD style = 0) {
    return {"LISTBOX", "", id, x, y, width, height, LBS_NOTIFY | WS_BORDER | WS_TABSTOP | style};
}
constexpr DialogItem Control(const char* text, int id, const char* className, DWORD style, int x,
                             int y, int width, int height) {
    return {className, text, id, x, y, width, height, style};
}

// Makes a template known to DialogBox by its name (case does not matter). The template
// must outlive the program. Returns false for a name already taken.
bool RegisterDialogTemplate(const DialogTemplate* dialogTemplate);

// ---- Modal dialogs ----
// Builds the dialog from the template, sends WM_INITDIALOG, and runs it modally until
// EndDialog; queued messages and timers are still delivered meanwhile. Returns EndDialog's
// result, or -1 when the template is unknown.
INT_PTR DialogBox(HWND owner, const char* templateName, DLGPROC procedure);
// Ends the dialog once its procedure returns; DialogBox then returns `result`. A modeless
// dialog is only hidden by it; DestroyWindow ends one.
bool EndDialog(HWND dialog, INT_PTR result);

// ---- Modeless dialogs ----
// Builds and shows the dialog as DialogBox does (WM_INITDIALOG, then the test seam's
// dialog hook), and returns its handle at once, while it stays open: the program's own
// loop delivers its messages, and everything else goes on as it was. WM_COMMAND, Enter,
// Escape and the close box behave as in a modal dialog; DestroyWindow ends it. Returns 0
// when the template is unknown or the dialog was destroyed during WM_INITDIALOG or the
// hook; one that EndDialog ended there stays hidden.
HWND CreateDialog(HWND owner, const char* templateName, DLGPROC procedure);

// Items. Enter gives WM_COMMAND for the default button (IDOK without one), Escape and
// the close box IDCANCEL, each with BN_CLICKED in the high word.
HWND GetDlgItem(HWND dialog, int id);
LRESULT SendDlgItemMessage(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
bool SetDlgItemText(HWND dialog, int id, const char* text);
// Copies the item's text cut to `size` - 1 characters; returns the characters copied.
int GetDlgItemText(HWND dialog, int id, char* buffer, int size);
bool SetDlgItemInt(HWND dialog, int id, UINT value, bool isSigned);
// The item's text as a decimal number (blanks around it allowed, a "-" only when
// `isSigned`). Anything else, or a number out of range, gives 0 with `*translated` false.
UINT GetDlgItemInt(HWND dialog, int id, bool* translated, bool isSigned);
bool CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);
// The base units of the default dialog font: width in the low word, height in the high.
LONG GetDialogBaseUnits();

// ---- Message boxes ----
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_OKCANCEL = 0x0001;
constexpr UINT MB_YESNO = 0x0004;
constexpr UINT MB_RETRYCANCEL = 0x0005;
// Ours, not Win32's: "Save", "Discard" and "Cancel", answering IDYES, IDNO and IDCANCEL.
constexpr UINT MB_SAVEDISCARDCANCEL = 0x0007;
constexpr UINT MB_ICONSTOP = 0x0010;
constexpr UINT MB_ICONERROR = 0x0010;
constexpr UINT MB_ICONQUESTION = 0x0020;
constexpr UINT MB_ICONEXCLAMATION = 0x0030;
constexpr UINT MB_ICONINFORMATION = 0x0040;
constexpr UINT MB_DEFBUTTON2 = 0x0100;
constexpr UINT MB_DEFBUTTON3 = 0x0200;

// Shows the box modally (owner 0: no owner) and returns the button pressed (IDOK, ...).
// The caption and text are recorded in the test journal as "messagebox: caption: text".
int MessageBox(HWND owner, const char* text, const char* caption, UINT type);

// ---- Open and save dialogs ----
constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;

struct OPENFILENAME {
    HWND hwndOwner;
    // Pairs of a description and its patterns ("Map files (*.db)", "*.db;*.map"), each
    // ending in '\0', the list ending in a second '\0'.
    const char* lpstrFilter;
    DWORD nFilterIndex;   // 1 for the first pair; set to the pair used
    char* lpstrFile;      // in: the name to start with (may be empty); out: the full path
    DWORD nMaxFile;       // size of lpstrFile
    char* lpstrFileTitle; // out: the name without its directory (may be null)
    DWORD nMaxFileTitle;
    const char* lpstrInitialDir;
    const char* lpstrTitle; // null: "Open" or "Save As"
    DWORD Flags;
    WORD nFileOffset;        // out: where the name starts in lpstrFile
    WORD nFileExtension;     // out: where the extension starts (the end when there is none)
    const char* lpstrDefExt; // added to a name typed without extension
};

// Both return false when the user cancels, the file or its directory must exist and does
// not, or the path does not fit in nMaxFile; lpstrFile is then left as it was.
bool GetOpenFileName(OPENFILENAME* request);
bool GetSaveFileName(OPENFILENAME* request);

constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;
// Why the last open or save dialog returned false: FNERR_BUFFERTOOSMALL when the chosen path
// did not fit in nMaxFile, else 0 (the user cancelled, or the file was not there).
DWORD CommDlgExtendedError();

} // namespace platform
