// What the ping and traceroute tests share: the program's main window on an empty map, a
// watcher that reads a tool dialog's results while it runs and ends it, the reference
// tools of iputils and traceroute run in the same namespace, and small routed networks.
#pragma once

#include "platform/types.h"
#include "support/netns.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// The main window as the program creates it (poll countdown running, no hosts), the stack
// started with the program's blocking hook, and the tool settings at small test values:
// pingCount 3, 500 ms library and 400 ms raw waits, verbose off, no hop names.
class ToolTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    TempDir dir_{true};
};

// What the watcher saw: the results box's text when the dialog was ended, and whether the
// run got there before the watcher gave up (a minute).
struct ToolRun {
    std::string text;
    bool finished = false;
    int result = -1; // the entry point's
};

using ToolEntry = int (*)(platform::HWND owner, const char* host);
// Called on each look of the watcher (every 50 ms, also during the tool's waits) with the
// dialog and its results; true ends the dialog with "E&xit".
using ToolStep = std::function<bool(platform::HWND dialog, const std::string& results)>;

// Opens the tool over the main window with `host`, its sockets in `space` (null: this
// namespace), and lets `step` decide when to end it; `picture` (a file name) gets an image
// of the dialog just before. A host text starts the run without a click.
ToolRun RunTool(ToolEntry tool, const char* host, const NetworkNamespace* space,
                const ToolStep& step, const char* picture = nullptr);

// The results box's text with the round-trip times, which no test can foresee, replaced:
// "time=T ms", "min/avg/max = R" and "min/max/avg = R".
std::string WithoutTimes(const std::string& text);
// The results split into lines ("\r\n"), the empty last one dropped.
std::vector<std::string> Lines(const std::string& text);
int CountOf(const std::string& text, const std::string& part);
// Whether `text` holds `part`, saying what it holds when not.
testing::AssertionResult Contains(const std::string& text, const std::string& part);

// Open sockets of this process (descriptors that are sockets).
int OpenSocketCount();

// iputils ping run in `space` against `target`: the counts of its summary line, -1 when
// it printed none.
struct ReferencePing {
    int transmitted = -1;
    int received = -1;
    std::string output;
};
ReferencePing RunReferencePing(const NetworkNamespace& space, const char* target, int count);
// traceroute -I -n in `space`: the address of each hop in order ("*" for none).
std::vector<std::string> RunReferenceTraceroute(const NetworkNamespace& space, const char* target,
                                                int maxHops);

// client 10.231.1.1 -- .1.2 r1 .2.1 -- .2.2 r2 .3.1 -- .3.2 r3 .4.1 -- 10.231.4.2 server,
// with `routers` of them (1 to 3) in the chain. The last router answers 10.233.0.0/16
// with "unreachable"; the routers forward and their ICMP errors are not rate-limited by
// type (icmp_ratemask 0). The unreachable route keeps a limit of its own, a burst of five
// per source and one more each second, so a test sends at most five unreachables through
// one network whose answers it checks line by line, and builds a fresh network per test.
struct ToolNetwork {
    std::unique_ptr<NetworkNamespace> client;
    std::vector<std::unique_ptr<NetworkNamespace>> routers;
    std::unique_ptr<NetworkNamespace> server;

    bool Build(int routerCount);
    // The server's address, and the address each router answers from (toward the client).
    std::string ServerAddress() const;
    std::vector<std::string> RouterAddresses() const;
    bool SilenceServer(bool silent) const;
};

#define SKIP_WITHOUT_NAMESPACES()                                                                  \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!NetworkNamespacesAvailable(&why))                                                     \
            GTEST_SKIP() << why;                                                                   \
    } while (false)
