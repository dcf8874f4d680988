// What the echo engine tests share: a main window that answers the WAIT timer as the
// program's main window does, a results box to read the tools' lines back from, a blocking
// hook that keeps the windows served during a wait, and small networks in namespaces.
#pragma once

#include "icmp/rawecho.h"
#include "platform/window.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/netns.h"

// Ticks of timers other than WAIT_TIMER_ID on the test's main window, and what the test
// wants done on each.
extern int otherTimerTicks;
extern std::function<void(platform::UINT_PTR id)> otherTimerAction;

// Windows, the stack and the engine's globals set up as the program has them, with waits
// of 400 ms. Lines go to `box`; verbose mode is on.
class EchoTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The results box's whole text, and emptied.
    std::string BoxText() const;
    void ClearBox() const;

    platform::HWND mainWindow = 0;
    platform::HWND box = 0;
};

platform::sockaddr_in Destination(const char* dotted);

// client 10.221.1.1 -- 10.221.1.2 router 10.221.2.1 -- 10.221.2.2 server, or client and
// server joined directly (10.221.1.1 -- 10.221.1.2) when built without the router.
struct EchoNetwork {
    std::unique_ptr<NetworkNamespace> client;
    std::unique_ptr<NetworkNamespace> router;
    std::unique_ptr<NetworkNamespace> server;

    bool BuildDirect(bool silentServer);
    bool BuildRouted();
};

#define SKIP_WITHOUT_NAMESPACES()                                                                  \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!NetworkNamespacesAvailable(&why))                                                     \
            GTEST_SKIP() << why;                                                                   \
    } while (false)
