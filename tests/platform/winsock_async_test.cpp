// Socket events and look-ups as window messages: what arrives at the window, and when.
#include "platform/window.h"
#include "platform/winsock.h"

#include "event_window.h"
#include "support/http_get.h"
#include "winsock_world.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

using namespace platform;

namespace {

constexpr UINT socketNotify = 1181;
constexpr UINT lookupNotify = 1182;

// The next `notify` message to `window`, with the loop (and the name server, if any) running
// meanwhile; false when `boundMs` ran out first.
bool NextMessage(HWND window, UINT notify, MSG* message, TestNameServer* server = nullptr,
                 unsigned boundMs = 5000) {
    constexpr UINT_PTR tick = 78;
    SetTimer(window, tick, 10, nullptr);
    for (unsigned waited = 0; waited < boundMs;) {
        MSG next;
        GetMessage(&next, 0, 0, 0);
        if (next.hwnd == window && next.message == notify) {
            KillTimer(window, tick);
            *message = next;
            return true;
        }
        if (next.hwnd == window && next.message == WM_TIMER && next.wParam == tick) {
            if (server != nullptr)
                server->Serve();
            waited += 10;
        }
        DispatchMessage(&next);
    }
    KillTimer(window, tick);
    return false;
}

class WinsockAsyncTest : public testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    }
    void TearDown() override { EXPECT_EQ(WSACleanup(), 0); }
    bool NextSocketMessage(MSG* message) { return NextMessage(window, socketNotify, message); }
    int Connect(SOCKET socket, unsigned short port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        return connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    EventWindow eventWindow;
    HWND window = eventWindow.handle();
};

} // namespace

TEST_F(WinsockAsyncTest, ReadThenCloseArriveAsMessagesOncePerReceive) {
    LoopbackPeer listener;
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    // No connect waits; the far end's accept tells that this one is done.
    ASSERT_TRUE(Connect(client, listener.port()) == 0 || WSAGetLastError() == WSAEWOULDBLOCK);
    int server = listener.AcceptOne();
    ASSERT_GE(server, 0);

    ASSERT_EQ(WSAAsyncSelect(client, window, socketNotify, FD_READ | FD_CLOSE), 0);
    // Nothing waits: an empty socket says "would block".
    char buffer[64] = {};
    EXPECT_EQ(recv(client, buffer, sizeof buffer, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    ASSERT_TRUE(WriteAll(server, "first"));
    MSG message{};
    ASSERT_TRUE(NextSocketMessage(&message));
    EXPECT_EQ(message.wParam, client);
    EXPECT_EQ(WSAGETSELECTEVENT(message.lParam), FD_READ);
    EXPECT_EQ(WSAGETSELECTERROR(message.lParam), 0);

    // More data before the program has received: no second FD_READ yet, however often the
    // loop runs.
    ASSERT_TRUE(WriteAll(server, "second"));
    ASSERT_TRUE(WaitUntilReadable(client));
    for (int round = 0; round < 20; ++round)
        ASSERT_FALSE(PeekMessage(&message, window, socketNotify, socketNotify, PM_NOREMOVE));
    EXPECT_EQ(recv(client, buffer, 5, 0), 5);
    EXPECT_STREQ(buffer, "first");
    // The receive asks for the next one: "second" is still waiting.
    ASSERT_TRUE(NextSocketMessage(&message));
    EXPECT_EQ(WSAGETSELECTEVENT(message.lParam), FD_READ);
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(recv(client, buffer, sizeof buffer - 1, 0), 6);
    EXPECT_STREQ(buffer, "second");

    // The far end closes: one FD_CLOSE, after which a receive sees the end.
    CloseDescriptor(server);
    ASSERT_TRUE(NextSocketMessage(&message));
    EXPECT_EQ(WSAGETSELECTEVENT(message.lParam), FD_CLOSE);
    EXPECT_EQ(WSAGETSELECTERROR(message.lParam), 0);
    EXPECT_EQ(recv(client, buffer, sizeof buffer, 0), 0);

    EXPECT_EQ(WSAAsyncSelect(client, window, 0, 0), 0);
    EXPECT_EQ(closesocket(client), 0);
    EXPECT_EQ(WSAAsyncSelect(client, window, socketNotify, FD_READ), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(WSAAsyncSelect(INVALID_SOCKET, window, socketNotify, FD_READ), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinsockAsyncTest, ConnectsAreToldByFdConnectAndAFailedOneByNothingElse) {
    LoopbackPeer listener;
    unsigned short closedPort = FreePort();
    const std::int32_t events = FD_CONNECT | FD_READ | FD_CLOSE;

    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(WSAAsyncSelect(client, window, socketNotify, events), 0);
    if (Connect(client, listener.port()) == SOCKET_ERROR) {
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    }
    MSG message{};
    ASSERT_TRUE(NextSocketMessage(&message));
    EXPECT_EQ(message.wParam, client);
    EXPECT_EQ(WSAGETSELECTEVENT(message.lParam), FD_CONNECT) << "nothing before it";
    EXPECT_EQ(WSAGETSELECTERROR(message.lParam), 0);
    int server = listener.AcceptOne();
    ASSERT_TRUE(WriteAll(server, "hello"));
    ASSERT_TRUE(NextSocketMessage(&message));
    EXPECT_EQ(WSAGETSELECTEVENT(message.lParam), FD_READ);
    char buffer[16] = {};
    EXPECT_EQ(recv(client, buffer, sizeof buffer - 1, 0), 5);
    CloseDescriptor(server);
    EXPECT_EQ(closesocket(client), 0);

    SOCKET refused = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(WSAAsyncSelect(refused, window, socketNotify, events), 0);
    EXPECT_EQ(Connect(refused, closedPort), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(NextSocketMessage(&message));
    EXPECT_EQ(WSAGETSELECTEVENT(message.lParam), FD_CONNECT);
    EXPECT_EQ(WSAGETSELECTERROR(message.lParam), WSAECONNREFUSED);
    for (int round = 0; round < 20; ++round)
        EXPECT_FALSE(PeekMessage(&message, window, socketNotify, socketNotify, PM_NOREMOVE))
            << "no FD_CLOSE after a connect that failed";
    EXPECT_EQ(closesocket(refused), 0);
}

namespace {

HWND lookupWindow = 0;

void LookUpByMessage() {
    TestNameServer server;
    ASSERT_TRUE(server.ok());
    alignas(hostent) char buffer[MAXGETHOSTSTRUCT];
    MSG message{};

    // A name with aliases, laid out in the buffer; the same answer by address.
    HANDLE task = WSAAsyncGetHostByName(lookupWindow, lookupNotify, "beta", buffer, sizeof buffer);
    ASSERT_NE(task, nullptr) << WSAGetLastError();
    ASSERT_TRUE(NextMessage(lookupWindow, lookupNotify, &message, &server));
    EXPECT_EQ(message.wParam, reinterpret_cast<WPARAM>(task));
    EXPECT_EQ(WSAGETASYNCERROR(message.lParam), 0);
    int used = WSAGETASYNCBUFLEN(message.lParam);
    EXPECT_GT(used, static_cast<int>(sizeof(hostent)));
    EXPECT_LE(used, MAXGETHOSTSTRUCT);
    const auto* entry = reinterpret_cast<const hostent*>(buffer);
    EXPECT_STREQ(entry->h_name, "alpha.test");
    ASSERT_NE(entry->h_aliases[0], nullptr);
    EXPECT_STREQ(entry->h_aliases[0], "alpha");
    EXPECT_STREQ(entry->h_aliases[1], "beta");
    EXPECT_EQ(entry->h_aliases[2], nullptr);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    EXPECT_EQ(std::memcmp(entry->h_addr_list[0], "\x0a\x09\x09\x09", 4), 0);
    EXPECT_EQ(entry->h_addr_list[1], nullptr);
    for (const char* pointer : {entry->h_name, entry->h_aliases[1], entry->h_addr_list[0]})
        EXPECT_TRUE(pointer >= buffer && pointer < buffer + used) << "inside the buffer";
    std::uint32_t address = inet_addr("10.9.9.9");
    ASSERT_NE(WSAAsyncGetHostByAddr(lookupWindow, lookupNotify,
                                    reinterpret_cast<const char*>(&address), 4, AF_INET, buffer,
                                    sizeof buffer),
              nullptr);
    ASSERT_TRUE(NextMessage(lookupWindow, lookupNotify, &message, &server));
    EXPECT_STREQ(reinterpret_cast<const hostent*>(buffer)->h_name, "alpha.test");

    // A buffer too small is left alone, and the message says how much it takes.
    char small[sizeof(hostent) + 8];
    std::memset(small, 0x5a, sizeof small);
    ASSERT_NE(WSAAsyncGetHostByName(lookupWindow, lookupNotify, "beta", small, sizeof small),
              nullptr);
    ASSERT_TRUE(NextMessage(lookupWindow, lookupNotify, &message, &server));
    EXPECT_EQ(WSAGETASYNCERROR(message.lParam), WSAENOBUFS);
    EXPECT_EQ(WSAGETASYNCBUFLEN(message.lParam), used);
    EXPECT_EQ(small[0], 0x5a);

    // From the name server: two addresses in the order given.
    server.SetRule("two.test", TestNameServer::Reply::Addresses, {"10.9.9.5", "10.9.9.6"});
    ASSERT_NE(WSAAsyncGetHostByName(lookupWindow, lookupNotify, "two.test", buffer, sizeof buffer),
              nullptr);
    ASSERT_TRUE(NextMessage(lookupWindow, lookupNotify, &message, &server));
    EXPECT_EQ(WSAGETASYNCERROR(message.lParam), 0);
    EXPECT_STREQ(entry->h_name, "two.test");
    EXPECT_EQ(entry->h_aliases[0], nullptr);
    ASSERT_NE(entry->h_addr_list[1], nullptr);
    EXPECT_EQ(std::memcmp(entry->h_addr_list[0], "\x0a\x09\x09\x05", 4), 0);
    EXPECT_EQ(std::memcmp(entry->h_addr_list[1], "\x0a\x09\x09\x06", 4), 0);
    EXPECT_EQ(entry->h_addr_list[2], nullptr);

    // The resolver's failure in the high word.
    ASSERT_NE(
        WSAAsyncGetHostByName(lookupWindow, lookupNotify, "missing.test", buffer, sizeof buffer),
        nullptr);
    ASSERT_TRUE(NextMessage(lookupWindow, lookupNotify, &message, &server));
    EXPECT_EQ(WSAGETASYNCERROR(message.lParam), WSAHOST_NOT_FOUND);

    // Called off while the server holds it: no message, the buffer untouched, though the
    // answer comes after all.
    server.SetRule("held.test", TestNameServer::Reply::Hold);
    std::memset(buffer, 0x5a, sizeof buffer);
    task = WSAAsyncGetHostByName(lookupWindow, lookupNotify, "held.test", buffer, sizeof buffer);
    ASSERT_NE(task, nullptr);
    for (int round = 0; round < 500 && server.heldCount() == 0; ++round) {
        server.Serve();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(WSACancelAsyncRequest(task), 0);
    EXPECT_EQ(WSACancelAsyncRequest(task), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEALREADY);
    server.SetRule("held.test", TestNameServer::Reply::Addresses, {"10.9.9.4"});
    server.ReleaseHeld();
    EXPECT_FALSE(NextMessage(lookupWindow, lookupNotify, &message, &server, 300));
    EXPECT_EQ(buffer[0], 0x5a);
    EXPECT_EQ(WSACancelAsyncRequest(reinterpret_cast<HANDLE>(~std::uintptr_t{0} >> 1)),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

} // namespace

TEST_F(WinsockAsyncTest, LookUpsAnswerByMessageInTheCallersBufferOrNotAtAllWhenCancelled) {
    lookupWindow = window;
    EXPECT_PRIVATE_NETWORK_RUN(RunInPrivateNetwork("",
                                                   "127.0.0.1 localhost\n"
                                                   "10.9.9.9 alpha.test alpha beta\n",
                                                   "nameserver 127.0.0.1\n"
                                                   "options timeout:30 attempts:1\n",
                                                   LookUpByMessage));
}
