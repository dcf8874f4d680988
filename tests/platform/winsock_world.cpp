// The socket tests' world on the system's sockets: loopback peers, private networks in
// child processes, and a name server that answers from a table the test fills.
#include "winsock_world.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in LoopbackAddress(unsigned short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool BindToLoopback(int descriptor, unsigned short port) {
    sockaddr_in address = LoopbackAddress(port);
    return descriptor >= 0 &&
           ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

} // namespace

bool WaitUntilReadable(unsigned socket) {
    pollfd entry{static_cast<int>(socket), POLLIN, 0};
    return poll(&entry, 1, 5000) > 0;
}

LoopbackPeer::LoopbackPeer(bool stream) {
    descriptor_ = ::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (!BindToLoopback(descriptor_, 0) || (stream && listen(descriptor_, 4) != 0))
        return;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(descriptor_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port_ = ntohs(address.sin_port);
}

LoopbackPeer::~LoopbackPeer() {
    CloseDescriptor(descriptor_);
}

int LoopbackPeer::AcceptOne() {
    return WaitUntilReadable(static_cast<unsigned>(descriptor_))
               ? accept4(descriptor_, nullptr, nullptr, SOCK_CLOEXEC)
               : -1;
}

std::string LoopbackPeer::ReceiveOne(unsigned short* fromPort) {
    char buffer[2048];
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    ssize_t count = WaitUntilReadable(static_cast<unsigned>(descriptor_))
                        ? recvfrom(descriptor_, buffer, sizeof buffer, 0,
                                   reinterpret_cast<sockaddr*>(&sender), &length)
                        : -1;
    if (count <= 0)
        return {};
    *fromPort = ntohs(sender.sin_port);
    return std::string(buffer, static_cast<size_t>(count));
}

bool LoopbackPeer::SendTo(unsigned short toPort, const std::string& data) {
    sockaddr_in address = LoopbackAddress(toPort);
    return ::sendto(descriptor_, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&address),
                    sizeof address) == static_cast<ssize_t>(data.size());
}

bool WriteAll(int descriptor, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        ssize_t count = ::write(descriptor, data.data() + done, data.size() - done);
        if (count <= 0)
            return false;
        done += static_cast<size_t>(count);
    }
    return true;
}

void CloseDescriptor(int descriptor) {
    if (descriptor >= 0)
        ::close(descriptor);
}

int SystemTimeToLive(unsigned socket) {
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(static_cast<int>(socket), IPPROTO_IP, IP_TTL, &value, &length);
    return value;
}

// ---- The name server ----

TestNameServer::TestNameServer() {
    descriptor_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor_ >= 0 && !BindToLoopback(descriptor_, 53)) {
        CloseDescriptor(descriptor_);
        descriptor_ = -1;
    }
}

TestNameServer::~TestNameServer() {
    CloseDescriptor(descriptor_);
}

void TestNameServer::SetRule(const std::string& name, Reply reply,
                             const std::vector<std::string>& addresses) {
    for (auto& rule : rules_)
        if (rule.first == name) {
            rule.second = Rule{reply, addresses};
            return;
        }
    rules_.emplace_back(name, Rule{reply, addresses});
}

void TestNameServer::Serve() {
    unsigned char buffer[512];
    sockaddr_in sender{};
    socklen_t length = sizeof sender;
    ssize_t count;
    while ((count = recvfrom(descriptor_, buffer, sizeof buffer, 0,
                             reinterpret_cast<sockaddr*>(&sender), &length)) > 0) {
        const auto* senderBytes = reinterpret_cast<const unsigned char*>(&sender);
        Answer(Query{{buffer, buffer + count}, {senderBytes, senderBytes + sizeof sender}}, false);
    }
}

void TestNameServer::ReleaseHeld() {
    std::vector<Query> held;
    held.swap(held_);
    for (const Query& query : held)
        Answer(query, true);
}

void TestNameServer::Answer(const Query& query, bool releasing) {
    // The question's dotted name; the header is 12 bytes, the question ends after the root
    // label, type and class.
    const std::vector<unsigned char>& bytes = query.bytes;
    std::string name;
    size_t at = 12;
    while (at < bytes.size() && bytes[at] != 0) {
        size_t length = bytes[at];
        if (length > 63 || at + 1 + length > bytes.size())
            return;
        name += (name.empty() ? "" : ".") +
                std::string(bytes.begin() + long(at) + 1, bytes.begin() + long(at + 1 + length));
        at += 1 + length;
    }
    size_t questionEnd = at + 5;
    if (questionEnd > bytes.size())
        return;
    Rule rule{Reply::NoSuchName, {}};
    for (const auto& each : rules_)
        if (each.first == name)
            rule = each.second;
    if (rule.reply == Reply::Hold && !releasing) {
        held_.push_back(query);
        return;
    }
    bool typeA = bytes[questionEnd - 4] == 0 && bytes[questionEnd - 3] == 1;
    if (rule.reply != Reply::Addresses || !typeA) // only A records have addresses here
        rule.addresses.clear();

    std::vector<unsigned char> answer(bytes.begin(), bytes.begin() + long(questionEnd));
    answer[2] = static_cast<unsigned char>(0x80 | (bytes[2] & 0x01)); // response, RD
    answer[3] = static_cast<unsigned char>(0x80 | (rule.reply == Reply::NoSuchName ? 3 : 0)); // RA
    std::fill(answer.begin() + 6, answer.begin() + 12, 0);
    answer[7] = static_cast<unsigned char>(rule.addresses.size());
    for (const std::string& text : rule.addresses) {
        in_addr address{};
        inet_aton(text.c_str(), &address);
        const unsigned char record[] = {0xC0, 0x0C, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4};
        answer.insert(answer.end(), record, record + sizeof record);
        const auto* addressBytes = reinterpret_cast<const unsigned char*>(&address.s_addr);
        answer.insert(answer.end(), addressBytes, addressBytes + 4);
    }
    sendto(descriptor_, answer.data(), answer.size(), 0,
           reinterpret_cast<const sockaddr*>(query.sender.data()),
           static_cast<socklen_t>(query.sender.size()));
}
