// Start-up in its order: map choice, settings, classes, main window (whose creation loads
// the map and arms the poll timer), network stack and probe engine, loop, shutdown.
#include "shell/startup.h"

#include "mapui/ctxmenu.h"
#include "mapui/editor.h"
#include "mapui/options.h"
#include "mapui/render.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/log.h"
#include "monitor/mapwnd.h"
#include "monitor/metrics.h"
#include "monitor/notices.h"
#include "monitor/pager.h"
#include "monitor/poll.h"
#include "monitor/probe.h"
#include "monitor/programs.h"
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/menu.h"
#include "platform/profile.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/commands.h"
#include "resources/dialogcommon.h"
#include "resources/pictures.h"
#include "resources/resources.h"
#include "shell/about.h"
#include "shell/filecmds.h"
#include "shell/mainwnd.h"
#include "shell/maplinks.h"
#include "tools/ping.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace platform;

/*** globals ***/

const char* const MAIN_CLASS = "WFELLMAP";

char stackVendorText[257];

static const char* const DEFAULT_MAP = "tarnmap.db";
static const char* const FALLBACK_MAP = "fellmap.db";

/*** the map to open ***/

void ChooseStartupMap() {
    const char* defaultName = DEFAULT_MAP;
    if (!FileExists(DEFAULT_MAP) && FileExists(FALLBACK_MAP))
        defaultName = FALLBACK_MAP;
    CopyField(mapPath, sizeof mapPath, defaultName);
    ReadProgramOptions();
    char configured[MAP_PATH_LENGTH + 1];
    ReadDefaultMapFile(configured, sizeof configured);
    if (configured[0] != '\0')
        CopyField(mapPath, sizeof mapPath, configured);
    if (!FileExists(mapPath) && FileExists(FALLBACK_MAP))
        CopyField(mapPath, sizeof mapPath, FALLBACK_MAP);
}

void AdaptProbeEngine(const char* description) {
    if (std::strstr(description, "Microsoft") != nullptr) {
        options.useIcmpLibrary = 1;
        options.useRawIcmp = 0;
    } else if (std::strstr(description, "SuperTCP") != nullptr ||
               std::strstr(description, "Trumpet") != nullptr) {
        options.useIcmpLibrary = 0;
        options.useRawIcmp = 1;
    }
}

/*** the reports of the lower folders ***/

static bool MapBeingEdited() {
    return editMode != EDIT_OFF;
}

// Metrics asked for that cannot be had are told in a box as well: the map's opening, which
// finds out, clears the status bar's text at its end.
static void ShowMetricsNotice(const char* text) {
    SetStatusText(text);
    MessageBox(mainWindow, text + 1, "Tarnmap", MB_OK | MB_ICONEXCLAMATION);
}

void ReportMapOpened(const char* path) {
    LogMapOpened(path);
    ApplyMetricsSettings();
}

COLORREF HostMapColor(const HostRecord& host) {
    return PaletteColor(colorTable[HostColorSlot(host)]);
}

void ConnectReports() {
    ConnectMapReports();
    settingsReports.mapOpened = ReportMapOpened;
    metricsReport = ShowMetricsNotice;
    monitorReports = MonitorReports{ShowStatusText, ShowCountdown, MapBeingEdited};
    connectHostAction = ConnectHost;
    toolOptionsDialog = ShowToolOptions;
    noticeSettings = NoticeSettings{false, HostMapColor};
}

/*** window classes ***/

bool RegisterWindowClasses() {
    HBRUSH background = options.solidBackground == 1
                            ? CreateSolidBrush(PaletteColor(colorTable[SLOT_BACK]))
                            : GetSysColorBrush(COLOR_DESKTOP);
    WNDCLASS mainClass{};
    mainClass.style = CS_DBLCLKS;
    mainClass.lpfnWndProc = MainWndProc;
    mainClass.hbrBackground = background;
    mainClass.lpszMenuName = "FLMMENU0";
    mainClass.lpszClassName = MAIN_CLASS;
    mainClass.hIcon = FindPictureResource("FLMICON0_32");

    WNDCLASS detailClass{};
    detailClass.style = CS_DBLCLKS;
    detailClass.lpfnWndProc = HostDetailProc;
    detailClass.cbWndExtra = 4;
    detailClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    detailClass.lpszClassName = DETAIL_CLASS;
    detailClass.hIcon = mainClass.hIcon;

    WNDCLASS mapClass = mainClass;
    mapClass.lpfnWndProc = MapWndProc;
    mapClass.lpszMenuName = nullptr;
    mapClass.lpszClassName = MONITOR_CLASS;
    return RegisterClass(&mainClass) && RegisterClass(&detailClass) && RegisterClass(&mapClass) &&
           RegisterLogoClass();
}

/*** the main window ***/

// The ICMP notice must be read to be of use: a box, once a run.
static void ShowIcmpNotice(const char* text) {
    MessageBox(mainWindow, text, "Tarnmap", MB_OK | MB_ICONINFORMATION);
}

void OnMainWindowCreate(HWND window) {
    mainWindow = window;
    runMenu = GetMenu(window);
    editMenu = LoadMenu("FLMMENU1");
    CreateBars(window);
    buttonFaceBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    CreateEdgePens();
    arrowCursor = LoadCursor(IDC_ARROW);
    busyCursor = LoadCursor(IDC_APPSTARTING);
    if (busyCursor == nullptr)
        busyCursor = LoadCursor(IDC_WAIT);
    HCURSOR previous = SetCursor(busyCursor);
    cursorState = 1;
    RECT position;
    if (RestoreWindowPosition(&position))
        MoveWindow(window, position.left, position.top, position.right - position.left,
                   position.bottom - position.top, true);
    CreateMonitorWindow(window);
    ReadMapDatabase(window, mapPath);
    CheckMenuItem(runMenu, CMD_SHOW_TOOLBAR, showToolbar ? MF_CHECKED : MF_UNCHECKED);
    CheckMenuItem(runMenu, CMD_SHOW_STATUS_BAR, showStatusBar ? MF_CHECKED : MF_UNCHECKED);
    pollState.countdown = 10;
    StartPollTimer();
    cursorState = 0;
    SetCursor(previous);
    BuildHostContextMenu();
    LoadHostBitmaps();
    icmpNotice.report = ShowIcmpNotice;
}

/*** files that cannot be used ***/

void DescribeRefusedSettings(char* text, unsigned size, const char* file) {
    std::snprintf(text, size,
                  " The settings file %s is not a regular file: it is neither read nor written, "
                  "and its settings are the defaults.",
                  file);
}

static void ShowRefusedSettings(const char* file) {
    char text[SETTINGS_PATH_LENGTH + 160];
    DescribeRefusedSettings(text, sizeof text, file);
    SetStatusText(text);
    MessageBox(mainWindow, text + 1, "Tarnmap", MB_OK | MB_ICONEXCLAMATION);
}

static void ShowLogFailure(const char* text) {
    SetStatusText(text);
}

/*** programs named by a map ***/

// A start of a map's command that waits for the user's answer, copied.
struct WaitingStart {
    std::string commandLine;
    std::vector<std::string> arguments;
    UINT showState = 0;
};

// The question about a map's command, from the first start that asked for it until it is
// answered: further starts of that command wait with it (two hosts going down at once), and
// the answer makes or refuses them all, also when it cannot be kept.
struct MapCommandQuestion {
    bool waiting = false;     // posted or open; starts of other commands are refused meanwhile
    std::string settingsFile; // the map's settings file that named the command
    std::string command;
    std::string shownLine; // the first start's whole command line, as the question shows it
    std::vector<WaitingStart> starts;
};
static MapCommandQuestion question;
static constexpr std::size_t MAX_WAITING_STARTS = MAX_HOSTS;

CommandAnswer AskToStartMapCommand(const ProgramStart& start, const char* commandLine) {
    switch (ReadCommandPermission(start.mapCommand)) {
    case CommandPermission::Allowed:
        return CommandAnswer::Allowed;
    case CommandPermission::Refused:
        return CommandAnswer::NotAllowed;
    case CommandPermission::Unasked:
        break;
    }
    if (question.waiting &&
        (question.command != start.mapCommand || question.starts.size() == MAX_WAITING_STARTS))
        return CommandAnswer::Unanswered;
    if (!question.waiting) {
        if (!PostMessage(mainWindow, WM_ASKMAPCOMMAND, 0, 0)) // the window is gone
            return CommandAnswer::NotAllowed;
        question.waiting = true;
        question.settingsFile = settingsFiles.mapSettings;
        question.command = start.mapCommand;
        question.shownLine = commandLine;
    }
    question.starts.push_back(WaitingStart{
        start.commandLine, {start.arguments, start.arguments + start.count}, start.showState});
    return CommandAnswer::Asking;
}

void AskWaitingMapCommand() {
    if (!question.waiting)
        return;
    // A question whose map's settings are no longer the map's is dropped with its starts:
    // they belong to that map (the commands that replace a map ask first).
    if (question.settingsFile != settingsFiles.mapSettings) {
        question = MapCommandQuestion{};
        return;
    }
    char text[SETTINGS_PATH_LENGTH + PENDING_COMMAND_LENGTH + 256];
    std::snprintf(text, sizeof text,
                  "The settings file of this map, %s, asks Tarnmap to start this program:\n\n"
                  "%s\n\nAllow it? Yes starts it now and whenever this map asks for it again; "
                  "No never starts it for this map.",
                  settingsFiles.mapSettings, question.shownLine.c_str());
    int answer = MessageBox(mainWindow, text, "Allow this program?",
                            MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
    MapCommandQuestion asked = std::move(question);
    question = MapCommandQuestion{};
    if (answer != IDYES && answer != IDNO) // the program is ending: nothing answered
        return;
    bool kept = WriteCommandPermission(asked.command.c_str(), answer == IDYES);
    for (const WaitingStart& each : asked.starts) {
        std::vector<const char*> arguments;
        for (const std::string& argument : each.arguments)
            arguments.push_back(argument.c_str());
        // The answer is the user's, whether or not it could be kept: not asked again now.
        ProgramStart start{each.commandLine.c_str(), arguments.data(),
                           static_cast<int>(arguments.size()), nullptr, each.showState};
        if (answer == IDYES)
            StartProgram(start);
        else
            TellProgramNotAllowed(start);
    }
    if (!kept) {
        char told[SETTINGS_PATH_LENGTH + 96];
        std::snprintf(told, sizeof told,
                      " The answer could not be kept in %s: it will be asked again.",
                      settingsFiles.global);
        SetStatusText(told);
    }
}

void ConnectDesktopReports() {
    ConnectReports();
    SetProfileRefusalReport(ShowRefusedSettings);
    logFailureReport = ShowLogFailure;
    programFailureReport = ShowLogFailure;
    mapCommandAllowed = AskToStartMapCommand;
}

static void ShutDown() {
    pollState.closeRequested = 1;
    StopMetrics();
    WSACleanup();
}

int TarnmapMain(const char* commandLine, int showState) {
    CatchTerminationSignals();
    RegisterResources();
    ConnectDesktopReports();
    ChooseStartupMap();
    ChooseTerminalCommands();
    ReadColors(colorTable);
    if (commandLine[0] != '\0' && !TakeCommandLineMap(commandLine)) {
        char text[MAP_PATH_LENGTH + 96];
        std::snprintf(text, sizeof text,
                      "The map path is longer than %u characters and cannot be opened.",
                      MAP_PATH_LENGTH);
        std::fprintf(stderr, "tarnmap: %s\n", text);
        MessageBox(0, text, "Tarnmap", MB_OK | MB_ICONSTOP);
        return 1;
    }
    if (!RegisterWindowClasses())
        return 0;
    HWND window = CreateWindow(MAIN_CLASS, "Tarnmap", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 1, 1,
                               640, 400, 0, 0, nullptr);
    if (window == 0)
        return 0;
    ShowWindow(window, showState);
    UpdateWindow(window);
    PostMessageOnTermination(window, WM_CLOSE);

    WSADATA stack;
    if (WSAStartup(MAKEWORD(1, 1), &stack) != 0) {
        MessageBox(0, "Failed to start WINSOCK.DLL", "fellmap", MB_OK);
        return 1;
    }
    CopyField(stackVendorText, sizeof stackVendorText, stack.szDescription);
    AdaptProbeEngine(stackVendorText);

    MSG message;
    while (GetMessage(&message, 0, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessage(&message);
    }
    CancelPages(); // a page still waiting for the modem's answer is logged as cancelled
    ShutDown();
    return static_cast<int>(message.wParam);
}
