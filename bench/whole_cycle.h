// A whole poll cycle of the main window, for the benches that time one in this process.
#pragma once

#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/window.h"

// Starts a cycle, then runs the messages until its done message was handled.
inline void RunWholeCycle() {
    RunPollCycle(mainWindow);
    platform::MSG message;
    while (pollState.inProgress != 0 && platform::GetMessage(&message, 0, 0, 0) > 0) {
        platform::TranslateMessage(&message);
        platform::DispatchMessage(&message);
    }
}
