// The cycle benches' networks (namespaces, veth links, host prefixes, the delayed hosts'
// responder) and the timing of one run of a child program over them. See network.h.
#include "network.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sched.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

/*** the network's plan ***/

// Each far namespace hangs off the client side by one veth link; host prefixes are routed
// over it. Answering and silent hosts share the first, delayed hosts have the second (their
// namespace has the kernel's echo replies off).
struct LinkPlan {
    const char* clientDevice; // in the client namespace
    const char* farDevice;    // in the far namespace
    const char* clientMac;    // fixed, so both neighbour entries can be written beforehand
    const char* farMac;
    const char* client4; // the client side's addresses, with prefix length
    const char* far4;    // the far side's: the gateway of the host prefixes
    const char* client6;
    const char* far6;
};

static const LinkPlan LINKS[2] = {
    {"bench-c1", "bench-h1", "02:00:0a:fe:00:01", "02:00:0a:fe:00:02", "10.254.0.1/30",
     "10.254.0.2/30", "fd00:fe::1/64", "fd00:fe::2/64"},
    {"bench-c2", "bench-h2", "02:00:0a:fe:01:01", "02:00:0a:fe:01:02", "10.254.0.5/30",
     "10.254.0.6/30", "fd00:fd::1/64", "fd00:fd::2/64"},
};

// Host prefixes by behaviour: the second byte of 10.x, the second group of fd00:x::.
static const int PREFIX_NUMBER[3] = {1, 2, 3};
static const int LINK_OF_BEHAVIOUR[3] = {0, 0, 1};

static int BehaviourIndex(HostBehaviour behaviour) {
    return behaviour == HostBehaviour::ANSWERING ? 0 : behaviour == HostBehaviour::SILENT ? 1 : 2;
}
static int FamilyIndex(Family family) {
    return family == Family::IPV4 ? 0 : 1;
}

/*** globals ***/

// What has been built so far; everything stays until the process ends.
struct BenchNetwork {
    int clientNamespace = -1;       // this process's namespace, to come back to
    int farNamespace[2] = {-1, -1}; // per link; held only by this descriptor
    pid_t responder = -1;           // answers the delayed hosts
    int responderDelayMs = 0;
    bool prefixMade[3][2] = {}; // behaviour x family: routed on both sides
};
static BenchNetwork network;

/*** small helpers ***/

static std::string WithoutLength(const char* cidr) {
    std::string address = cidr;
    return address.substr(0, address.find('/'));
}

// Runs `ip` with `arguments` in the calling thread's namespace; its complaints go to our
// standard error.
static bool RunIp(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{"ip"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = -1;
    if (posix_spawnp(&child, "ip", nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Writes a sysctl of the calling thread's namespace ("net.ipv4.icmp_echo_ignore_all").
static bool WriteSysctl(const std::string& key, const char* value) {
    std::string path = "/proc/sys/" + key;
    for (std::size_t at = 10; at < path.size(); ++at)
        if (path[at] == '.')
            path[at] = '/';
    int file = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    std::size_t length = std::strlen(value);
    bool written = write(file, value, length) == static_cast<ssize_t>(length);
    return close(file) == 0 && written;
}

// Runs `step` with the calling thread in the namespace `target`, then back on the client
// side. Programs started meanwhile run in `target`.
template <typename Step> static bool InNamespace(int target, Step step) {
    if (setns(target, CLONE_NEWNET) != 0)
        return false;
    bool done = step();
    if (setns(network.clientNamespace, CLONE_NEWNET) != 0) {
        std::perror("bench: cannot return to the client namespace");
        std::abort(); // every later step would build or measure the wrong network
    }
    return done;
}

/*** the responder of the delayed hosts ***/

// A reply waiting for its time. The delay is fixed, so arrival order is due order and the
// waiting replies form a ring.
struct PendingReply {
    timespec due;
    int family;             // AF_INET or AF_INET6
    sockaddr_in6 peer;      // who asked (a sockaddr_in for IPv4)
    unsigned char self[16]; // the address that was asked, which answers
    unsigned char message[1500];
    int length;
};
constexpr int PENDING_REPLIES = 1024;
static PendingReply pendingReplies[PENDING_REPLIES];
static PendingReply droppedRequest; // read and forgotten while the ring is full

static std::uint16_t InternetChecksum(const unsigned char* bytes, int length) {
    std::uint32_t sum = 0;
    for (int at = 0; at + 1 < length; at += 2)
        sum += static_cast<std::uint32_t>(bytes[at] << 8 | bytes[at + 1]);
    if (length % 2 != 0)
        sum += static_cast<std::uint32_t>(bytes[length - 1] << 8); // the odd byte, padded
    while (sum >> 16 != 0)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

static timespec Later(timespec time, int milliseconds) {
    time.tv_nsec += static_cast<long>(milliseconds) * 1000000L;
    time.tv_sec += time.tv_nsec / 1000000000L;
    time.tv_nsec %= 1000000000L;
    return time;
}

static long long Nanoseconds(const timespec& time) {
    return static_cast<long long>(time.tv_sec) * 1000000000LL + time.tv_nsec;
}

// Reads one request from `socket` into `reply` (turned into the answer, not yet due); false
// when there was none or it was no echo request.
static bool TakeRequest(int socket, int family, int delayMs, PendingReply* reply) {
    unsigned char packet[1600];
    alignas(cmsghdr) char control[256];
    iovec part{packet, sizeof packet};
    msghdr message{};
    message.msg_name = &reply->peer;
    message.msg_namelen = sizeof reply->peer;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t length = recvmsg(socket, &message, MSG_DONTWAIT);
    if (length <= 0)
        return false;
    timespec arrival{};
    clock_gettime(CLOCK_REALTIME, &arrival);
    bool asked = family == AF_INET;
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr;
         item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SCM_TIMESTAMPNS)
            std::memcpy(&arrival, CMSG_DATA(item), sizeof arrival);
        if (item->cmsg_level == IPPROTO_IPV6 && item->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo information;
            std::memcpy(&information, CMSG_DATA(item), sizeof information);
            std::memcpy(reply->self, &information.ipi6_addr, 16);
            asked = true;
        }
    }
    const unsigned char* icmp = packet;
    int icmpLength = static_cast<int>(length);
    if (family == AF_INET) {
        // A raw IPv4 socket gives the header too: the asked address is its destination.
        int header = (packet[0] & 0x0f) * 4;
        if (icmpLength < header + 8 || packet[9] != IPPROTO_ICMP)
            return false;
        std::memcpy(reply->self, packet + 16, 4);
        icmp += header;
        icmpLength -= header;
    }
    bool request = family == AF_INET ? icmp[0] == ICMP_ECHO : icmp[0] == ICMP6_ECHO_REQUEST;
    if (!asked || !request || icmp[1] != 0 || icmpLength < 8 ||
        icmpLength > static_cast<int>(sizeof reply->message))
        return false;
    std::memcpy(reply->message, icmp, static_cast<std::size_t>(icmpLength));
    reply->message[0] = family == AF_INET ? ICMP_ECHOREPLY : ICMP6_ECHO_REPLY;
    reply->message[2] = 0;
    reply->message[3] = 0;
    if (family == AF_INET) { // ICMPv6 checksums are the kernel's on a raw socket
        std::uint16_t sum = InternetChecksum(reply->message, icmpLength);
        reply->message[2] = static_cast<unsigned char>(sum >> 8);
        reply->message[3] = static_cast<unsigned char>(sum & 0xff);
    }
    reply->family = family;
    reply->length = icmpLength;
    reply->due = Later(arrival, delayMs);
    return true;
}

// Sends the answer from the address that was asked.
static void SendReply(int socket, const PendingReply& reply) {
    iovec part{const_cast<unsigned char*>(reply.message), static_cast<std::size_t>(reply.length)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
    msghdr message{};
    message.msg_name = const_cast<sockaddr_in6*>(&reply.peer);
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    cmsghdr* item = reinterpret_cast<cmsghdr*>(control);
    if (reply.family == AF_INET) {
        in_pktinfo information{};
        std::memcpy(&information.ipi_spec_dst, reply.self, 4);
        message.msg_namelen = sizeof(sockaddr_in);
        item->cmsg_level = IPPROTO_IP;
        item->cmsg_type = IP_PKTINFO;
        item->cmsg_len = CMSG_LEN(sizeof information);
        std::memcpy(CMSG_DATA(item), &information, sizeof information);
        message.msg_controllen = CMSG_SPACE(sizeof information);
    } else {
        in6_pktinfo information{};
        std::memcpy(&information.ipi6_addr, reply.self, 16);
        message.msg_namelen = sizeof(sockaddr_in6);
        item->cmsg_level = IPPROTO_IPV6;
        item->cmsg_type = IPV6_PKTINFO;
        item->cmsg_len = CMSG_LEN(sizeof information);
        std::memcpy(CMSG_DATA(item), &information, sizeof information);
        message.msg_controllen = CMSG_SPACE(sizeof information);
    }
    sendmsg(socket, &message, 0);
}

// The responder's life, in a child process inside the delayed hosts' namespace: every echo
// request is answered `delayMs` after its arrival (the kernel's time stamp). Only system
// calls and the static ring, so it may be forked from a process with threads.
[[noreturn]] static void RunResponder(int delayMs) {
    int sockets[2] = {socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP),
                      socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6)};
    if (sockets[0] < 0 || sockets[1] < 0)
        _exit(1);
    int on = 1;
    int size = 4 << 20;
    for (int socket : sockets) {
        setsockopt(socket, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        setsockopt(socket, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    }
    setsockopt(sockets[1], IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on);
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter);
    setsockopt(sockets[1], IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    int first = 0; // the oldest waiting reply
    int waiting = 0;
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        while (waiting > 0 && Nanoseconds(pendingReplies[first].due) <= Nanoseconds(now)) {
            const PendingReply& reply = pendingReplies[first];
            SendReply(sockets[reply.family == AF_INET ? 0 : 1], reply);
            first = (first + 1) % PENDING_REPLIES;
            --waiting;
        }
        timespec timeout{1, 0};
        if (waiting > 0) {
            long long left = Nanoseconds(pendingReplies[first].due) - Nanoseconds(now);
            timeout = {static_cast<time_t>(left / 1000000000LL),
                       static_cast<long>(left % 1000000000LL)};
        }
        pollfd watched[2] = {{sockets[0], POLLIN, 0}, {sockets[1], POLLIN, 0}};
        if (ppoll(watched, 2, &timeout, nullptr) <= 0)
            continue;
        for (int which = 0; which < 2; ++which) {
            int family = which == 0 ? AF_INET : AF_INET6;
            while ((watched[which].revents & POLLIN) != 0) {
                // A full ring drops the request, as a busy host would.
                bool room = waiting < PENDING_REPLIES;
                PendingReply& slot =
                    room ? pendingReplies[(first + waiting) % PENDING_REPLIES] : droppedRequest;
                slot.peer = sockaddr_in6{};
                errno = 0;
                if (TakeRequest(sockets[which], family, delayMs, &slot))
                    waiting += room ? 1 : 0;
                else if (errno == EAGAIN || errno == EWOULDBLOCK)
                    break;
            }
        }
    }
}

static bool StartResponder(int delayMs) {
    pid_t parent = getpid();
    pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // it ends with the bench
        if (getppid() != parent || setns(network.farNamespace[1], CLONE_NEWNET) != 0)
            _exit(1);
        RunResponder(delayMs);
    }
    network.responder = child;
    network.responderDelayMs = delayMs;
    return true;
}

/*** building ***/

bool EnterClientNamespace(std::string* why) {
    if (geteuid() != 0) {
        *why = "network namespaces need root";
        return false;
    }
    if (unshare(CLONE_NEWNET) != 0) {
        *why = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
        return false;
    }
    network.clientNamespace = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (network.clientNamespace < 0 || !RunIp({"link", "set", "lo", "up"}) ||
        !WriteSysctl("net.ipv4.ping_group_range", "0 2147483647")) {
        *why = "cannot set up the client namespace (is iproute2's ip installed?)";
        return false;
    }
    return true;
}

// Makes far namespace `link` and its veth link, both families' addresses on it and
// permanent neighbour entries on both sides; the delayed hosts' namespace gets its echo
// replies off and the responder.
static bool MakeFarNamespace(int link, int delayMs, std::string* why) {
    const LinkPlan& plan = LINKS[link];
    if (unshare(CLONE_NEWNET) != 0) {
        *why = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
        return false;
    }
    int far = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    if (setns(network.clientNamespace, CLONE_NEWNET) != 0) {
        std::perror("bench: cannot return to the client namespace");
        std::abort();
    }
    if (far < 0) {
        *why = "cannot open the new namespace";
        return false;
    }
    network.farNamespace[link] = far;
    std::string farPath = "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(far);
    bool made = RunIp({"link", "add", plan.clientDevice, "address", plan.clientMac, "type", "veth",
                       "peer", "name", plan.farDevice, "address", plan.farMac, "netns", farPath}) &&
                RunIp({"address", "add", plan.client4, "dev", plan.clientDevice}) &&
                RunIp({"address", "add", plan.client6, "dev", plan.clientDevice, "nodad"}) &&
                RunIp({"link", "set", plan.clientDevice, "up"}) &&
                RunIp({"neigh", "replace", WithoutLength(plan.far4), "lladdr", plan.farMac, "dev",
                       plan.clientDevice, "nud", "permanent"}) &&
                RunIp({"neigh", "replace", WithoutLength(plan.far6), "lladdr", plan.farMac, "dev",
                       plan.clientDevice, "nud", "permanent"});
    made = made && InNamespace(far, [&] {
               bool delayed = link == 1;
               return RunIp({"link", "set", "lo", "up"}) &&
                      RunIp({"address", "add", plan.far4, "dev", plan.farDevice}) &&
                      RunIp({"address", "add", plan.far6, "dev", plan.farDevice, "nodad"}) &&
                      RunIp({"link", "set", plan.farDevice, "up"}) &&
                      RunIp({"neigh", "replace", WithoutLength(plan.client4), "lladdr",
                             plan.clientMac, "dev", plan.farDevice, "nud", "permanent"}) &&
                      RunIp({"neigh", "replace", WithoutLength(plan.client6), "lladdr",
                             plan.clientMac, "dev", plan.farDevice, "nud", "permanent"}) &&
                      (!delayed || (WriteSysctl("net.ipv4.icmp_echo_ignore_all", "1") &&
                                    WriteSysctl("net.ipv6.icmp.echo_ignore_all", "1") &&
                                    WriteSysctl("net.ipv6.ip_nonlocal_bind", "1")));
           });
    if (made && link == 1)
        made = StartResponder(delayMs);
    if (!made)
        *why = std::string("cannot build the link ") + plan.clientDevice;
    return made;
}

static std::string PrefixText(HostBehaviour behaviour, Family family) {
    int number = PREFIX_NUMBER[BehaviourIndex(behaviour)];
    if (family == Family::IPV4)
        return "10." + std::to_string(number) + ".0.0/16";
    char text[32];
    std::snprintf(text, sizeof text, "fd00:%x::/64", number);
    return text;
}

static std::string HostAddress(HostBehaviour behaviour, Family family, int index) {
    int number = PREFIX_NUMBER[BehaviourIndex(behaviour)];
    char text[48];
    if (family == Family::IPV4) {
        std::snprintf(text, sizeof text, "10.%d.%d.%d", number, index / 250, index % 250 + 1);
    } else {
        unsigned value = static_cast<unsigned>(index) + 1;
        if (value >> 16 != 0)
            std::snprintf(text, sizeof text, "fd00:%x::%x:%x", number, value >> 16, value & 0xffff);
        else
            std::snprintf(text, sizeof text, "fd00:%x::%x", number, value);
    }
    return text;
}

// Routes the prefix of `behaviour` over its link and has the far side answer, drop or
// leave it to the responder.
static bool MakePrefix(HostBehaviour behaviour, Family family, int delayMs, std::string* why) {
    int link = LINK_OF_BEHAVIOUR[BehaviourIndex(behaviour)];
    if (network.farNamespace[link] < 0 && !MakeFarNamespace(link, delayMs, why))
        return false;
    const char* version = family == Family::IPV4 ? "-4" : "-6";
    std::string prefix = PrefixText(behaviour, family);
    std::string gateway =
        WithoutLength(family == Family::IPV4 ? LINKS[link].far4 : LINKS[link].far6);
    bool made = RunIp({version, "route", "add", prefix, "via", gateway}) &&
                InNamespace(network.farNamespace[link], [&] {
                    if (behaviour == HostBehaviour::SILENT)
                        return RunIp({version, "route", "add", "blackhole", prefix});
                    return RunIp({version, "route", "add", "local", prefix, "dev", "lo"});
                });
    if (!made)
        *why = "cannot route " + prefix;
    return made;
}

std::vector<std::string> MakeHosts(HostBehaviour behaviour, Family family, int count,
                                   std::string* why, int delayMs) {
    if (network.clientNamespace < 0) {
        *why = "EnterClientNamespace first";
        return {};
    }
    if (count < 1 || count > 62500) {
        *why = "from 1 to 62500 hosts of one behaviour";
        return {};
    }
    if (behaviour == HostBehaviour::DELAYED && network.responder > 0 &&
        network.responderDelayMs != delayMs) {
        *why = "the delayed hosts answer after " + std::to_string(network.responderDelayMs) +
               " ms already";
        return {};
    }
    bool& made = network.prefixMade[BehaviourIndex(behaviour)][FamilyIndex(family)];
    if (!made && !MakePrefix(behaviour, family, delayMs, why))
        return {};
    made = true;
    std::vector<std::string> addresses;
    for (int index = 0; index < count; ++index)
        addresses.push_back(HostAddress(behaviour, family, index));
    return addresses;
}

/*** files ***/

static bool WriteFile(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

bool WriteBenchMap(const std::string& directory, const std::vector<std::string>& addresses,
                   const std::string& options) {
    std::string map = "Bcycle bench\r\nV1\r\n";
    for (std::size_t index = 0; index < addresses.size(); ++index) {
        char line[96];
        std::snprintf(line, sizeof line, "Hh%zu,%s,,,%zu,%zu,0,1,0\r\n", index + 1,
                      addresses[index].c_str(), index % 36, index / 36 * 3);
        map += line;
    }
    std::remove((directory + "/bench.LOG").c_str());
    return WriteFile(directory + "/bench.db", map) &&
           WriteFile(directory + "/TARNMAP.INI", "[OPTS]\r\nSOUND=0\r\n" + options);
}

/*** watching the probes leave ***/

// A packet socket on every device of the client side, with the kernel's time stamps; the
// queue holds what passed since it opened.
static int OpenProbeWatch() {
    int watch = socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (watch < 0)
        return -1;
    int on = 1;
    int size = 8 << 20;
    setsockopt(watch, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    setsockopt(watch, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    return watch;
}

// Whether a datagram (network header first, `length` bytes of it at hand) is a probe: an
// echo request or a TCP SYN.
static bool IsProbe(const unsigned char* packet, std::size_t length, unsigned protocol) {
    std::size_t header = 0;
    unsigned transport = 0;
    if (protocol == ETH_P_IP && length >= 20) {
        header = (packet[0] & 0x0fu) * 4u;
        transport = packet[9];
    } else if (protocol == ETH_P_IPV6 && length >= 40) {
        header = 40; // our probes carry no extension headers
        transport = packet[6];
    } else {
        return false;
    }
    const unsigned char* payload = packet + header;
    if (transport == IPPROTO_ICMP || transport == IPPROTO_ICMPV6)
        return length > header &&
               payload[0] == (transport == IPPROTO_ICMP ? ICMP_ECHO : ICMP6_ECHO_REQUEST);
    return transport == IPPROTO_TCP && length >= header + 14 && (payload[13] & 0x12) == 0x02;
}

// Reads what the watch has queued; true, with its time stamp, at the first probe that
// left by a device other than loopback.
static bool FindFirstProbe(int watch, timespec* stamp) {
    for (;;) {
        unsigned char packet[128];
        alignas(cmsghdr) char control[128];
        sockaddr_ll link{};
        iovec part{packet, sizeof packet};
        msghdr message{};
        message.msg_name = &link;
        message.msg_namelen = sizeof link;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        ssize_t length = recvmsg(watch, &message, MSG_DONTWAIT | MSG_TRUNC);
        if (length < 0)
            return false;
        if (link.sll_pkttype != PACKET_OUTGOING || link.sll_hatype == ARPHRD_LOOPBACK ||
            !IsProbe(packet, std::min(static_cast<std::size_t>(length), sizeof packet),
                     ntohs(link.sll_protocol)))
            continue;
        for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr;
             item = CMSG_NXTHDR(&message, item))
            if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SCM_TIMESTAMPNS) {
                std::memcpy(stamp, CMSG_DATA(item), sizeof *stamp);
                return true;
            }
    }
}

/*** a child's usage ***/

struct Usage {
    long long cpuNanoseconds = 0;
    long switches = 0;
};

// Sums the threads' run time (schedstat) and context switches (status) of a live process;
// false when it is gone.
static bool SampleUsage(pid_t process, Usage* usage) {
    std::string tasks = "/proc/" + std::to_string(process) + "/task";
    DIR* directory = opendir(tasks.c_str());
    if (directory == nullptr)
        return false;
    *usage = Usage{};
    while (dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.')
            continue;
        std::string task = tasks + "/" + entry->d_name;
        char text[4096];
        if (std::FILE* file = std::fopen((task + "/schedstat").c_str(), "r")) {
            long long runtime = 0;
            if (std::fscanf(file, "%lld", &runtime) == 1)
                usage->cpuNanoseconds += runtime;
            std::fclose(file);
        }
        if (std::FILE* file = std::fopen((task + "/status").c_str(), "r")) {
            while (std::fgets(text, sizeof text, file) != nullptr) {
                if (std::strncmp(text, "voluntary_ctxt_switches:", 24) == 0)
                    usage->switches += std::atol(text + 24);
                else if (std::strncmp(text, "nonvoluntary_ctxt_switches:", 27) == 0)
                    usage->switches += std::atol(text + 27);
            }
            std::fclose(file);
        }
    }
    closedir(directory);
    return true;
}

static Usage UsageAtExit(const rusage& used) {
    Usage usage;
    usage.cpuNanoseconds =
        (static_cast<long long>(used.ru_utime.tv_sec) + used.ru_stime.tv_sec) * 1000000000LL +
        (static_cast<long long>(used.ru_utime.tv_usec) + used.ru_stime.tv_usec) * 1000LL;
    usage.switches = used.ru_nvcsw + used.ru_nivcsw;
    return usage;
}

/*** timing a child ***/

static double Seconds(long long nanoseconds) {
    return static_cast<double>(nanoseconds) / 1e9;
}

static timespec Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

// The environment with `variables` ("NAME=value") added or replacing their namesakes.
static std::vector<std::string> Environment(const std::vector<std::string>& variables) {
    std::vector<std::string> result;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        std::string text = *variable;
        bool replaced = false;
        for (const std::string& own : variables)
            replaced |= own.substr(0, own.find('=') + 1) == text.substr(0, text.find('=') + 1);
        if (!replaced)
            result.push_back(text);
    }
    result.insert(result.end(), variables.begin(), variables.end());
    return result;
}

// One child under watch: what TimeChild needs between its steps.
struct ChildWatch {
    pid_t child = -1;
    int probes = -1;       // the packet socket that sees the first probe leave
    int output = -1;       // the read end of the child's standard output; -1 when not read
    int exited = -1;       // a pidfd, readable once the child has ended
    const char* endMark;   // the output that ends the run; empty: the exit does
    std::string startMark; // the output that starts it; empty: the first probe does
    std::string text;      // the output so far
    timespec started{}, probeStamp{}, endStamp{};
    Usage atProbe, atEnd;
    bool reaped = false;
    TimedRun run;
};

// Starts the child with its standard output on a pipe (or /dev/null when the exit ends
// the run) and its standard error in `directory`/stderr.txt.
static bool StartChild(ChildWatch& watch, std::vector<std::string> arguments,
                       const std::string& directory, const std::vector<std::string>& variables) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return false;
    std::vector<std::string> environment = Environment(variables);
    std::vector<char*> argv, envp;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    for (std::string& variable : environment)
        envp.push_back(variable.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    std::string errors = directory + "/stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    if (watch.endMark[0] != '\0')
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    watch.started = Now();
    int failed = posix_spawnp(&watch.child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    watch.output = watch.endMark[0] != '\0' ? ends[0] : -1;
    if (watch.output < 0)
        close(ends[0]);
    if (failed != 0) {
        watch.run.error = std::string("cannot start ") + argv[0] + ": " + std::strerror(failed);
        return false;
    }
    watch.exited = static_cast<int>(syscall(SYS_pidfd_open, watch.child, 0));
    return watch.exited >= 0;
}

// The child's usage so far, taken with the child stopped for that moment (or at its exit,
// when it has ended).
static void StopAndSample(ChildWatch& watch, Usage* usage) {
    kill(watch.child, SIGSTOP);
    int status = 0;
    rusage used{};
    if (wait4(watch.child, &status, WUNTRACED, &used) == watch.child && WIFSTOPPED(status)) {
        SampleUsage(watch.child, usage);
        kill(watch.child, SIGCONT);
    } else {
        *usage = UsageAtExit(used);
        watch.run.exitStatus = status;
        watch.reaped = true;
    }
}

// Reads the child's output; at the line with the start mark, and at the one with the end
// mark, stops the child to take its usage, so that what it does outside the cycle is not
// counted.
static void ReadOutput(ChildWatch& watch) {
    char chunk[512];
    ssize_t length = read(watch.output, chunk, sizeof chunk);
    if (length <= 0) {
        close(watch.output);
        watch.output = -1;
        return;
    }
    watch.text.append(chunk, static_cast<std::size_t>(length));
    if (!watch.startMark.empty() && !watch.run.probed &&
        watch.text.find(watch.startMark) != std::string::npos) {
        watch.probeStamp = Now();
        watch.run.probed = true;
        StopAndSample(watch, &watch.atProbe);
    }
    std::size_t mark = watch.text.find(watch.endMark);
    std::size_t end = mark == std::string::npos ? mark : watch.text.find('\n', mark);
    if (end == std::string::npos)
        return;
    watch.endStamp = Now();
    watch.run.ended = true;
    std::size_t begin = watch.text.rfind('\n', mark);
    begin = begin == std::string::npos ? 0 : begin + 1;
    watch.run.line = watch.text.substr(begin, end - begin);
    StopAndSample(watch, &watch.atEnd);
}

static void TakeExit(ChildWatch& watch) {
    watch.endStamp = Now();
    rusage used{};
    if (wait4(watch.child, &watch.run.exitStatus, 0, &used) != watch.child)
        return;
    watch.reaped = true;
    watch.atEnd = UsageAtExit(used);
    watch.run.ended = watch.endMark[0] == '\0';
    if (!watch.run.ended)
        watch.run.error = "ended without its cycle line";
}

// Watches until the run ends, the child ends or `limitSeconds` have passed.
static void WatchChild(ChildWatch& watch, double limitSeconds) {
    long long limit = Nanoseconds(watch.started) + static_cast<long long>(limitSeconds * 1e9);
    while (!watch.run.ended && !watch.reaped) {
        long long left = limit - Nanoseconds(Now());
        if (left <= 0)
            return;
        const bool watchingProbes = !watch.run.probed && watch.startMark.empty();
        pollfd watched[3] = {{watchingProbes ? watch.probes : -1, POLLIN, 0},
                             {watch.output, POLLIN, 0},
                             {watch.exited, POLLIN, 0}};
        long long milliseconds = left / 1000000LL + 1;
        if (poll(watched, 3, milliseconds < 1000 ? static_cast<int>(milliseconds) : 1000) <= 0)
            continue;
        if (watchingProbes && FindFirstProbe(watch.probes, &watch.probeStamp)) {
            watch.run.probed = true;
            SampleUsage(watch.child, &watch.atProbe);
        }
        if ((watched[1].revents & (POLLIN | POLLHUP)) != 0)
            ReadOutput(watch);
        if (!watch.run.ended && (watched[2].revents & POLLIN) != 0)
            TakeExit(watch);
    }
}

// After its cycle line the program ends by itself; one that hangs there or ran out of
// time is killed.
static void EndChild(ChildWatch& watch) {
    if (watch.reaped || watch.child <= 0)
        return;
    for (int tick = 0; tick < 200; ++tick) {
        if (waitpid(watch.child, &watch.run.exitStatus, WNOHANG) == watch.child)
            return;
        usleep(50000);
    }
    kill(watch.child, SIGKILL);
    waitpid(watch.child, nullptr, 0);
    watch.run.exitStatus = -1;
    if (watch.run.error.empty())
        watch.run.error = watch.run.ended ? "did not end after its cycle line" : "ran out of time";
}

static std::string FirstLine(const std::string& path) {
    char line[200] = "";
    if (std::FILE* file = std::fopen(path.c_str(), "r")) {
        if (std::fgets(line, sizeof line, file) == nullptr)
            line[0] = '\0';
        std::fclose(file);
    }
    return std::string(line, std::strcspn(line, "\n"));
}

// One run as network.h describes it: ends at the first output line that holds `endMark`,
// or, when `endMark` is empty, at the child's exit.
static TimedRun TimeChild(const std::vector<std::string>& arguments, const std::string& directory,
                          const std::vector<std::string>& variables, const char* endMark,
                          double limitSeconds, const std::string& startMark = "") {
    ChildWatch watch;
    watch.endMark = endMark;
    watch.startMark = startMark;
    watch.probes = OpenProbeWatch();
    if (watch.probes < 0)
        watch.run.error = "cannot open a packet socket";
    else if (StartChild(watch, arguments, directory, variables))
        WatchChild(watch, limitSeconds);
    if (!watch.run.probed && watch.startMark.empty() && watch.probes >= 0 &&
        FindFirstProbe(watch.probes, &watch.probeStamp))
        watch.run.probed = true; // sent just before the end: its usage then is unknown, 0
    EndChild(watch);
    TimedRun& run = watch.run;
    if (run.probed) {
        run.seconds = Seconds(Nanoseconds(watch.endStamp) - Nanoseconds(watch.probeStamp));
        run.startupSeconds = Seconds(Nanoseconds(watch.probeStamp) - Nanoseconds(watch.started));
        run.cpuSeconds = Seconds(watch.atEnd.cpuNanoseconds - watch.atProbe.cpuNanoseconds);
        run.switches = watch.atEnd.switches - watch.atProbe.switches;
    }
    if (!run.ended && run.error.empty()) {
        std::string complaint = FirstLine(directory + "/stderr.txt");
        run.error = !complaint.empty() ? complaint : "did not end";
    }
    for (int descriptor : {watch.probes, watch.output, watch.exited})
        if (descriptor >= 0)
            close(descriptor);
    return run;
}

TimedRun TimeHeadlessCycle(const char* binary, const std::string& directory, double limitSeconds,
                           int cycle) {
    std::remove((directory + "/bench.LOG").c_str());
    const std::string endMark = " cycle " + std::to_string(cycle) + ": ";
    return TimeChild({binary, "--headless", "--cycles", std::to_string(cycle), "bench.db"},
                     directory, {"XDG_CONFIG_HOME=" + directory, "XDG_RUNTIME_DIR=" + directory},
                     endMark.c_str(), limitSeconds,
                     cycle > 1 ? " cycle " + std::to_string(cycle - 1) + ": " : "");
}

TimedRun TimeTool(const std::vector<std::string>& arguments, const std::string& directory,
                  double limitSeconds) {
    return TimeChild(arguments, directory, {}, "", limitSeconds);
}

/*** the system calls alone ***/

static double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return Seconds(Nanoseconds(now));
}

static sockaddr_in Ipv4Address(const std::string& address, unsigned short port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &target.sin_addr);
    return target;
}

double BareConnectSeconds(const std::vector<std::string>& addresses, unsigned short port) {
    int watch = epoll_create1(EPOLL_CLOEXEC);
    if (watch < 0)
        return -1;
    std::vector<int> sockets;
    double start = ThreadSeconds();
    for (const std::string& address : addresses) {
        int connecting = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (connecting < 0)
            break;
        sockets.push_back(connecting);
        sockaddr_in target = Ipv4Address(address, port);
        connect(connecting, reinterpret_cast<const sockaddr*>(&target), sizeof target);
        epoll_event watched{};
        watched.events = EPOLLOUT;
        epoll_ctl(watch, EPOLL_CTL_ADD, connecting, &watched);
    }
    for (int connecting : sockets)
        close(connecting);
    double used = ThreadSeconds() - start;
    close(watch);
    return sockets.size() == addresses.size() ? used : -1;
}

double BareEchoSeconds(const std::vector<std::string>& addresses) {
    int echo = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (echo < 0)
        return -1;
    double start = ThreadSeconds();
    std::uint16_t sequence = 0;
    for (const std::string& address : addresses) {
        icmphdr request{};
        request.type = ICMP_ECHO;
        request.un.echo.sequence = htons(++sequence);
        request.checksum =
            InternetChecksum(reinterpret_cast<const unsigned char*>(&request), sizeof request);
        sockaddr_in target = Ipv4Address(address, 0);
        sendto(echo, &request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&target),
               sizeof target);
    }
    double used = ThreadSeconds() - start;
    close(echo);
    return used;
}

int AnsweringHosts(const std::string& cycleLine) {
    std::size_t at = cycleLine.find(" answering");
    if (at == std::string::npos)
        return -1;
    std::size_t begin = cycleLine.rfind(' ', at - 1);
    return begin == std::string::npos ? -1 : std::atoi(cycleLine.c_str() + begin + 1);
}
