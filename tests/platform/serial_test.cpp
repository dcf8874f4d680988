// A pseudo-terminal plays the modem: bytes both ways, line settings, time-outs, events.
#include "platform/serial.h"
#include "platform/system.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace platform;

class PseudoModem {
  public:
    PseudoModem() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            device_ = ptsname(master_);
    }
    ~PseudoModem() {
        if (master_ >= 0)
            close(master_);
    }
    const std::string& device() const { return device_; }
    std::string Receive(size_t size) {
        std::string bytes;
        while (bytes.size() < size) {
            pollfd wait{master_, POLLIN, 0};
            if (poll(&wait, 1, 5000) <= 0)
                break;
            char buffer[256];
            ssize_t count = read(master_, buffer, sizeof buffer);
            if (count <= 0)
                break;
            bytes.append(buffer, static_cast<size_t>(count));
        }
        return bytes;
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

  private:
    int master_ = -1;
    std::string device_;
};

TEST(Serial, ExchangesRawBytesAt8N1) {
    PseudoModem modem;
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
    EXPECT_EQ(back.ByteSize, 8u);
    EXPECT_EQ(back.Parity, NOPARITY);

    COMMTIMEOUTS timeouts{300, 1000};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
    const std::string command = "ATDT555,,,,,0007#\r";
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(port, command.data(), static_cast<DWORD>(command.size()), &written));
    EXPECT_EQ(written, command.size());
    EXPECT_TRUE(FlushFileBuffers(port));
    EXPECT_EQ(modem.Receive(command.size()), command) << "no translation of CR on the way";

    // A read ends when its bytes have come, or at the time-out with what has come.
    modem.Send("OK\r\n");
    char buffer[32] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(port, buffer, 4, &read));
    EXPECT_EQ(std::string(buffer, read), "OK\r\n");
    modem.Send("AB");
    ASSERT_TRUE(ReadFile(port, buffer, sizeof buffer, &read));
    EXPECT_EQ(std::string(buffer, read), "AB");

    ASSERT_TRUE(SetCommMask(port, EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD));
    DWORD event = 0;
    EXPECT_FALSE(WaitCommEvent(port, &event, 150));
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    modem.Send("C");
    ASSERT_TRUE(WaitCommEvent(port, &event, 5000));
    EXPECT_EQ(event, EV_RXCHAR);
    EXPECT_TRUE(CloseHandle(port));
}

TEST(Serial, MissingDevicesReportTheSystemError) {
    EXPECT_EQ(OpenCommPort("/dev/no-such-modem"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ENOENT));
    EXPECT_EQ(OpenCommPort("COM"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenCommPort("/dev/null"), INVALID_HANDLE_VALUE) << "not a terminal";
    DWORD written = 0;
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &written));
}

} // namespace
