// Editing the map with the mouse: the editor's states and their prompts, hit tests,
// dragging hosts and line ends, adding and deleting hosts and lines. Everything acts on
// the tables at once; there is no undo and nothing asks for confirmation.
#pragma once

#include "platform/types.h"

/*** states ***/

// editMode: what the next mouse event does.
constexpr int EDIT_OFF = 0;         // monitoring: clicks open host windows and the menu
constexpr int EDIT_ON = 1;          // editing, nothing pending
constexpr int EDIT_DELETE_HOST = 3; // the next left release deletes the host there
constexpr int EDIT_ADD_LINE = 6;    // the next right release starts a line there
constexpr int EDIT_DELETE_LINE = 7; // the next right release deletes the line ending there

/*** globals ***/

extern int editMode;    // EDIT_*
extern int currentLine; // the line whose end follows the mouse; -1 none
extern int dragCol;     // the cell of the last drag position
extern int dragRow;

/*** hit tests ***/

// The host whose top-left cell is (col, row); else the first whose drawn area covers the
// cell; else -1.
int HitTestHost(int col, int row);
// The first line with an end at (col, row), or -1. The middle of a line is never hit.
int HitTestLineEnd(int col, int row);

// The cell under a mouse message's position. False while the cells have no size (a
// window too small to hold the grid): the mouse is then ignored.
bool CellFromPosition(platform::LPARAM position, int* col, int* row);

/*** the map window's mouse messages ***/

// Each takes the map window, the key-state flags and the position, and returns 0.
platform::LRESULT OnMapMouseMove(platform::HWND window, platform::WPARAM keys,
                                 platform::LPARAM position);
platform::LRESULT OnMapLeftButtonDown(platform::HWND window, platform::WPARAM keys,
                                      platform::LPARAM position);
platform::LRESULT OnMapLeftButtonUp(platform::HWND window, platform::WPARAM keys,
                                    platform::LPARAM position);
platform::LRESULT OnMapLeftDoubleClick(platform::HWND window, platform::WPARAM keys,
                                       platform::LPARAM position);
platform::LRESULT OnMapRightButtonDown(platform::HWND window, platform::WPARAM keys,
                                       platform::LPARAM position);
platform::LRESULT OnMapRightButtonUp(platform::HWND window, platform::WPARAM keys,
                                     platform::LPARAM position);

/*** editor actions, on cells ***/

void BeginHostDrag(platform::HWND window, int col, int row);
void DragTo(platform::HWND window, int col, int row);
void EndHostDrag(platform::HWND window, int col, int row);
void BeginLineDrag(platform::HWND window, int col, int row);
void EndLineAction(platform::HWND window, int col, int row);
// Opens the Host Information dialog on the attached host, or else on the one at the cell.
void EditHost(platform::HWND window, int col, int row);

/*** edit menu commands ***/

void StartAddHost();    // "&Add" > "&Host"
void StartAddLine();    // "&Add" > "&Line"
void StartDeleteHost(); // "&Delete" > "&Host"
void StartDeleteLine(); // "&Delete" > "&Line"

// Lets go of what follows the mouse (a host or a line end being placed, a line added from
// the context menu) and forgets the context menu's line, before edit mode is entered or
// left and before another map replaces this one. A new host that never reached the grid is
// taken away again: it could be neither seen nor deleted.
void ReleaseEditorHolds();

// The status-bar texts that refuse an addition to a full table.
extern const char* const hostTableFullText;
extern const char* const lineTableFullText;
