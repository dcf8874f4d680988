// What every dialog of the program shares: the button-face colour it answers the colour
// requests with, and the help it opens.
#pragma once

#include "platform/gdi.h"
#include "platform/window.h"

extern platform::HBRUSH buttonFaceBrush; // made with the main window, freed with it

// The common answer of every dialog procedure to the colour requests of the dialog, its
// buttons and static texts: the button-face colour. 0 for any other message.
platform::INT_PTR AnswerDialogColor(platform::UINT message, platform::WPARAM wParam);

// Opens our help at a topic: below 101 the contents.
void ShowHelp(platform::HWND window, unsigned topic);
