// The Connect launcher: the command lines it completes for each port and client, the
// program really started with them, and the Tools menu commands that open every tool with
// the poll countdown stopped meanwhile.
#include "tools/connect.h"

#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/journal.h"
#include "platform/testing.h"
#include "resources/commands.h"
#include "shell/mainwnd.h"
#include "tools/lookup.h"
#include "tools/shared.h"
#include "tools_world.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

using namespace platform;

namespace {

std::string Completed(const char* program, const char* host, unsigned port) {
    char line[64];
    std::snprintf(line, sizeof line, "%s", program);
    CompleteConnectCommand(line, sizeof line, host, port);
    return line;
}

// A client that writes the arguments it was given, each in <>, to its own path + ".out".
std::string WriteClient(const std::string& path) {
    WriteWholeFile(path, "#!/bin/sh\nfor a in \"$@\"; do printf '<%s>' \"$a\"; done > \"$0.tmp\"\n"
                         "echo >> \"$0.tmp\"; mv \"$0.tmp\" \"$0.out\"\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

std::string WaitForFile(const std::string& path) {
    for (int i = 0; i < 500 && !std::filesystem::exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ReadWholeFile(path);
}

// Runs a Tools menu command with `host` and `port` typed into the Connect dialog and OK
// pressed; the port the dialog proposed.
std::string ConnectThroughMenu(unsigned command, const char* host, const char* port) {
    std::string proposed;
    QueueDialogHook([&](HWND dialog) {
        proposed = ItemText(dialog, CONNECT_PORT);
        SetDlgItemText(dialog, CONNECT_HOST, host);
        SetDlgItemText(dialog, CONNECT_PORT, port);
        PostMessage(dialog, WM_COMMAND, IDOK, 0);
    });
    RunCommand(mainWindow, command);
    return proposed;
}

} // namespace

TEST(ConnectCommand, HostAndPortByTheRulesOfEachClient) {
    EXPECT_EQ(Completed("telnet", "h", 23), "telnet h");
    EXPECT_EQ(Completed("telnet", "h", 21), "telnet h");
    EXPECT_EQ(Completed("telnet", "h", 2323), "telnet h 2323");
    EXPECT_EQ(Completed("telnet", "h", 0), "telnet h 0") << "an empty port field";
    EXPECT_EQ(Completed("telnet", "h", 4294967295u), "telnet h 4294967295");
    EXPECT_EQ(Completed("c:\\net\\portage.exe", "h", 21), "c:\\net\\portage.exe -p h");
    EXPECT_EQ(Completed("PORTAGE", "h", 23), "PORTAGE -p h");
    EXPECT_EQ(Completed("Portage", "h", 21), "Portage h") << "only the two spellings";
    EXPECT_EQ(Completed("portage", "h", 8021), "portage h 8021");
    // Cut, never overrun.
    std::string cut =
        Completed("a-client-with-a-long-name", "a.very.long.host.name.in.a.very.long.domain", 99);
    EXPECT_EQ(cut.size(), 63u);
    EXPECT_EQ(cut.substr(0, 26), "a-client-with-a-long-name ");
}

class LauncherTest : public ToolsTest {
  protected:
    void SetUp() override {
        ToolsTest::SetUp();
        static bool registered = false;
        if (!registered) {
            WNDCLASS mainClass{};
            mainClass.lpfnWndProc = DefWindowProc;
            mainClass.lpszClassName = "TOOLSTESTMAIN";
            ASSERT_TRUE(RegisterClass(&mainClass));
            registered = true;
        }
        mainWindow = CreateWindow("TOOLSTESTMAIN", "main", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, 0,
                                  0, nullptr);
        ASSERT_NE(mainWindow, 0u);
        noAutomaticChecks = 0;
        pollInProgress = 0;
        toolHost[0] = '\0';
        EnableJournal(true);
        ClearJournal();
    }
    void TearDown() override {
        EnableJournal(false);
        StopPollTimer();
        DestroyWindow(mainWindow);
        mainWindow = 0;
        noAutomaticChecks = 1;
        ToolsTest::TearDown();
    }
};

TEST_F(LauncherTest, TelnetAndFtpStartTheirClientWithTheCompletedCommandLine) {
    std::string telnet = WriteClient(dir_.file("telnet-client"));
    std::string ftp = WriteClient(dir_.file("portage"));
    std::snprintf(telnetCommand, sizeof telnetCommand, "%s", telnet.c_str());
    std::snprintf(ftpCommand, sizeof ftpCommand, "%s", ftp.c_str());

    EXPECT_EQ(ConnectThroughMenu(CMD_TELNET, "h1", "23"), "23");
    EXPECT_EQ(WaitForFile(telnet + ".out"), "<h1>\n");
    std::filesystem::remove(telnet + ".out");
    EXPECT_EQ(ConnectThroughMenu(CMD_FTP, "h2", "21"), "21");
    EXPECT_EQ(WaitForFile(ftp + ".out"), "<-p><h2>\n");
    EXPECT_EQ(ConnectThroughMenu(CMD_TELNET, "h3", "2323"), "23") << "the launcher proposes 23";
    EXPECT_EQ(WaitForFile(telnet + ".out"), "<h3><2323>\n");
    std::filesystem::remove(telnet + ".out");
    EXPECT_EQ(ConnectThroughMenu(CMD_TELNET, "h4", ""), "23");
    EXPECT_EQ(WaitForFile(telnet + ".out"), "<h4><0>\n");
    EXPECT_EQ(connectPort, 0u);
    EXPECT_STREQ(toolHost, "h4");

    std::vector<std::string> journal = JournalEntries();
    std::vector<std::string> expected{"exec: " + telnet + " h1", "exec: " + ftp + " -p h2",
                                      "exec: " + telnet + " h3 2323", "exec: " + telnet + " h4 0"};
    EXPECT_EQ(journal, expected);

    // Cancel starts nothing and keeps the host typed before.
    QueueDialogHook([](HWND dialog) {
        EXPECT_EQ(ItemText(dialog, CONNECT_HOST), "h4");
        SetDlgItemText(dialog, CONNECT_HOST, "not-this-one");
        SaveWindowImage(dialog, PicturePath("connect_dialog.png").c_str());
        PostMessage(dialog, WM_COMMAND, 101, 0);
    });
    RunCommand(mainWindow, CMD_FTP);
    EXPECT_EQ(JournalEntries().size(), 4u);
    EXPECT_STREQ(toolHost, "h4");
    EXPECT_STREQ(sharedText, ftp.c_str()) << "the command line is left as the launcher put it";
}

TEST_F(LauncherTest, EveryToolRunsWithThePollCountdownStopped) {
    const struct {
        unsigned command;
        const char* caption;
    } tools[] = {{CMD_TELNET, "Connect"},
                 {CMD_FTP, "Connect"},
                 {CMD_LOOKUP, "Lookup"},
                 {CMD_WHOIS, "Whois"},
                 {CMD_FINGER, "Finger"}};
    for (const auto& tool : tools) {
        for (int inProgress : {0, 1}) {
            pollInProgress = 0;
            StartPollTimer();
            ASSERT_EQ(pollTimerActive, 1);
            pollInProgress = inProgress;
            std::string caption;
            int activeInside = -1;
            QueueDialogHook([&](HWND dialog) {
                char text[64] = {};
                GetWindowText(dialog, text, sizeof text);
                caption = text;
                activeInside = pollTimerActive;
                PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
            });
            RunCommand(mainWindow, tool.command);
            EXPECT_EQ(caption, tool.caption);
            EXPECT_EQ(activeInside, 0) << tool.caption;
            EXPECT_EQ(pollTimerActive, inProgress ? 0 : 1)
                << tool.caption << ": restarted unless a cycle runs";
            StopPollTimer();
        }
    }
    pollInProgress = 0;
    EXPECT_TRUE(JournalEntries().empty()) << "nothing started on Cancel";
}
