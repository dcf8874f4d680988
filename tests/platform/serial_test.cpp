// A pseudo-terminal plays the modem: bytes both ways, line settings, read time-outs (the
// line events are the pager test's).
#include "platform/serial.h"
#include "platform/system.h"
#include "support/pty_modem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <termios.h>

namespace {

using namespace platform;

TEST(Serial, ExchangesRawBytesAt8N1) {
    PtyModem modem;
    ASSERT_FALSE(modem.device().empty());
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

    EXPECT_TRUE(CloseHandle(port));

    EXPECT_EQ(OpenCommPort("/dev/no-such-modem"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
    EXPECT_EQ(OpenCommPort("COM"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenCommPort("/dev/null"), INVALID_HANDLE_VALUE) << "not a terminal";
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &written));
}

} // namespace
