// ProbeHost: the raw echo when asked for and allowed, else the ICMP library, else a TCP
// connection attempt in which a refused connection is an answer.
#include "monitor/probe.h"

#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/poll.h"
#include "platform/window.h"
#include "platform/winsock.h"

using namespace platform;

/*** globals ***/

int rawIcmpUsed = 0;
static sockaddr_in probeAddress;

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
    useRawIcmp = 0;
    probeAddress.sin_port = htons(static_cast<std::uint16_t>(probePort));
    host.rtt = 0;
    SetTimer(window, WAIT_TIMER_ID, waitTimeout, nullptr);
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
    probeAddress = sockaddr_in{};
    probeAddress.sin_family = AF_INET;
    probeAddress.sin_addr.s_addr = inet_addr(host.resolvedAddr);
    if (probeAddress.sin_addr.s_addr == INADDR_NONE) {
        host.status = STATUS_INVALID_ADDRESS;
        return STATUS_INVALID_ADDRESS;
    }
    if (useRawIcmp == 1) {
        SOCKET raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
        if (raw != INVALID_SOCKET) {
            rawIcmpUsed = 1;
            host.status = static_cast<std::uint32_t>(EchoProbe(window, raw, &probeAddress));
            closesocket(raw);
            host.rtt = 0;
            return ProbeResult(host.status);
        }
    }
    if (useIcmpLibrary == 1) {
        host.status = LibraryEchoProbe(window, &probeAddress, waitTimeout, &host.rtt);
        return ProbeResult(host.status);
    }
    return ProbeByConnection(window, host);
}
