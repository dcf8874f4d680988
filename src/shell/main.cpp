// The tarnmap executable: the desktop program on the map named by its arguments, or the
// monitor without windows (--headless) for a server.
#include "monitor/metrics.h"
#include "platform/application.h"
#include "platform/system.h"
#include "shell/headless.h"
#include "shell/startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace platform;

#if defined(__SANITIZE_ADDRESS__)
// fontconfig keeps its caches until exit; that is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif

static void PrintUsage() {
    std::printf("Usage: tarnmap [--metrics ADDRESS:PORT] [MAP]\n"
                "       tarnmap --headless [--cycles N] [--metrics ADDRESS:PORT] [MAP]\n"
                "       tarnmap --help\n\n"
                "Tarnmap shows the map of hosts MAP (a .db map database) and checks every host\n"
                "in repeated poll cycles. Without MAP it opens the map that FILE in\n"
                "TARNMAP.INI names, else tarnmap.db. Arguments that do not begin with\n"
                "\"--\" are joined by single blanks into the one map path.\n\n"
                "  --headless   no window and no display: check the hosts of MAP every TIMER\n"
                "               seconds (whatever NOCHECK says), with the map's log, sounds,\n"
                "               alarm programs and pages as on the desktop, and print one line\n"
                "               per cycle: the time, the hosts checked, answering, missing,\n"
                "               down and not monitored (and unreachable behind a host that\n"
                "               is down), and the hosts that went down, went unreachable or\n"
                "               came up. SIGINT, SIGTERM or SIGHUP ends it at once, with exit\n"
                "               status 0.\n"
                "  --cycles N   with --headless: run N cycles back to back, then end.\n"
                "  --metrics ADDRESS:PORT\n"
                "               with or without --headless: serve the hosts' state to\n"
                "               Prometheus at http://ADDRESS:PORT/metrics (a bare PORT means\n"
                "               127.0.0.1), whatever METRICS in the settings files says.\n"
                "               Anyone who reaches the port reads the hosts' names and\n"
                "               addresses; there is no authentication.\n"
                "  --help       show this text.\n");
    char data[4096];
    if (GetDataDirectory(data, sizeof data) != 0)
        std::printf("\nSounds and help pages: %s\n", data);
    else
        std::printf("\nSounds and help pages: not found\n");
}

// A positive decimal count, or 0 when `text` is none.
static unsigned long ParseCount(const char* text) {
    if (text == nullptr || text[0] < '0' || text[0] > '9')
        return 0;
    char* end = nullptr;
    unsigned long count = std::strtoul(text, &end, 10);
    return *end == '\0' ? count : 0;
}

int main(int argc, char** argv) {
    std::string mapArgument;
    bool headless = false;
    unsigned long cycles = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintUsage();
            return 0;
        }
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
            continue;
        }
        if (std::strcmp(argv[i], "--cycles") == 0) {
            cycles = ParseCount(i + 1 < argc ? argv[i + 1] : nullptr);
            if (cycles == 0) {
                std::fprintf(stderr, "tarnmap: --cycles wants a number of cycles above 0\n");
                return 2;
            }
            ++i;
            continue;
        }
        if (std::strcmp(argv[i], "--metrics") == 0) {
            if (i + 1 >= argc || !SetCommandLineMetrics(argv[i + 1])) {
                std::fprintf(stderr, "tarnmap: --metrics wants ADDRESS:PORT or PORT, a dotted "
                                     "IPv4 address and a port from 1 to 65535\n");
                return 2;
            }
            ++i;
            continue;
        }
        if (std::strncmp(argv[i], "--", 2) == 0) {
            std::fprintf(stderr, "tarnmap: unknown option %s (see tarnmap --help)\n", argv[i]);
            return 2;
        }
        if (!mapArgument.empty())
            mapArgument += ' ';
        mapArgument += argv[i];
    }
    if (cycles != 0 && !headless) {
        std::fprintf(stderr, "tarnmap: --cycles goes with --headless\n");
        return 2;
    }
    if (headless) {
        UseOffscreenDisplay();
        InitializeApplication(argc, argv);
        ExitProcess(RunHeadless(mapArgument.c_str(), cycles));
    }
    InitializeApplication(argc, argv);
    ExitProcess(TarnmapMain(mapArgument.c_str(), 1));
}
