// The pager against a pseudo-terminal that plays the modem: the bytes of the dial command,
// the line settings, the modem's answer or silence, and the lines in the map's log.
#include "model/settings.h"
#include "monitor/pager.h"
#include "monitor/poll.h"
#include "platform/messages.h"
#include "platform/system.h"
#include "support/pty_modem.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

// Paging switched on towards `device`, logging into a fresh directory.
class PagerSetup {
  public:
    explicit PagerSetup(const std::string& device) {
        std::snprintf(settingsFiles.mapLog, sizeof settingsFiles.mapLog, "%s",
                      dir_.file("net.LOG").c_str());
        std::snprintf(options.beepDevice, sizeof options.beepDevice, "%s", device.c_str());
        std::snprintf(options.beepString, sizeof options.beepString, "%s", "ATDT%s,,,,,%s#");
        options.beepEnable = 1;
        options.beepBaud = 1;
        options.beepPort = 1;
        pageWaitSeconds = 60;
    }
    ~PagerSetup() {
        settingsFiles.mapLog[0] = '\0';
        options.beepDevice[0] = '\0';
        options.beepEnable = 0;
        pageWaitSeconds = 60;
    }
    // The log's messages without date and time.
    std::vector<std::string> Log() const { return StampedLines(dir_.file("net.LOG")); }

  private:
    TempDir dir_;
};

using Lines = std::vector<std::string>;

// Lets the page under way end, the modem's answer coming as messages; the page's own
// deadline bounds the wait.
void AwaitPage() {
    platform::MSG message{};
    while (PageUnderWay() && platform::GetMessage(&message, 0, 0, 0) > 0)
        platform::DispatchMessage(&message);
}

TEST(Pager, DialsThroughTheModemAndLogsItsSuccess) {
    // The template is no format: only its first two "%s" are replaced. The rate follows
    // BEEP_BAUD, anything but the four known values being 9600.
    const struct {
        const char* dialString;
        int baud;
        const char* sent;
        speed_t speed;
    } cases[] = {{"ATDT%s,,,,,%s#", 7, "ATDT555,,,,,0007#\r", B9600},
                 {"%n%s%s%d%s", 2, "%n5550007%d%s\r", B19200}};
    for (const auto& each : cases) {
        SCOPED_TRACE(each.dialString);
        PtyModem modem;
        ASSERT_FALSE(modem.device().empty());
        // The modem named by a link with a long path, as under /dev/serial/by-id.
        TempDir links;
        std::string link = links.file("usb-Example_Modem_Controller_0123456789ABCDEF-if00-port0");
        ASSERT_EQ(symlink(modem.device().c_str(), link.c_str()), 0);
        ASSERT_GT(link.size(), 80u);
        PagerSetup setup(link);
        std::snprintf(options.beepString, sizeof options.beepString, "%s", each.dialString);
        options.beepBaud = each.baud;
        pageWaitSeconds = 20; // bounds the test should the answer be missed
        modem.AnswerInBackground("OK");
        EXPECT_EQ(SendPage("555", "0007"), 1);
        AwaitPage();
        EXPECT_EQ(modem.Received(), each.sent);
        EXPECT_EQ(modem.line().speed, static_cast<unsigned>(each.speed));
        EXPECT_EQ(modem.line().characterSize, static_cast<unsigned>(CS8));
        EXPECT_FALSE(modem.line().parity);
        EXPECT_FALSE(modem.line().twoStopBits);
        EXPECT_EQ(setup.Log(), Lines{"success beeper message 0007 to 555"});
    }

    char command[32];
    std::snprintf(options.beepString, sizeof options.beepString, "%s", "ATDT%s,,,,,%s#");
    ComposeDialCommand(command, 12, "555", "0007");
    EXPECT_STREQ(command, "ATDT555,,,,") << "cut to the buffer";
}

// The modem's answer decides the line: a failure word or a hang-up fails the page, any
// other answer is a success, and silence ends with a time-out.
TEST(Pager, TheModemsAnswerDecidesTheLine) {
    const char* answers[] = {"BUSY",  "NO CARRIER",   "NO DIALTONE",     "NO ANSWER",
                             "ERROR", "NO DIAL TONE", PtyModem::HANG_UP, "CONNECT 9600",
                             ""};
    TempDir dir;
    PagerSetup setup(dir.file("modem"));
    for (const char* answer : answers) {
        SCOPED_TRACE(answer);
        PtyModem modem;
        ASSERT_FALSE(modem.device().empty());
        std::snprintf(options.beepDevice, sizeof options.beepDevice, "%s", modem.device().c_str());
        // The silent modem's wait, and a bound on the others' should the answer be missed.
        pageWaitSeconds = answer[0] == '\0' ? 2 : 20;
        modem.AnswerInBackground(answer);
        const std::uint32_t start = platform::GetTickCount();
        EXPECT_EQ(SendPage("555", "0007"), 1);
        // The dial returns at once: the monitor goes on while the modem answers.
        EXPECT_LT(platform::GetTickCount() - start, 1000u);
        EXPECT_TRUE(PageUnderWay());
        AwaitPage();
        EXPECT_EQ(modem.Received(), "ATDT555,,,,,0007#\r");
    }
    // A page asked for while the modem answers another is dialled after it. Each is logged
    // in the log of the map that asked for it, though another map was opened meanwhile.
    PtyModem busyModem;
    ASSERT_FALSE(busyModem.device().empty());
    std::snprintf(options.beepDevice, sizeof options.beepDevice, "%s", busyModem.device().c_str());
    pageWaitSeconds = 1;
    busyModem.AnswerInBackground("BUSY");
    EXPECT_EQ(SendPage("555", "0007"), 1);
    const std::string firstLog = settingsFiles.mapLog;
    std::snprintf(settingsFiles.mapLog, sizeof settingsFiles.mapLog, "%s2", firstLog.c_str());
    EXPECT_EQ(SendPage("556", "0008"), 1);
    AwaitPage();
    EXPECT_EQ(busyModem.Received(), "ATDT555,,,,,0007#\r");
    AwaitPage();
    EXPECT_EQ(StampedLines(settingsFiles.mapLog),
              Lines{"no answer from modem for beeper message 0008 to 556"});
    std::snprintf(settingsFiles.mapLog, sizeof settingsFiles.mapLog, "%s", firstLog.c_str());
    // The echo of the longest dial command the settings allow is still known as the echo,
    // also when it ends in blanks, and a line longer than any echo is no answer.
    const std::string longest = "ATX4DT%s" + std::string(56, ',') + "%s#  ";
    ASSERT_EQ(longest.size(), BEEP_STRING_LENGTH);
    std::snprintf(options.beepString, sizeof options.beepString, "%s", longest.c_str());
    for (const std::string& answer : {std::string("BUSY"), std::string(300, 'X')}) {
        PtyModem modem;
        ASSERT_FALSE(modem.device().empty());
        std::snprintf(options.beepDevice, sizeof options.beepDevice, "%s", modem.device().c_str());
        pageWaitSeconds = answer.size() > 4 ? 1 : 20;
        modem.AnswerInBackground(answer);
        EXPECT_EQ(SendPage("5551234567890123456", "123456789012345"), 1);
        AwaitPage();
        EXPECT_EQ(modem.Received().size(), 100u);
    }
    Lines expected;
    for (const char* word : {"BUSY", "NO CARRIER", "NO DIALTONE", "NO ANSWER", "ERROR",
                             "NO DIAL TONE", "line hung up"})
        expected.push_back(std::string("beeper message 0007 to 555 failed: ") + word);
    expected.push_back("success beeper message 0007 to 555");
    expected.push_back("no answer from modem for beeper message 0007 to 555");
    expected.push_back("beeper message 0007 to 555 failed: BUSY");
    expected.push_back("beeper message 123456789012345 to 5551234567890123456 failed: BUSY");
    expected.push_back("no answer from modem for beeper message 123456789012345 to "
                       "5551234567890123456");
    EXPECT_EQ(setup.Log(), expected);
}

TEST(Pager, DisabledOrMissingModemsAreLogged) {
    TempDir dir;
    PagerSetup setup(dir.file("no-such-modem"));
    options.beepEnable = 0;
    EXPECT_EQ(SendPage("555", "0007"), 0);
    options.beepEnable = 1;
    EXPECT_EQ(SendPage("555", "0007"), 0);
    // A file that is no terminal is refused as well, with the system's reason.
    WriteWholeFile(dir.file("plain"), "");
    std::snprintf(options.beepDevice, sizeof options.beepDevice, "%s", dir.file("plain").c_str());
    EXPECT_EQ(SendPage("555", "0007"), 0);
    pollState.closeRequested = 1; // the window closes: no page is dialled any more
    EXPECT_EQ(SendPage("555", "0007"), 0);
    pollState.closeRequested = 0;
    char noDevice[32], notTerminal[32];
    std::snprintf(noDevice, sizeof noDevice, "open error %d", ENOENT);
    std::snprintf(notTerminal, sizeof notTerminal, "open error %d", ENOTTY);
    EXPECT_EQ(setup.Log(), (Lines{"Beeper disabled on 0007 to 555", noDevice, notTerminal,
                                  "beeper message 0007 to 555 cancelled"}));
}

} // namespace
