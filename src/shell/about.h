// The About box: logo, version, and the machine the program runs on.
#pragma once

#include "platform/types.h"

constexpr const char* PROGRAM_VERSION = "95.08.06";

void ShowAboutBox(platform::HWND owner);

// The lines of the About box, as shown (for tests).
void ComposePlatformLine(char* buffer, unsigned size);
void ComposeMemoryLine(char* buffer, unsigned size);
void ComposeDiskLine(char* buffer, unsigned size);

// Registers the logo's window class; done once at start-up.
bool RegisterLogoClass();
