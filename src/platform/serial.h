// Serial ports for the modem of the pager: open by port name or device path, line
// settings, time-outs, whole reads and writes, and notifications posted as window messages.
// A read or write that waits dispatches nothing and blocks the caller, but a termination
// signal ends any wait at once (ERROR_OPERATION_ABORTED).
#pragma once

#include "platform/system.h"
#include "platform/types.h"

#include <cstdint>

namespace platform {

constexpr DWORD NOPARITY = 0;
constexpr DWORD ONESTOPBIT = 0;
constexpr DWORD EV_CTS = 0x0008;
constexpr DWORD EV_DSR = 0x0010;
constexpr DWORD EV_RLSD = 0x0020;
constexpr DWORD ERROR_TIMEOUT = 1460;
constexpr DWORD ERROR_BROKEN_PIPE = 109; // the line hung up: the other end closed it

// The line settings the pager changes; everything else of the port is raw 8-bit.
struct DCB {
    DWORD BaudRate; // 2400, 9600, 19200, 38400, ...
    DWORD ByteSize; // 5 to 8
    DWORD Parity;   // NOPARITY
    DWORD StopBits; // ONESTOPBIT
};

// Total time-outs in milliseconds; 0 means none. Only the constant parts are used.
struct COMMTIMEOUTS {
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutConstant;
};

// Opens "COMn" (COM1 is /dev/ttyS0, COM2 /dev/ttyS1, ...) or a device path beginning with
// "/", for reading and writing, exclusively. INVALID_HANDLE_VALUE on failure. Every call
// leaves the system's error number of a failure in GetLastError() (platform/system.h).
HANDLE OpenCommPort(const char* name);

bool GetCommState(HANDLE port, DCB* state);
bool SetCommState(HANDLE port, const DCB* state);
bool SetCommTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts);

// Writes all bytes unless the write time-out runs out first.
bool WriteFile(HANDLE port, const void* data, DWORD size, DWORD* written);
bool FlushFileBuffers(HANDLE port);
// Reads until `size` bytes have arrived or the read time-out runs out. A line that hangs
// up ends the read with what had come; with nothing, false and ERROR_BROKEN_PIPE.
bool ReadFile(HANDLE port, void* data, DWORD size, DWORD* read);

bool SetCommMask(HANDLE port, DWORD mask);

// Notifications, as Win16's EnableCommNotification gave them: WM_COMMNOTIFY to `window`,
// word parameter the port's handle, long parameter CN_RECEIVE when bytes wait to be read
// (once until the next ReadFile, which finds them at once), or CN_EVENT when a modem line
// among the events of SetCommMask (EV_CTS, EV_DSR, EV_RLSD) changed. A line that hangs up
// posts CN_RECEIVE too: the ReadFile that follows fails with ERROR_BROKEN_PIPE. Modem lines
// are sampled every 50 ms while notifications are on; a device without them (a
// pseudo-terminal) notifies received bytes and hang-ups only. Window 0 turns them off, as
// CloseHandle does.
constexpr UINT WM_COMMNOTIFY = 0x0044;
constexpr DWORD CN_RECEIVE = 0x0001;
constexpr DWORD CN_EVENT = 0x0004;
bool EnableCommNotification(HANDLE port, HWND window);

bool CloseHandle(HANDLE port);

} // namespace platform
