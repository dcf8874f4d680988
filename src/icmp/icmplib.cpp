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

LibraryEchoOpening OpenLibraryEcho(LibraryEchoSet* set, bool ipv6) {
    *set = LibraryEchoSet{};
    set->ipv6 = ipv6;
    set->handle = INVALID_HANDLE_VALUE;
    if (!LoadIcmpLibrary())
        return ECHO_SET_NO_LIBRARY;
    toolOptions.echoDataLength = BoundEchoDataLength(toolOptions.echoDataLength);
    set->dataLength = toolOptions.echoDataLength;
    PrepareEchoData(set);
    toolOptions.echoDataLength = set->dataLength;
    set->replySize = static_cast<unsigned>(ipv6 ? Icmp6ReplyBufferSize(set->dataLength)
                                                : IcmpReplyBufferSize(set->dataLength));
    set->reply = std::calloc(set->replySize, 1);
    if (set->reply == nullptr) {
        FreeEchoData(set);
        return ECHO_SET_NO_BUFFER;
    }
    set->handle = ipv6 ? Icmp6CreateFile() : IcmpCreateFile();
    if (set->handle == INVALID_HANDLE_VALUE) {
        std::free(set->reply);
        set->reply = nullptr;
        FreeEchoData(set);
        return ECHO_SET_NO_HANDLE;
    }
    return ECHO_SET_OPEN;
}

bool StartLibraryEcho(LibraryEchoSet* set, HWND window, UINT message,
                      const sockaddr_storage& destination, unsigned ttl, unsigned timeoutMs) {
    IP_OPTION_INFORMATION header{};
    header.Ttl = static_cast<std::uint8_t>(ttl);
    const IP_OPTION_INFORMATION* requestOptions = ttl != 0 ? &header : nullptr;
    if (set->ipv6) {
        sockaddr_in6 target;
        std::memcpy(&target, &destination, sizeof target);
        Icmp6SendEcho2(set->handle, window, message, nullptr, &target, set->data,
                       static_cast<WORD>(set->dataLength), requestOptions, set->reply,
                       set->replySize, timeoutMs);
    } else {
        sockaddr_in target;
        std::memcpy(&target, &destination, sizeof target);
        IcmpSendEcho2(set->handle, window, message, target.sin_addr.s_addr, set->data,
                      static_cast<WORD>(set->dataLength), requestOptions, set->reply,
                      set->replySize, timeoutMs);
    }
    set->status = GetLastError();
    return set->status == ERROR_IO_PENDING;
}

// An IPv6 record as the IPv4 one the tools read, and who answered.
static void TakeEcho6Record(LibraryEchoSet* set) {
    ICMPV6_ECHO_REPLY record;
    std::memcpy(&record, set->reply, sizeof record);
    set->lastAnswer = ICMP_ECHO_REPLY{};
    set->lastAnswer.Status = record.Status;
    set->lastAnswer.RoundTripTime = record.RoundTripTime;
    // An echo reply carries our data back; an error, none.
    set->lastAnswer.DataSize =
        record.Status == IP_SUCCESS ? static_cast<WORD>(set->dataLength) : WORD{0};
    sockaddr_in6 from{};
    from.sin6_family = AF_INET6;
    std::memcpy(from.sin6_addr.u.Byte, record.Address.sin6_addr, 16);
    set->lastFrom = sockaddr_storage{};
    std::memcpy(&set->lastFrom, &from, sizeof from);
}

bool TakeLibraryEchoEnd(LibraryEchoSet* set) {
    bool answered = (set->ipv6 ? Icmp6ParseReplies(set->reply, set->replySize)
                               : IcmpParseReplies(set->reply, set->replySize)) != 0;
    set->status = GetLastError();
    if (!answered)
        return false;
    set->answered = true;
    if (set->ipv6) {
        TakeEcho6Record(set);
        return true;
    }
    set->lastAnswer = *static_cast<const ICMP_ECHO_REPLY*>(set->reply);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = set->lastAnswer.Address;
    set->lastFrom = sockaddr_storage{};
    std::memcpy(&set->lastFrom, &from, sizeof from);
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

const char* AddressText(const sockaddr_storage& address, char* text) {
    text[0] = '\0';
    if (address.ss_family == AF_INET6) {
        sockaddr_in6 ipv6;
        std::memcpy(&ipv6, &address, sizeof ipv6);
        inet_ntop(AF_INET6, &ipv6.sin6_addr, text, ADDRESS_TEXT_SIZE);
    } else {
        sockaddr_in ipv4;
        std::memcpy(&ipv4, &address, sizeof ipv4);
        inet_ntop(AF_INET, &ipv4.sin_addr, text, ADDRESS_TEXT_SIZE);
    }
    return text;
}

void PrintEchoReply(const LibraryEchoSet* set) {
    const ICMP_ECHO_REPLY* reply = &set->lastAnswer;
    char status[ICMP_STATUS_TEXT_SIZE];
    char time[ROUND_TRIP_TEXT_SIZE];
    char from[ADDRESS_TEXT_SIZE];
    AddressText(set->lastFrom, from);
    RoundTripText(reply->RoundTripTime, time);
    if (reply->Status == IP_SUCCESS)
        PrintToolLine("%d bytes from %s: time=%s ms", reply->DataSize, from, time);
    else
        PrintToolLine("%s from %s: time=%s ms", IcmpStatusText(reply->Status, status), from, time);
    PrintEchoReplyDebug(reply);
}

void PrintEchoReplyDebug(const ICMP_ECHO_REPLY* reply) {
    char line[64];
    std::snprintf(line, sizeof line, "[debug] %lu %02x %02x %02x %02x",
                  static_cast<unsigned long>(reply->Status), reply->Options.Ttl, reply->Options.Tos,
                  reply->Options.Flags, reply->Options.OptionsSize);
    AppendToolLine(toolEcho.outputBox, line);
}
