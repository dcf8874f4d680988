// The pager against a pseudo-terminal that plays the modem: the bytes of the dial command,
// the line settings, the modem's answer or silence, and the lines in the map's log.
#include "model/settings.h"
#include "monitor/pager.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The master side of a pseudo-terminal whose slave the pager opens as its modem. A thread
// takes the dial command (up to its carriage return), notes the line settings the pager
// made, and, when it answers, echoes the command and says OK, as a modem does.
class PseudoModem {
  public:
    PseudoModem() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            device_ = ptsname(master_);
    }
    ~PseudoModem() {
        if (thread_.joinable())
            thread_.join();
        if (master_ >= 0)
            close(master_);
    }
    const std::string& device() const { return device_; }

    void Expect(bool answer) {
        thread_ = std::thread([this, answer] {
            char byte = 0;
            while (received_.empty() || received_.back() != '\r') {
                pollfd wait{master_, POLLIN, 0};
                if (poll(&wait, 1, 20000) <= 0 || read(master_, &byte, 1) != 1)
                    return;
                received_ += byte;
            }
            // On Linux the master reports the terminal settings of the slave.
            termios settings{};
            if (tcgetattr(master_, &settings) == 0) {
                speed_ = cfgetospeed(&settings);
                characterSize_ = settings.c_cflag & CSIZE;
                parity_ = (settings.c_cflag & PARENB) != 0;
                twoStopBits_ = (settings.c_cflag & CSTOPB) != 0;
            }
            std::string reply = received_ + "\r\nOK\r\n";
            if (answer && write(master_, reply.data(), reply.size()) < 0)
                return;
        });
    }
    // What the pager wrote; valid once SendPage has returned.
    std::string Received() {
        if (thread_.joinable())
            thread_.join();
        return received_;
    }
    speed_t speed() const { return speed_; }
    tcflag_t characterSize() const { return characterSize_; }
    bool parity() const { return parity_; }
    bool twoStopBits() const { return twoStopBits_; }

  private:
    int master_ = -1;
    std::string device_;
    std::thread thread_;
    std::string received_;
    speed_t speed_ = B0;
    tcflag_t characterSize_ = 0;
    bool parity_ = true;
    bool twoStopBits_ = true;
};

// Paging switched on towards `device`, logging into a fresh directory.
class PagerSetup {
  public:
    explicit PagerSetup(const std::string& device) {
        std::snprintf(mapLogPath, sizeof mapLogPath, "%s", dir_.file("net.LOG").c_str());
        std::snprintf(beepDevice, sizeof beepDevice, "%s", device.c_str());
        std::snprintf(beepString, sizeof beepString, "%s", "ATDT%s,,,,,%s#");
        beepEnable = 1;
        beepBaud = 1;
        beepPort = 1;
        pageWaitSeconds = 60;
    }
    ~PagerSetup() {
        mapLogPath[0] = '\0';
        beepDevice[0] = '\0';
        beepEnable = 0;
        pageWaitSeconds = 60;
    }
    // The log's messages without date and time.
    std::vector<std::string> Log() const {
        std::string text = ReadWholeFile(dir_.file("net.LOG"));
        std::vector<std::string> messages;
        std::size_t start = 0;
        for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos;
             start = end + 2)
            messages.push_back(text.substr(start + 18, end - start - 18));
        return messages;
    }

  private:
    TempDir dir_;
};

using Lines = std::vector<std::string>;

TEST(Pager, DialsThroughTheModemAndLogsItsSuccess) {
    PseudoModem modem;
    ASSERT_FALSE(modem.device().empty());
    // The modem named by a link with a long path, as under /dev/serial/by-id.
    TempDir links;
    std::string link = links.file("usb-Example_Modem_Controller_0123456789ABCDEF-if00-port0");
    ASSERT_EQ(symlink(modem.device().c_str(), link.c_str()), 0);
    ASSERT_GT(link.size(), 80u);
    PagerSetup setup(link);
    beepBaud = 7; // not one of the four: 9600

    pageWaitSeconds = 20; // bounds the test should the answer be missed
    modem.Expect(true);
    EXPECT_EQ(SendPage("555", "0007"), 1);
    EXPECT_EQ(modem.Received(), "ATDT555,,,,,0007#\r");
    EXPECT_EQ(modem.speed(), static_cast<speed_t>(B9600));
    EXPECT_EQ(modem.characterSize(), static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(modem.parity());
    EXPECT_FALSE(modem.twoStopBits());
    EXPECT_EQ(setup.Log(), Lines{"success beeper message 0007 to 555"});

    // The template is no format: only its first two "%s" are replaced, and the rate
    // follows BEEP_BAUD.
    PseudoModem second;
    PagerSetup again(second.device());
    std::snprintf(beepString, sizeof beepString, "%s", "%n%s%s%d%s");
    beepBaud = 2;
    pageWaitSeconds = 20;
    second.Expect(true);
    EXPECT_EQ(SendPage("555", "0007"), 1);
    EXPECT_EQ(second.Received(), "%n5550007%d%s\r");
    EXPECT_EQ(second.speed(), static_cast<speed_t>(B19200));
    EXPECT_EQ(again.Log(), Lines{"success beeper message 0007 to 555"});

    char command[32];
    std::snprintf(beepString, sizeof beepString, "%s", "ATDT%s,,,,,%s#");
    ComposeDialCommand(command, 12, "555", "0007");
    EXPECT_STREQ(command, "ATDT555,,,,") << "cut to the buffer";
}

TEST(Pager, AModemThatNeverAnswersEndsWithATimeOut) {
    PseudoModem modem;
    ASSERT_FALSE(modem.device().empty());
    PagerSetup setup(modem.device());
    pageWaitSeconds = 1;
    modem.Expect(false);
    EXPECT_EQ(SendPage("555", "0007"), 1);
    EXPECT_EQ(modem.Received(), "ATDT555,,,,,0007#\r");
    EXPECT_EQ(setup.Log(), Lines{"no answer from modem for beeper message 0007 to 555"});
}

TEST(Pager, DisabledOrMissingModemsAreLogged) {
    TempDir dir;
    PagerSetup setup(dir.file("no-such-modem"));
    beepEnable = 0;
    EXPECT_EQ(SendPage("555", "0007"), 0);
    beepEnable = 1;
    EXPECT_EQ(SendPage("555", "0007"), 0);
    // A file that is no terminal is refused as well, with the system's reason.
    WriteWholeFile(dir.file("plain"), "");
    std::snprintf(beepDevice, sizeof beepDevice, "%s", dir.file("plain").c_str());
    EXPECT_EQ(SendPage("555", "0007"), 0);
    char noDevice[32], notTerminal[32];
    std::snprintf(noDevice, sizeof noDevice, "open error %d", ENOENT);
    std::snprintf(notTerminal, sizeof notTerminal, "open error %d", ENOTTY);
    EXPECT_EQ(setup.Log(), (Lines{"Beeper disabled on 0007 to 555", noDevice, notTerminal}));
}

} // namespace
