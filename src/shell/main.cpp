// The tarnmap executable: the desktop program on the map named by its arguments.
#include "platform/application.h"
#include "shell/startup.h"

#include <cstdio>
#include <cstring>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
// fontconfig keeps its caches until exit; that is not ours to free.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
#endif

static void PrintUsage() {
    std::printf("Usage: tarnmap [MAP]\n"
                "       tarnmap --help\n\n"
                "Tarnmap shows the map of hosts MAP (a .db map database) and checks every host\n"
                "in repeated poll cycles. Without MAP it opens tarnmap.db, or the FILE setting\n"
                "of TARNMAP.INI. Arguments that do not begin with \"--\" are joined by single\n"
                "blanks into the one map path.\n");
}

int main(int argc, char** argv) {
    std::string mapArgument;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintUsage();
            return 0;
        }
        if (std::strncmp(argv[i], "--", 2) == 0) {
            std::fprintf(stderr, "tarnmap: unknown option %s (see tarnmap --help)\n", argv[i]);
            return 2;
        }
        if (!mapArgument.empty())
            mapArgument += ' ';
        mapArgument += argv[i];
    }
    platform::InitializeApplication(argc, argv);
    return TarnmapMain(mapArgument.c_str(), 1);
}
