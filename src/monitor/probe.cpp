// The engine of a cycle: the raw echo when asked for and allowed, else the ICMP library,
// else a TCP connection attempt in which the host's own refusal is an answer; the notice
// that says how to allow ICMP when the system refuses it; and what each engine's outcomes
// mean for a host.
#include "monitor/probe.h"

#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "model/settings.h"
#include "monitor/log.h"
#include "platform/system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

int rawIcmpUsed = 0;

IcmpNotice icmpNotice = {"", 0, nullptr};

// What the library engine's echoes carry: the banner, then zero bytes.
static char libraryEchoData[ECHO_DATA_LENGTH_MAX];

/*** the ICMP permission notice ***/

// Both ways to let an unprivileged user ping: ping sockets for every group, or the raw
// socket capability on this very program file, which raises it only to open the socket.
static void GiveIcmpPermissionNotice() {
    if (icmpNotice.text[0] != '\0')
        return;
    char program[320]; // with the rest of the text within ICMP_NOTICE_LENGTH; longer: bare
    if (GetProgramPath(program, sizeof program) == 0)
        CopyField(program, sizeof program, "tarnmap");
    std::snprintf(icmpNotice.text, sizeof icmpNotice.text,
                  "ICMP echo not permitted, checking by TCP port %u. As root, allow it: "
                  "sysctl -w net.ipv4.ping_group_range=\"0 2147483647\" "
                  "or setcap cap_net_raw+p %s",
                  options.probePort, program);
    icmpNotice.unshown = 1;
    LogLine(icmpNotice.text);
}

/*** the engine ***/

// The library engine's echoes carry the data length Tool Options gives the tools' echoes.
static WORD PrepareLibraryEchoData() {
    toolOptions.echoDataLength = BoundEchoDataLength(toolOptions.echoDataLength);
    unsigned length = toolOptions.echoDataLength;
    std::memset(libraryEchoData, 0, length);
    std::memcpy(libraryEchoData, echoFillText, std::min<unsigned>(length, sizeof echoFillText));
    return static_cast<WORD>(length);
}

HANDLE OpenCheckProbes(HWND window, UINT message, unsigned hosts, CheckEngine* engine) {
    // Refused for want of permission, as opposed to out of descriptors or memory.
    bool icmpRefused = false;
    if (options.useRawIcmp == 1) {
        HANDLE set = CreateProbeSet(window, message, PROBE_ECHO_RAW, hosts, nullptr, 0);
        if (set != INVALID_HANDLE_VALUE) {
            rawIcmpUsed = 1;
            *engine = ENGINE_RAW;
            return set;
        }
        icmpRefused = GetLastError() == ERROR_ACCESS_DENIED;
    }
    if (options.useIcmpLibrary == 1) {
        // A library that cannot be loaded says nothing about the hosts: they go by TCP.
        if (LoadIcmpLibrary()) {
            WORD length = PrepareLibraryEchoData();
            HANDLE set =
                CreateProbeSet(window, message, PROBE_ECHO_LIBRARY, hosts, libraryEchoData, length);
            if (set != INVALID_HANDLE_VALUE) {
                *engine = ENGINE_LIBRARY;
                return set;
            }
        }
        icmpRefused = GetLastError() == ERROR_ACCESS_DENIED;
    }
    if (icmpRefused)
        GiveIcmpPermissionNotice();
    options.useRawIcmp = 0;
    *engine = ENGINE_TCP;
    return CreateProbeSet(window, message, PROBE_ECHO_NONE, hosts, nullptr, 0);
}

const char* EngineLabel(CheckEngine engine) {
    return engine == ENGINE_RAW ? "rs_icmp" : engine == ENGINE_LIBRARY ? "ms_icmp" : "tcp";
}

bool StartCheckProbe(HANDLE set, CheckEngine engine, DWORD key, sockaddr_storage destination,
                     int length) {
    auto* target = reinterpret_cast<sockaddr*>(&destination);
    if (engine == ENGINE_TCP) {
        // Both layouts keep the port right after the family.
        reinterpret_cast<sockaddr_in*>(&destination)->sin_port =
            htons(static_cast<WORD>(options.probePort));
        return StartConnectProbeTo(set, key, target, length, options.waitTimeout);
    }
    return StartEchoProbeTo(set, key, target, length, options.waitTimeout);
}

DWORD CutCheckStatus(CheckEngine engine) {
    return engine == ENGINE_RAW       ? PROBE_NO_REPLY
           : engine == ENGINE_LIBRARY ? IP_REQ_TIMED_OUT
                                      : PROBE_CONNECT_TIMED_OUT;
}

/*** outcomes ***/

int TakeCheckOutcome(CheckEngine engine, const PROBE_OUTCOME& outcome, HostRecord& host) {
    host.status = outcome.status;
    // Only a library echo's answer carries a round trip; it counts when it was a reply.
    host.rtt = engine == ENGINE_LIBRARY ? outcome.roundTripTime : 0;
    host.rttTaken = engine == ENGINE_LIBRARY && outcome.status == IP_SUCCESS ? 1 : 0;
    return outcome.status == 0 ? 0 : -1;
}
