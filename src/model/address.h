// What a host's address text is: an IPv4 address, an IPv6 address (with the interface of a
// link-local one), an address that can never be checked, or a name to look up. The poll
// cycle, the detail window and the tools decide by it.
#pragma once

#include "model/hosts.h"
#include "platform/winsock.h"

enum AddressKind {
    ADDRESS_NAME,    // anything that is no literal, even when it begins with a digit
    ADDRESS_IPV4,    // a dotted address (its short forms too) or an IPv4-mapped IPv6 one
    ADDRESS_IPV6,    // any other IPv6 address
    ADDRESS_INVALID, // an IPv6 literal that cannot be used: link-local without a zone,
                     // a zone naming no interface, a zone on an address of global scope
};

struct HostAddress {
    AddressKind kind;
    // IPV4: a sockaddr_in; IPV6: a sockaddr_in6 with its scope; port 0. Else zeroed.
    platform::sockaddr_storage socketAddress;
    int socketAddressLength;
    // As shown and logged: an IPv4 text as entered, an IPv6 address in its short form with
    // the zone as entered after "%"; a name or an invalid text as entered (cut).
    char text[ADDRESS_TEXT_LENGTH + 1];
};

// Classifies `text`; an IPv6 literal may stand in brackets, "[2001:db8::1]".
AddressKind ClassifyAddress(const char* text, HostAddress* address);

// The short form of `socketAddress` (a sockaddr_in or sockaddr_in6), without a zone; "" for
// anything else.
void FormatSocketAddress(const platform::sockaddr* socketAddress, char* text, unsigned size);
