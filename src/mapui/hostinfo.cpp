// The Host Information dialog: fills its controls from the host record and the host's
// section of the map's settings file, keeps the enable rules of the Type and Beeper boxes,
// and on Accept writes the record and every key of the section named by the new name.
#include "mapui/hostinfo.h"

#include "model/hosts.h"
#include "model/parents.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "monitor/programs.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/window.h"
#include "resources/dialogcommon.h"
#include "resources/dialogs_hostinfo.h"

#include <cctype>
#include <cstdio>
#include <cstring>

using namespace platform;

// The longest texts the record's fields take from the dialog.
constexpr int NAME_FIELD_LENGTH = 15;
constexpr int ADDRESS_FIELD_LENGTH = ADDRESS_TEXT_LENGTH;
constexpr int INFO_FIELD_LENGTH = 24;

static const char* const HOSTINFO_CAPTION = "Host Information";

// What the dialog showed on opening. A command the user typed differs from the one shown,
// and is allowed to start as it is saved.
struct HostInformationState {
    char connect[CONNECT_LENGTH + 1];
    char external[EXTERNAL_LENGTH + 1];
    int parents[MAX_HOSTS]; // the host of each "Behind:" item after "(none)"
    int parentCount;
    int parent; // the host's parent on opening, -1 none
};
static HostInformationState shownCommands;

/*** helpers ***/

static bool SameIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

static void LimitText(HWND dialog, int id, unsigned length) {
    SendDlgItemMessage(dialog, id, EM_LIMITTEXT, length, 0);
}

static bool Checked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

// Every key is tried; false when one or more could not be written.
static bool WriteHostKey(const char* section, const char* key, const char* value) {
    return WritePrivateProfileString(section, key, value, settingsFiles.mapSettings);
}

// The text of an item as the record takes it: at most `length` characters.
static void ReadItem(HWND dialog, int id, char* buffer, int length) {
    GetDlgItemText(dialog, id, buffer, length + 1);
}

/*** initialisation ***/

static void FillHostRecordItems(HWND dialog, const HostRecord& host) {
    char connect[CONNECT_LENGTH + 1];
    ReadHostText(currentHost, "CONNECT", options.telnetCommand, connect, sizeof connect);
    LimitText(dialog, HOSTINFO_NAME, NAME_FIELD_LENGTH);
    LimitText(dialog, HOSTINFO_ADDRESS, ADDRESS_FIELD_LENGTH);
    LimitText(dialog, HOSTINFO_INFO1, INFO_FIELD_LENGTH);
    LimitText(dialog, HOSTINFO_INFO2, INFO_FIELD_LENGTH);
    LimitText(dialog, HOSTINFO_CONNECT, CONNECT_LENGTH);
    SetDlgItemText(dialog, HOSTINFO_NAME, host.name);
    SetDlgItemText(dialog, HOSTINFO_ADDRESS, host.address);
    SetDlgItemText(dialog, HOSTINFO_INFO1, host.info1);
    SetDlgItemText(dialog, HOSTINFO_INFO2, host.info2);
    SetDlgItemText(dialog, HOSTINFO_CONNECT, connect);
    CopyField(shownCommands.connect, sizeof shownCommands.connect, connect);

    // A stored protocol or sound outside its buttons leaves its group unchecked.
    if (host.protocol == 0)
        CheckDlgButton(dialog, HOSTINFO_PROTOCOL_NONE, BST_CHECKED);
    else if (host.protocol <= 3)
        CheckDlgButton(dialog, HOSTINFO_PROTOCOL_NONE + static_cast<int>(host.protocol),
                       BST_CHECKED);
    if ((host.flags & HOST_NOT_MONITORED) == 0)
        CheckDlgButton(dialog, HOSTINFO_MONITOR, BST_CHECKED);

    for (const char* kindName : hostKindNames)
        SendDlgItemMessage(dialog, HOSTINFO_KIND, CB_ADDSTRING, 0,
                           reinterpret_cast<LPARAM>(kindName));
    if (host.kind < HOST_KIND_COUNT)
        SendDlgItemMessage(dialog, HOSTINFO_KIND, CB_SETCURSEL, host.kind, 0);
}

static void FillAlarmItems(HWND dialog, int index) {
    HostSettings settings;
    ReadHostSettings(index, HostSettingsReader::Dialog, &settings);
    if (settings.sound <= 3)
        CheckDlgButton(dialog, HOSTINFO_SOUND_NONE + static_cast<int>(settings.sound), BST_CHECKED);
    CheckDlgButton(dialog, HOSTINFO_LOG, settings.log != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, HOSTINFO_BEEPER, settings.beeper != 0 ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, HOSTINFO_BEEP_EACH,
                   settings.beepEach != 0 ? BST_CHECKED : BST_UNCHECKED);
    LimitText(dialog, HOSTINFO_BEEP_COUNT, BEEP_FIELD_LENGTH);
    LimitText(dialog, HOSTINFO_BEEP_CODE, BEEP_FIELD_LENGTH);
    LimitText(dialog, HOSTINFO_BEEP_PRIORITY, BEEP_FIELD_LENGTH);
    SetDlgItemInt(dialog, HOSTINFO_BEEP_COUNT, settings.beepCount, false);
    SetDlgItemInt(dialog, HOSTINFO_BEEP_CODE, settings.beepCode, false);
    SetDlgItemInt(dialog, HOSTINFO_BEEP_PRIORITY, settings.beepPriority, false);

    // The host's number becomes the current pager number, even when the dialog is
    // cancelled.
    LimitText(dialog, HOSTINFO_BEEP_NUMBER, PAGE_NUMBER_LENGTH);
    SetDlgItemText(dialog, HOSTINFO_BEEP_NUMBER, settings.beepNumber);
    CopyField(options.pageNumber, sizeof options.pageNumber, settings.beepNumber);

    LimitText(dialog, HOSTINFO_EXTERNAL, EXTERNAL_LENGTH);
    SetDlgItemText(dialog, HOSTINFO_EXTERNAL, settings.external);
    CopyField(shownCommands.external, sizeof shownCommands.external, settings.external);
}

// "(none)" and every other host of the map, in table order (names may repeat).
static void FillParentItems(HWND dialog, const HostRecord& host) {
    shownCommands.parent = HostParent(host);
    shownCommands.parentCount = 0;
    SendDlgItemMessage(dialog, HOSTINFO_PARENT, CB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>("(none)"));
    int selected = 0;
    for (int i = 0; i < hostCount; ++i) {
        if (i == currentHost)
            continue;
        if (i == shownCommands.parent)
            selected = shownCommands.parentCount + 1;
        shownCommands.parents[shownCommands.parentCount++] = i;
        SendDlgItemMessage(dialog, HOSTINFO_PARENT, CB_ADDSTRING, 0,
                           reinterpret_cast<LPARAM>(hostTable[i].name));
    }
    SendDlgItemMessage(dialog, HOSTINFO_PARENT, CB_SETCURSEL, selected, 0);
}

static void InitHostInformation(HWND dialog) {
    const HostRecord& host = hostTable[currentHost];
    FillHostRecordItems(dialog, host);
    FillParentItems(dialog, host);
    FillAlarmItems(dialog, currentHost);
    EnableWindow(GetDlgItem(dialog, HOSTINFO_MONITOR), host.protocol != 0);
}

/*** accept ***/

// The map database separates its fields by commas and has no quoting: a comma in a name,
// address or info line would shift every field after it when the map is read again.
static bool HasCommaFields(HWND dialog) {
    static const struct {
        int id;
        int length;
    } fields[] = {{HOSTINFO_NAME, NAME_FIELD_LENGTH},
                  {HOSTINFO_ADDRESS, ADDRESS_FIELD_LENGTH},
                  {HOSTINFO_INFO1, INFO_FIELD_LENGTH},
                  {HOSTINFO_INFO2, INFO_FIELD_LENGTH}};
    for (const auto& field : fields) {
        char text[ADDRESS_FIELD_LENGTH + 1];
        ReadItem(dialog, field.id, text, field.length);
        if (std::strchr(text, ',') != nullptr) {
            MessageBox(dialog,
                       "The display name, the address and the info lines cannot contain a "
                       "comma: the map file separates its fields with commas.",
                       HOSTINFO_CAPTION, MB_OK | MB_ICONEXCLAMATION);
            SetFocus(GetDlgItem(dialog, field.id));
            return true;
        }
    }
    return false;
}

// A name or an address is handed to programs as an argument of its own (%l, %a, ...); one
// that begins with "-" or holds blanks or control characters would be taken for an option
// or for more than one argument.
static bool HasUnplainFields(HWND dialog) {
    static const struct {
        int id;
        int length;
    } fields[] = {{HOSTINFO_NAME, NAME_FIELD_LENGTH}, {HOSTINFO_ADDRESS, ADDRESS_FIELD_LENGTH}};
    for (const auto& field : fields) {
        char text[ADDRESS_FIELD_LENGTH + 1];
        ReadItem(dialog, field.id, text, field.length);
        if (!IsPlainArgument(text)) {
            MessageBox(dialog,
                       "The display name and the address cannot begin with \"-\" or contain "
                       "blanks or control characters: programs started for the host get them "
                       "as arguments.",
                       HOSTINFO_CAPTION, MB_OK | MB_ICONEXCLAMATION);
            SetFocus(GetDlgItem(dialog, field.id));
            return true;
        }
    }
    return false;
}

// The host's alarm and connect settings are the section of its name in the map's settings
// file, where the map's own options are [OPTS].
static bool NamesTheOptions(HWND dialog) {
    char name[NAME_FIELD_LENGTH + 1];
    ReadItem(dialog, HOSTINFO_NAME, name, NAME_FIELD_LENGTH);
    if (HostNameHasSection(name))
        return false;
    MessageBox(dialog,
               "The display name cannot be \"OPTS\" in any case: the map's settings file keeps "
               "the map's options under that name.",
               HOSTINFO_CAPTION, MB_OK | MB_ICONEXCLAMATION);
    SetFocus(GetDlgItem(dialog, HOSTINFO_NAME));
    return true;
}

// Hosts of one name share one section. A rename to another host's name is asked about, as
// Accept would put these settings over that host's.
static bool TakesAnotherHostsSection(HWND dialog) {
    char name[NAME_FIELD_LENGTH + 1];
    ReadItem(dialog, HOSTINFO_NAME, name, NAME_FIELD_LENGTH);
    if (SameIgnoringCase(name, hostTable[currentHost].name))
        return false;
    for (int i = 0; i < hostCount; ++i) {
        if (i == currentHost || !SameIgnoringCase(name, hostTable[i].name))
            continue;
        char text[NAME_FIELD_LENGTH + 200];
        std::snprintf(text, sizeof text,
                      "Another host is named \"%.*s\". Hosts of one name share their alarm and "
                      "connect settings, and these would replace its settings. Use the name "
                      "anyway?",
                      NAME_FIELD_LENGTH, hostTable[i].name);
        if (MessageBox(dialog, text, HOSTINFO_CAPTION,
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES)
            return false;
        SetFocus(GetDlgItem(dialog, HOSTINFO_NAME));
        return true;
    }
    return false;
}

// The host chosen under "Behind:", -1 for none.
static int ChosenParent(HWND dialog) {
    LRESULT item = SendDlgItemMessage(dialog, HOSTINFO_PARENT, CB_GETCURSEL, 0, 0);
    return item >= 1 && item <= shownCommands.parentCount ? shownCommands.parents[item - 1] : -1;
}

// A parent that would close a loop is refused, and the loop named.
static bool MakesALoop(HWND dialog) {
    char loop[PARENT_TEXT_LENGTH + 1];
    if (ParentAllowed(currentHost, ChosenParent(dialog), loop, sizeof loop))
        return false;
    char text[PARENT_TEXT_LENGTH + 128];
    std::snprintf(text, sizeof text,
                  "The host cannot sit behind %.16s: the hosts would sit behind one another in a "
                  "loop (%s).",
                  hostTable[ChosenParent(dialog)].name, loop);
    MessageBox(dialog, text, HOSTINFO_CAPTION, MB_OK | MB_ICONEXCLAMATION);
    SetFocus(GetDlgItem(dialog, HOSTINFO_PARENT));
    return true;
}

// A command the user typed here is the user's own: it may start without a question. False
// when that could not be written.
static bool AllowTypedCommand(const char* command, const char* shown) {
    if (command[0] == '\0' || std::strcmp(command, shown) == 0)
        return true;
    return WriteCommandPermission(command, true);
}

// Returns false when the CONNECT key could not be written.
static bool AcceptHostRecord(HWND dialog, HostRecord& host) {
    char text[CONNECT_LENGTH + 1];
    ReadItem(dialog, HOSTINFO_NAME, text, NAME_FIELD_LENGTH);
    CopyField(host.name, sizeof host.name, text);
    ReadItem(dialog, HOSTINFO_ADDRESS, text, ADDRESS_FIELD_LENGTH);
    CopyField(host.address, sizeof host.address, text);
    CopyField(host.resolvedAddr, sizeof host.resolvedAddr, host.address);
    ReadItem(dialog, HOSTINFO_INFO1, text, INFO_FIELD_LENGTH);
    CopyField(host.info1, sizeof host.info1, text);
    ReadItem(dialog, HOSTINFO_INFO2, text, INFO_FIELD_LENGTH);
    CopyField(host.info2, sizeof host.info2, text);

    char connect[CONNECT_LENGTH + 1];
    ReadItem(dialog, HOSTINFO_CONNECT, connect, CONNECT_LENGTH);
    LRESULT kind = SendDlgItemMessage(dialog, HOSTINFO_KIND, CB_GETCURSEL, 0, 0);
    host.kind = kind >= 0 && kind < HOST_KIND_COUNT ? static_cast<std::uint32_t>(kind) : 0;
    // The telnet command is every host's default; only a command of its own is kept.
    bool ownCommand = !SameIgnoringCase(connect, options.telnetCommand);
    bool written = WriteHostKey(host.name, "CONNECT", ownCommand ? connect : nullptr);
    if (ownCommand)
        written &= AllowTypedCommand(connect, shownCommands.connect);

    host.flags &= ~HOST_PROTOCOL_NONE;
    if (Checked(dialog, HOSTINFO_PROTOCOL_NONE)) {
        host.protocol = 0;
        host.flags |= HOST_PROTOCOL_NONE;
    } else if (Checked(dialog, HOSTINFO_PROTOCOL_SNMP)) {
        host.protocol = 3;
    } else if (Checked(dialog, HOSTINFO_PROTOCOL_NETBEUI)) {
        host.protocol = 2;
    } else {
        host.protocol = 1;
    }
    // A host without a protocol cannot be checked, so it is never monitored.
    if (Checked(dialog, HOSTINFO_MONITOR) && host.protocol != 0)
        host.flags &= ~HOST_NOT_MONITORED;
    else
        host.flags |= HOST_NOT_MONITORED;
    return written;
}

// Returns false when a key could not be written.
static bool AcceptAlarmSettings(HWND dialog, const char* section) {
    unsigned sound = Checked(dialog, HOSTINFO_SOUND_NONE)     ? 0
                     : Checked(dialog, HOSTINFO_SOUND_MIDDLE) ? 2
                     : Checked(dialog, HOSTINFO_SOUND_HIGH)   ? 3
                                                              : 1;
    char text[EXTERNAL_LENGTH + 1];
    std::snprintf(text, sizeof text, "%u", sound);
    bool written = WriteHostKey(section, "SOUND", text);
    written &= WriteHostKey(section, "LOG", Checked(dialog, HOSTINFO_LOG) ? "1" : "0");

    // The numbers go in as typed; an empty box writes an empty value.
    static const struct {
        int id;
        const char* key;
    } numbers[] = {{HOSTINFO_BEEP_COUNT, "BEEP_COUNT"},
                   {HOSTINFO_BEEP_PRIORITY, "BEEP_PRIORITY"},
                   {HOSTINFO_BEEP_CODE, "BEEP_CODE"}};
    for (const auto& number : numbers) {
        ReadItem(dialog, number.id, text, BEEP_FIELD_LENGTH);
        written &= WriteHostKey(section, number.key, text);
    }

    ReadItem(dialog, HOSTINFO_BEEP_NUMBER, text, PAGE_NUMBER_LENGTH);
    written &= WriteHostKey(section, "BEEP_NUMBER", text);
    CopyField(options.pageNumber, sizeof options.pageNumber, text);

    // A page replaces the external program, so "Beep Each" means nothing with it.
    bool beeper = Checked(dialog, HOSTINFO_BEEPER);
    written &= WriteHostKey(section, "BEEPER", beeper ? "1" : "0");
    written &= WriteHostKey(section, "BEEP_EACH",
                            !beeper && Checked(dialog, HOSTINFO_BEEP_EACH) ? "1" : "0");

    ReadItem(dialog, HOSTINFO_EXTERNAL, text, EXTERNAL_LENGTH);
    written &= WriteHostKey(section, "EXTERNAL", text[0] != '\0' ? text : nullptr);
    written &= AllowTypedCommand(text, shownCommands.external);
    return written;
}

// The record is the map's and is saved with it; the section lives only in the settings
// file, so a section that could not be written is lost, and the user must know.
static void AcceptHostInformation(HWND dialog) {
    if (HasCommaFields(dialog) || HasUnplainFields(dialog) || NamesTheOptions(dialog) ||
        MakesALoop(dialog) || TakesAnotherHostsSection(dialog))
        return;
    HostRecord& host = hostTable[currentHost];
    HostRecord before = host;
    int parent = ChosenParent(dialog);
    bool written = AcceptHostRecord(dialog, host);
    if (HostFileFieldsDiffer(before, host))
        MarkMapModified();
    written &= AcceptAlarmSettings(dialog, host.name);
    // PARENT names hosts: a new name is written where it is named, and under it.
    bool renamed = std::strcmp(before.name, host.name) != 0;
    if (renamed)
        written &= RenameParentKeys(currentHost);
    if (renamed || parent != shownCommands.parent)
        written &= SetHostParent(currentHost, parent);
    if (!written) {
        char text[SETTINGS_PATH_LENGTH + 160];
        std::snprintf(text, sizeof text,
                      "The alarm and connect settings of %s could not be saved to \"%s\" and "
                      "are lost.",
                      host.name, settingsFiles.mapSettings);
        MessageBox(dialog, text, HOSTINFO_CAPTION, MB_OK | MB_ICONEXCLAMATION);
    }
    EndDialog(dialog, 1);
}

/*** the procedure ***/

// Notifications other than a click carry a code in the high word and match no case.
static void OnHostInformationCommand(HWND dialog, WPARAM command) {
    switch (command) {
    case HOSTINFO_PROTOCOL_NONE:
    case HOSTINFO_PROTOCOL_TCPIP:
    case HOSTINFO_PROTOCOL_NETBEUI:
    case HOSTINFO_PROTOCOL_SNMP:
        EnableWindow(GetDlgItem(dialog, HOSTINFO_MONITOR),
                     !Checked(dialog, HOSTINFO_PROTOCOL_NONE));
        break;
    case HOSTINFO_BEEPER:
        EnableWindow(GetDlgItem(dialog, HOSTINFO_BEEP_EACH), !Checked(dialog, HOSTINFO_BEEPER));
        break;
    case HOSTINFO_HELP:
        ShowHelp(dialog, HELP_TOPIC_HOST_INFORMATION);
        break;
    case HOSTINFO_CANCEL:
    case IDCANCEL:
        EndDialog(dialog, 0);
        break;
    case HOSTINFO_ACCEPT:
    case IDOK:
        AcceptHostInformation(dialog);
        break;
    default:
        break;
    }
}

INT_PTR Input(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        InitHostInformation(dialog);
        return 1;
    case WM_COMMAND:
        OnHostInformationCommand(dialog, wParam);
        return 1;
    default:
        return AnswerDialogColor(message, wParam);
    }
}

int ShowHostInformation(HWND owner) {
    if (currentHost < 0 || currentHost >= hostCount)
        return 0;
    HoldCountdown();
    INT_PTR result = DialogBox(owner, "INPUTBOX", Input);
    ReleaseCountdown();
    return result == 1 ? 1 : 0;
}
