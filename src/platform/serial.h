// Serial ports for the modem of the pager: open by port name or device path, line
// settings, time-outs, whole reads and writes, and a bounded wait for a line event.
// Nothing here dispatches window messages; the calls block the caller, but a termination
// signal ends any wait at once (ERROR_OPERATION_ABORTED).
#pragma once

#include "platform/system.h"
#include "platform/types.h"

#include <cstdint>

namespace platform {

constexpr DWORD NOPARITY = 0;
constexpr DWORD ONESTOPBIT = 0;
constexpr DWORD EV_RXCHAR = 0x0001;
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
// Waits for a received character or a change of CTS, DSR or carrier among the events of
// the mask, at most `timeoutMs`. False with ERROR_TIMEOUT when none came. A device without
// modem lines (a pseudo-terminal) reports received characters only; a line that hung up
// reports one too, and the read that follows tells the hang-up.
bool WaitCommEvent(HANDLE port, DWORD* event, DWORD timeoutMs);

bool CloseHandle(HANDLE port);

} // namespace platform
