// The tool tests' outside world on the system's sockets: line servers, a silent name
// server, a child process that sees a hosts file of the test's own, and a count of the
// sockets open.
#include "tools_world.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <thread>

namespace {

constexpr int boundedWaitMs = 5000; // a bound for waits that should end at once
constexpr int piecePauseMs = 30;    // lets each piece arrive on its own

bool WaitReadable(int descriptor, int milliseconds) {
    pollfd entry{descriptor, POLLIN, 0};
    return poll(&entry, 1, milliseconds) > 0;
}

} // namespace

std::future<std::vector<SeenConnection>> ServeLines(unsigned short port,
                                                    std::vector<LineExchange> script) {
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int reuse = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    bool listening = ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     listen(listener, 4) == 0;
    EXPECT_TRUE(listening) << "port " << port;
    return std::async(std::launch::async, [=, script = std::move(script)] {
        std::vector<SeenConnection> seen;
        for (const LineExchange& exchange : script) {
            if (!listening || !WaitReadable(listener, 2 * boundedWaitMs))
                break;
            int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            SeenConnection one;
            char buffer[512];
            ssize_t count = 0;
            while (one.request.find("\r\n") == std::string::npos &&
                   WaitReadable(connection, boundedWaitMs) &&
                   (count = ::recv(connection, buffer, sizeof buffer, 0)) > 0)
                one.request.append(buffer, static_cast<size_t>(count));
            for (const std::string& piece : exchange.pieces) {
                usleep(piecePauseMs * 1000);
                ::send(connection, piece.data(), piece.size(), MSG_NOSIGNAL);
            }
            // Held until the client lets go by itself; otherwise anything the client sends
            // after its request line still counts as request.
            if (!exchange.holdOpen)
                shutdown(connection, SHUT_WR);
            for (int waited = 0; waited < (exchange.holdOpen ? 2 * boundedWaitMs : 200);
                 waited += 50) {
                if (!WaitReadable(connection, 50))
                    continue;
                if ((count = ::recv(connection, buffer, sizeof buffer, 0)) <= 0) {
                    one.closedByClient = true;
                    break;
                }
                one.request.append(buffer, static_cast<size_t>(count));
            }
            ::close(connection);
            seen.push_back(one);
        }
        ::close(listener);
        return seen;
    });
}

// ---- A name server that never answers ----

SilentNameServer::SilentNameServer(const NetworkNamespace& network) {
    // The resolver runs on threads the stack starts from this one. Only when such a
    // thread is in our namespace can its queries reach nothing but this stand-in.
    struct stat wanted {};
    if (stat(("/run/netns/" + network.name()).c_str(), &wanted) != 0)
        return;
    bool inside = false;
    std::thread probe([&] {
        struct stat seen {};
        inside = stat("/proc/thread-self/ns/net", &seen) == 0 && seen.st_ino == wanted.st_ino &&
                 seen.st_dev == wanted.st_dev;
    });
    probe.join();
    if (!inside)
        return;
    // The first nameserver line of resolv.conf; none means the resolver's default, 127.0.0.1.
    std::ifstream file("/etc/resolv.conf");
    std::string text{std::istreambuf_iterator<char>(file), {}};
    std::smatch match;
    static const std::regex line("(^|\n)[ \t]*nameserver[ \t]+([^ \t\r\n#]+)");
    address_ = std::regex_search(text, match, line) ? match[2].str() : "127.0.0.1";
    in_addr parsed{};
    if (inet_pton(AF_INET, address_.c_str(), &parsed) != 1)
        return; // a resolver on IPv6 is not one we can stand in for
    if ((ntohl(parsed.s_addr) >> 24) != 127 &&
        !network.Ip({"address", "add", address_ + "/32", "dev", "lo"}))
        return;
    descriptor_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(53);
    local.sin_addr = parsed;
    if (descriptor_ >= 0 &&
        ::bind(descriptor_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

SilentNameServer::~SilentNameServer() {
    // Refused at last, so that the resolver threads the test gave up on end now rather
    // than at their time-out.
    Queries();
    for (const Query& query : held_) {
        std::vector<unsigned char> answer = query.bytes;
        answer[2] = static_cast<unsigned char>(0x80 | (answer[2] & 0x79)); // a response
        answer[3] = 0x85;                                                  // RA, REFUSED
        ::sendto(descriptor_, answer.data(), answer.size(), 0,
                 reinterpret_cast<const sockaddr*>(query.sender), sizeof query.sender);
    }
    if (descriptor_ >= 0)
        ::close(descriptor_);
}

int SilentNameServer::Queries() {
    unsigned char buffer[512];
    for (;;) {
        Query query{};
        static_assert(sizeof query.sender == sizeof(sockaddr_in));
        socklen_t length = sizeof query.sender;
        ssize_t count = descriptor_ < 0
                            ? -1
                            : ::recvfrom(descriptor_, buffer, sizeof buffer, 0,
                                         reinterpret_cast<sockaddr*>(query.sender), &length);
        if (count < 0)
            break;
        if (count < 12)
            continue;
        query.bytes.assign(buffer, buffer + count);
        held_.push_back(query);
    }
    return static_cast<int>(held_.size());
}

// ---- A hosts file of the test's own ----

namespace {

bool MountTextOver(const char* target, const char* text) {
    char path[] = "/tmp/tarnmap-tools-XXXXXX";
    int descriptor = mkstemp(path);
    if (descriptor < 0)
        return false;
    size_t length = std::strlen(text);
    bool written = ::write(descriptor, text, length) == static_cast<ssize_t>(length);
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

int RunWithOwnHostsFile(const char* hostsText, const char* resolverText, void (*body)()) {
    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        return ownHostsUnavailable;
    if (child == 0) {
        if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            !MountTextOver("/etc/hosts", hostsText) ||
            !MountTextOver("/etc/resolv.conf", resolverText) ||
            std::system("ip link set lo up >/dev/null 2>&1") != 0)
            EndChild(ownHostsUnavailable);
        body();
        EndChild(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return ownHostsUnavailable;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
