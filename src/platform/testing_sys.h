// What tests use to watch and steer the system half of the platform layer without replacing
// it: the journal of outside effects, the settings files' parse cache, where a sound is
// found and whether one plays, the plain program start, the socket layer's error numbers,
// and the ICMP library's socket kinds and pure parts (which the fuzz targets feed too). The
// real code always runs; these only observe. The window half's seams are in testing.h.
#pragma once

#include "platform/icmplib.h"
#include "platform/types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// ---- The journal ----
// A record of what the program did to the outside world (programs started, sounds played,
// message boxes shown, ...), "kind: text" an entry, kept only while a test has switched it
// on. It observes; the real action always happens as well.
void EnableJournal(bool enabled);
void ClearJournal();
std::vector<std::string> JournalEntries();

// ---- Settings files ----
// Forgets every cached parse (tests that rewrite files within one timestamp tick use it).
void FlushProfileCache();
// How many times a settings file has been read and parsed since the program started; tests
// use it to see that unchanged files are not parsed again.
unsigned ProfileParseCount();

// ---- Sounds ----
// Where the sound `name` would be played from; false when it is nowhere.
bool FindSoundFile(const char* name, char* path, unsigned size);
// True while a sound is playing (or looping).
bool IsSoundPlaying();

// ---- Programs ----
// WinExecWithArguments without arguments of its own.
UINT WinExec(const char* commandLine, UINT showState);

// ---- Sockets ----
// The Winsock error number for a system errno value, and for a resolver (h_errno) code.
int WinsockErrorFromErrno(int systemError);
int WinsockErrorFromResolver(int resolverError);
// Ends the name look-up workers that wait for a job, and waits until they have ended. Each
// worker stays in the network namespace of the thread that started it, so a test that
// enters a namespace of its own ends those left by the tests before it.
void EndIdleLookupWorkers();

// ---- The ICMP library ----
// What an echo handle sends through.
constexpr int ICMP_SOCKET_NONE = 0;
constexpr int ICMP_SOCKET_PING = 1; // datagram ping socket, allowed by net.ipv4.ping_group_range
constexpr int ICMP_SOCKET_RAW = 2;  // raw ICMP socket, needs CAP_NET_RAW

// The socket kind behind an open echo handle, ICMP_SOCKET_NONE when it is not open.
int IcmpHandleKind(HANDLE handle);

// The reply status of an ICMP error of `type` and `code` (IcmpSendEcho2's table), or
// IP_SUCCESS for a type that is not an error about our request (echo reply, redirect, ...).
DWORD IcmpErrorStatus(int type, int code);
// The same for an ICMPv6 error: unreachable no route 11002, prohibited, failed policy and
// rejected route 11004, address 11003 (and any other code), port 11005; packet too big
// 11009; hop limit exceeded in transit 11013, in reassembly 11014; parameter problem 11015.
DWORD Icmp6ErrorStatus(int type, int code);

// The Internet checksum of `length` bytes, words read most significant byte first.
std::uint16_t InternetChecksum(const unsigned char* bytes, std::size_t length);

} // namespace platform
