// The echo engine over the system ICMP library: loading and releasing the library, the echo
// set that the ping and trace tools send their echoes through, the texts of the library's
// status codes and the tools' lines about a reply record.
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
// the ICMP library option and the next call tries again.
int LoadIcmpLibrary();
// Releases the library if it was loaded (at shutdown).
void UnloadIcmpLibrary();

/*** the echo set ***/

// What echoes through the library need from the first to the last of one tool run: opened
// once, then one echo sent and its answer taken at a time, then closed. Each echo carries
// the data length Tool Options had when the set was opened.
struct LibraryEchoSet {
    bool ipv6;               // the echoes go to an IPv6 address
    const char* data;        // dataLength bytes of the banner, then zero bytes
    bool dataAllocated;      // data is the set's own, freed on closing
    unsigned dataLength;     // bytes of data in each echo
    void* reply;             // the reply buffer: one reply record and the echoed data
    unsigned replySize;      // bytes of the reply buffer
    platform::HANDLE handle; // the library's echo handle
    platform::DWORD status;  // of the last echo: its record's status, or why none was made
    bool answered;           // a reply record has been made since the set was opened
    platform::ICMP_ECHO_REPLY lastAnswer; // that record, kept past later failures; of an IPv6
                                          // echo, its status, round trip and data size
    platform::sockaddr_storage lastFrom;  // who answered in that record, of either family
};

enum LibraryEchoOpening {
    ECHO_SET_OPEN = 0,   // ready for echoes; close it when done
    ECHO_SET_NO_LIBRARY, // the library cannot be loaded: nothing to close
    ECHO_SET_NO_BUFFER,  // the reply buffer could not be allocated: nothing to close
    ECHO_SET_NO_HANDLE,  // the library gave no echo handle: nothing to close
};

// Loads the library when needed, brings the Tool Options data length within the engines'
// bounds and makes the data, the reply buffer and the echo handle, for IPv6 echoes when
// `ipv6`.
LibraryEchoOpening OpenLibraryEcho(LibraryEchoSet* set, bool ipv6 = false);
// Sends one echo to `destination` (of the set's family) with time-to-live or hop limit
// `ttl` (0: the system's) and returns; its end, an answer or `timeoutMs` passed, is posted to
// `window` as `message` (word parameter the set's handle). True when it is under way; false when it
// failed before anything was sent, with the reason in `status`.
bool StartLibraryEcho(LibraryEchoSet* set, platform::HWND window, platform::UINT message,
                      const platform::sockaddr_storage& destination, unsigned ttl,
                      unsigned timeoutMs);
// On the end of that echo: true when its answer made a reply record, false when none came,
// with the reason in `status`.
bool TakeLibraryEchoEnd(LibraryEchoSet* set);
// The record of the last answer that made one since the set was opened; null before any.
const platform::ICMP_ECHO_REPLY* TakeLibraryEchoAnswer(const LibraryEchoSet* set);
// Releases the echo handle, the reply buffer and the data of an open set.
void CloseLibraryEcho(LibraryEchoSet* set);

/*** texts ***/

// The text of a library status code, written into `text` (at least ICMP_STATUS_TEXT_SIZE
// bytes), which is returned.
const char* IcmpStatusText(unsigned code, char* text);

constexpr unsigned ROUND_TRIP_TEXT_SIZE = 12;
// A round trip in milliseconds as a person reads it, written into `text` (at least
// ROUND_TRIP_TEXT_SIZE bytes), which is returned: "<1" under a millisecond, else the
// number. The values kept and logged stay whole milliseconds.
const char* RoundTripText(std::uint32_t milliseconds, char* text);

constexpr unsigned ADDRESS_TEXT_SIZE = platform::INET6_ADDRSTRLEN;
// An address of either family as the tools print it (IPv6 in its short form, without a
// zone), written into `text` (ADDRESS_TEXT_SIZE bytes), which is returned.
const char* AddressText(const platform::sockaddr_storage& address, char* text);

// The tools' line about the set's last answer, "<n> bytes from <address>: time=<t> ms" for
// an echo reply and "<status> from <address>: time=<t> ms" for a router's error, followed in
// verbose mode by the "[debug]" line.
void PrintEchoReply(const LibraryEchoSet* set);
// Prints "[debug] ..." for a reply record through AppendToolLine (verbose mode only).
void PrintEchoReplyDebug(const platform::ICMP_ECHO_REPLY* reply);
