// The settings files: where TARNMAP.INI and the map's own .INI and .LOG live, the option
// values read from them, the colours, the window position and the per-host alarm keys.
// Every value is read and written key by key through the profile functions.
#include "model/settings.h"

#include "model/hosts.h"
#include "platform/exec.h"
#include "platform/profile.h"
#include "platform/sound.h"
#include "platform/system.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace platform;

/*** globals ***/

const char* const GLOBAL_SETTINGS_NAME = "TARNMAP.INI";
const char* const OPTIONS_SECTION = "OPTS";
const char* const COLORS_SECTION = "COLORS";
const char* const PROGRAMS_SECTION = "PROGRAMS";

SettingsFiles settingsFiles;
ProgramOptions options = {
    .soundEnabled = 1,
    .fixedFontTools = 1,
    .pollInterval = 60,
    .scaledMapFont = 0,
    .waitTimeout = 5000,
    .useIcons = 1,
    .labelIcons = 1,
    .fitMap = 0,
    .noAutomaticChecks = 1,
    .useRawIcmp = 0,
    .useIcmpLibrary = 1,
    .probePort = 230,
    .parallelChecks = 0,
    .addressFamily = ADDRESS_FAMILY_ANY,
    .showTimerInTitle = 1,
    .solidBackground = 0,
    .desktopNotices = NOTIFY_UNSET,
    .telnetCommand = "",
    .ftpCommand = "",
    .beepString = "",
    .beepPort = 1,
    .beepBaud = 1,
    .beepEnable = 0,
    .beepDevice = "",
    .pageNumber = "",
};
SettingsReports settingsReports = {nullptr, nullptr};

const char* const colorKeys[COLOR_SLOT_COUNT] = {"OK",    "ONE",      "TWO",  "THREE", "FOUR",
                                                 "EIGHT", "INACTIVE", "BACK", "TEXT",  "UNREACH"};
const unsigned defaultColors[COLOR_SLOT_COUNT] = {10, 11, 16, 16, 6, 5, 1, 2, 0, 14};

// Console clients need a terminal window of their own.
static const char* const DEFAULT_TELNET = "x-terminal-emulator -e telnet";
static const char* const DEFAULT_FTP = "x-terminal-emulator -e ftp";
static const char* const DEFAULT_BEEP_STRING = "ATDT%s,,,,,%s#";
static constexpr unsigned PALETTE_SIZE = 24;

/*** paths ***/

// TARNMAP.INI in the current directory wins; otherwise the one in our config directory.
static void SettleGlobalSettingsPath() {
    char directory[200];
    if (FileExists(GLOBAL_SETTINGS_NAME) && GetCurrentDirectory(directory, sizeof directory) != 0) {
        const char* separator = directory[std::strlen(directory) - 1] == '/' ? "" : "/";
        int length = std::snprintf(settingsFiles.global, sizeof settingsFiles.global, "%s%s%s",
                                   directory, separator, GLOBAL_SETTINGS_NAME);
        if (length > 0 && static_cast<unsigned>(length) <= SETTINGS_PATH_LENGTH)
            return;
    }
    char config[SETTINGS_PATH_LENGTH + 1];
    if (GetConfigDirectory(config, sizeof config) != 0) {
        int length = std::snprintf(settingsFiles.global, sizeof settingsFiles.global, "%s/%s",
                                   config, GLOBAL_SETTINGS_NAME);
        if (length > 0 && static_cast<unsigned>(length) <= SETTINGS_PATH_LENGTH)
            return;
    }
    CopyField(settingsFiles.global, sizeof settingsFiles.global, GLOBAL_SETTINGS_NAME);
}

// The last "." of the file name in `base`, or null: a dot in a directory's name (maps.d/office)
// is no extension, and taking it would put the map's files outside its directory.
static const char* ExtensionDot(const char* base) {
    const char* slash = std::strrchr(base, '/');
    return std::strrchr(slash != nullptr ? slash + 1 : base, '.');
}

// `base` with everything from its extension's "." replaced by `extension`, or `bare`
// appended when it has none; false when the result would not fit.
static bool DeriveMapFile(char* out, const char* base, const char* extension, const char* bare) {
    const char* dot = ExtensionDot(base);
    int stem = dot != nullptr ? static_cast<int>(dot - base) : static_cast<int>(std::strlen(base));
    int length = std::snprintf(out, SETTINGS_PATH_LENGTH + 1, "%.*s%s", stem, base,
                               dot != nullptr ? extension : bare);
    if (length < 0 || static_cast<unsigned>(length) > SETTINGS_PATH_LENGTH) {
        out[0] = '\0';
        return false;
    }
    return true;
}

// A path with a directory stands as it is; a bare name is joined to the current directory.
static bool DeriveMapBase(char* base, unsigned size, const char* path) {
    char directory[SETTINGS_PATH_LENGTH + 1];
    int length;
    if (std::strchr(path, '/') != nullptr ||
        GetCurrentDirectory(directory, sizeof directory) == 0) {
        length = std::snprintf(base, size, "%s", path);
    } else {
        const char* separator = directory[std::strlen(directory) - 1] == '/' ? "" : "/";
        length = std::snprintf(base, size, "%s%s%s", directory, separator, path);
    }
    return length >= 0 && static_cast<unsigned>(length) < size;
}

/*** options ***/

static unsigned ReadOption(const char* file, const char* key, unsigned defaultValue) {
    return GetPrivateProfileInt(OPTIONS_SECTION, key, static_cast<int>(defaultValue), file);
}

// WAIT as the probes may use it: a file saying 4294967295 would hold every silent host
// for 49 days.
static unsigned ReadWaitTimeout(const char* file, unsigned defaultValue) {
    unsigned value = ReadOption(file, "WAIT", defaultValue);
    return value < MIN_WAIT_TIMEOUT   ? MIN_WAIT_TIMEOUT
           : value > MAX_WAIT_TIMEOUT ? MAX_WAIT_TIMEOUT
                                      : value;
}

// FAMILY in any case; anything else is the default, the system's order.
static unsigned ReadAddressFamily(const char* file) {
    char text[8];
    GetPrivateProfileString(OPTIONS_SECTION, "FAMILY", "any", text, sizeof text, file);
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return std::strcmp(text, "ipv4") == 0   ? ADDRESS_FAMILY_IPV4
           : std::strcmp(text, "ipv6") == 0 ? ADDRESS_FAMILY_IPV6
                                            : ADDRESS_FAMILY_ANY;
}

void ReadProgramOptions() {
    SettleGlobalSettingsPath();
    const char* file = settingsFiles.global;
    options.soundEnabled = ReadOption(file, "SOUND", 1);
    options.fixedFontTools = ReadOption(file, "FIXFONT", 1);
    options.pollInterval = static_cast<std::uint16_t>(ReadOption(file, "TIMER", 60));
    options.scaledMapFont = ReadOption(file, "FONT", 0);
    options.waitTimeout = ReadWaitTimeout(file, 5000);
    options.useIcons = ReadOption(file, "ICONS", 1);
    options.labelIcons = ReadOption(file, "LABEL", 1);
    options.fitMap = ReadOption(file, "FIT", 0);
    options.noAutomaticChecks = ReadOption(file, "NOCHECK", 1);
    options.useRawIcmp = ReadOption(file, "PING", 0);
    options.useIcmpLibrary = ReadOption(file, "MSICMP", 1);
    options.probePort = ReadOption(file, "PORT", 230);
    options.parallelChecks = ReadOption(file, "PARALLEL", 0);
    options.addressFamily = ReadAddressFamily(file);
    options.showTimerInTitle = ReadOption(file, "SHOW", 1);
    options.solidBackground = ReadOption(file, "BACKGROUND", 0);
    options.desktopNotices = ReadOption(file, "NOTIFY", NOTIFY_UNSET);
    GetPrivateProfileString(OPTIONS_SECTION, "TELNET", DEFAULT_TELNET, options.telnetCommand,
                            sizeof options.telnetCommand, file);
    GetPrivateProfileString(OPTIONS_SECTION, "FTP", DEFAULT_FTP, options.ftpCommand,
                            sizeof options.ftpCommand, file);
    GetPrivateProfileString(OPTIONS_SECTION, "BEEP_STRING", DEFAULT_BEEP_STRING, options.beepString,
                            sizeof options.beepString, file);
    options.beepPort = ReadOption(file, "BEEP_PORT", 1);
    options.beepBaud = ReadOption(file, "BEEP_BAUD", 1);
    options.beepEnable = ReadOption(file, "BEEP_ENABLE", 0);
    GetPrivateProfileString(OPTIONS_SECTION, "BEEP_DEVICE", "", options.beepDevice,
                            sizeof options.beepDevice, file);
    GetPrivateProfileString(OPTIONS_SECTION, "BEEP_NUMBER", "", options.pageNumber,
                            sizeof options.pageNumber, file);
}

bool DeriveMapFilePaths(const char* path, char* settings, char* log) {
    char base[SETTINGS_PATH_LENGTH + 1];
    bool fits = DeriveMapBase(base, sizeof base, path) &&
                DeriveMapFile(settings, base, ".INI", ".InI") &&
                DeriveMapFile(log, base, ".LOG", ".LoG");
    if (!fits) {
        settings[0] = '\0';
        log[0] = '\0';
    }
    return fits;
}

// The refusal, with the settings path as it would have been (the log's is as long).
static void TellMapFilesRefused(const char* path) {
    if (settingsReports.mapFilesRefused == nullptr)
        return;
    char base[4096];
    DeriveMapBase(base, sizeof base, path);
    const char* dot = ExtensionDot(base);
    int stem = dot != nullptr ? static_cast<int>(dot - base) : static_cast<int>(std::strlen(base));
    char text[sizeof base + 96];
    std::snprintf(text, sizeof text,
                  "The map's settings and log are not kept: the path %.*s%s is longer than %u "
                  "characters.",
                  stem, base, dot != nullptr ? ".INI" : ".InI", SETTINGS_PATH_LENGTH);
    settingsReports.mapFilesRefused(text);
}

void UseMapFiles(const char* path) {
    char base[SETTINGS_PATH_LENGTH + 1];
    bool fits = DeriveMapBase(base, sizeof base, path) &&
                DeriveMapFilePaths(path, settingsFiles.mapSettings, settingsFiles.mapLog);
    if (!fits) {
        settingsFiles.mapSettings[0] = '\0';
        settingsFiles.mapLog[0] = '\0';
        TellMapFilesRefused(path);
    }
    // Alarm sounds kept beside the map are preferred to the installed ones.
    const char* slash = std::strrchr(base, '/');
    if (fits && slash != nullptr) {
        char directory[SETTINGS_PATH_LENGTH + 1];
        std::snprintf(directory, sizeof directory, "%.*s", static_cast<int>(slash - base), base);
        SetMapSoundDirectory(slash == base ? "/" : directory);
    } else {
        SetMapSoundDirectory("");
    }
}

void SelectMapFiles(const char* path) {
    UseMapFiles(path);
    ReadProgramOptions();
    const char* file = settingsFiles.mapSettings;
    options.soundEnabled = ReadOption(file, "SOUND", options.soundEnabled);
    options.fixedFontTools = ReadOption(file, "FIXFONT", options.fixedFontTools);
    options.pollInterval =
        static_cast<std::uint16_t>(ReadOption(file, "TIMER", options.pollInterval));
    options.scaledMapFont = ReadOption(file, "FONT", options.scaledMapFont);
    options.waitTimeout = ReadWaitTimeout(file, options.waitTimeout);
    options.useIcons = ReadOption(file, "ICONS", options.useIcons);
    options.labelIcons = ReadOption(file, "LABEL", options.labelIcons);
    options.fitMap = ReadOption(file, "FIT", options.fitMap);
    options.noAutomaticChecks = ReadOption(file, "NOCHECK", options.noAutomaticChecks);
    if (settingsReports.mapOpened != nullptr)
        settingsReports.mapOpened(path);
}

static bool WriteNumber(const char* file, const char* section, const char* key, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%u", value);
    return WritePrivateProfileString(section, key, text, file);
}

static bool WriteSwitch(const char* file, const char* key, unsigned value) {
    return WritePrivateProfileString(OPTIONS_SECTION, key, value != 0 ? "1" : "0", file);
}

bool WriteOptions(const char* target) {
    bool written = WriteSwitch(target, "FONT", options.scaledMapFont);
    written &= WriteSwitch(target, "SOUND", options.soundEnabled);
    written &= WriteSwitch(target, "FIXFONT", options.fixedFontTools);
    written &= WriteNumber(target, OPTIONS_SECTION, "TIMER", options.pollInterval);
    written &= WriteNumber(target, OPTIONS_SECTION, "WAIT", options.waitTimeout);
    written &= WriteSwitch(target, "ICONS", options.useIcons);
    written &= WriteSwitch(target, "LABEL", options.labelIcons);
    written &= WriteSwitch(target, "FIT", options.fitMap);
    written &= WriteSwitch(target, "NOCHECK", options.noAutomaticChecks);
    const char* global = settingsFiles.global;
    written &= WritePrivateProfileString(OPTIONS_SECTION, "TELNET", options.telnetCommand, global);
    written &= WritePrivateProfileString(OPTIONS_SECTION, "FTP", options.ftpCommand, global);
    written &= WriteSwitch(global, "PING", options.useRawIcmp);
    written &= WriteSwitch(global, "SHOW", options.showTimerInTitle);
    written &= WriteSwitch(global, "BACKGROUND", options.solidBackground);
    written &= WriteSwitch(global, "MSICMP", options.useIcmpLibrary);
    written &= WriteNumber(global, OPTIONS_SECTION, "PARALLEL", options.parallelChecks);
    if (options.desktopNotices != NOTIFY_UNSET)
        written &= WriteSwitch(global, "NOTIFY", options.desktopNotices);
    return written;
}

/*** the terminal of the console clients ***/

// Terminals in the order they are tried, each with the option after which the rest of its
// command line is the program to run and its arguments, each passed on as it stands.
static const struct {
    const char* program;
    const char* option;
} terminals[] = {{"x-terminal-emulator", "-e"},
                 {"gnome-terminal", "--"},
                 {"konsole", "-e"},
                 {"xfce4-terminal", "-x"},
                 {"xterm", "-e"}};

// The terminal named by $TERMINAL (its first word must exist), else the first of the
// list that exists; false when none does, or when its command would not fit a client's.
static bool FindTerminal(char* terminal, unsigned size) {
    const char* chosen = std::getenv("TERMINAL");
    int length = -1;
    if (chosen != nullptr && chosen[0] != '\0') {
        char program[SETTINGS_PATH_LENGTH + 1];
        std::snprintf(program, sizeof program, "%.*s", static_cast<int>(std::strcspn(chosen, " ")),
                      chosen);
        if (ProgramExists(program))
            length = std::snprintf(terminal, size, "%s -e", chosen);
    }
    for (const auto& each : terminals) {
        if (length < 0 && ProgramExists(each.program))
            length = std::snprintf(terminal, size, "%s %s", each.program, each.option);
    }
    return length >= 0 && static_cast<unsigned>(length) + sizeof " telnet" <= size;
}

void ChooseTerminalCommands() {
    char present[2];
    bool hasTelnet = GetPrivateProfileString(OPTIONS_SECTION, "TELNET", "\x01", present,
                                             sizeof present, settingsFiles.global) != 1 ||
                     present[0] != '\x01';
    bool hasFtp = GetPrivateProfileString(OPTIONS_SECTION, "FTP", "\x01", present, sizeof present,
                                          settingsFiles.global) != 1 ||
                  present[0] != '\x01';
    char terminal[COMMAND_LENGTH + 1];
    if ((hasTelnet && hasFtp) || !FindTerminal(terminal, sizeof terminal))
        return;
    if (!hasTelnet) {
        std::snprintf(options.telnetCommand, sizeof options.telnetCommand, "%.*s telnet",
                      static_cast<int>(COMMAND_LENGTH - 7), terminal);
        WritePrivateProfileString(OPTIONS_SECTION, "TELNET", options.telnetCommand,
                                  settingsFiles.global);
    }
    if (!hasFtp) {
        std::snprintf(options.ftpCommand, sizeof options.ftpCommand, "%.*s ftp",
                      static_cast<int>(COMMAND_LENGTH - 4), terminal);
        WritePrivateProfileString(OPTIONS_SECTION, "FTP", options.ftpCommand, settingsFiles.global);
    }
}

void ReadDefaultMapFile(char* buffer, unsigned size) {
    unsigned limit = size < MAP_PATH_LENGTH + 1 ? size : MAP_PATH_LENGTH + 1;
    GetPrivateProfileString(OPTIONS_SECTION, "FILE", "", buffer, limit, settingsFiles.global);
}

/*** commands of a map's settings file ***/

// "<the map's settings path, made absolute>: <command>", which the permission's value
// holds after its digit.
static void DescribeMapCommand(const char* command, char* text, unsigned size) {
    char directory[SETTINGS_PATH_LENGTH + 1] = "";
    if (settingsFiles.mapSettings[0] != '/')
        GetCurrentDirectory(directory, sizeof directory);
    std::snprintf(text, size, "%s%s%s: %s", directory, directory[0] != '\0' ? "/" : "",
                  settingsFiles.mapSettings, command);
}

// The key of a description: FNV-1a, 64 bits, in hexadecimal.
static void PermissionKey(const char* description, char* key, unsigned size) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char* c = description; *c != '\0'; ++c) {
        hash ^= static_cast<unsigned char>(*c);
        hash *= 0x100000001b3u;
    }
    std::snprintf(key, size, "%016llx", static_cast<unsigned long long>(hash));
}

CommandPermission ReadCommandPermission(const char* command) {
    char description[PERMISSION_TEXT_LENGTH + 1];
    DescribeMapCommand(command, description, sizeof description);
    char key[20];
    PermissionKey(description, key, sizeof key);
    char value[PERMISSION_TEXT_LENGTH + 3];
    GetPrivateProfileString(PROGRAMS_SECTION, key, "", value, sizeof value, settingsFiles.global);
    // Another command with the same key is no answer for this one.
    if ((value[0] != '0' && value[0] != '1') || value[1] != ' ' ||
        std::strcmp(value + 2, description) != 0)
        return CommandPermission::Unasked;
    return value[0] == '1' ? CommandPermission::Allowed : CommandPermission::Refused;
}

bool WriteCommandPermission(const char* command, bool allowed) {
    char description[PERMISSION_TEXT_LENGTH + 1];
    DescribeMapCommand(command, description, sizeof description);
    char key[20];
    PermissionKey(description, key, sizeof key);
    char value[PERMISSION_TEXT_LENGTH + 3];
    std::snprintf(value, sizeof value, "%c %s", allowed ? '1' : '0', description);
    return WritePrivateProfileString(PROGRAMS_SECTION, key, value, settingsFiles.global);
}

/*** colours ***/

// An index outside the palette would draw in no colour at all; such a value is taken as
// the slot's default.
void ReadColors(unsigned colors[COLOR_SLOT_COUNT]) {
    for (unsigned slot = 0; slot < COLOR_SLOT_COUNT; ++slot) {
        unsigned value =
            GetPrivateProfileInt(COLORS_SECTION, colorKeys[slot],
                                 static_cast<int>(defaultColors[slot]), settingsFiles.global);
        colors[slot] = value < PALETTE_SIZE ? value : defaultColors[slot];
    }
}

bool WriteColors(const unsigned colors[COLOR_SLOT_COUNT]) {
    bool written = true;
    for (unsigned slot = 0; slot < COLOR_SLOT_COUNT; ++slot)
        written &= WriteNumber(settingsFiles.global, COLORS_SECTION, colorKeys[slot], colors[slot]);
    return written;
}

/*** window position ***/

void SaveWindowPosition(const RECT& rect) {
    char text[48];
    std::snprintf(text, sizeof text, "%u,%u,%u,%u", static_cast<unsigned>(rect.left),
                  static_cast<unsigned>(rect.top), static_cast<unsigned>(rect.right),
                  static_cast<unsigned>(rect.bottom));
    WritePrivateProfileString(OPTIONS_SECTION, "LOC", text, settingsFiles.global);
}

// One decimal number (blanks and a sign allowed) taken modulo 2^32; false without digits.
static bool ParseWrappedNumber(const char*& text, int* value) {
    while (*text == ' ' || *text == '\t')
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    if (*text < '0' || *text > '9')
        return false;
    std::uint32_t number = 0;
    for (; *text >= '0' && *text <= '9'; ++text)
        number = number * 10u + static_cast<std::uint32_t>(*text - '0');
    if (negative)
        number = 0u - number;
    *value = static_cast<int>(number);
    return true;
}

bool RestoreWindowPosition(RECT* rect) {
    char text[70];
    GetPrivateProfileString(OPTIONS_SECTION, "LOC", "", text, sizeof text, settingsFiles.global);
    int numbers[4];
    const char* cursor = text;
    for (int i = 0; i < 4; ++i) {
        if (!ParseWrappedNumber(cursor, &numbers[i]))
            return false;
        if (i < 3 && *cursor++ != ',')
            return false;
    }
    *rect = {numbers[0], numbers[1], numbers[2], numbers[3]};
    return true;
}

/*** host sections ***/

bool HostNameHasSection(const char* name) {
    const char* reserved = OPTIONS_SECTION;
    for (; *name != '\0' && *reserved != '\0'; ++name, ++reserved)
        if (std::toupper(static_cast<unsigned char>(*name)) != *reserved)
            return true;
    return *name != *reserved;
}

unsigned ReadHostSetting(int index, const char* key, HostSettingsReader reader) {
    if (index < 0 || index >= hostCount)
        return 0;
    unsigned defaultValue = 0;
    if (std::strcmp(key, "SOUND") == 0 || std::strcmp(key, "LOG") == 0)
        defaultValue = 1;
    else if (std::strcmp(key, "BEEP_COUNT") == 0)
        defaultValue = DOWN_THRESHOLD + (reader == HostSettingsReader::Dialog ? 15 : 10);
    else if (std::strcmp(key, "BEEP_CODE") == 0 || std::strcmp(key, "BEEP_PRIORITY") == 0)
        defaultValue = static_cast<unsigned>(index);
    if (!HostNameHasSection(hostTable[index].name))
        return defaultValue;
    return GetPrivateProfileInt(hostTable[index].name, key, static_cast<int>(defaultValue),
                                settingsFiles.mapSettings);
}

void ReadHostText(int index, const char* key, const char* defaultValue, char* buffer,
                  unsigned size) {
    if (index >= 0 && index < hostCount && HostNameHasSection(hostTable[index].name))
        GetPrivateProfileString(hostTable[index].name, key, defaultValue, buffer, size,
                                settingsFiles.mapSettings);
    else if (size > 0)
        std::snprintf(buffer, size, "%s", defaultValue);
}

void ReadHostSettings(int index, HostSettingsReader reader, HostSettings* settings) {
    *settings = HostSettings{};
    if (index < 0 || index >= hostCount)
        return;
    BeginProfileReads(); // the map's settings file is looked at once for all the keys
    settings->sound = ReadHostSetting(index, "SOUND", reader);
    settings->log = ReadHostSetting(index, "LOG", reader);
    settings->beeper = ReadHostSetting(index, "BEEPER", reader);
    settings->beepEach = ReadHostSetting(index, "BEEP_EACH", reader);
    settings->beepCount = ReadHostSetting(index, "BEEP_COUNT", reader);
    settings->beepCode = ReadHostSetting(index, "BEEP_CODE", reader);
    settings->beepPriority = ReadHostSetting(index, "BEEP_PRIORITY", reader);
    ReadHostText(index, "BEEP_NUMBER",
                 reader == HostSettingsReader::Dialog ? options.pageNumber : "",
                 settings->beepNumber, sizeof settings->beepNumber);
    ReadHostText(index, "EXTERNAL", "", settings->external, sizeof settings->external);
    EndProfileReads();
}
