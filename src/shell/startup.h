// The program's start: the map to open, the settings, the window classes, the main window
// and its creation steps, the network stack and the probe engine it implies, the message
// loop and the shutdown.
#pragma once

#include "model/hosts.h"
#include "monitor/programs.h"
#include "platform/gdi.h"
#include "platform/messages.h"
#include "platform/types.h"

extern const char* const MAIN_CLASS; // "WFELLMAP"

// The description our network stack gives in WSAStartup decides the probe engine.
extern char stackVendorText[257];

// Runs the desktop program on the map named by `commandLine` (empty: the default map).
// Returns the exit code.
int TarnmapMain(const char* commandLine, int showState);

// Steps 2, 4 and 5 of the start: "tarnmap.db", "fellmap.db" or the FILE setting.
void ChooseStartupMap();

// Sets the probe engine flags by the network stack's description text.
void AdaptProbeEngine(const char* description);

// The map's opening: logged, and the metrics endpoint set as the map's settings ask.
void ReportMapOpened(const char* path);

// Points what the lower folders report and ask for at the windows above them: the map
// reader's reports, the map's opening in its log and its metrics, the status bar and the
// editor for the cycle and the pager, the Connect action of the map, the Tool Options
// dialog, and the map colours of the notifications.
void ConnectReports();

// The colour the map draws a host in as it stands, for its notifications.
platform::COLORREF HostMapColor(const HostRecord& host);

// Registers the main, detail and map window classes; false when one fails.
bool RegisterWindowClasses();

// The creation steps of the main window (its WM_CREATE).
void OnMainWindowCreate(platform::HWND window);

// Points what the lower layers tell (the map reader, unusable settings files, the log,
// programs not started) at the desktop's status bar and message boxes, and has commands
// named by a map's settings file asked about before they start.
void ConnectDesktopReports();

// Whether a command named by the map's settings file may start: the answer kept in
// TARNMAP.INI, or else Asking. The user is then asked, in a message box with the whole
// command line, once the message that is being handled has ended (an alarm program's start
// comes at the end of a cycle, and the countdown must go on while the box is open); the
// answer is kept, and makes or refuses every start of that command that waited for it.
// While one question waits or is open, starts of other commands are not made.
CommandAnswer AskToStartMapCommand(const ProgramStart& start, const char* commandLine);
// Posted to the main window when a question waits: asks it. Called as well before the map
// is replaced, so that a question about the map's command is asked while it is the map's.
constexpr platform::UINT WM_ASKMAPCOMMAND = platform::WM_USER + 0x142;
void AskWaitingMapCommand();

// The text that tells of a settings file that is not a regular file, with a leading blank
// as the status bar shows it.
void DescribeRefusedSettings(char* text, unsigned size, const char* file);
