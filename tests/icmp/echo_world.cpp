// The echo tests' results box, the engine's globals, one library echo and the namespace network.
#include "echo_world.h"

#include "icmp/icmplib.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/messages.h"
#include "platform/testing.h"
#include "platform/winsock.h"

#include <cstring>

using namespace platform;

void EchoTest::SetUp() {
    MainWindowTest::SetUp();
    OpenMap("echo", "V1\r\n", "[OPTS]\r\nNOCHECK=1\r\n", 400, 300);
    box = CreateWindow("EDIT", "",
                       WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_HSCROLL,
                       0, 0, 380, 280, mainWindow, 1016, nullptr);
    ASSERT_NE(box, 0u);
    toolEcho.outputBox = box;
    toolEcho.pingIdentifier = mainWindow;
    toolEcho.traceIdentifier = box;
    toolOptions.verbose = 1;
    toolOptions.showHopNames = 0;
    options.waitTimeout = 400;
    toolOptions.echoDataLength = DEFAULT_ECHO_DATA_LENGTH;
}

void EchoTest::TearDown() {
    toolEcho.outputBox = 0;
    toolOptions.verbose = 0;
    MainWindowTest::TearDown();
}

int EchoTest::LibraryEcho(const char* destination, unsigned timeoutMs) {
    LibraryEchoSet set;
    if (OpenLibraryEcho(&set, Destination(destination).ss_family == AF_INET6) != ECHO_SET_OPEN)
        return -1;
    bool ended = false;
    onTestMessage = [&ended] { ended = true; };
    int status = -1;
    if (StartLibraryEcho(&set, testWindow_, WM_USER, Destination(destination), 0, timeoutMs)) {
        MSG message{};
        while (!ended && GetMessage(&message, 0, 0, 0) > 0)
            DispatchMessage(&message);
        TakeLibraryEchoEnd(&set); // the status of its record either way
        status = static_cast<int>(set.status);
    }
    onTestMessage = nullptr;
    CloseLibraryEcho(&set);
    return status;
}

std::string EchoTest::BoxText() const {
    int length = GetWindowTextLength(box);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    int copied = GetWindowText(box, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied));
    return text;
}

void EchoTest::ClearBox() const {
    SetWindowText(box, "");
}

sockaddr_storage Destination(const char* text) {
    sockaddr_storage address{};
    sockaddr_in6 ipv6{};
    if (inet_pton(AF_INET6, text, &ipv6.sin6_addr) == 1) {
        ipv6.sin6_family = AF_INET6;
        std::memcpy(&address, &ipv6, sizeof ipv6);
        return address;
    }
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_addr.s_addr = inet_addr(text);
    std::memcpy(&address, &ipv4, sizeof ipv4);
    return address;
}

bool EchoNetwork::Build() {
    client = std::make_unique<NetworkNamespace>("client");
    server = std::make_unique<NetworkNamespace>("server");
    return client->ok() && server->ok() &&
           ConnectNamespaces(*client, "c0", "10.221.1.1/24", *server, "s0", "10.221.1.2/24") &&
           server->SetSysctl("net.ipv4.icmp_echo_ignore_all", "1");
}
