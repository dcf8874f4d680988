// Socket events as window messages: what arrives at the window, and when.
#include "platform/window.h"
#include "platform/winsock.h"

#include "winsock_world.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace platform;

namespace {

constexpr UINT socketNotify = 1181;
constexpr UINT_PTR boundTimer = 77; // ends a wait that should have ended long before

class WinsockAsyncTest : public testing::Test {
  protected:
    void SetUp() override {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
        static bool registered = false;
        if (!registered) {
            WNDCLASS windowClass{};
            windowClass.lpfnWndProc = DefWindowProc;
            windowClass.lpszClassName = "WINSOCKEVENTS";
            registered = RegisterClass(&windowClass);
        }
        window = CreateWindow("WINSOCKEVENTS", "events", 0, 0, 0, 100, 100, 0, 0, nullptr);
        ASSERT_NE(window, 0u);
    }
    void TearDown() override {
        DestroyWindow(window);
        EXPECT_EQ(WSACleanup(), 0);
    }
    // The next socket message, with the loop running meanwhile; false when the bound ran
    // out first.
    bool NextSocketMessage(MSG* message) {
        SetTimer(window, boundTimer, 5000, nullptr);
        for (MSG next;;) {
            GetMessage(&next, 0, 0, 0);
            bool timedOut = next.message == WM_TIMER && next.wParam == boundTimer;
            if (next.hwnd == window && (timedOut || next.message == socketNotify)) {
                KillTimer(window, boundTimer);
                *message = next;
                return !timedOut;
            }
            DispatchMessage(&next);
        }
    }
    int Connect(SOCKET socket, unsigned short port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = inet_addr("127.0.0.1");
        return connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    HWND window = 0;
};

} // namespace

TEST_F(WinsockAsyncTest, ReadThenCloseArriveAsMessagesOncePerReceive) {
    LoopbackPeer listener;
    SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(Connect(client, listener.port()), 0);
    int server = listener.AcceptOne();
    ASSERT_GE(server, 0);

    ASSERT_EQ(WSAAsyncSelect(client, window, socketNotify, FD_READ | FD_CLOSE), 0);
    // From now on nothing waits: an empty socket says "would block".
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
