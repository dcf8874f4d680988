// The settings files: the program-wide TARNMAP.INI and the map's own .INI beside its
// database, with every [OPTS] and [COLORS] key, the per-host alarm sections, the window
// position, and the paths of the map's settings and log files. The option values live
// here in one record for the whole run.
#pragma once

#include "platform/types.h"

#include <cstdint>

constexpr unsigned SETTINGS_PATH_LENGTH = 255; // characters of a settings or log path
constexpr unsigned COMMAND_LENGTH = 144;       // TELNET and FTP commands
constexpr unsigned BEEP_STRING_LENGTH = 69;
constexpr unsigned PAGE_NUMBER_LENGTH = 19;
constexpr unsigned EXTERNAL_LENGTH = 255;
constexpr unsigned COLOR_SLOT_COUNT = 10;

// Missed checks at which a failing host is declared down.
constexpr unsigned DOWN_THRESHOLD = 4;

// WAIT's range in milliseconds, as the Options dialog offers it; a value read from a
// settings file is held within it too.
constexpr unsigned MIN_WAIT_TIMEOUT = 1000;
constexpr unsigned MAX_WAIT_TIMEOUT = 60000;

// NOTIFY as read when TARNMAP.INI does not say: the desktop program notifies, the headless
// one does not. Written only once the user chose.
constexpr unsigned NOTIFY_UNSET = ~0u;

extern const char* const GLOBAL_SETTINGS_NAME; // "TARNMAP.INI"
extern const char* const OPTIONS_SECTION;      // "OPTS"
extern const char* const COLORS_SECTION;       // "COLORS"
extern const char* const PROGRAMS_SECTION;     // "PROGRAMS"

/*** globals ***/

// Where the settings and the log of the run are kept.
struct SettingsFiles {
    char global[SETTINGS_PATH_LENGTH + 1];      // TARNMAP.INI
    char mapSettings[SETTINGS_PATH_LENGTH + 1]; // the map's .INI; "" when refused
    char mapLog[SETTINGS_PATH_LENGTH + 1];      // the map's .LOG; "" when refused
};
extern SettingsFiles settingsFiles;

// Which address of a name the checks go to: the first in the system's order of preference
// ("any"), or the first IPv4 ("ipv4") or IPv6 ("ipv6") one.
enum AddressFamilyChoice : unsigned {
    ADDRESS_FAMILY_ANY,
    ADDRESS_FAMILY_IPV4,
    ADDRESS_FAMILY_IPV6
};

// Every [OPTS] value of the run: read from TARNMAP.INI, the first nine then from the map's
// settings file over them, and changed by the Options and Beeper Setup dialogs.
struct ProgramOptions {
    unsigned soundEnabled;                     // SOUND
    unsigned fixedFontTools;                   // FIXFONT
    std::uint16_t pollInterval;                // TIMER, seconds between cycles
    unsigned scaledMapFont;                    // FONT: 1 map text scaled to the grid
    unsigned waitTimeout;                      // WAIT, milliseconds per check
    unsigned useIcons;                         // ICONS
    unsigned labelIcons;                       // LABEL
    unsigned fitMap;                           // FIT: 1 pictures and labels grow with the grid
    unsigned noAutomaticChecks;                // NOCHECK
    unsigned useRawIcmp;                       // PING
    unsigned useIcmpLibrary;                   // MSICMP
    unsigned probePort;                        // PORT, TCP port of the connection probe
    unsigned parallelChecks;                   // PARALLEL, checks in flight; 0 all hosts
    unsigned addressFamily;                    // FAMILY: a name's address, ADDRESS_FAMILY_*
    unsigned showTimerInTitle;                 // SHOW
    unsigned solidBackground;                  // BACKGROUND
    unsigned desktopNotices;                   // NOTIFY: 0, 1, or NOTIFY_UNSET
    char telnetCommand[COMMAND_LENGTH + 1];    // TELNET
    char ftpCommand[COMMAND_LENGTH + 1];       // FTP
    char beepString[BEEP_STRING_LENGTH + 1];   // BEEP_STRING
    unsigned beepPort;                         // BEEP_PORT: 1 COM1, 2 COM2
    unsigned beepBaud;                         // BEEP_BAUD: 0 2400, 1 9600, 2 19200, 3 38400
    unsigned beepEnable;                       // BEEP_ENABLE
    char beepDevice[SETTINGS_PATH_LENGTH + 1]; // BEEP_DEVICE: modem device path, or ""
    // BEEP_NUMBER, the default pager number; a queued page keeps its number here too.
    char pageNumber[PAGE_NUMBER_LENGTH + 1];
};
extern ProgramOptions options;

// Who is told what the settings files did: the shell connects them at start. Unset
// entries tell nobody.
struct SettingsReports {
    // The path of each map SelectMapFiles settled on, once its options are read; the shell
    // points it at the map's log.
    void (*mapOpened)(const char* path);
    // A refusal of UseMapFiles, with the path that was too long.
    void (*mapFilesRefused)(const char* text);
};
extern SettingsReports settingsReports;

/*** the files of a map ***/

// Settles the path of TARNMAP.INI and reads every [OPTS] key but FILE, LOC and WHOISHOST.
void ReadProgramOptions();

// Derives the settings and log paths of the map at `path` into `settings` and `log` (each
// SETTINGS_PATH_LENGTH + 1 bytes). False, with both empty, when one would be too long.
bool DeriveMapFilePaths(const char* path, char* settings, char* log);

// Makes the map at `path` the one whose settings and log files are used, without reading
// them: the options in memory stay (Save As). A path too long for the settings or log
// path is refused: both stay empty, nothing is written, and settingsReports is told.
void UseMapFiles(const char* path);

// UseMapFiles, then reads the program options, then the eight map options from the map's
// settings file, and reports the opening.
void SelectMapFiles(const char* path);

// Writes the eight map options to `target` (the map's or the program's settings file),
// and TELNET, FTP, PING, SHOW, BACKGROUND, MSICMP, PARALLEL and a chosen NOTIFY to
// TARNMAP.INI. False when a key could not be written.
bool WriteOptions(const char* target);

// TELNET and FTP, when TARNMAP.INI has neither: the console client in the first terminal
// that exists ($TERMINAL, x-terminal-emulator, gnome-terminal, konsole, xfce4-terminal,
// xterm), each with the option that passes the rest on as separate arguments, written to
// TARNMAP.INI. Without any of them the defaults stay and nothing is written.
void ChooseTerminalCommands();

// Reads FILE into `buffer` (empty when absent).
void ReadDefaultMapFile(char* buffer, unsigned size);

/*** commands of a map's settings file ***/

// [PROGRAMS] in TARNMAP.INI holds the user's answer for each command (EXTERNAL, CONNECT)
// that a map's settings file names: the key is 16 hexadecimal digits of a hash (FNV-1a) of
// "<map's settings path, absolute>: <command>", the value "1" (allowed) or "0" (not
// allowed), a blank and that text, which a read compares, so that a key never answers for
// another map or command. Deleting the section asks every question again.
constexpr unsigned PERMISSION_TEXT_LENGTH = 2 * SETTINGS_PATH_LENGTH + 16;
enum class CommandPermission { Unasked, Allowed, Refused };

// The answer for `command` of the current map's settings file.
CommandPermission ReadCommandPermission(const char* command);
bool WriteCommandPermission(const char* command, bool allowed);

/*** colours ***/

extern const char* const colorKeys[COLOR_SLOT_COUNT];
extern const unsigned defaultColors[COLOR_SLOT_COUNT];
void ReadColors(unsigned colors[COLOR_SLOT_COUNT]);
bool WriteColors(const unsigned colors[COLOR_SLOT_COUNT]);

/*** window position ***/

void SaveWindowPosition(const platform::RECT& rect);
// True when LOC holds four numbers separated by three commas; `rect` then holds them,
// read back with 32-bit wrap-around.
bool RestoreWindowPosition(platform::RECT* rect);

/*** host sections ***/

// Who reads a host's section decides two defaults: the alarm code takes BEEP_COUNT as
// DOWN_THRESHOLD + 10 and an empty BEEP_NUMBER; the Host Information dialog proposes
// DOWN_THRESHOLD + 15 and the default pager number.
enum class HostSettingsReader { Alarms, Dialog };

struct HostSettings {
    unsigned sound;                          // SOUND: 0 none, 1 low, 2 middle, 3 high
    unsigned log;                            // LOG
    unsigned beeper;                         // BEEPER: 1 page, 0 external program
    unsigned beepEach;                       // BEEP_EACH
    unsigned beepCount;                      // BEEP_COUNT
    unsigned beepCode;                       // BEEP_CODE
    unsigned beepPriority;                   // BEEP_PRIORITY
    char beepNumber[PAGE_NUMBER_LENGTH + 1]; // BEEP_NUMBER
    char external[EXTERNAL_LENGTH + 1];      // EXTERNAL
};

// A host's settings are the section named for it in the map's settings file. A host named
// like the map's options section ("OPTS", in any case) has none: the section is the map's,
// so the host reads its defaults and nothing is written for it.
bool HostNameHasSection(const char* name);

// Reads the section of host `index` (named by its `name`) from the map's settings file.
void ReadHostSettings(int index, HostSettingsReader reader, HostSettings* settings);

// Reads one numeric key of host `index`'s section with its default for `reader`.
unsigned ReadHostSetting(int index, const char* key, HostSettingsReader reader);

// Reads one text key of host `index`'s section into `buffer`, or `defaultValue`.
void ReadHostText(int index, const char* key, const char* defaultValue, char* buffer,
                  unsigned size);
