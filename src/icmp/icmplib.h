// The echo engine over the system ICMP library: loading and releasing the library, the
// echo data and reply buffers, the monitor's probe, the texts of the library's status
// codes and the "[debug]" line of the ping and trace tools.
#pragma once

#include "platform/icmplib.h"
#include "platform/types.h"
#include "platform/winsock.h"

#include <cstdint>

constexpr unsigned ECHO_FILL_TEXT_LENGTH = 43;
constexpr unsigned ICMP_STATUS_TEXT_SIZE = 30; // the longest text and its terminator

extern int icmpLibraryLoaded; // set by the first successful load, kept for the run

// The program's banner, the content of every echo this engine sends.
extern const char echoFillText[ECHO_FILL_TEXT_LENGTH + 1];

// 1 when the library is usable. The first success is kept for the run; a failure clears
// useIcmpLibrary and the next call tries again.
int LoadIcmpLibrary();
// Releases the library if it was loaded (at shutdown).
void UnloadIcmpLibrary();

// The data of an echo: echoDataLength bytes of the banner followed by zero bytes.
// echoDataLength is first brought within the engines' bounds. `*allocated` tells whether
// the buffer must be given to FreeEchoData.
const char* PrepareEchoData(bool* allocated);
void FreeEchoData(const char* data, bool allocated);

// The reply buffer for an echo of echoDataLength bytes: zero-filled, aligned for the reply
// record, EchoReplyBufferSize() bytes; null when it cannot be allocated.
unsigned EchoReplyBufferSize();
void* AllocateEchoReplyBuffer();
void FreeEchoReplyBuffer(void* buffer);

// The monitor's probe through the library: one echo to `destination`, waiting up to
// `timeoutMs`. 0 reply, with the round trip in `*rtt`; a library status or system error;
// 10065 no echo handle; -1 no library or no buffer. `window` is not used.
int LibraryEchoProbe(platform::HWND window, const platform::sockaddr_in* destination,
                     unsigned timeoutMs, std::uint32_t* rtt);

// The text of a library status code, written into `text` (at least ICMP_STATUS_TEXT_SIZE
// bytes), which is returned.
const char* IcmpStatusText(unsigned code, char* text);

constexpr unsigned ROUND_TRIP_TEXT_SIZE = 12;
// A round trip in milliseconds as a person reads it, written into `text` (at least
// ROUND_TRIP_TEXT_SIZE bytes), which is returned: "<1" under a millisecond, else the
// number. The values kept and logged stay whole milliseconds.
const char* RoundTripText(std::uint32_t milliseconds, char* text);

// Prints "[debug] ..." for a reply record through AppendToolLine (verbose mode only).
void PrintEchoReplyDebug(const platform::ICMP_ECHO_REPLY* reply);
