// ProbeHost: the raw echo when asked for and allowed, else the ICMP library, else a TCP
// connection attempt in which a refused connection is an answer; and the notice that says
// how to allow ICMP when the system refuses it.
#include "monitor/probe.h"

#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/log.h"
#include "monitor/poll.h"
#include "platform/system.h"
#include "platform/window.h"
#include "platform/winsock.h"

#include <cstdio>

using namespace platform;

/*** globals ***/

int rawIcmpUsed = 0;
static sockaddr_in probeAddress;

IcmpNotice icmpNotice = {"", 0, nullptr};

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

/*** the probes ***/

static constexpr int HOST_UNREACHABLE = 10065;
static constexpr int CONNECTION_REFUSED = 10061;

// The unreachable code of a send that failed counts as a plain failed check.
static int ProbeResult(unsigned status) {
    return status == HOST_UNREACHABLE ? -1 : static_cast<int>(status);
}

static int ProbeByConnection(HWND window, HostRecord& host) {
    SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connection == INVALID_SOCKET)
        return -1;
    options.useRawIcmp = 0;
    probeAddress.sin_port = htons(static_cast<std::uint16_t>(options.probePort));
    host.rtt = 0;
    SetTimer(window, WAIT_TIMER_ID, options.waitTimeout, nullptr);
    int result = 0;
    if (connect(connection, reinterpret_cast<const sockaddr*>(&probeAddress),
                sizeof probeAddress) == 0) {
        host.status = 0;
    } else {
        int error = WSAGetLastError();
        if (error == CONNECTION_REFUSED) {
            host.status = 0;
        } else {
            host.status = static_cast<std::uint32_t>(error);
            result = -1;
        }
    }
    KillTimer(window, WAIT_TIMER_ID);
    closesocket(connection);
    return result;
}

int ProbeHost(HWND window, HostRecord& host) {
    if (WSAIsBlocking())
        WSACancelBlockingCall();
    if (host.flags != 0)
        return -1;
    host.rttTaken = 0;
    probeAddress = sockaddr_in{};
    probeAddress.sin_family = AF_INET;
    probeAddress.sin_addr.s_addr = inet_addr(host.resolvedAddr);
    if (probeAddress.sin_addr.s_addr == INADDR_NONE) {
        host.status = STATUS_INVALID_ADDRESS;
        return STATUS_INVALID_ADDRESS;
    }
    // Refused for want of permission, as opposed to out of descriptors or memory.
    bool icmpRefused = false;
    if (options.useRawIcmp == 1) {
        SOCKET raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        if (raw != INVALID_SOCKET) {
            rawIcmpUsed = 1;
            host.status = static_cast<std::uint32_t>(EchoProbe(window, raw, &probeAddress));
            closesocket(raw);
            host.rtt = 0;
            return ProbeResult(host.status);
        }
        icmpRefused = WSAGetLastError() == WSAEACCES;
    }
    if (options.useIcmpLibrary == 1) {
        // A library that cannot be loaded says nothing about the host: this check goes by
        // TCP like every later one.
        if (LoadIcmpLibrary()) {
            host.status = LibraryEchoProbe(&probeAddress, options.waitTimeout, &host.rtt);
            host.rttTaken = host.status == 0 ? 1 : 0;
            return ProbeResult(host.status);
        }
        icmpRefused = GetLastError() == ERROR_ACCESS_DENIED;
    }
    if (icmpRefused)
        GiveIcmpPermissionNotice();
    return ProbeByConnection(window, host);
}
