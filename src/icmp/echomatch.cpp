// The checksum and the answer rules. Multi-byte fields of our requests are read least
// significant byte first, as they were written; addresses are copied as they stand, in
// network order.
#include "icmp/echomatch.h"

#include <cstring>

namespace {

constexpr int IP_HEADER_MIN_SIZE = 20;
constexpr int ICMP_HEADER_SIZE = 8; // type, code, checksum, identifier, sequence
constexpr int PROTOCOL_ICMP = 1;

constexpr unsigned char ECHO_REPLY = 0;
constexpr unsigned char DESTINATION_UNREACHABLE = 3;
constexpr unsigned char SOURCE_QUENCH = 4;
constexpr unsigned char ECHO_REQUEST = 8;
constexpr unsigned char TIME_EXCEEDED = 11;
constexpr unsigned char PARAMETER_PROBLEM = 12;

std::uint16_t ReadWord(const unsigned char* bytes) {
    return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t ReadAddress(const unsigned char* bytes) {
    std::uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

// The length of the IPv4 header at `bytes`, or 0 when there is no sound one within
// `length` bytes with room for an ICMP header behind it.
int IpHeaderLength(const unsigned char* bytes, int length) {
    if (length < IP_HEADER_MIN_SIZE + ICMP_HEADER_SIZE || (bytes[0] >> 4) != 4)
        return 0;
    int header = (bytes[0] & 0x0F) * 4;
    if (header < IP_HEADER_MIN_SIZE || length - header < ICMP_HEADER_SIZE)
        return 0;
    return header;
}

bool CarriesOurRequest(const unsigned char* icmp, const EchoRequestKey& request,
                       bool identifierCounts) {
    return (!identifierCounts || ReadWord(icmp + 4) == request.identifier) &&
           ReadWord(icmp + 6) == request.sequence;
}

bool IsErrorType(unsigned char type) {
    return type == DESTINATION_UNREACHABLE || type == SOURCE_QUENCH || type == TIME_EXCEEDED ||
           type == PARAMETER_PROBLEM;
}

// An error quotes the IP header of the datagram it is about and at least the 8 bytes after
// it: our request's header, identifier and sequence.
bool QuotesOurRequest(const unsigned char* quoted, int length, const EchoRequestKey& request) {
    int header = IpHeaderLength(quoted, length);
    if (header == 0 || quoted[9] != PROTOCOL_ICMP ||
        ReadAddress(quoted + 16) != request.destination)
        return false;
    const unsigned char* echo = quoted + header;
    return echo[0] == ECHO_REQUEST && echo[1] == 0 && CarriesOurRequest(echo, request, true);
}

} // namespace

std::uint16_t InternetChecksum(const unsigned char* bytes, int length) {
    std::uint64_t sum = 0;
    if (length > 0) {
        int words = length / 2;
        for (int index = 0; index < words; ++index)
            sum += ReadWord(bytes + 2 * index);
        if (length % 2 != 0)
            sum += bytes[length - 1]; // the odd byte stays in the low position
    }
    while ((sum >> 16) != 0)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

EchoMatch MatchEchoAnswer(const unsigned char* datagram, int length, std::uint32_t sender,
                          EchoSocketKind kind, const EchoRequestKey& request) {
    int header = 0;
    if (kind == ECHO_SOCKET_RAW) {
        header = IpHeaderLength(datagram, length);
        if (header == 0)
            return ECHO_MATCH_NONE;
    } else if (length < ICMP_HEADER_SIZE) {
        return ECHO_MATCH_NONE;
    }
    const unsigned char* icmp = datagram + header;
    int size = length - header;
    if (InternetChecksum(icmp, size) != 0)
        return ECHO_MATCH_NONE;
    if (icmp[0] == ECHO_REPLY) {
        bool ours = icmp[1] == 0 && sender == request.destination &&
                    CarriesOurRequest(icmp, request, kind == ECHO_SOCKET_RAW);
        return ours ? ECHO_MATCH_REPLY : ECHO_MATCH_NONE;
    }
    if (kind == ECHO_SOCKET_RAW && IsErrorType(icmp[0]) &&
        QuotesOurRequest(icmp + ICMP_HEADER_SIZE, size - ICMP_HEADER_SIZE, request))
        return ECHO_MATCH_ERROR;
    return ECHO_MATCH_NONE;
}
