// Address texts: literals of both families, zones, IPv4-mapped addresses, and everything
// else a name. Only the text decides; no name is looked up here.
#include "model/address.h"

#include <cstdio>
#include <cstring>

using namespace platform;

static bool IsLinkLocal(const in6_addr& address) {
    return address.u.Byte[0] == 0xfe && (address.u.Byte[1] & 0xc0) == 0x80;
}

static bool IsIpv4Mapped(const in6_addr& address) {
    static const unsigned char prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    return std::memcmp(address.u.Byte, prefix, sizeof prefix) == 0;
}

static AddressKind SetIpv4(HostAddress* address, std::uint32_t networkOrder) {
    auto* ipv4 = reinterpret_cast<sockaddr_in*>(&address->socketAddress);
    ipv4->sin_family = AF_INET;
    ipv4->sin_addr.s_addr = networkOrder;
    address->socketAddressLength = sizeof(sockaddr_in);
    address->kind = ADDRESS_IPV4;
    return ADDRESS_IPV4;
}

// `literal` is an IPv6 address, with a zone when `zone` is not null.
static AddressKind ClassifyIpv6(const char* literal, const char* zone, HostAddress* address) {
    in6_addr bytes{};
    if (inet_pton(AF_INET6, literal, &bytes) != 1)
        return ADDRESS_NAME;
    char shortForm[INET6_ADDRSTRLEN];
    inet_ntop(AF_INET6, &bytes, shortForm, sizeof shortForm);
    char shown[INET6_ADDRSTRLEN + 1 + sizeof address->text];
    std::snprintf(shown, sizeof shown, "%s%s%s", shortForm, zone != nullptr ? "%" : "",
                  zone != nullptr ? zone : "");
    CopyField(address->text, sizeof address->text, shown);
    address->kind = ADDRESS_INVALID;
    if (IsIpv4Mapped(bytes)) {
        std::uint32_t ipv4 = 0;
        std::memcpy(&ipv4, bytes.u.Byte + 12, sizeof ipv4);
        return SetIpv4(address, ipv4);
    }
    auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&address->socketAddress);
    if (zone != nullptr) {
        // The system's own reading of a zone: an interface name or its index.
        char full[INET6_ADDRSTRLEN + 1 + 64];
        std::snprintf(full, sizeof full, "%s%%%s", literal, zone);
        addrinfo hints{};
        hints.ai_flags = AI_NUMERICHOST;
        hints.ai_family = AF_INET6;
        addrinfo* found = nullptr;
        if (zone[0] == '\0' || getaddrinfo(full, nullptr, &hints, &found) != 0)
            return ADDRESS_INVALID;
        std::memcpy(ipv6, found->ai_addr, sizeof *ipv6);
        freeaddrinfo(found);
    } else {
        if (IsLinkLocal(bytes))
            return ADDRESS_INVALID; // which interface would it go out of?
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_addr = bytes;
    }
    address->socketAddressLength = sizeof(sockaddr_in6);
    address->kind = ADDRESS_IPV6;
    return ADDRESS_IPV6;
}

AddressKind ClassifyAddress(const char* text, HostAddress* address) {
    *address = HostAddress{};
    address->kind = ADDRESS_NAME;
    CopyField(address->text, sizeof address->text, text);
    std::uint32_t ipv4 = inet_addr(text);
    if (ipv4 != INADDR_NONE || inet_pton(AF_INET, text, &ipv4) == 1)
        return SetIpv4(address, ipv4);
    if (std::strchr(text, ':') == nullptr)
        return ADDRESS_NAME;
    char literal[ADDRESS_TEXT_LENGTH + 3];
    std::size_t length = std::strlen(text);
    if (text[0] == '[' && length >= 2 && text[length - 1] == ']')
        std::snprintf(literal, sizeof literal, "%.*s", static_cast<int>(length - 2), text + 1);
    else
        CopyField(literal, sizeof literal, text);
    char* zone = std::strchr(literal, '%');
    if (zone != nullptr)
        *zone++ = '\0';
    return ClassifyIpv6(literal, zone, address);
}

void FormatSocketAddress(const sockaddr* socketAddress, char* text, unsigned size) {
    text[0] = '\0';
    if (socketAddress->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(socketAddress)->sin6_addr, text,
                  size);
    else if (socketAddress->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(socketAddress)->sin_addr, text,
                  size);
}
