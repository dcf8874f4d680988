// The ICMP library engine: the library is loaded on first use and kept until shutdown;
// an echo set (data, reply buffer and echo handle) lives for one tool run.
// Order: globals, loading, the echo set, texts.
#include "icmp/icmplib.h"

#include "icmp/rawecho.h"
#include "model/settings.h"
#include "platform/system.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace platform;

/*** globals ***/

const char echoFillText[ECHO_FILL_TEXT_LENGTH + 1] = "Tarnmap network monitor: map, poll, alarms.";
static_assert(sizeof echoFillText == ECHO_FILL_TEXT_LENGTH + 1);

int icmpLibraryLoaded = 0;

/*** loading ***/

int LoadIcmpLibrary() {
    if (icmpLibraryLoaded)
        return 1;
    if (!OpenIcmpLibrary()) {
        options.useIcmpLibrary = 0;
        return 0;
    }
    icmpLibraryLoaded = 1;
    return 1;
}

void UnloadIcmpLibrary() {
    if (icmpLibraryLoaded)
        CloseIcmpLibrary();
}

/*** the echo set ***/

// The data of an echo: dataLength bytes of the banner followed by zero bytes, the banner
// itself when it is long enough. A data length that cannot be allocated falls back to the
// banner's.
static void PrepareEchoData(LibraryEchoSet* set) {
    set->dataAllocated = false;
    set->data = echoFillText;
    if (ECHO_FILL_TEXT_LENGTH >= set->dataLength)
        return;
    // The banner with its terminator, then zeros; five spare bytes beyond what is sent.
    auto* data = static_cast<char*>(std::calloc(set->dataLength + 5, 1));
    if (data == nullptr) {
        set->dataLength = ECHO_FILL_TEXT_LENGTH;
        return;
    }
    std::memcpy(data, echoFillText, sizeof echoFillText);
    set->data = data;
    set->dataAllocated = true;
}

static void FreeEchoData(LibraryEchoSet* set) {
    if (set->dataAllocated)
        std::free(const_cast<char*>(set->data));
    set->data = nullptr;
    set->dataAllocated = false;
}

LibraryEchoOpening OpenLibraryEcho(LibraryEchoSet* set) {
    *set = LibraryEchoSet{};
    set->handle = INVALID_HANDLE_VALUE;
    if (!LoadIcmpLibrary())
        return ECHO_SET_NO_LIBRARY;
    toolOptions.echoDataLength = BoundEchoDataLength(toolOptions.echoDataLength);
    set->dataLength = toolOptions.echoDataLength;
    PrepareEchoData(set);
    toolOptions.echoDataLength = set->dataLength;
    set->replySize = static_cast<unsigned>(IcmpReplyBufferSize(set->dataLength));
    set->reply = std::calloc(set->replySize, 1);
    if (set->reply == nullptr) {
        FreeEchoData(set);
        return ECHO_SET_NO_BUFFER;
    }
    set->handle = IcmpCreateFile();
    if (set->handle == INVALID_HANDLE_VALUE) {
        std::free(set->reply);
        set->reply = nullptr;
        FreeEchoData(set);
        return ECHO_SET_NO_HANDLE;
    }
    return ECHO_SET_OPEN;
}

bool StartLibraryEcho(LibraryEchoSet* set, HWND window, UINT message, std::uint32_t destination,
                      unsigned ttl, unsigned timeoutMs) {
    IP_OPTION_INFORMATION header{};
    header.Ttl = static_cast<std::uint8_t>(ttl);
    IcmpSendEcho2(set->handle, window, message, destination, set->data,
                  static_cast<WORD>(set->dataLength), ttl != 0 ? &header : nullptr, set->reply,
                  set->replySize, timeoutMs);
    set->status = GetLastError();
    return set->status == ERROR_IO_PENDING;
}

bool TakeLibraryEchoEnd(LibraryEchoSet* set) {
    bool answered = IcmpParseReplies(set->reply, set->replySize) != 0;
    set->status = GetLastError();
    if (!answered)
        return false;
    set->answered = true;
    set->lastAnswer = *static_cast<const ICMP_ECHO_REPLY*>(set->reply);
    return true;
}

const ICMP_ECHO_REPLY* TakeLibraryEchoAnswer(const LibraryEchoSet* set) {
    return set->answered ? &set->lastAnswer : nullptr;
}

void CloseLibraryEcho(LibraryEchoSet* set) {
    IcmpCloseHandle(set->handle);
    set->handle = INVALID_HANDLE_VALUE;
    std::free(set->reply);
    set->reply = nullptr;
    FreeEchoData(set);
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

void PrintEchoReply(const ICMP_ECHO_REPLY* reply) {
    char status[ICMP_STATUS_TEXT_SIZE];
    char time[ROUND_TRIP_TEXT_SIZE];
    in_addr from{};
    from.s_addr = reply->Address;
    RoundTripText(reply->RoundTripTime, time);
    if (reply->Status == IP_SUCCESS)
        PrintToolLine("%d bytes from %s: time=%s ms", reply->DataSize, inet_ntoa(from), time);
    else
        PrintToolLine("%s from %s: time=%s ms", IcmpStatusText(reply->Status, status),
                      inet_ntoa(from), time);
    PrintEchoReplyDebug(reply);
}

void PrintEchoReplyDebug(const ICMP_ECHO_REPLY* reply) {
    char line[64];
    std::snprintf(line, sizeof line, "[debug] %lu %02x %02x %02x %02x",
                  static_cast<unsigned long>(reply->Status), reply->Options.Ttl, reply->Options.Tos,
                  reply->Options.Flags, reply->Options.OptionsSize);
    AppendToolLine(toolEcho.outputBox, line);
}
