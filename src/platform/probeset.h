// The checks of one poll cycle in flight together: ICMP echoes through one socket of an
// echo engine's kind, TCP connects and name look-ups, each started by the caller under a
// key of its own, each with its own deadline; a window message when outcomes became known,
// and every outcome kept until the caller takes it, in whatever order it wants them.
// Nothing here waits: sockets are watched by notifiers and the nearest deadline by one
// precise timer on the event loop.
#pragma once

#include "platform/icmplib.h"
#include "platform/types.h"

#include <cstdint>

namespace platform {

struct sockaddr; // a sockaddr_in or sockaddr_in6 of platform/winsock.h

// How a set sends its echoes: with no engine, through the raw engine's raw ICMP socket, or
// through the library engine's socket, a ping socket where the system allows one to us and
// a raw one otherwise.
constexpr int PROBE_ECHO_NONE = 0;
constexpr int PROBE_ECHO_RAW = 1;
constexpr int PROBE_ECHO_LIBRARY = 2;

// Statuses of outcomes, besides the library engine's IP_* codes:
constexpr DWORD PROBE_ECHO_ERROR = 11;           // raw engine: an ICMP error about the request
constexpr DWORD PROBE_NO_REPLY = 15;             // raw engine: nothing answered in time
constexpr DWORD PROBE_NOT_SENT = 10065;          // raw engine: the request could not be sent
constexpr DWORD PROBE_CONNECT_TIMED_OUT = 10004; // connect: not done by the deadline
constexpr DWORD PROBE_NOT_RESOLVED = 11002;      // look-up: no answer by the deadline (try again)

// What a probe came to.
struct PROBE_OUTCOME {
    // Echo, raw engine: 0 our reply from the destination; PROBE_ECHO_ERROR; PROBE_NO_REPLY;
    //   PROBE_NOT_SENT.
    // Echo, library engine: IP_SUCCESS; the status of an ICMP error quoting the request
    //   (IcmpErrorStatus); IP_REQ_TIMED_OUT; a send failure (IP_DEST_NET_UNREACHABLE,
    //   IP_DEST_HOST_UNREACHABLE, IP_PACKET_TOO_BIG, IP_NO_RESOURCES, IP_GENERAL_FAILURE,
    //   IP_BAD_DESTINATION for 0.0.0.0 and 255.255.255.255), as IcmpSendEcho2 gives them.
    // Connect: 0 when it connected or was refused (the host is there either way);
    //   PROBE_CONNECT_TIMED_OUT; else the Winsock number of the failure (10051, 10065,
    //   10060, ...).
    // Look-up: 0 resolved; the resolver's Winsock number (11001 to 11004); or
    //   PROBE_NOT_RESOLVED when no answer came by the deadline.
    DWORD status;
    // Library engine, answered (a reply or an ICMP error): whole milliseconds from the send
    // to the kernel's arrival time of the answer, however late the program read it. 0 for
    // everything else; the raw engine reports none.
    DWORD roundTripTime;
    // Echo: who answered (the destination, or the router that sent the error); look-up:
    // the first address of the family asked for; otherwise 0. Network order.
    DWORD address;
    // When that address is an IPv6 one: `address` is 0 and this holds it.
    bool ipv6;
    std::uint8_t address6[16];
};

// Which address of a name a look-up probe gives: the first in the system's order of
// preference, or the first of one family.
constexpr int PROBE_LOOKUP_ANY = 0;
constexpr int PROBE_LOOKUP_IPV4 = 1;
constexpr int PROBE_LOOKUP_IPV6 = 2;

// Makes a set whose outcomes are told to `window` with `message` (word parameter: the set's
// handle; long parameter: 0). One message waits at most: it is posted when an outcome
// becomes known and none is waiting, and TakeProbeOutcome lets the next one be posted.
// `echoEngine` is one of PROBE_ECHO_*; its IPv4 socket is opened now (its ICMPv6 socket of
// the same kind with the first echo to an IPv6 address; when that cannot be opened, the
// echo's outcome is the engine's failure to send), with room in its receive
// buffer for the answers of `expectedProbes` echoes at once. The library engine's requests
// carry `echoData` (`echoDataSize` bytes, copied) and identify themselves as its echo
// handles do; the raw engine's carry 40 bytes (the send tick, least significant byte first,
// then zeros) and identify themselves by the low 16 bits of `window`, both written least
// significant byte first, as its one-at-a-time requests always were. Sequence numbers come
// from NextEchoSequence. Returns the set's handle, or INVALID_HANDLE_VALUE with
// GetLastError() ERROR_ACCESS_DENIED (the system allows us no socket of the engine's kind),
// IP_NO_RESOURCES (out of descriptors or memory) or ERROR_INVALID_PARAMETER.
HANDLE CreateProbeSet(HWND window, UINT message, int echoEngine, unsigned expectedProbes,
                      const void* echoData, WORD echoDataSize);

// Starting a probe sends at once (pacing is the caller's). Its deadline is its start plus
// `timeoutMs`. An answer counts when the kernel took it in by then, however busy the
// program was: what the sockets hold is read before a deadline is declared passed.
// Replies are matched by identifier, sequence and source address, ICMP errors by the
// request they quote; whatever matches no probe of the set is passed over. Each returns
// false, probe not started, with GetLastError() ERROR_INVALID_HANDLE (no such set),
// ERROR_ALREADY_EXISTS (a probe with `key` is in the set), ERROR_INVALID_PARAMETER (an echo
// in a set without an engine, no name), or the Winsock number of a socket that could not be
// opened (connect) or WSAENOBUFS (no look-up worker could be started at all). A send that
// fails is an outcome, known at once.
bool StartEchoProbe(HANDLE set, DWORD key, DWORD destination, DWORD timeoutMs);
// `port` in host order; a non-blocking connect, closed as soon as its outcome is known.
bool StartConnectProbe(HANDLE set, DWORD key, DWORD destination, WORD port, DWORD timeoutMs);
// The same to a socket address of either family (`length` bytes; a connect goes to its
// port); ERROR_INVALID_PARAMETER for one that is neither.
bool StartEchoProbeTo(HANDLE set, DWORD key, const sockaddr* destination, int length,
                      DWORD timeoutMs);
bool StartConnectProbeTo(HANDLE set, DWORD key, const sockaddr* destination, int length,
                         DWORD timeoutMs);
// The look-up runs on the workers that serve WSAAsyncGetHostByName, queued behind them when
// all are busy; it is not cut off at the deadline. Its answer, when it comes later and no probe
// waits for it any more (its deadline passed, or it was cancelled or its set closed), is
// kept in the layer for the next look-up probe of the same name, in any set, which then
// has its outcome at once; a kept answer is dropped when taken, after 24 hours, or when 256
// newer ones are kept. A look-up probe of a name whose look-up is still running waits for
// that one instead of starting another. Failed late answers are not kept. The look-up asks
// for both families; `family` (PROBE_LOOKUP_*) chooses the address given, and a name
// without one of that family is not resolved (WSAHOST_NOT_FOUND).
bool StartLookupProbe(HANDLE set, DWORD key, const char* name, int family, DWORD timeoutMs);

// The outcome of probe `key` once it is known: true, `outcome` filled, and the probe leaves
// the set (its key may be used again). False while it is under way (GetLastError()
// ERROR_IO_PENDING), for a key the set does not hold (ERROR_NOT_FOUND) or a set that does
// not exist (ERROR_INVALID_HANDLE). `outcome` may be null to drop it.
bool TakeProbeOutcome(HANDLE set, DWORD key, PROBE_OUTCOME* outcome);

// Stops a probe, known or not; it leaves the set. False as TakeProbeOutcome's are.
bool CancelProbe(HANDLE set, DWORD key);

// Stops every probe and frees the set; no message comes after, and one posted but not yet
// taken is withdrawn.
bool CloseProbeSet(HANDLE set);

// The datagrams the echo sockets dropped for want of room in its receive buffer since the
// set was made, as the kernel counts them (0 when it does not say). Each dropped answer
// is a probe that times out; a raw socket's count also holds the other ICMP that came
// while it was full.
DWORD ProbeSetDroppedReplies(HANDLE set);

// ICMP_SOCKET_PING or ICMP_SOCKET_RAW for the IPv4 echo socket, ICMP_SOCKET_NONE without
// one.
int ProbeSetEchoSocketKind(HANDLE set);

} // namespace platform
