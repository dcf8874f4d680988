// Which received ICMP datagram answers which of our echo requests, decided from its bytes
// and its sender alone: the Internet checksum, and the rules by which an echo reply or an
// ICMP error belongs to one request. Pure functions: no sockets, no globals.
#pragma once

#include <cstdint>

// How a datagram was received. A raw socket hands over the IP header first and every ICMP
// message that reaches the host, whoever it was meant for. A datagram (ping) socket hands
// over the ICMP message alone, only echo replies carrying the identifier the kernel gave
// the socket; ICMP errors come through its error queue instead.
enum EchoSocketKind { ECHO_SOCKET_RAW, ECHO_SOCKET_DATAGRAM };

// One echo request as it went out. Identifier and sequence are compared as our requests
// carry them: least significant byte first.
struct EchoRequestKey {
    std::uint32_t destination; // IPv4, network order
    std::uint16_t identifier;  // not compared on a datagram socket (the kernel's own)
    std::uint16_t sequence;
    // A request over ICMPv6 went to `destination6` instead (all zero: none awaited); the
    // tools' raw engine reads its answers, MatchEchoAnswer does not.
    bool ipv6;
    unsigned char destination6[16];
};

enum EchoMatch {
    ECHO_MATCH_NONE = 0, // not an answer to this request: pass it over and wait on
    ECHO_MATCH_REPLY,    // its echo reply, from the address it was sent to
    ECHO_MATCH_ERROR,    // an ICMP error (unreachable, source quench, time exceeded, parameter
                         // problem) quoting this very request
};

// The Internet checksum (RFC 1071) of `length` bytes, words read least significant byte
// first; a length of 0 or less gives 0xFFFF. A message whose checksum field is right sums
// to 0 in either byte order.
std::uint16_t InternetChecksum(const unsigned char* bytes, int length);

// What `datagram` (`length` bytes, from `sender` in network order, received on a socket of
// `kind`) is to `request`. A reply counts only with a good checksum, type 0, our identifier
// (raw socket) and sequence, and `sender` the request's destination. An error counts only
// with a good checksum and when the IP header it quotes was addressed to the request's
// destination and the echo request it quotes carries our identifier and sequence. Reads
// nothing outside the `length` bytes, whatever the lengths inside say.
EchoMatch MatchEchoAnswer(const unsigned char* datagram, int length, std::uint32_t sender,
                          EchoSocketKind kind, const EchoRequestKey& request);
