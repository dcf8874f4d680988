// The peers: one thread each in its namespace. The echo peer watches ICMP on a raw socket
// and sends whole IP datagrams of its own making on another; the firewall watches a link's
// IP datagrams on a packet socket and sends ICMP on a raw one.
#include "support/icmp_peer.h"

#include "icmp/echomatch.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <linux/filter.h>
#include <net/if.h>
#include <netinet/if_ether.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int IP_HEADER_SIZE = 20;

// The checksum field of an ICMP message set right, or wrong on purpose.
void SetChecksum(Bytes& message, bool good) {
    message[2] = message[3] = 0;
    std::uint16_t checksum = InternetChecksum(message.data(), static_cast<int>(message.size()));
    message[2] = static_cast<unsigned char>(checksum ^ (good ? 0 : 0x5A));
    message[3] = static_cast<unsigned char>(checksum >> 8);
}

Bytes WithType(Bytes message, unsigned char type) {
    message[0] = type;
    message[1] = 0;
    return message;
}

Bytes Flipped(Bytes message, std::size_t at, unsigned char bits) {
    message[at] ^= bits;
    return message;
}

} // namespace

IcmpPeer::IcmpPeer(const NetworkNamespace& space, const char* target, const char* elsewhere,
                   Mode mode, int prefixLength)
    : target_(inet_addr(target)),
      mask_(htonl(prefixLength >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> prefixLength))),
      elsewhere_(inet_addr(elsewhere)), mode_(mode) {
    thread_ = std::thread(&IcmpPeer::Run, this, &space);
    for (int wait = 0; wait < 5000 && ready_.load() == 0; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

IcmpPeer::~IcmpPeer() {
    stop_ = true;
    thread_.join();
}

void IcmpPeer::Run(const NetworkNamespace* space) {
    EnteredNamespace inside(*space);
    int watcher = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    sender_ = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW); // headers of our own
    timeval slice{0, 20000};
    bool watching = inside.ok() && watcher >= 0 && sender_ >= 0 &&
                    setsockopt(watcher, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice) == 0;
    ready_ = watching ? 1 : -1;
    unsigned char datagram[4096];
    while (ready_ > 0 && !stop_) {
        ssize_t length = recv(watcher, datagram, sizeof datagram, 0);
        if (length < IP_HEADER_SIZE + 8)
            continue;
        int header = (datagram[0] & 0x0F) * 4;
        std::uint32_t destination = 0;
        std::memcpy(&destination, datagram + 16, 4);
        if (length < header + 8 || datagram[header] != 8 ||
            (destination & mask_) != (target_ & mask_))
            continue;
        Answer(datagram, static_cast<int>(length));
        ++answered_;
    }
    if (watcher >= 0)
        close(watcher);
    if (sender_ >= 0)
        close(sender_);
}

void IcmpPeer::Answer(const unsigned char* request, int length) const {
    const int header = (request[0] & 0x0F) * 4;
    const Bytes asked(request + header, request + length); // the echo request as sent
    std::uint32_t client = 0;
    std::uint32_t target = 0; // the probed host
    std::memcpy(&client, request + 12, sizeof client);
    std::memcpy(&target, request + 16, sizeof target);
    auto send = [&](std::uint32_t from, Bytes icmp, bool goodChecksum = true) {
        SetChecksum(icmp, goodChecksum);
        Bytes datagram(IP_HEADER_SIZE, 0); // length, checksum and identification by the kernel
        datagram[0] = 0x45;
        datagram[8] = 64;
        datagram[9] = IPPROTO_ICMP;
        std::memcpy(&datagram[12], &from, 4);
        std::memcpy(&datagram[16], &client, 4);
        datagram.insert(datagram.end(), icmp.begin(), icmp.end());
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = client;
        sendto(sender_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
               sizeof to);
    };
    // An error of `type` quoting `echo` as sent to `destination`.
    auto error = [&](unsigned char type, unsigned char code, std::uint32_t destination,
                     const Bytes& echo) {
        Bytes message(8 + static_cast<std::size_t>(header), 0);
        message[0] = type;
        message[1] = code;
        std::memcpy(&message[8], request, static_cast<std::size_t>(header));
        std::memcpy(&message[8 + 16], &destination, 4);
        message.insert(message.end(), echo.begin(), echo.end());
        return message;
    };
    const Bytes reply = WithType(asked, 0);
    Bytes longer = Flipped(reply, 4, 0x55);
    longer.resize(longer.size() + 300, 0xAA);
    for (int round = 0; round < 5; ++round) {
        send(target, Flipped(reply, 4, 1)); // another identifier
        send(target, Flipped(reply, 6, 1)); // another sequence
        send(target, reply, false);         // a bad checksum
        send(elsewhere_, reply);            // from elsewhere, or another program's
        send(elsewhere_, asked);            // a request carrying our numbers
        send(elsewhere_, error(3, 1, elsewhere_, asked));
        send(elsewhere_, error(11, 0, target, Flipped(asked, 6, 1)));
        send(elsewhere_, longer); // another program's, too long for the monitor's buffer
    }
    if (mode_ == FORGE_THEN_ANSWER)
        send(target, reply);
}

PortUnreachablePeer::PortUnreachablePeer(const NetworkNamespace& space, const char* device,
                                         const char* target)
    : target_(inet_addr(target)) {
    thread_ = std::thread(&PortUnreachablePeer::Run, this, &space, std::string(device));
    for (int wait = 0; wait < 5000 && ready_.load() == 0; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

PortUnreachablePeer::~PortUnreachablePeer() {
    stop_ = true;
    thread_.join();
}

void PortUnreachablePeer::Run(const NetworkNamespace* space, std::string device) {
    EnteredNamespace inside(*space);
    int watcher = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, htons(ETH_P_IP));
    int sender = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_IP);
    link.sll_ifindex = static_cast<int>(if_nametoindex(device.c_str()));
    // Only TCP reaches the socket: the link's other traffic would fill its buffer while the
    // thread waits its turn on a busy machine, and the request could be lost.
    sock_filter onlyTcp[] = {{BPF_LD | BPF_B | BPF_ABS, 0, 0, 9},
                             {BPF_JMP | BPF_JEQ | BPF_K, 0, 1, IPPROTO_TCP},
                             {BPF_RET | BPF_K, 0, 0, 0xFFFF},
                             {BPF_RET | BPF_K, 0, 0, 0}};
    sock_fprog program{4, onlyTcp};
    timeval slice{0, 20000};
    bool watching =
        inside.ok() && watcher >= 0 && sender >= 0 && link.sll_ifindex != 0 &&
        setsockopt(watcher, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0 &&
        bind(watcher, reinterpret_cast<sockaddr*>(&link), sizeof link) == 0 &&
        setsockopt(watcher, SOL_SOCKET, SO_RCVTIMEO, &slice, sizeof slice) == 0;
    ready_ = watching ? 1 : -1;
    unsigned char datagram[4096];
    while (ready_ > 0 && !stop_) {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        ssize_t length = recvfrom(watcher, datagram, sizeof datagram, 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < IP_HEADER_SIZE || from.sll_pkttype == PACKET_OUTGOING)
            continue;
        int header = (datagram[0] & 0x0F) * 4;
        const unsigned char kSyn = 0x02, kAck = 0x10;
        if (length < header + 14 || datagram[9] != IPPROTO_TCP ||
            std::memcmp(datagram + 16, &target_, 4) != 0 ||
            (datagram[header + 13] & (kSyn | kAck)) != kSyn)
            continue;
        Bytes error(8, 0); // destination unreachable, port unreachable
        error[0] = 3;
        error[1] = 3;
        error.insert(error.end(), datagram, datagram + header + 8);
        SetChecksum(error, true);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        std::memcpy(&to.sin_addr.s_addr, datagram + 12, 4);
        if (sendto(sender, error.data(), error.size(), 0, reinterpret_cast<sockaddr*>(&to),
                   sizeof to) > 0)
            ++refused_;
    }
    if (watcher >= 0)
        close(watcher);
    if (sender >= 0)
        close(sender);
}
