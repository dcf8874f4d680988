// Desktop notifications through the freedesktop notification service on the session bus.
// A notice is sent and forgotten: nothing waits for the service's answer, and a desktop
// without a session bus or without the service shows nothing.
#pragma once

#include "platform/gdi.h"

namespace platform {

struct DESKTOP_NOTICE {
    const char* summary;        // one line, plain text
    const char* body;           // plain text, lines separated by '\n'
    const char* const* picture; // two-colour XPM shown as the icon; null: the program's icon
    COLORREF pictureColor;      // what the picture's white inside takes
    bool urgent;                // shown as critical: it stays until the user dismisses it
};

// Sends the notice. False when no session bus could be reached (told once on standard
// error for the run, not for each notice); true when it went out, whether or not a
// notification service takes it.
bool ShowDesktopNotice(const DESKTOP_NOTICE& notice);

// Gets the session bus ready before the first notice, which then need not wait for the
// bus to answer (a program that ends soon after would lose it).
void PrepareDesktopNotices();

} // namespace platform
