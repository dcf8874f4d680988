// The program's main window in a bench's own process: opened offscreen on the map the bench
// wrote, and a whole poll cycle of it.
#pragma once

#include "model/hosts.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/application.h"
#include "platform/window.h"
#include "resources/resources.h"
#include "shell/filecmds.h"
#include "shell/startup.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

// Makes a fresh directory for the map of bench `name`, makes it the current one and the
// home of the settings; false when it cannot.
inline bool EnterFreshDirectory(const char* name) {
    std::string path = std::string("/tmp/tarnmap-bench-") + name + "-XXXXXX";
    if (mkdtemp(path.data()) == nullptr || chdir(path.c_str()) != 0)
        return false;
    setenv("XDG_CONFIG_HOME", path.c_str(), 1);
    return true;
}

// Starts the toolkit offscreen and opens the main window on bench.db, `width` x `height`,
// shown; 0 when it cannot, with the reason on standard error after `bench`.
inline platform::HWND OpenBenchMainWindow(int& argc, char** argv, const char* bench, int width,
                                          int height) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    platform::InitializeApplication(argc, argv);
    RegisterResources();
    ConnectMapReports();
    if (!RegisterWindowClasses()) {
        std::fprintf(stderr, "%s: cannot register the window classes\n", bench);
        return 0;
    }
    CopyField(mapPath, sizeof mapPath, "bench.db");
    platform::HWND window = platform::CreateWindow(
        MAIN_CLASS, "Tarnmap", platform::WS_OVERLAPPEDWINDOW, 0, 0, width, height, 0, 0, nullptr);
    if (window == 0) {
        std::fprintf(stderr, "%s: no main window\n", bench);
        return 0;
    }
    platform::ShowWindow(window, platform::SW_SHOW);
    platform::UpdateWindow(window);
    return window;
}

// Starts a cycle, then runs the messages until its done message was handled.
inline void RunWholeCycle() {
    RunPollCycle(mainWindow);
    platform::MSG message;
    while (pollState.inProgress != 0 && platform::GetMessage(&message, 0, 0, 0) > 0) {
        platform::TranslateMessage(&message);
        platform::DispatchMessage(&message);
    }
}
