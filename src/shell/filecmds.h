// The map file commands of the menu and toolbar: New, Load, Save and Save As, the file
// dialogs behind them, the question before unsaved edits are lost, and the connection of
// the map reader's reports to the windows.
#pragma once

#include "platform/types.h"

// Shows the open (mode 1) or save dialog on mapPath. Non-zero when a file was chosen.
int ChooseMapFile(platform::HWND owner, int mode);

void NewMapCommand(platform::HWND window);
void LoadMapCommand(platform::HWND window);
void SaveMapCommand(platform::HWND window);
void SaveMapAsCommand(platform::HWND window);

// Asks "Save changes to <map>?" when the map holds unsaved edits, before they would be
// lost. True when the caller may go on: nothing was edited, the map was saved, or the
// edits were discarded. False for Cancel, or a save that did not happen.
bool AskToSaveMapChanges(platform::HWND window);

// Points the map reader's and the settings' reports at the status bar, the log, the
// message box and the title.
void ConnectMapReports();
