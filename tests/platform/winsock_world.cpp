// The socket tests' world on the system's sockets: loopback peers, private networks in
// child processes, and a name server that answers from a table the test fills.
#include "winsock_world.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int boundedWaitMs = 5000; // a bound for waits that should end at once

sockaddr_in LoopbackAddress(unsigned short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

unsigned short BoundPort(int descriptor) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

bool WaitReadable(int descriptor) {
    pollfd entry{descriptor, POLLIN, 0};
    return poll(&entry, 1, boundedWaitMs) > 0;
}

int IntOption(unsigned socket, int level, int option) {
    int value = -1;
    socklen_t length = sizeof value;
    if (getsockopt(static_cast<int>(socket), level, option, &value, &length) != 0)
        return -1;
    return value;
}

} // namespace

LoopbackListener::LoopbackListener() {
    descriptor_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = LoopbackAddress(0);
    if (descriptor_ < 0 ||
        ::bind(descriptor_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(descriptor_, 4) != 0)
        return;
    port_ = BoundPort(descriptor_);
}

LoopbackListener::~LoopbackListener() {
    CloseDescriptor(descriptor_);
}

int LoopbackListener::AcceptOne() {
    if (!WaitReadable(descriptor_))
        return -1;
    return accept4(descriptor_, nullptr, nullptr, SOCK_CLOEXEC);
}

LoopbackDatagramPeer::LoopbackDatagramPeer() {
    descriptor_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = LoopbackAddress(0);
    if (descriptor_ < 0 ||
        ::bind(descriptor_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return;
    port_ = BoundPort(descriptor_);
}

LoopbackDatagramPeer::~LoopbackDatagramPeer() {
    CloseDescriptor(descriptor_);
}

std::string LoopbackDatagramPeer::ReceiveOne(unsigned short* fromPort) {
    if (!WaitReadable(descriptor_))
        return {};
    char buffer[2048];
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    ssize_t count = recvfrom(descriptor_, buffer, sizeof buffer, 0,
                             reinterpret_cast<sockaddr*>(&sender), &length);
    if (count <= 0)
        return {};
    *fromPort = ntohs(sender.sin_port);
    return std::string(buffer, static_cast<size_t>(count));
}

bool LoopbackDatagramPeer::SendTo(unsigned short toPort, const std::string& data) {
    sockaddr_in address = LoopbackAddress(toPort);
    return ::sendto(descriptor_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&address),
                    sizeof address) == static_cast<ssize_t>(data.size());
}

unsigned short UnusedLoopbackPort() {
    int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = LoopbackAddress(0);
    unsigned short port = 0;
    if (descriptor >= 0 &&
        ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        port = BoundPort(descriptor);
    CloseDescriptor(descriptor);
    return port;
}

bool WriteAll(int descriptor, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t count = ::write(descriptor, data.data() + done, data.size() - done);
        if (count <= 0)
            return false;
        done += static_cast<size_t>(count);
    }
    return true;
}

std::string ReadSome(int descriptor) {
    if (!WaitReadable(descriptor))
        return {};
    char buffer[4096];
    ssize_t count = ::read(descriptor, buffer, sizeof buffer);
    return count > 0 ? std::string(buffer, static_cast<size_t>(count)) : std::string();
}

void CloseDescriptor(int descriptor) {
    if (descriptor >= 0)
        ::close(descriptor);
}

bool WaitUntilReadable(unsigned socket) {
    return WaitReadable(static_cast<int>(socket));
}

int SystemTimeToLive(unsigned socket) {
    return IntOption(socket, IPPROTO_IP, IP_TTL);
}

int SystemTypeOfService(unsigned socket) {
    return IntOption(socket, IPPROTO_IP, IP_TOS);
}

bool SystemReuseAddress(unsigned socket) {
    return IntOption(socket, SOL_SOCKET, SO_REUSEADDR) > 0;
}

// ---- The name server ----

namespace {

constexpr int dnsHeaderSize = 12;

// The dotted name of a query's question and where the question ends; false when the
// query is not one we can read.
bool ReadQuestion(const std::vector<unsigned char>& query, std::string* name, size_t* end) {
    size_t at = dnsHeaderSize;
    name->clear();
    while (at < query.size() && query[at] != 0) {
        size_t length = query[at];
        if (length > 63 || at + 1 + length > query.size())
            return false;
        if (!name->empty())
            name->push_back('.');
        name->append(reinterpret_cast<const char*>(&query[at + 1]), length);
        at += 1 + length;
    }
    if (at + 5 > query.size())
        return false;
    *end = at + 5; // the root label, type and class
    return true;
}

} // namespace

TestNameServer::TestNameServer() {
    descriptor_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address = LoopbackAddress(53);
    if (descriptor_ >= 0 &&
        ::bind(descriptor_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        CloseDescriptor(descriptor_);
        descriptor_ = -1;
    }
}

TestNameServer::~TestNameServer() {
    CloseDescriptor(descriptor_);
}

void TestNameServer::SetRule(const std::string& name, Reply reply,
                             const std::vector<std::string>& addresses) {
    for (Rule& rule : rules_) {
        if (rule.name == name) {
            rule.reply = reply;
            rule.addresses = addresses;
            return;
        }
    }
    rules_.push_back(Rule{name, reply, addresses});
}

void TestNameServer::Serve() {
    for (;;) {
        unsigned char buffer[512];
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        ssize_t count = recvfrom(descriptor_, buffer, sizeof buffer, 0,
                                 reinterpret_cast<sockaddr*>(&sender), &length);
        if (count <= 0)
            return;
        ++queries_;
        Query query;
        query.bytes.assign(buffer, buffer + count);
        const unsigned char* senderBytes = reinterpret_cast<const unsigned char*>(&sender);
        query.sender.assign(senderBytes, senderBytes + sizeof sender);
        Answer(query, false);
    }
}

void TestNameServer::ReleaseHeld() {
    std::vector<Query> held;
    held.swap(held_);
    for (const Query& query : held)
        Answer(query, true);
}

void TestNameServer::Answer(const Query& query, bool releasing) {
    std::string name;
    size_t questionEnd = 0;
    if (query.bytes.size() < dnsHeaderSize || !ReadQuestion(query.bytes, &name, &questionEnd))
        return;
    Reply reply = Reply::NoSuchName;
    std::vector<std::string> addresses;
    for (const Rule& rule : rules_) {
        if (rule.name == name) {
            reply = rule.reply;
            addresses = rule.addresses;
        }
    }
    if (reply == Reply::Hold && !releasing) {
        held_.push_back(query);
        return;
    }
    unsigned questionType = (query.bytes[questionEnd - 4] << 8) | query.bytes[questionEnd - 3];
    if (questionType != 1) // only A records have addresses here
        addresses.clear();

    std::vector<unsigned char> answer(query.bytes.begin(),
                                      query.bytes.begin() + static_cast<long>(questionEnd));
    unsigned rcode = 0;
    if (reply == Reply::NoSuchName)
        rcode = 3;
    else if (reply == Reply::ServerFailure)
        rcode = 2;
    else if (reply == Reply::FormatError)
        rcode = 1;
    if (reply != Reply::Addresses)
        addresses.clear();
    answer[2] = static_cast<unsigned char>(0x80 | (query.bytes[2] & 0x01)); // response, RD
    answer[3] = static_cast<unsigned char>(0x80 | rcode);                   // RA, rcode
    answer[6] = 0;
    answer[7] = static_cast<unsigned char>(addresses.size());
    for (int index = 8; index < 12; ++index)
        answer[static_cast<size_t>(index)] = 0;
    for (const std::string& text : addresses) {
        in_addr address{};
        inet_aton(text.c_str(), &address);
        const unsigned char record[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4};
        answer.insert(answer.end(), record, record + sizeof record);
        const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
        answer.insert(answer.end(), bytes, bytes + 4);
    }
    sendto(descriptor_, answer.data(), answer.size(), 0,
           reinterpret_cast<const sockaddr*>(query.sender.data()),
           static_cast<socklen_t>(query.sender.size()));
}

// ---- Private networks ----

namespace {

// Writes `text` to a fresh file and mounts it over `target`; the file itself is removed at
// once, the mount keeps it alive for this namespace.
bool MountTextOver(const char* target, const char* text) {
    char path[] = "/tmp/tarnmap-winsock-XXXXXX";
    int descriptor = mkstemp(path);
    if (descriptor < 0)
        return false;
    bool written = WriteAll(descriptor, text);
    ::close(descriptor);
    bool mounted = written && mount(path, target, nullptr, MS_BIND, nullptr) == 0;
    unlink(path);
    return mounted;
}

[[noreturn]] void EndChild(int status) {
    std::fflush(nullptr);
    _exit(status);
}

} // namespace

int RunInPrivateNetwork(const char* setupCommands, const char* hostsText, const char* resolverText,
                        void (*body)()) {
    bool ownFiles = hostsText != nullptr || resolverText != nullptr;
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        return privateNetworkUnavailable;
    if (child == 0) {
        if (unshare(CLONE_NEWNET | (ownFiles ? CLONE_NEWNS : 0)) != 0)
            EndChild(privateNetworkUnavailable);
        if (ownFiles) {
            if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                EndChild(privateNetworkUnavailable);
            if (hostsText != nullptr && !MountTextOver("/etc/hosts", hostsText))
                EndChild(privateNetworkUnavailable);
            if (resolverText != nullptr && !MountTextOver("/etc/resolv.conf", resolverText))
                EndChild(privateNetworkUnavailable);
        }
        std::string commands = "ip link set lo up";
        if (setupCommands != nullptr && setupCommands[0] != '\0')
            commands += std::string(" && ") + setupCommands;
        commands += " >/dev/null 2>&1";
        if (std::system(commands.c_str()) != 0)
            EndChild(privateNetworkUnavailable);
        body();
        EndChild(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return privateNetworkUnavailable;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
