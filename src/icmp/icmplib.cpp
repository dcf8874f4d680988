// The ICMP library engine: the library is loaded on first use and kept until shutdown;
// echo data, reply buffer and echo handle live for one probe (or one tool run, which
// builds them with the same calls).
#include "icmp/icmplib.h"

#include "icmp/rawecho.h"
#include "model/settings.h"
#include "platform/system.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using platform::DWORD;
using platform::HANDLE;
using platform::ICMP_ECHO_REPLY;
using platform::INVALID_HANDLE_VALUE;

/*** globals ***/

const char echoFillText[ECHO_FILL_TEXT_LENGTH + 1] = "Tarnmap network monitor: map, poll, alarms.";
static_assert(sizeof echoFillText == ECHO_FILL_TEXT_LENGTH + 1);

int icmpLibraryLoaded = 0;

/*** loading ***/

int LoadIcmpLibrary() {
    if (icmpLibraryLoaded)
        return 1;
    if (!platform::OpenIcmpLibrary()) {
        useIcmpLibrary = 0;
        return 0;
    }
    icmpLibraryLoaded = 1;
    return 1;
}

void UnloadIcmpLibrary() {
    if (icmpLibraryLoaded)
        platform::CloseIcmpLibrary();
}

/*** buffers ***/

const char* PrepareEchoData(bool* allocated) {
    toolOptions.echoDataLength = BoundEchoDataLength(toolOptions.echoDataLength);
    *allocated = false;
    if (ECHO_FILL_TEXT_LENGTH >= toolOptions.echoDataLength)
        return echoFillText;
    // The banner with its terminator, then zeros; five spare bytes beyond what is sent.
    auto* data = static_cast<char*>(std::calloc(toolOptions.echoDataLength + 5, 1));
    if (data == nullptr) {
        toolOptions.echoDataLength = ECHO_FILL_TEXT_LENGTH;
        return echoFillText;
    }
    std::memcpy(data, echoFillText, sizeof echoFillText);
    *allocated = true;
    return data;
}

void FreeEchoData(const char* data, bool allocated) {
    if (allocated)
        std::free(const_cast<char*>(data));
}

unsigned EchoReplyBufferSize() {
    return static_cast<unsigned>(platform::IcmpReplyBufferSize(toolOptions.echoDataLength));
}

void* AllocateEchoReplyBuffer() {
    return std::calloc(EchoReplyBufferSize(), 1);
}

void FreeEchoReplyBuffer(void* buffer) {
    std::free(buffer);
}

/*** the monitor's probe ***/

int LibraryEchoProbe(platform::HWND, const platform::sockaddr_in* destination, unsigned timeoutMs,
                     std::uint32_t* rtt) {
    if (!LoadIcmpLibrary())
        return -1;
    *rtt = 0;
    bool allocated = false;
    const char* data = PrepareEchoData(&allocated);
    void* reply = AllocateEchoReplyBuffer();
    if (reply == nullptr) {
        AppendToolLine(toolEcho.outputBox, "failed to allocate reply buffer");
        FreeEchoData(data, allocated);
        return -1;
    }
    HANDLE handle = platform::IcmpCreateFile();
    if (handle == INVALID_HANDLE_VALUE) {
        FreeEchoReplyBuffer(reply);
        FreeEchoData(data, allocated);
        return platform::WSAEHOSTUNREACH;
    }
    DWORD records = platform::IcmpSendEcho(handle, destination->sin_addr.s_addr, data,
                                           static_cast<platform::WORD>(toolOptions.echoDataLength),
                                           nullptr, reply, EchoReplyBufferSize(), timeoutMs);
    int status = 0;
    if (records > 0) {
        const auto* record = static_cast<const ICMP_ECHO_REPLY*>(reply);
        *rtt = record->RoundTripTime;
        status = static_cast<int>(record->Status);
    } else {
        status = static_cast<int>(platform::GetLastError());
    }
    platform::IcmpCloseHandle(handle);
    FreeEchoReplyBuffer(reply);
    FreeEchoData(data, allocated);
    return status;
}

/*** texts ***/

const char* RoundTripText(std::uint32_t milliseconds, char* text) {
    if (milliseconds == 0)
        std::snprintf(text, ROUND_TRIP_TEXT_SIZE, "<1");
    else
        std::snprintf(text, ROUND_TRIP_TEXT_SIZE, "%u", static_cast<unsigned>(milliseconds));
    return text;
}

const char* IcmpStatusText(unsigned code, char* text) {
    static const char* const texts[] = {"buffer too small",
                                        "network unreachable",
                                        "host unreachable",
                                        "protocol unreachable",
                                        "port unreachable",
                                        "no resources",
                                        "bad option",
                                        "hardware error",
                                        "packet too big",
                                        "timed out",
                                        "bad request",
                                        "bad route",
                                        "TTL expired during transit",
                                        "TTL expired during reassembly",
                                        "parameter problem",
                                        "source quench",
                                        "option too big",
                                        "bad destination"};
    if (code >= 11001 && code <= 11018)
        std::snprintf(text, ICMP_STATUS_TEXT_SIZE, "%s", texts[code - 11001]);
    else
        std::snprintf(text, ICMP_STATUS_TEXT_SIZE, "return code %u", code);
    return text;
}

void PrintEchoReplyDebug(const ICMP_ECHO_REPLY* reply) {
    char line[64];
    std::snprintf(line, sizeof line, "[debug] %lu %02x %02x %02x %02x",
                  static_cast<unsigned long>(reply->Status), reply->Options.Ttl, reply->Options.Tos,
                  reply->Options.Flags, reply->Options.OptionsSize);
    AppendToolLine(toolEcho.outputBox, line);
}
