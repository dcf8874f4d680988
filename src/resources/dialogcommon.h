// What every dialog of the program shares: the button-face colour it answers the colour
// requests with, and the help it opens.
#pragma once

#include "platform/gdi.h"
#include "platform/window.h"

extern platform::HBRUSH buttonFaceBrush; // made with the main window, freed with it

// The common answer of every dialog procedure to the colour requests of the dialog, its
// buttons and static texts: the button-face colour. 0 for any other message.
platform::INT_PTR AnswerDialogColor(platform::UINT message, platform::WPARAM wParam);

// The topics of our help, each a page of its own.
enum HelpTopic : unsigned {
    HELP_TOPIC_CONTENTS = 0,
    HELP_TOPIC_MAIN_WINDOW = 300,
    HELP_TOPIC_OPTIONS = 400,
    HELP_TOPIC_HOST_INFORMATION = 500,
    HELP_TOPIC_EDIT_MODE = 600,
};

// Opens our help at a topic: below 101 the contents.
void ShowHelp(platform::HWND window, unsigned topic);

// Commands every tool dialog answers besides those of its buttons.
enum ToolDialogCommand : unsigned {
    TOOL_START_COMMAND = 100, // starts like the default button (lookup, finger, whois, connect)
    TOOL_EXIT_COMMAND = 101,  // ends the dialog like "E&xit"
};
