// What the platform files share about the message queue: the registry of window handles
// that messages are delivered through, and the queue's part in nested toolkit loops. What a
// window is beyond its handle, procedure and relatives is the window layer's, in a record
// that extends the handle's. Included only by src/platform/*.cpp.
#pragma once

#include "platform/messages.h"

#include <functional>
#include <memory>
#include <vector>

namespace platform {

// ---- The handle registry ----
struct HandleRecord {
    virtual ~HandleRecord() = default;
    HWND handle = 0;
    WNDPROC procedure = nullptr;
    HWND parent = 0; // the parent of a child window
    HWND owner = 0;  // the owner of a top-level window
};

// Gives `record` a handle of its own and keeps it until it is retired. Handles count up
// from a start taken from the process id, so that their low 16 bits (the ICMP identifier
// of a window's echo requests) differ between windows and between two copies of the
// program; 0 is never a handle, and a live handle is never given twice.
HandleRecord* RegisterHandle(std::unique_ptr<HandleRecord> record);
HandleRecord* FindHandle(HWND window);
bool IsWindow(HWND window);
// The live windows whose owner is `owner`.
std::vector<HWND> OwnedWindows(HWND owner);
// Takes the handle out of use. The record is freed once no window procedure runs.
void RetireHandle(HWND window);
// Frees the retired records, unless a window procedure runs now.
void FreeRetiredHandles();
// Calls the record's procedure (none for a null record: 0), counting the depth so that
// nothing is freed under it.
LRESULT CallWindowProcedure(HandleRecord* record, UINT message, WPARAM wParam, LPARAM lParam);

// ---- The queue and nested loops ----
void StartMessageDispatcher();
// Runs a nested toolkit loop (a modal dialog, a popup menu, a message box) during which
// the queue dispatches its own messages, as the loop of a Win32 dialog box does. Like that
// loop it ends at PostQuitMessage, by `end`, which closes what runs the loop whatever its
// window procedure would say; the quit stays for the program's own loop, and no nested loop
// starts after it.
void RunNestedLoop(const std::function<void()>& loop, const std::function<void()>& end);
// Removes every queued message of a window and its timers (it is being destroyed).
void ForgetWindowMessages(HWND window);
// Removes the queued messages `message` for `window` whose word parameter is `wParam`: the
// end of something that was called off after it was posted.
void WithdrawPostedMessages(HWND window, UINT message, WPARAM wParam);

} // namespace platform
