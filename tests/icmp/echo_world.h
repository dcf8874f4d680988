// What the echo engine tests share: the program's main window with a results box to read
// the tools' lines back from, one library echo as the tools make it, and a small network in
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
    // status of its reply record; -1 when no echo set opens or the echo does not start.
    int LibraryEcho(const char* destination, unsigned timeoutMs);

    platform::HWND box = 0;
};

// The socket address of an IPv4 or IPv6 address text.
platform::sockaddr_storage Destination(const char* text);

// client 10.221.1.1 -- 10.221.1.2 server, a host that answers no echo itself.
struct EchoNetwork {
    std::unique_ptr<NetworkNamespace> client;
    std::unique_ptr<NetworkNamespace> server;

    bool Build();
};
