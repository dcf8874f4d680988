// What the tool tests share: the main window on an empty map, a message loop run from a
// dialog hook that drives a tool dialog, routed networks, line servers and a silent name
// server.
#pragma once

#include "support/map_window.h"
#include "support/netns.h"

#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

struct ToolRun {
    std::string text;      // the results when `step` ended the dialog
    bool finished = false; // whether it did, within a minute
};
using ToolEntry = int (*)(platform::HWND owner, const char* host);
// Sees the results after each message; true: "E&xit".
using ToolStep = std::function<bool(platform::HWND dialog, const std::string& results)>;

// The tool settings at small test values: a ping count of 3, 500 ms library and 400 ms raw waits,
// verbose off, no hop names, neither ICMP mode; the journal on.
class ToolTest : public MainWindowTest {
  protected:
    void SetUp() override;
    void TearDown() override;
    // Runs the message loop until `done` holds; false when `seconds` passed first.
    bool PumpUntil(const std::function<bool()>& done, unsigned seconds = 20);
    // Runs the message loop until no tool window is open; false when `seconds` passed first.
    bool PumpUntilToolsClosed(unsigned seconds = 20);
    // Opens the tool over the main window with `host` (which starts a run), its sockets in
    // `space` (null: this namespace); `picture` gets an image of the dialog as it ends.
    ToolRun RunTool(ToolEntry tool, const char* host, const NetworkNamespace* space,
                    const ToolStep& step, const char* picture = nullptr);
};

std::string BoxText(platform::HWND dialog, int id); // no length limit
// Round-trip times replaced: "time=T ms", "min/avg/max = R".
std::string WithoutTimes(const std::string& text);

// client 10.231.1.1 -- .1.2 r1 .2.1 -- .2.2 r2 .3.1 -- ... -- 10.231.<n+1>.2 server, with n
// routers (0 to 3) whose ICMP errors are not rate-limited by type. The last router answers
// 10.233.0.0/16 "unreachable", a route limited to a burst of five answers per source. The
// same over IPv6: link n is fd31:n::/64 (fd31:n::1 -- fd31:n::2), with no rate limit on
// ICMPv6 errors, and fd33::/16 is the unreachable route.
struct ToolNetwork {
    std::unique_ptr<NetworkNamespace> client;
    std::vector<std::unique_ptr<NetworkNamespace>> routers;
    std::unique_ptr<NetworkNamespace> server;

    bool Build(int routerCount);
    std::string ServerAddress(bool ipv6 = false) const;
    std::vector<std::string> RouterAddresses(bool ipv6 = false) const; // each toward the client
    bool SilenceServer(bool silent) const;                             // both families
};

struct LineExchange {                // one connection's part in a line server's script
    std::vector<std::string> pieces; // sent in turn, each after a short pause
    bool holdOpen = false;           // after the pieces, wait for the client to close first
};
struct SeenConnection {
    std::string request;         // every byte the client sent
    bool closedByClient = false; // the client closed while the server held on
};
// Serves on `port` of both families (127.0.0.1 and ::1) of the calling thread's namespace, on a
// thread of its own, one connection per exchange; what it saw, once every exchange is done or timed
// out.
std::future<std::vector<SeenConnection>> ServeLines(unsigned short port,
                                                    std::vector<LineExchange> script);

// Stands in, inside `network` (where the calling thread must be), for the name server this
// machine's resolver asks first: it holds queries unanswered, so a look-up waits until it is
// cancelled, and refuses them once they are counted.
class SilentNameServer final {
  public:
    explicit SilentNameServer(const NetworkNamespace& network);
    ~SilentNameServer();
    bool ok() const { return descriptor_ >= 0; }
    const std::string& address() const { return address_; }
    int Queries(); // received so far

  private:
    int descriptor_ = -1;
    int queries_ = 0;
    std::string address_;
};
