// A pseudo-terminal plays the modem: bytes both ways, line settings, read time-outs, and
// received bytes and a hang-up told by message (the line events are the pager test's).
#include "platform/serial.h"
#include "platform/system.h"
#include "support/pty_modem.h"

#include "event_window.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace platform;

TEST(Serial, ExchangesRawBytesAt8N1AndTellsReceivedBytesAndAHangUpOncePerRead) {
    PtyModem modem;
    ASSERT_FALSE(modem.device().empty());
    // Another program left the line with hardware flow control, which would hold every
    // write while the modem is off: the line is set up without it.
    int before = open(modem.device().c_str(), O_RDWR | O_NOCTTY);
    termios left{};
    ASSERT_EQ(tcgetattr(before, &left), 0);
    left.c_cflag |= CRTSCTS;
    ASSERT_EQ(tcsetattr(before, TCSANOW, &left), 0);
    close(before);
    ASSERT_TRUE(modem.Settings().hardwareFlow);
    HANDLE port = OpenCommPort(modem.device().c_str());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);

    DCB state{};
    ASSERT_TRUE(GetCommState(port, &state));
    state.BaudRate = 38400;
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    ASSERT_TRUE(SetCommState(port, &state));
    DCB back{};
    ASSERT_TRUE(GetCommState(port, &back));
    EXPECT_EQ(back.BaudRate, 38400u);
    PtyModem::Line line = modem.Settings();
    EXPECT_EQ(line.speed, static_cast<unsigned>(B38400));
    EXPECT_EQ(line.characterSize, static_cast<unsigned>(CS8));
    EXPECT_FALSE(line.parity);
    EXPECT_FALSE(line.twoStopBits);
    EXPECT_FALSE(line.hardwareFlow);

    COMMTIMEOUTS timeouts{300, 1000};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    const std::string command = "ATDT555,,,,,0007#\r";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, command.data(), static_cast<DWORD>(command.size()), &written));
    EXPECT_EQ(written, command.size());
    EXPECT_TRUE(FlushFileBuffers(port));
    EXPECT_EQ(modem.Receive(command.size()), command) << "no translation of CR on the way";

    // A read ends when its bytes have come, or at the time-out with what has come.
    ASSERT_TRUE(modem.Send("OK\r\n"));
    char buffer[32] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(port, buffer, 4, &read));
    EXPECT_EQ(std::string(buffer, read), "OK\r\n");
    ASSERT_TRUE(modem.Send("AB"));
    ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &read));
    EXPECT_EQ(std::string(buffer, read), "AB");

    EventWindow window;
    ASSERT_TRUE(EnableCommNotification(port, window.handle()));
    auto told = [&window] { return window.Received(WM_COMMNOTIFY).size(); };

    // Bytes that come are told once, however many follow, until the program reads.
    ASSERT_TRUE(modem.Send("OK\r\n"));
    EXPECT_TRUE(window.RunUntil([&] { return told() == 1; }, 5000));
    ASSERT_TRUE(modem.Send("MORE"));
    window.RunUntil([] { return false; }, 100);
    ASSERT_EQ(told(), 1u);
    EventWindow::Event first = window.Received(WM_COMMNOTIFY).front();
    EXPECT_EQ(first.wParam, reinterpret_cast<WPARAM>(port));
    EXPECT_EQ(static_cast<DWORD>(first.lParam), CN_RECEIVE);
    ASSERT_TRUE(ReadFile(port, buffer, 8, &read));
    EXPECT_EQ(std::string(buffer, read), "OK\r\nMORE");
    window.RunUntil([] { return false; }, 100);
    EXPECT_EQ(told(), 1u) << "nothing left to read";

    // The modem hangs up after the dial command: told as well, and the read says so.
    modem.AnswerInBackground(PtyModem::HANG_UP);
    ASSERT_TRUE(WriteFile(port, "ATD5\r", 5, &written));
    EXPECT_TRUE(window.RunUntil([&] { return told() == 2; }, 5000));
    EXPECT_EQ(modem.Received(), "ATD5\r");
    EXPECT_FALSE(ReadFile(port, buffer, 1, &read));
    EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
    EXPECT_TRUE(EnableCommNotification(port, 0));
    EXPECT_TRUE(CloseHandle(port));

    EXPECT_EQ(OpenCommPort("/dev/no-such-modem"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
    EXPECT_EQ(OpenCommPort("COM"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenCommPort("/dev/null"), INVALID_HANDLE_VALUE) << "not a terminal";
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &written));
}

} // namespace
