// The Connect launcher: the command lines it completes for each port and client and the
// program really started with them; what every tool dialog shares: the Tools menu opens
// it with the poll countdown stopped meanwhile, and it keeps its layout when resized.
#include "tools/connect.h"

#include "mapui/statusbar.h"
#include "model/settings.h"
#include "monitor/log.h"
#include "monitor/poll.h"
#include "monitor/programs.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "platform/testing.h"
#include "resources/commands.h"
#include "resources/dialogcommon.h"
#include "shell/mainwnd.h"
#include "shell/startup.h"
#include "support/ui_fixture.h"
#include "tools/fingerwhois.h"
#include "tools/lookup.h"
#include "tools/ping.h"
#include "tools/shared.h"
#include "tools_world.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <tuple>

using namespace platform;

namespace {

// The client's command and its arguments, each in <>.
std::string Completed(const char* program, const char* host, unsigned port) {
    char portText[16];
    const char* arguments[CONNECT_ARGUMENTS];
    int count = ConnectArguments(program, host, port, portText, sizeof portText, arguments);
    std::string line = program;
    for (int i = 0; i < count; ++i)
        line += std::string("<") + arguments[i] + ">";
    return line;
}

// The places of a dialog's controls (key 0: its client area) before and after it was made
// 150 x 90 pixels larger; `open` shows the dialog, which is then closed with command 101.
struct DialogLayout {
    std::map<int, RECT> before, after;
};
DialogLayout ResizedLayout(const std::function<void()>& open, const char* picture) {
    DialogLayout layout;
    QueueDialogHook([&](HWND dialog) {
        auto measure = [&](std::map<int, RECT>& rects) {
            GetClientRect(dialog, &rects[0]);
            // Every number the tool dialogs' controls use; those a dialog lacks stay empty.
            for (int id : {IDOK, IDCANCEL, TOOL_OPTIONS_BUTTON, LOOKUP_HOST, WHOIS_SEARCH,
                           FINGER_RESULTS, LOOKUP_RESULTS})
                GetControlRect(dialog, id, &rects[id]);
        };
        measure(layout.before);
        RECT outer;
        GetWindowRect(dialog, &outer);
        MoveWindow(dialog, outer.left, outer.top, outer.right - outer.left + 150,
                   outer.bottom - outer.top + 90, true);
        measure(layout.after);
        SaveWindowImage(dialog, PicturePath(picture).c_str());
        PostMessage(dialog, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
    });
    open();
    return layout;
}

} // namespace

TEST(ConnectCommand, HostAndPortByTheRulesOfEachClient) {
    EXPECT_EQ(Completed("telnet", "h", 23), "telnet<h>");
    EXPECT_EQ(Completed("telnet", "h", 21), "telnet<h>");
    EXPECT_EQ(Completed("telnet", "h", 2323), "telnet<h><2323>");
    EXPECT_EQ(Completed("telnet", "h", 4294967295u), "telnet<h><4294967295>") << "unsigned";
    EXPECT_EQ(Completed("c:\\net\\portage.exe", "h", 21), "c:\\net\\portage.exe<-p><h>");
    EXPECT_EQ(Completed("PORTAGE", "h", 23), "PORTAGE<-p><h>");
    EXPECT_EQ(Completed("Portage", "h", 21), "Portage<h>") << "only the two spellings";
    EXPECT_EQ(Completed("portage", "h", 8021), "portage<h><8021>");
    EXPECT_EQ(Completed("telnet", "", 2323), "telnet") << "no host, no arguments";
}

TEST_F(ToolTest, TelnetAndFtpStartTheirClientWithTheCompletedCommandLine) {
    const std::string telnet = WriteArgumentsScript(dir_.file("telnet-client"));
    const std::string ftp = WriteArgumentsScript(dir_.file("portage"));
    std::snprintf(options.telnetCommand, sizeof options.telnetCommand, "%s", telnet.c_str());
    std::snprintf(options.ftpCommand, sizeof options.ftpCommand, "%s", ftp.c_str());
    const struct {
        unsigned command;
        const char* host;
        const char* port;
        const std::string& client;
        const char* line; // as the journal has it, after the client
        const char* arguments;
    } runs[] = {{CMD_TELNET, "h1", "23", telnet, " h1", "<h1>\n"},
                // An IPv6 address in brackets goes to the client bare.
                {CMD_FTP, "[fd00::2]", "21", ftp, " -p fd00::2", "<-p><fd00::2>\n"},
                {CMD_TELNET, "h4", "", telnet, " h4", "<h4>\n"}}; // an empty port field
    std::vector<std::string> expected;
    for (const auto& run : runs) {
        SCOPED_TRACE(run.host);
        std::string proposed;
        QueueDialogHook([&](HWND dialog) {
            proposed = ItemText(dialog, CONNECT_PORT);
            SetDlgItemText(dialog, CONNECT_HOST, run.host);
            SetDlgItemText(dialog, CONNECT_PORT, run.port);
            PostMessage(dialog, WM_COMMAND, IDOK, 0);
        });
        RunCommand(mainWindow, run.command);
        EXPECT_TRUE(PumpUntilToolsClosed());
        EXPECT_EQ(proposed, run.command == CMD_FTP ? "21" : "23");
        EXPECT_EQ(TakeScriptOutput(run.client), run.arguments);
        expected.push_back("exec: " + run.client + run.line);
    }
    EXPECT_EQ(JournalEntries(), expected);

    // Cancel starts nothing and keeps the host typed before.
    QueueDialogHook([](HWND dialog) {
        EXPECT_EQ(ItemText(dialog, CONNECT_HOST), "h4");
        SetDlgItemText(dialog, CONNECT_HOST, "not-this-one");
        SaveWindowImage(dialog, PicturePath("connect_dialog.png").c_str());
        PostMessage(dialog, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
    });
    RunCommand(mainWindow, CMD_FTP);
    EXPECT_TRUE(PumpUntilToolsClosed());
    EXPECT_EQ(JournalEntries().size(), 3u);
    EXPECT_STREQ(toolHost, "h4");
}

TEST_F(ToolTest, ClientsThatCannotStartAreToldAndATerminalIsChosenAtFirstStart) {
    ConnectDesktopReports();
    const std::string client = WriteArgumentsScript(dir_.file("telnet-client"));
    auto connect = [this](const char* host) {
        QueueDialogHook([host](HWND dialog) {
            SetDlgItemText(dialog, CONNECT_HOST, host);
            PostMessage(dialog, WM_COMMAND, IDOK, 0);
        });
        RunCommand(mainWindow, CMD_TELNET);
        EXPECT_TRUE(PumpUntilToolsClosed());
        return PaneText(0);
    };
    std::snprintf(options.telnetCommand, sizeof options.telnetCommand,
                  "no-such-terminal -e telnet");
    EXPECT_EQ(connect("h1"), " cannot start \"no-such-terminal\": no such program");
    std::snprintf(options.telnetCommand, sizeof options.telnetCommand, "%s", client.c_str());
    EXPECT_EQ(connect("-oProxyCommand=x"),
              " cannot start \"" + client +
                  "\": \"-oProxyCommand=x\" is no plain host name or address");
    std::string log = ReadWholeFile(dir_.file("tools.LOG"));
    EXPECT_NE(log.find(" cannot start \"no-such-terminal\": no such program\r\n"),
              std::string::npos)
        << log;
    EXPECT_FALSE(std::filesystem::exists(client + ".out"));

    // The first terminal found on PATH, in the order of the list, unless $TERMINAL names one.
    std::string bin = dir_.file("bin");
    std::filesystem::create_directory(bin);
    for (const char* terminal : {"xterm", "konsole"})
        WriteArgumentsScript(bin + "/" + terminal);
    std::string path = getenv("PATH");
    setenv("PATH", bin.c_str(), 1);
    unsetenv("TERMINAL");
    ChooseTerminalCommands();
    EXPECT_EQ(std::string(options.telnetCommand) + "|" + options.ftpCommand,
              "konsole -e telnet|konsole -e ftp");
    setenv("TERMINAL", (bin + "/xterm -fa Mono").c_str(), 1);
    ChooseTerminalCommands();
    EXPECT_STREQ(options.telnetCommand, "konsole -e telnet") << "chosen once, at the first start";
    WritePrivateProfileString("OPTS", "TELNET", nullptr, settingsFiles.global);
    ChooseTerminalCommands();
    ReadProgramOptions();
    EXPECT_EQ(std::string(options.telnetCommand) + "|" + options.ftpCommand,
              bin + "/xterm -fa Mono -e telnet|konsole -e ftp");
    setenv("PATH", path.c_str(), 1);
    unsetenv("TERMINAL");
}

// Each command opens its own window and leaves the countdown running; a cycle comes while a
// ping is under way, and the ping's lines appear as their answers come, not at its end.
TEST_F(ToolTest, ToolWindowsLetMonitoringGoOnAndPrintEachLineAsItComes) {
    const std::pair<unsigned, const char*> tools[] = {{CMD_TELNET, "Connect"},
                                                      {CMD_FTP, "Connect"},
                                                      {CMD_LOOKUP, "Lookup"},
                                                      {CMD_WHOIS, "Whois"},
                                                      {CMD_FINGER, "Finger"},
                                                      {CMD_PING, "Ping/Trace Route"},
                                                      {CMD_TRACEROUTE, "Ping/Trace Route"}};
    StartPollTimer();
    for (const auto& [command, caption] : tools) {
        SCOPED_TRACE(caption);
        std::string shown;
        QueueDialogHook([&](HWND dialog) {
            char text[64] = {};
            GetWindowText(dialog, text, sizeof text);
            shown = text;
            PostMessage(dialog, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
        });
        RunCommand(mainWindow, command);
        EXPECT_EQ(pollState.timerActive, 1);
        EXPECT_TRUE(PumpUntilToolsClosed());
        EXPECT_EQ(shown, caption);
        EXPECT_EQ(pollState.timerActive, 1);
    }
    EXPECT_TRUE(JournalEntries().empty()) << "nothing started on Exit";

    SKIP_WITHOUT_NAMESPACES();
    ToolNetwork network;
    ASSERT_TRUE(network.Build(0));
    ASSERT_TRUE(network.SilenceServer(true));
    options.useIcmpLibrary = 1;
    options.waitTimeout = 1000;
    pollState.countdown = 1; // a cycle within two ticks
    std::uint32_t firstLine = 0, cycleSeen = 0;
    const std::uint32_t start = GetTickCount();
    ToolRun run = RunTool(ShowPingTool, network.ServerAddress().c_str(), network.client.get(),
                          [&](HWND, const std::string& text) {
                              if (firstLine == 0 && text.find("timed out") != std::string::npos)
                                  firstLine = GetTickCount();
                              if (cycleSeen == 0 && pollState.countdown > 1)
                                  cycleSeen = GetTickCount();
                              return text.find("round trip (ms)") != std::string::npos;
                          });
    const std::uint32_t end = GetTickCount();
    ASSERT_TRUE(run.finished) << run.text;
    EXPECT_TRUE(run.text.ends_with("timed out\r\ntimed out\r\ntimed out\r\n---\r\n3 transmitted, "
                                   "0 received, 100% packet loss\r\nround trip (ms) "
                                   "min/max/avg = 0/0/0\r\n"))
        << run.text;
    // Three echoes of a second each: the first line comes two seconds before the end.
    ASSERT_NE(firstLine, 0u);
    EXPECT_GE(end - firstLine, 1000u) << "lines come as their answers do";
    EXPECT_LT(end - start, 30000u);
    ASSERT_NE(cycleSeen, 0u) << "a cycle ran while the ping did";
    EXPECT_LT(cycleSeen, end);
    EXPECT_EQ(pollState.timerActive, 1);
    StopPollTimer();
}

TEST_F(ToolTest, ToolDialogsKeepTheirLayoutWhenResized) {
    using Box = std::tuple<int, int, int, int>;
    auto box = [](const RECT& r) { return Box(r.left, r.top, r.right, r.bottom); };
    // The results box keeps its top-left corner and grows to equal margins left, right and
    // below.
    auto resultsFollow = [&](const DialogLayout& layout, int id) {
        const RECT &client = layout.after.at(0), &before = layout.before.at(id);
        EXPECT_EQ(box(layout.after.at(id)), Box(before.left, before.top, client.right - before.left,
                                                client.bottom - before.left));
    };
    const struct {
        const char* name;
        int (*open)(HWND);
        int field, results, search;
    } queries[] = {{"lookup", ShowLookupTool, LOOKUP_HOST, LOOKUP_RESULTS, 0},
                   {"finger", ShowFingerTool, FINGER_STRING, FINGER_RESULTS, 0},
                   {"whois", ShowWhoisTool, WHOIS_SERVER, WHOIS_RESULTS, WHOIS_SEARCH}};
    for (const auto& query : queries) {
        SCOPED_TRACE(query.name);
        DialogLayout layout = ResizedLayout([&] { EXPECT_EQ(query.open(0), 1); },
                                            (std::string(query.name) + "_resized.png").c_str());
        const RECT &client = layout.after[0], &field = layout.after[query.field],
                   &button = layout.before[IDOK];
        int width = button.right - button.left, height = button.bottom - button.top;
        int x = client.right - width - height / 2;
        ASSERT_GT(width, 0);
        // OK and Exit in the top right corner, half a button's height in.
        EXPECT_EQ(box(layout.after[IDOK]), Box(x, height / 2, x + width, height / 2 + height));
        EXPECT_EQ(box(layout.after[IDCANCEL]),
                  Box(x, height / 2 + height + 5, x + width, height / 2 + 2 * height + 5));
        // The finger string ends before the buttons, the other fields take half the width.
        EXPECT_EQ(field.right,
                  query.field == FINGER_STRING ? x - field.left : field.left + client.right / 2);
        if (query.search != 0) {
            const RECT& search = layout.after[query.search];
            EXPECT_EQ(client.right - search.right, search.left);
        }
        resultsFollow(layout, query.results);
    }

    // Ping and trace: Exit, the start button and Options stacked at the right edge.
    DialogLayout layout = ResizedLayout([] { ShowPingTool(mainWindow, ""); }, "ping_resized.png");
    const RECT &host = layout.after[TOOL_HOST_EDIT], &exit = layout.before[TOOL_EXIT_BUTTON];
    int width = exit.right - exit.left, height = exit.bottom - exit.top;
    int x = layout.after[0].right - width - host.left;
    int top = 2;
    for (int id : {TOOL_EXIT_BUTTON, TOOL_START_BUTTON, TOOL_OPTIONS_BUTTON}) {
        EXPECT_EQ(box(layout.after[id]), Box(x, top, x + width, top + height)) << id;
        top += height + 2;
    }
    EXPECT_EQ(host.right, x - host.left);
    resultsFollow(layout, TOOL_RESULTS_EDIT);
}
