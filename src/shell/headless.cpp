// Headless monitoring: an invisible window gets the poll cycle's messages and timers and
// the termination signals; the poll cycle, the alarms and the log are the desktop program's
// own. Status-bar texts go nowhere; the map reader's reports, settings files that cannot be
// used and a log that cannot be written go to standard error.
#include "shell/headless.h"

#include "icmp/icmplib.h"
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/settings.h"
#include "monitor/log.h"
#include "monitor/metrics.h"
#include "monitor/notices.h"
#include "monitor/pager.h"
#include "monitor/poll.h"
#include "monitor/probe.h"
#include "monitor/programs.h"
#include "platform/profile.h"
#include "platform/signals.h"
#include "platform/sound.h"
#include "platform/system.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "shell/maplinks.h"
#include "shell/startup.h"

#include <cerrno>
#include <cstdio>

using namespace platform;

/*** globals ***/

static const char* const HEADLESS_CLASS = "TARNMAPHEADLESS";
static constexpr unsigned INTERVAL_TIMER_ID = 21; // the pause between two cycles

static bool stopRequested = false;   // a termination signal arrived
static bool intervalElapsed = false; // the pause before the next cycle is over
static bool mapOpenReported = false; // the run's one map was logged as opened

/*** the window ***/

static LRESULT HeadlessWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == PACE_TIMER_ID) {
            OnPollPace(window);
        } else if (wParam == INTERVAL_TIMER_ID) {
            KillTimer(window, INTERVAL_TIMER_ID);
            intervalElapsed = true;
        }
        return 0;
    case WM_POLLPROBES:
        OnPollProbes(window);
        return 0;
    case WM_POLLCYCLEDONE:
        OnPollCycleDone(window);
        return 0;
    case WM_CLOSE:
        // A termination signal. Every wait of the layer has seen it already and ended:
        // the checks under way are not counted, a page is cancelled, no further host is
        // checked.
        stopRequested = true;
        pollState.closeRequested = 1;
        EndPollCycle();
        return 0;
    default:
        return DefWindowProc(window, message, wParam, lParam);
    }
}

/*** the map reader's reports ***/

// Only what the user must know: not the progress of a read.
static void PrintMapStatus(const char* text) {
    if (text != nullptr && text != mapReadingText)
        std::fprintf(stderr, "tarnmap: %s\n", text[0] == ' ' ? text + 1 : text);
}

// Records left out are also the log's to keep.
static void PrintRecordsNotLoaded(const char* text) {
    PrintMapStatus(text);
    LogLine(text);
}

static void PrintVersionError(HWND, const char* text, const char* caption) {
    std::fprintf(stderr, "tarnmap: %s: %s\n", caption, text);
}

static void PrintIcmpNotice(const char* text) {
    std::fprintf(stderr, "tarnmap: %s\n", text);
}

// Only the map the run was given: a map it cannot read ends the run, and the untitled map
// the reader then falls back to must leave no log of its own in the working directory.
static void ReportRunMapOpened(const char* path) {
    if (mapOpenReported)
        return;
    mapOpenReported = true;
    ReportMapOpened(path);
}

static void PrintRefusedSettings(const char* file) {
    char text[SETTINGS_PATH_LENGTH + 160];
    DescribeRefusedSettings(text, sizeof text, file);
    PrintMapStatus(text);
}

/*** one cycle ***/

// Where each host stood before a cycle, for its line.
struct CycleBefore {
    unsigned missed[MAX_HOSTS];
    std::uint32_t reach[MAX_HOSTS];
    int hostCount;
};

// "; went down: name [addr], ..." for the hosts whose standing went to `reach` in the cycle.
static void PrintWent(const char* title, const CycleBefore& before, std::uint32_t reach) {
    const char* separator = title;
    for (int i = 0; i < hostCount && i < before.hostCount; ++i) {
        const HostRecord& host = hostTable[i];
        if (before.reach[i] != reach && host.reach == reach) {
            std::printf("%s%s [%s]", separator, host.name, host.resolvedAddr);
            separator = ", ";
        }
    }
}

// The cycle's line: the hosts it checked, the counts after it, and the hosts that changed between
// down, unreachable and up.
static void PrintCycleLine(unsigned long cycle, const CycleBefore& before, bool stopped) {
    unsigned answering = 0, missing = 0, down = 0, unmonitored = 0, unreachable = 0;
    for (int i = 0; i < hostCount; ++i) {
        const HostRecord& host = hostTable[i];
        if (!HostIsChecked(host))
            ++unmonitored;
        else if (host.reach == REACH_UNREACHABLE)
            ++unreachable;
        else if (host.missed == 0)
            ++answering;
        else if (host.missed <= DOWN_THRESHOLD && host.reach != REACH_DOWN)
            ++missing;
        else
            ++down;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::printf("%02u/%02u/%02u %02u:%02u:%02u cycle %lu: %d checked, %u answering, %u missing, "
                "%u down, %u not monitored",
                now.month, now.day, now.year % 100, now.hour, now.minute, now.second, cycle,
                pollState.hostsChecked, answering, missing, down, unmonitored);
    if (unreachable > 0)
        std::printf(", %u unreachable", unreachable);
    PrintWent("; went down: ", before, REACH_DOWN);
    PrintWent("; went unreachable: ", before, REACH_UNREACHABLE);
    const char* separator = "; came up: ";
    for (int i = 0; i < hostCount && i < before.hostCount; ++i) {
        const HostRecord& host = hostTable[i];
        if (before.missed[i] > DOWN_THRESHOLD && host.missed == 0) {
            std::printf("%s%s [%s]", separator, host.name, host.resolvedAddr);
            separator = ", ";
        }
    }
    std::printf("%s\n", stopped ? "; stopped" : "");
    std::fflush(stdout);
}

static bool StopWanted() {
    return stopRequested || TerminationRequested();
}

// Lets TIMER seconds pass with the messages flowing (sounds, signals); at least one.
static void WaitForNextCycle(HWND window) {
    unsigned seconds = options.pollInterval > 0 ? options.pollInterval : 1;
    intervalElapsed = false;
    if (SetTimer(window, INTERVAL_TIMER_ID, seconds * 1000, nullptr) == 0)
        return;
    MSG message;
    while (!intervalElapsed && !StopWanted()) {
        if (GetMessage(&message, 0, 0, 0) <= 0) {
            stopRequested = true; // a quit message ends the run
            break;
        }
        TranslateMessage(&message);
        DispatchMessage(&message);
    }
    KillTimer(window, INTERVAL_TIMER_ID);
}

// One cycle, with the messages flowing until its done message was handled.
static void RunCycle(HWND window) {
    unsigned long done = pollState.cyclesDone;
    if (!RunPollCycle(window))
        return;
    MSG message;
    while (pollState.cyclesDone == done) {
        if (GetMessage(&message, 0, 0, 0) <= 0) {
            stopRequested = true; // a quit message ends the run, and this cycle
            pollState.closeRequested = 1;
            EndPollCycle(); // and its end
            break;
        }
        TranslateMessage(&message);
        DispatchMessage(&message);
    }
}

/*** the run ***/

static HWND CreateHeadlessWindow() {
    WNDCLASS headlessClass{};
    headlessClass.lpfnWndProc = HeadlessWndProc;
    headlessClass.lpszClassName = HEADLESS_CLASS;
    if (!RegisterClass(&headlessClass))
        return 0;
    // Never shown: it only owns timers and receives messages.
    return CreateWindow(HEADLESS_CLASS, "Tarnmap", WS_OVERLAPPED, 0, 0, 64, 64, 0, 0, nullptr);
}

int RunHeadless(const char* mapArgument, unsigned long cycles) {
    mapDatabaseReports = MapDatabaseReports{PrintMapStatus, PrintVersionError, nullptr,
                                            PrintRecordsNotLoaded, LogLine};
    settingsReports.mapFilesRefused = PrintMapStatus;
    icmpNotice.report = PrintIcmpNotice;
    settingsReports.mapOpened = ReportRunMapOpened;
    metricsReport = PrintMapStatus;
    logFailureReport = PrintMapStatus;
    programFailureReport = PrintMapStatus;
    // A monitor without a window notifies only when TARNMAP.INI asks it to (NOTIFY=1).
    noticeSettings = NoticeSettings{true, HostMapColor};
    SetProfileRefusalReport(PrintRefusedSettings);
    ChooseStartupMap();
    if (mapArgument[0] != '\0' && !TakeCommandLineMap(mapArgument)) {
        std::fprintf(stderr, "tarnmap: the map path is longer than %d characters\n",
                     MAP_PATH_LENGTH);
        return 1;
    }
    // A map that is there but cannot be read (a loop of links, a folder) is told by the
    // reader, with the reason.
    errno = 0;
    if (!FileExists(mapPath) && (errno == ENOENT || errno == ENOTDIR)) {
        std::fprintf(stderr, "tarnmap: cannot open the map %s\n", mapPath);
        return 1;
    }
    HWND window = CreateHeadlessWindow();
    if (window == 0) {
        std::fprintf(stderr, "tarnmap: cannot create the message window\n");
        return 1;
    }
    // Signals are taken from here on, before anything is logged, so a signal never finds
    // the program without its handler once the map is open.
    PostMessageOnTermination(window, WM_CLOSE);
    if (ReadMapDatabase(0, mapPath) == 0) {
        DestroyWindow(window);
        return 1;
    }
    // A file that holds no host (another file named by mistake) would run as a monitor
    // that checks nothing and looks healthy.
    if (hostCount == 0) {
        std::fprintf(stderr, "tarnmap: the map %s holds no hosts: there is nothing to check\n",
                     mapPath);
        DestroyWindow(window);
        return 1;
    }

    WSADATA stack;
    if (WSAStartup(MAKEWORD(1, 1), &stack) != 0) {
        std::fprintf(stderr, "tarnmap: the network stack did not start\n");
        DestroyWindow(window);
        return 1;
    }
    CopyField(stackVendorText, sizeof stackVendorText, stack.szDescription);
    AdaptProbeEngine(stackVendorText);

    static CycleBefore before;
    for (unsigned long cycle = 1; !StopWanted(); ++cycle) {
        before.hostCount = hostCount;
        for (int i = 0; i < hostCount; ++i) {
            before.missed[i] = hostTable[i].missed;
            before.reach[i] = hostTable[i].reach;
        }
        RunCycle(window);
        PrintCycleLine(cycle, before, pollState.endedEarly != 0);
        if (cycles != 0 && cycle >= cycles)
            break;
        if (cycles == 0)
            WaitForNextCycle(window);
    }

    // A page dialled at the end of the last cycle gets the modem's answer (its deadline
    // bounds the wait) unless the program is told to end.
    MSG message;
    while (PageUnderWay() && !TerminationRequested() && GetMessage(&message, 0, 0, 0) > 0)
        DispatchMessage(&message);
    CancelPages();
    StopMetrics();
    if (options.soundEnabled == 1)
        sndPlaySound(nullptr, 0);
    WSACleanup();
    UnloadIcmpLibrary();
    DestroyWindow(window);
    return 0;
}
