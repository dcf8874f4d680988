// What the echo engine tests share: the program's main window with a results box to read
// the tools' lines back from, one library echo as the tools make it, and small networks in
// namespaces.
#pragma once

#include "icmp/rawecho.h"
#include "shell/mainwnd.h"
#include "support/map_window.h"
#include "support/netns.h"

#include <memory>
#include <string>

// The engine's globals set up as the program has them, with waits of 400 ms. Lines go to
// `box`; verbose mode is on.
class EchoTest : public MainWindowTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The results box's whole text, and emptied.
    std::string BoxText() const;
    void ClearBox() const;
    // One echo through the library as the tools send it, its end awaited as a message: the
    // reply record's status, with its round trip in `*rtt`, or the reason none was made; -1
    // when no echo set opens or the echo does not start.
    int LibraryEcho(const char* destination, unsigned timeoutMs, std::uint32_t* rtt);

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
