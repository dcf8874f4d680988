// What the tool tests share: the program's settings, resources, network stack and blocking
// hook set up as at start-up; a message loop that runs until a dialog has reached a state;
// line servers (finger, whois) and a silent name server in a network namespace; and a
// child process with a hosts file and resolver configuration of its own.
#pragma once

#include "platform/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/netns.h"
#include "support/tempdir.h"

// Settings in a directory of the test's own (the current directory too), resources
// registered, the stack started with the program's blocking hook.
class ToolsTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    TempDir dir_{true};
};

// Runs the message loop (socket notices, timers, commands) until `done` holds; false when
// ten seconds passed first. Used from a dialog hook, it serves the open dialog.
bool PumpUntil(const std::function<bool()>& done);

// The whole text of a control as the program reads it back.
std::string ItemText(platform::HWND dialog, int id);

// The path of a picture under the test output directory.
std::string PicturePath(const char* name);

// One connection's part in a line server's script.
struct LineExchange {
    std::vector<std::string> pieces; // sent in turn, each after a short pause
    bool holdOpen = false;           // after the pieces, wait for the client to close first
};

// What a line server saw of one connection.
struct SeenConnection {
    std::string request;         // every byte the client sent before the server closed
    bool closedByClient = false; // the client closed while the server held on
};

// A TCP server on 127.0.0.1:`port` inside `network`, on a thread of its own, that takes
// one connection per exchange of its script in order: it reads the request line (up to
// CR LF), sends the pieces and closes.
class LineServer final {
  public:
    LineServer(const NetworkNamespace& network, unsigned short port,
               std::vector<LineExchange> script);
    ~LineServer();
    LineServer(const LineServer&) = delete;
    LineServer& operator=(const LineServer&) = delete;

    bool listening() const { return listening_; }
    // What was seen so far (complete connections only).
    std::vector<SeenConnection> Seen();
    // Waits (a few seconds at most) until `count` connections are complete.
    bool WaitForConnections(size_t count);

  private:
    void Run(const NetworkNamespace* network, unsigned short port);

    std::vector<LineExchange> script_;
    std::vector<SeenConnection> seen_;
    std::mutex lock_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> ready_{false};
    bool listening_ = false;
    std::thread thread_;
};

// The name server this machine's resolver asks first, stood in for inside `network` (where
// the calling thread must be): it takes the queries and never answers, so a name look-up
// made from this thread waits until it is cancelled.
class SilentNameServer final {
  public:
    explicit SilentNameServer(const NetworkNamespace& network);
    ~SilentNameServer();
    SilentNameServer(const SilentNameServer&) = delete;
    SilentNameServer& operator=(const SilentNameServer&) = delete;

    bool ok() const { return descriptor_ >= 0; }
    const std::string& address() const { return address_; }
    // Queries received so far.
    int Queries();

  private:
    struct Query {
        std::vector<unsigned char> bytes;
        unsigned char sender[16]; // the system's IPv4 socket address, as received
    };
    int descriptor_ = -1;
    std::vector<Query> held_; // answered, refused, when the server goes
    std::string address_;
};

// Runs `body` in a forked child that has a network of its own (loopback only) and sees
// `hostsText` as /etc/hosts and `resolverText` as /etc/resolv.conf; what the body puts in
// its report comes back in `report`. 0 when the body's expectations held, 77 when
// namespaces are not available, anything else on failure. The toolkit's drawing threads
// do not exist in the child: the body must not paint.
int RunWithOwnHostsFile(const char* hostsText, const char* resolverText,
                        void (*body)(std::string* report), std::string* report);
inline constexpr int ownHostsUnavailable = 77;

#define SKIP_WITHOUT_NAMESPACES()                                                                  \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!NetworkNamespacesAvailable(&why))                                                     \
            GTEST_SKIP() << why;                                                                   \
    } while (false)
