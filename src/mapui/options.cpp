// The preference dialogs and the menu commands that open them: Options, Tool Options,
// Colors with its drawn colour buttons and swatch, and Beeper Setup. Each procedure fills
// its controls from the option variables and, on its OK, writes them back in memory and,
// for all but Tool Options, to the settings files.
#include "mapui/options.h"

#include "icmp/rawecho.h"
#include "mapui/editor.h"
#include "mapui/render.h"
#include "mapui/statusbar.h"
#include "model/mapdb.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/notices.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/profile.h"
#include "platform/window.h"
#include "resources/dialogcommon.h"
#include "resources/dialogs_options.h"
#include "tools/ping.h"
#include "tools/trace.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

unsigned colorDialogSlot = 0;

static unsigned shownColor = 0; // the palette index in the Colors dialog's swatch

// What a cycle checks with. Saved in the Options dialog while a cycle runs, they are held
// here until it ends, so that one cycle checks all its hosts alike.
struct CheckSettings {
    unsigned waitTimeout;    // WAIT
    unsigned useRawIcmp;     // PING
    unsigned useIcmpLibrary; // MSICMP
    unsigned parallelChecks; // PARALLEL
};
static CheckSettings heldCheckSettings;

static const char* const HELD_SETTINGS_TEXT =
    " Options saved. The checks take them from the next cycle.";

static const char* const DEFAULT_DIAL_STRING = "ATDT%s,,,,,%s#";

/*** helpers ***/

static bool Checked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

static void Check(HWND dialog, int id, unsigned on) {
    CheckDlgButton(dialog, id, on != 0 ? BST_CHECKED : BST_UNCHECKED);
}

// A number typed into an item; anything that is not one reads as 0.
static unsigned ItemNumber(HWND dialog, int id) {
    bool translated = false;
    return GetDlgItemInt(dialog, id, &translated, false);
}

unsigned WaitTimeoutFromSeconds(unsigned seconds) {
    std::uint64_t milliseconds = static_cast<std::uint64_t>(seconds) * 1000u;
    if (milliseconds < MIN_WAIT_TIMEOUT)
        return MIN_WAIT_TIMEOUT;
    if (milliseconds > MAX_WAIT_TIMEOUT)
        return MAX_WAIT_TIMEOUT;
    return static_cast<unsigned>(milliseconds);
}

// Settings that could not be written to `file` (TARNMAP.INI when null) still hold in memory.
static void TellUnsavedSettings(HWND owner, const char* what, const char* caption,
                                const char* file = nullptr) {
    char text[SETTINGS_PATH_LENGTH + 128];
    std::snprintf(text, sizeof text,
                  "%s could not be saved to \"%s\". They hold until the program ends.", what,
                  file != nullptr ? file : settingsFiles.global);
    MessageBox(owner, text, caption, MB_OK | MB_ICONEXCLAMATION);
}

bool IsValidDialString(const char* dialString) {
    const char* first = std::strstr(dialString, "%s");
    return first != nullptr && std::strstr(first + 2, "%s") != nullptr;
}

/*** Options ***/

static void InitOptions(HWND dialog) {
    SetDlgItemInt(dialog, OPTIONS_TIMER, options.pollInterval, false);
    SetDlgItemInt(dialog, OPTIONS_WAIT, options.waitTimeout / 1000, false);
    SetDlgItemInt(dialog, OPTIONS_PARALLEL, options.parallelChecks, false);
    SendDlgItemMessage(dialog, OPTIONS_TELNET, EM_LIMITTEXT, COMMAND_LENGTH, 0);
    SendDlgItemMessage(dialog, OPTIONS_FTP, EM_LIMITTEXT, COMMAND_LENGTH, 0);
    SetDlgItemText(dialog, OPTIONS_TELNET, options.telnetCommand);
    SetDlgItemText(dialog, OPTIONS_FTP, options.ftpCommand);
    Check(dialog, OPTIONS_NO_CHECKS, options.noAutomaticChecks);
    Check(dialog, OPTIONS_SOUND, options.soundEnabled);
    Check(dialog, OPTIONS_FIXED_MAP_FONT, options.scaledMapFont == 0);
    Check(dialog, OPTIONS_FIXED_TOOL_FONT, options.fixedFontTools);
    Check(dialog, OPTIONS_ICONS, options.useIcons);
    Check(dialog, OPTIONS_LABELS, options.labelIcons);
    Check(dialog, OPTIONS_FIT, options.fitMap);
    Check(dialog, OPTIONS_RAW_ICMP, options.useRawIcmp);
    Check(dialog, OPTIONS_ICMP_LIBRARY, options.useIcmpLibrary);
    Check(dialog, OPTIONS_SHOW_TIMER, options.showTimerInTitle);
    Check(dialog, OPTIONS_SOLID_BACKGROUND, options.solidBackground);
    Check(dialog, OPTIONS_NOTIFY, DesktopNoticesWanted());
}

// TIMER is held in 16 bits; a larger number is taken as the largest it holds rather than
// wrapping round to a short interval.
static std::uint16_t PollIntervalFromItem(HWND dialog) {
    unsigned seconds = ItemNumber(dialog, OPTIONS_TIMER);
    if (seconds > UINT16_MAX)
        seconds = UINT16_MAX;
    if (seconds < MIN_POLL_INTERVAL)
        seconds = MIN_POLL_INTERVAL;
    return static_cast<std::uint16_t>(seconds);
}

static CheckSettings CurrentCheckSettings() {
    return {options.waitTimeout, options.useRawIcmp, options.useIcmpLibrary,
            options.parallelChecks};
}

static void ApplyCheckSettings(const CheckSettings& settings) {
    options.waitTimeout = settings.waitTimeout;
    options.useRawIcmp = settings.useRawIcmp;
    options.useIcmpLibrary = settings.useIcmpLibrary;
    options.parallelChecks = settings.parallelChecks;
}

static void ApplyHeldCheckSettings() {
    ApplyCheckSettings(heldCheckSettings);
}

// Applies the dialog to the option variables and writes them to `target`.
static void SaveOptions(HWND dialog, const char* target) {
    options.scaledMapFont = Checked(dialog, OPTIONS_FIXED_MAP_FONT) ? 0 : 1;
    options.fixedFontTools = Checked(dialog, OPTIONS_FIXED_TOOL_FONT);
    options.soundEnabled = Checked(dialog, OPTIONS_SOUND);
    options.pollInterval = PollIntervalFromItem(dialog);
    CheckSettings chosen{WaitTimeoutFromSeconds(ItemNumber(dialog, OPTIONS_WAIT)),
                         Checked(dialog, OPTIONS_RAW_ICMP), Checked(dialog, OPTIONS_ICMP_LIBRARY),
                         ItemNumber(dialog, OPTIONS_PARALLEL)};
    options.showTimerInTitle = Checked(dialog, OPTIONS_SHOW_TIMER);
    GetDlgItemText(dialog, OPTIONS_TELNET, options.telnetCommand, sizeof options.telnetCommand);
    GetDlgItemText(dialog, OPTIONS_FTP, options.ftpCommand, sizeof options.ftpCommand);
    // The window classes take their background brush at start-up.
    unsigned background = Checked(dialog, OPTIONS_SOLID_BACKGROUND);
    if (background != options.solidBackground)
        MessageBox(dialog, "Color change takes effect next time program starts.", "TARNMAP",
                   MB_OK | MB_ICONINFORMATION);
    options.solidBackground = background;
    options.useIcons = Checked(dialog, OPTIONS_ICONS);
    options.labelIcons = Checked(dialog, OPTIONS_LABELS);
    options.fitMap = Checked(dialog, OPTIONS_FIT);
    options.noAutomaticChecks = Checked(dialog, OPTIONS_NO_CHECKS);
    // NOTIFY is written once the user changed the box, so that the default stays a default.
    if (Checked(dialog, OPTIONS_NOTIFY) != DesktopNoticesWanted())
        options.desktopNotices = Checked(dialog, OPTIONS_NOTIFY);
    const CheckSettings checking = CurrentCheckSettings();
    ApplyCheckSettings(chosen);
    bool written = WriteOptions(target);
    if (pollState.inProgress) {
        heldCheckSettings = chosen;
        ApplyCheckSettings(checking);
        pollState.atCycleEnd = ApplyHeldCheckSettings;
    }
    // A shorter interval does not wait for the longer countdown under way.
    if (pollState.countdown > options.pollInterval)
        pollState.countdown = options.pollInterval;
    if (!written)
        TellUnsavedSettings(dialog, "The options", "Options", target);
    EndDialog(dialog, 1);
}

static INT_PTR OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        InitOptions(dialog);
        return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case OPTIONS_SAVE_DEFAULT:
            SaveOptions(dialog, settingsFiles.global);
            break;
        case OPTIONS_SAVE_MAP:
            SaveOptions(dialog, settingsFiles.mapSettings);
            break;
        case OPTIONS_EXIT:
            EndDialog(dialog, 0);
            break;
        case OPTIONS_SET_COLORS:
            ShowColorsDialog(dialog);
            break;
        case OPTIONS_SET_BEEPER:
            ShowBeeperSetup(dialog);
            break;
        case OPTIONS_HELP:
            ShowHelp(dialog, HELP_TOPIC_OPTIONS);
            break;
        default:
            break;
        }
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowOptionsDialog(HWND owner) {
    return DialogBox(owner, "DLG_OPTIONS", OptionsProc) == 1 ? 1 : 0;
}

/*** Tool Options ***/

static void InitToolOptions(HWND dialog) {
    SetDlgItemInt(dialog, TOOLOPTIONS_COUNT, toolOptions.pingCount, false);
    SetDlgItemInt(dialog, TOOLOPTIONS_TIMEOUT, options.waitTimeout / 1000, false);
    SetDlgItemInt(dialog, TOOLOPTIONS_DATA_LENGTH, toolOptions.echoDataLength, false);
    SetDlgItemInt(dialog, TOOLOPTIONS_MAX_HOPS, toolOptions.traceMaxHops, false);
    Check(dialog, TOOLOPTIONS_VERBOSE, static_cast<unsigned>(toolOptions.verbose));
    Check(dialog, TOOLOPTIONS_SHOW_NAMES, static_cast<unsigned>(toolOptions.showHopNames));
}

static void AcceptToolOptions(HWND dialog) {
    toolOptions.pingCount = ItemNumber(dialog, TOOLOPTIONS_COUNT);
    options.waitTimeout = WaitTimeoutFromSeconds(ItemNumber(dialog, TOOLOPTIONS_TIMEOUT));
    // The engines' buffers hold only so much; the hop number is one byte.
    toolOptions.echoDataLength = BoundEchoDataLength(ItemNumber(dialog, TOOLOPTIONS_DATA_LENGTH));
    unsigned hops = ItemNumber(dialog, TOOLOPTIONS_MAX_HOPS);
    toolOptions.traceMaxHops = hops < TRACE_MAX_HOPS_LIMIT ? hops : TRACE_MAX_HOPS_LIMIT;
    toolOptions.verbose = Checked(dialog, TOOLOPTIONS_VERBOSE) ? 1 : 0;
    toolOptions.showHopNames = Checked(dialog, TOOLOPTIONS_SHOW_NAMES) ? 1 : 0;
    EndDialog(dialog, 1);
}

static INT_PTR ToolOptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        InitToolOptions(dialog);
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            AcceptToolOptions(dialog);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 0);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowToolOptions(HWND owner) {
    return DialogBox(owner, "DLG_TOOLOPTIONS", ToolOptionsProc) == 1 ? 1 : 0;
}

/*** Colors ***/

// A rectangle over `area` in palette colour `index`, outlined in black.
static void DrawColorRectangle(HDC dc, const RECT& area, unsigned index) {
    HBRUSH brush = CreateSolidBrush(PaletteColor(index));
    HGDIOBJ previousBrush = SelectObject(dc, static_cast<HGDIOBJ>(brush));
    HGDIOBJ previousPen = SelectObject(dc, GetStockObject(BLACK_PEN));
    Rectangle(dc, area.left, area.top, area.right, area.bottom);
    SelectObject(dc, previousPen);
    SelectObject(dc, previousBrush);
    DeleteObject(brush);
}

static void PaintColorsDialog(HWND dialog) {
    PAINTSTRUCT paint;
    if (BeginPaint(dialog, &paint) != nullptr)
        EndPaint(dialog, &paint);
    HWND swatch = GetDlgItem(dialog, COLORS_SWATCH);
    HDC dc = GetDC(swatch);
    if (dc == nullptr)
        return;
    RECT area;
    GetClientRect(swatch, &area);
    DrawColorRectangle(dc, area, shownColor);
    ReleaseDC(swatch, dc);
}

static void DrawColorButton(const DRAWITEMSTRUCT* item) {
    if (item->CtlType != ODT_BUTTON || item->CtlID < COLORS_FIRST_BUTTON ||
        item->CtlID > COLORS_LAST_BUTTON)
        return;
    if ((item->itemAction & ODA_DRAWENTIRE) == 0 && (item->itemAction & ODA_SELECT) == 0)
        return; // a focus change draws nothing
    DrawColorRectangle(item->hDC, item->rcItem, item->CtlID - COLORS_FIRST_BUTTON);
}

static int SelectedSlot(HWND dialog) {
    return static_cast<int>(SendDlgItemMessage(dialog, COLORS_SLOTS, LB_GETCURSEL, 0, 0));
}

static void InitColors(HWND dialog) {
    for (const char* name : colorSlotNames)
        SendDlgItemMessage(dialog, COLORS_SLOTS, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
    if (colorDialogSlot >= COLOR_SLOT_COUNT)
        colorDialogSlot = 0;
    shownColor = colorTable[colorDialogSlot];
    // The list takes its selection once the dialog is up.
    PostMessage(GetDlgItem(dialog, COLORS_SLOTS), LB_SETCURSEL, colorDialogSlot, 0);
}

static void OnColorButton(HWND dialog, int id) {
    shownColor = static_cast<unsigned>(id - COLORS_FIRST_BUTTON);
    InvalidateRect(dialog, nullptr, false);
    int slot = SelectedSlot(dialog);
    if (slot >= 0 && slot < static_cast<int>(COLOR_SLOT_COUNT))
        colorTable[slot] = shownColor;
}

static void OnSlotChange(HWND dialog) {
    int slot = SelectedSlot(dialog);
    if (slot < 0 || slot >= static_cast<int>(COLOR_SLOT_COUNT))
        return;
    shownColor = colorTable[slot];
    InvalidateRect(dialog, nullptr, false);
    colorDialogSlot = static_cast<unsigned>(slot);
}

static void OnColorsCommand(HWND dialog, WPARAM wParam) {
    int id = LOWORD(wParam);
    if (id >= COLORS_FIRST_BUTTON && id <= COLORS_LAST_BUTTON && HIWORD(wParam) == BN_CLICKED) {
        OnColorButton(dialog, id);
    } else if (id == COLORS_SLOTS && HIWORD(wParam) == LBN_SELCHANGE) {
        OnSlotChange(dialog);
    } else if (id == IDOK) {
        if (!WriteColors(colorTable))
            MessageBox(dialog, "The colours could not be saved to the settings file.", "Colors",
                       MB_OK | MB_ICONEXCLAMATION);
        EndDialog(dialog, 1);
    } else if (id == IDCANCEL) {
        // What was chosen stays on the map until the program ends, unsaved.
        EndDialog(dialog, 0);
    }
}

static INT_PTR ColorsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitColors(dialog);
        return 1;
    case WM_PAINT:
        PaintColorsDialog(dialog);
        return 1;
    case WM_DRAWITEM:
        DrawColorButton(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return 1;
    case WM_COMMAND:
        OnColorsCommand(dialog, wParam);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowColorsDialog(HWND owner) {
    return DialogBox(owner, "DLG_COLORS", ColorsProc) == 1 ? 1 : 0;
}

/*** Beeper Setup ***/

static bool WriteBeeperKey(const char* key, const char* value) {
    return WritePrivateProfileString(OPTIONS_SECTION, key, value, settingsFiles.global);
}

static bool WriteBeeperNumber(const char* key, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    return WriteBeeperKey(key, text);
}

static void InitBeeperSetup(HWND dialog) {
    GetPrivateProfileString(OPTIONS_SECTION, "BEEP_STRING", DEFAULT_DIAL_STRING, options.beepString,
                            sizeof options.beepString, settingsFiles.global);
    // The saved default number: pageNumber may hold the number of the host edited last.
    char number[PAGE_NUMBER_LENGTH + 1];
    GetPrivateProfileString(OPTIONS_SECTION, "BEEP_NUMBER", "", number, sizeof number,
                            settingsFiles.global);
    Check(dialog, BEEPER_ENABLE, options.beepEnable);
    SendDlgItemMessage(dialog, BEEPER_NUMBER, EM_LIMITTEXT, PAGE_NUMBER_LENGTH, 0);
    SetDlgItemText(dialog, BEEPER_NUMBER, number);
    // The whole of what BEEP_STRING holds, so that OK never cuts a longer saved string.
    SendDlgItemMessage(dialog, BEEPER_DIAL_STRING, EM_LIMITTEXT, BEEP_STRING_LENGTH, 0);
    SetDlgItemText(dialog, BEEPER_DIAL_STRING, options.beepString);
    if (options.beepPort == 1 || options.beepPort == 2)
        CheckDlgButton(dialog, BEEPER_COM1 + static_cast<int>(options.beepPort) - 1, BST_CHECKED);
    if (options.beepBaud <= 3)
        CheckDlgButton(dialog, BEEPER_BAUD_2400 + static_cast<int>(options.beepBaud), BST_CHECKED);
}

static void AcceptBeeperSetup(HWND dialog) {
    char dialString[BEEP_STRING_LENGTH + 1];
    GetDlgItemText(dialog, BEEPER_DIAL_STRING, dialString, sizeof dialString);
    if (!IsValidDialString(dialString)) {
        MessageBox(dialog, "String must contain two \"%s\".", "Beeper Setup", MB_OK | MB_ICONERROR);
        return;
    }
    CopyField(options.beepString, sizeof options.beepString, dialString);
    bool written = WriteBeeperKey("BEEP_STRING", options.beepString);
    options.beepEnable = Checked(dialog, BEEPER_ENABLE) ? 1 : 0;
    written &= WriteBeeperKey("BEEP_ENABLE", options.beepEnable != 0 ? "1" : "0");
    options.beepPort = Checked(dialog, BEEPER_COM1) ? 1 : 2;
    written &= WriteBeeperNumber("BEEP_PORT", options.beepPort);
    options.beepBaud = Checked(dialog, BEEPER_BAUD_2400)    ? 0
                       : Checked(dialog, BEEPER_BAUD_19200) ? 2
                       : Checked(dialog, BEEPER_BAUD_38400) ? 3
                                                            : 1;
    written &= WriteBeeperNumber("BEEP_BAUD", options.beepBaud);
    GetDlgItemText(dialog, BEEPER_NUMBER, options.pageNumber, sizeof options.pageNumber);
    written &= WriteBeeperKey("BEEP_NUMBER", options.pageNumber);
    if (!written)
        TellUnsavedSettings(dialog, "The beeper settings", "Beeper Setup");
    EndDialog(dialog, 1);
}

static INT_PTR BeeperSetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        InitBeeperSetup(dialog);
        return 1;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            AcceptBeeperSetup(dialog);
        else if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, 0);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowBeeperSetup(HWND owner) {
    return DialogBox(owner, "DLG_BEEPER", BeeperSetupProc) == 1 ? 1 : 0;
}

/*** the menu commands ***/

// Open at any time; saved during a cycle, the settings it checks with wait for its end.
void PreferencesCommand(HWND window) {
    HoldCountdown();
    int saved = ShowOptionsDialog(window);
    InvalidateRect(mapWindow, nullptr, true);
    ReleaseCountdown();
    RefreshMapTitle();
    if (saved == 1 && pollState.atCycleEnd == ApplyHeldCheckSettings)
        SetStatusText(HELD_SETTINGS_TEXT);
}

// The map shows the new colours at once; the window background only after a restart.
void ColorsCommand(HWND window) {
    HoldCountdown();
    ShowColorsDialog(window);
    InvalidateRect(mapWindow, nullptr, true);
    ReleaseCountdown();
}
