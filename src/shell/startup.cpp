// Start-up in its order: map choice, settings, classes, main window (whose creation loads
// the map and arms the poll timer), network stack and probe engine, blocking hook, loop,
// shutdown.
#include "shell/startup.h"

#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/menu.h"
#include "platform/system.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/resources.h"
#include "shell/mainwnd.h"

#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

const char* const MAIN_CLASS = "WFELLMAP";
const char* const DETAIL_CLASS = "WFELLMAP1";
const char* const MONITOR_CLASS = "TARNMAPMONTORWND";

char stackDescription[257];

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

bool TakeCommandLineMap(const char* commandLine) {
    if (std::strlen(commandLine) > MAP_PATH_LENGTH)
        return false;
    CopyField(mapPath, sizeof mapPath, commandLine);
    return true;
}

void AdaptProbeEngine(const char* description) {
    if (std::strstr(description, "Microsoft") != nullptr) {
        useIcmpLibrary = 1;
        useRawIcmp = 0;
    } else if (std::strstr(description, "SuperTCP") != nullptr ||
               std::strstr(description, "Trumpet") != nullptr) {
        useIcmpLibrary = 0;
        useRawIcmp = 1;
    }
}

/*** window classes ***/

bool RegisterWindowClasses() {
    HBRUSH background = solidBackground == 1 ? CreateSolidBrush(PaletteColorOfSlot(7))
                                             : GetSysColorBrush(COLOR_DESKTOP);
    WNDCLASS mainClass{};
    mainClass.style = CS_DBLCLKS;
    mainClass.lpfnWndProc = MainWndProc;
    mainClass.hbrBackground = background;
    mainClass.lpszMenuName = "FLMMENU0";
    mainClass.lpszClassName = MAIN_CLASS;
    mainClass.hIcon = LoadIconResource("FLMICON0_32");

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
    return RegisterClass(&mainClass) && RegisterClass(&detailClass) && RegisterClass(&mapClass);
}
