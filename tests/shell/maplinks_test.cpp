// The Connect action and map links: % letters, the address appended, programs really
// started, "Net" hosts opening their maps, [LOAD] and [HOME] links; and the command line.
#include "mapui/ctxmenu.h"
#include "mapui/hostinfo.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/log.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "monitor/programs.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "resources/commands.h"
#include "resources/dialogs_hostinfo.h"
#include "shell/filecmds.h"
#include "shell/mainwnd.h"
#include "shell/maplinks.h"
#include "shell/startup.h"
#include "support/map_window.h"
#include "support/ui_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace platform;

namespace {

void SetHost(int index, const char* name, const char* address, const char* resolved) {
    HostRecord& host = hostTable[index];
    host = HostRecord{};
    CopyField(host.name, sizeof host.name, name);
    CopyField(host.address, sizeof host.address, address);
    CopyField(host.resolvedAddr, sizeof host.resolvedAddr, resolved);
    CopyField(host.info1, sizeof host.info1, "rack A");
    CopyField(host.info2, sizeof host.info2, "port 7");
}

std::string Expand(const char* command, unsigned size = CONNECT_LINE_LENGTH + 1) {
    std::vector<char> line(size);
    ExpandConnectCommand(command, 0, line.data(), size);
    return line.data();
}

std::string Compose(const char* command) {
    char line[CONNECT_LINE_LENGTH + 1];
    ComposeConnectLine(command, 0, line, sizeof line);
    return line;
}

TEST(ConnectCommand, PercentLettersAndTheAppendedAddress) {
    SetHost(0, "core", "core.lan", "10.1.2.3");
    hostCount = 1;
    EXPECT_EQ(Expand("x %1|%2|%a|%i|%h|%n|%l|%%"), "x rack A|port 7|10.1.2.3|10.1.2.3|core.lan|"
                                                   "core.lan|core|%");
    EXPECT_EQ(Expand("%A|%I|%H|%N|%L"), "10.1.2.3|10.1.2.3|core.lan|core.lan|core")
        << "letters count in either case";
    EXPECT_EQ(Expand("a% b|%x|%3|end%"), "ab|%x|%3|end")
        << "\"% \" gives nothing, other letters stay, a \"%\" at the end is dropped";

    EXPECT_EQ(Compose("telnet"), "telnet 10.1.2.3");
    EXPECT_EQ(Compose("ftp -n %a"), "ftp -n 10.1.2.3") << "no address after a % command";
    EXPECT_EQ(Compose("[LOAD] other.db"), "[LOAD] other.db");
    EXPECT_EQ(Compose("[load] other.db"), "[load] other.db 10.1.2.3")
        << "only the exact [LOAD] is kept as it stands";
    EXPECT_EQ(Compose("[HOME]"), "[HOME] 10.1.2.3");

    // A longer expansion is cut at the end of the line, and nothing is written past it.
    SetHost(0, "sixteen-letters!", "a", "b");
    std::string command;
    for (int i = 0; i < 70; ++i)
        command += "%l";
    struct {
        char line[CONNECT_LINE_LENGTH + 1];
        char guard[16];
    } buffer;
    std::memset(buffer.guard, 'G', sizeof buffer.guard);
    ComposeConnectLine(command.c_str(), 0, buffer.line, sizeof buffer.line);
    EXPECT_EQ(std::strlen(buffer.line), CONNECT_LINE_LENGTH);
    EXPECT_EQ(std::string(buffer.line, 16), "sixteen-letters!");
    EXPECT_EQ(std::string(buffer.guard, sizeof buffer.guard), std::string(16, 'G'));
    EXPECT_EQ(Expand("%l%l", 8), "sixteen");
    EXPECT_EQ(Expand("ab%", 3), "ab");
}

TEST(ConnectCommand, NetHostMapCandidatesAndTheCommandLine) {
    TempDir dir(true);
    char path[MAP_PATH_LENGTH + 1];
    EXPECT_FALSE(FindNetHostMap("campus", path, sizeof path));
    WriteWholeFile(dir.file("campusne.db"), "V1\r\n");
    ASSERT_TRUE(FindNetHostMap("campus", path, sizeof path));
    EXPECT_STREQ(path, "campusne.db") << "the stem and \"net\", cut to eight letters";
    WriteWholeFile(dir.file("campus.db"), "V1\r\n");
    ASSERT_TRUE(FindNetHostMap("campus", path, sizeof path));
    EXPECT_STREQ(path, "campus.db");
    WriteWholeFile(dir.file("backbone.db"), "V1\r\n");
    ASSERT_TRUE(FindNetHostMap("backbone-north", path, sizeof path));
    EXPECT_STREQ(path, "backbone.db");

    // The command line is one path, quotes and blanks and all.
    EXPECT_TRUE(TakeCommandLineMap("\"my maps/site one.db\""));
    EXPECT_STREQ(mapPath, "\"my maps/site one.db\"");
}

class MapLinkTest : public MapWindowTest {
  protected:
    void SetUp() override {
        MapWindowTest::SetUp();
        // Linked maps have no settings of their own: the countdown runs for them too.
        ASSERT_TRUE(WritePrivateProfileString("OPTS", "NOCHECK", "0", settingsFiles.global));
        EnableJournal(true);
        ClearJournal();
    }
    void SetConnect(const char* host, const char* command) {
        ASSERT_TRUE(WritePrivateProfileString(host, "CONNECT", command, settingsFiles.mapSettings));
    }
    // The double click of a person on a cell while monitoring: the press opens the
    // detail window, the release closes it, then the double click and its release.
    void DoubleClick(int col, int row) {
        Mouse(WM_LBUTTONDOWN, col, row, MK_LBUTTON);
        Mouse(WM_LBUTTONUP, col, row);
        Mouse(WM_LBUTTONDBLCLK, col, row, MK_LBUTTON);
        Mouse(WM_LBUTTONUP, col, row);
    }
    void ChooseConnect(int col, int row) {
        QueuePopupMenuAnswer(CMD_CONTEXT_CONNECT);
        Mouse(WM_RBUTTONDOWN, col, row, MK_RBUTTON);
    }
    static std::vector<std::string> Started() { return Entries("exec: "); }
    static std::vector<std::string> Entries(const std::string& kind) {
        std::vector<std::string> entries;
        for (const std::string& entry : JournalEntries())
            if (entry.rfind(kind, 0) == 0)
                entries.push_back(entry.substr(kind.size()));
        return entries;
    }
};

// What the desktop tells and asks, with questions nobody answers answered No.
class DesktopLinkTest : public MapLinkTest {
  protected:
    void SetUp() override {
        MapLinkTest::SetUp();
        ConnectDesktopReports();
        AnswerUnaskedQuestions(true);
    }
};

TEST_F(MapLinkTest, ConnectStartsTheHostsProgram) {
    // By a double click while monitoring, with the letters expanded. (The programs are
    // `true`: the exec test runs real ones.)
    SetConnect("alpha", "true -l %l %1 -a %a");
    DoubleClick(2, 2);
    EXPECT_EQ(menuHost, 0);
    ASSERT_EQ(Started(), std::vector<std::string>{"true -l alpha first -a 127.0.0.1"});

    // Without CONNECT, the TELNET command with the address appended; from the menu too.
    ClearJournal();
    CopyField(options.telnetCommand, sizeof options.telnetCommand, "true");
    ChooseConnect(10, 4);
    EXPECT_EQ(Started(), std::vector<std::string>{"true 127.0.0.1"});

    // A double click on an empty cell starts nothing.
    ClearJournal();
    DoubleClick(30, 25);
    EXPECT_EQ(menuHost, -1);
    EXPECT_TRUE(Started().empty());
    EXPECT_STREQ(mapPath, "test.db");
}

TEST_F(MapLinkTest, NetHostsOpenTheirMap) {
    hostTable[0].kind = KIND_NET; // alpha
    DoubleClick(2, 2);
    EXPECT_STREQ(mapPath, "test.db") << "neither alpha.db nor alphanet.db: nothing";

    WriteWholeFile(dir_.file("alphanet.db"), "V1\r\nHinner,127.0.0.9,,,4,4,0,1,1\r\n");
    DoubleClick(2, 2);
    EXPECT_STREQ(mapPath, "alphanet.db");
    ASSERT_EQ(hostCount, 1);
    EXPECT_STREQ(hostTable[0].name, "inner");
    EXPECT_EQ(lineCount, 0);
    EXPECT_EQ(Title(), "alphanet");
    EXPECT_EQ(std::string(settingsFiles.mapSettings), dir_.file("alphanet.INI"));
    EXPECT_EQ(pollState.timerActive, 1);

    // An empty CONNECT counts as none; a value is run like any other host's.
    OpenLinkedMap(mapWindow, "test.db");
    ASSERT_EQ(hostCount, 3);
    hostTable[0].kind = KIND_NET;
    WriteWholeFile(dir_.file("alpha.db"), "V1\r\n");
    SetConnect("alpha", "");
    DoubleClick(2, 2);
    EXPECT_STREQ(mapPath, "alpha.db") << "alpha.db comes before alphanet.db";
    OpenLinkedMap(mapWindow, "test.db");
    hostTable[0].kind = KIND_NET;
    SetConnect("alpha", "true");
    DoubleClick(2, 2);
    EXPECT_STREQ(mapPath, "test.db");
    EXPECT_EQ(Started(), std::vector<std::string>{"true 127.0.0.1"}) << "the only start";
}

TEST_F(MapLinkTest, LoadAndHomeLinks) {
    WriteWholeFile(dir_.file("other.db"), "V1\r\nHfar,127.0.0.9,,,4,4,0,1,1\r\n");
    WriteWholeFile(dir_.file("gamma.db"), "V1\r\nHg1,127.0.0.9,,,4,4,0,1,1\r\n"
                                          "Hg2,127.0.0.9,,,8,4,0,1,1\r\n");
    SetConnect("beta", "[LOAD] other.db");
    SetConnect("gamma", "[load]   %l.db");
    ChooseConnect(10, 4);
    EXPECT_STREQ(mapPath, "other.db");
    ASSERT_EQ(hostCount, 1);
    EXPECT_EQ(Title(), "other");

    OpenLinkedMap(mapWindow, "test.db");
    DoubleClick(6, 12);
    EXPECT_STREQ(mapPath, "gamma.db") << "any case after the bracket, blanks skipped";
    EXPECT_EQ(hostCount, 2);

    // A LOAD without a path, another word, or a path too long for the map does nothing.
    OpenLinkedMap(mapWindow, "test.db");
    SetConnect("alpha", "[LOAD]");
    DoubleClick(2, 2);
    SetConnect("alpha", "[LOAD]   %");
    DoubleClick(2, 2);
    SetConnect("alpha", "[SHOW] other.db");
    DoubleClick(2, 2);
    EXPECT_STREQ(mapPath, "test.db");
    EXPECT_EQ(hostCount, 3);
    std::string tooLong = "[LOAD] ";
    for (int i = 0; i < 35; ++i)
        tooLong += "%l";
    SetConnect("alpha", tooLong.c_str());
    DoubleClick(2, 2);
    EXPECT_STREQ(mapPath, "test.db");
    EXPECT_EQ(hostCount, 3);
    EXPECT_EQ(StatusText(), " The linked map's path is too long to open.");

    // HOME opens the FILE map whatever follows it, tarnmap.db without one.
    SetConnect("beta", "[home] ignored words");
    ChooseConnect(10, 4);
    EXPECT_STREQ(mapPath, "tarnmap.db");
    EXPECT_EQ(hostCount, 0);
    EXPECT_EQ(StatusText(), "Database read error.");
    OpenLinkedMap(mapWindow, "test.db");
    ASSERT_TRUE(WritePrivateProfileString("OPTS", "FILE", "other.db", settingsFiles.global));
    ChooseConnect(10, 4);
    EXPECT_STREQ(mapPath, "other.db");
    EXPECT_EQ(hostCount, 1);
    EXPECT_EQ(pollState.timerActive, 1);
    EXPECT_TRUE(Started().empty());

    // A line still following the mouse from the context menu is let go of by the new map.
    QueuePopupMenuAnswer(CMD_CONTEXT_NEW_LINE);
    Mouse(WM_RBUTTONDOWN, 30, 30, MK_RBUTTON);
    QueueMessageBoxAnswer(IDNO);
    OpenLinkedMap(mapWindow, "test.db");
    EXPECT_EQ(MapState(), "mode 0 host -1 line -1 timer 1 hosts 3 lines 3");
}

} // namespace

TEST_F(DesktopLinkTest, FieldsReachTheProgramAsOneArgumentEach) {
    const std::string client = WriteArgumentsScript(dir_.file("client"));
    SetConnect("alpha", (client + " -l %l \"%1 x\"%% %a").c_str());
    CopyField(hostTable[0].info1, sizeof hostTable[0].info1, "rack \"A");
    QueueMessageBoxAnswer(IDYES);
    DoubleClick(2, 2);
    EXPECT_EQ(TakeScriptOutput(client), "<-l><alpha><rack \"A x%><127.0.0.1>\n");

    // An address that would be taken for an option is not handed over at all.
    CopyField(hostTable[0].resolvedAddr, sizeof hostTable[0].resolvedAddr, "-oProxyCommand=id>Q");
    DoubleClick(2, 2);
    EXPECT_EQ(StatusText(), " cannot start \"" + client +
                                "\": \"-oProxyCommand=id>Q\" is no plain host name or address");
    CopyField(hostTable[1].resolvedAddr, sizeof hostTable[1].resolvedAddr, "1 --evil x");
    CopyField(options.telnetCommand, sizeof options.telnetCommand, client.c_str());
    ChooseConnect(10, 4);
    EXPECT_EQ(StatusText(),
              " cannot start \"" + client + "\": \"1 --evil x\" is no plain host name or address");
    EXPECT_EQ(Started().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(client + ".out"));
}

TEST_F(DesktopLinkTest, CommandsOfTheMapsSettingsStartOnlyOnceAllowed) {
    auto question = [](const std::string& line) {
        return "Allow this program?: The settings file of this map, " +
               std::string(settingsFiles.mapSettings) +
               ", asks Tarnmap to start this program:\n\n" + line +
               "\n\nAllow it? Yes starts it now and whenever this map asks for it again; No "
               "never starts it for this map.";
    };
    // Refused (the default answer): told, kept, not asked again.
    SetConnect("alpha", "true %a");
    DoubleClick(2, 2);
    DoubleClick(2, 2);
    EXPECT_EQ(Entries("messagebox: "), std::vector<std::string>{question("true 127.0.0.1")});
    EXPECT_TRUE(Started().empty());
    EXPECT_EQ(StatusText(), " cannot start \"true\": not allowed for this map");
    std::string kept = ReadWholeFile(settingsFiles.global);
    EXPECT_TRUE(Holds(kept, "[PROGRAMS]\r\n"));
    EXPECT_TRUE(Holds(kept, "=0 " + std::string(settingsFiles.mapSettings) + ": true %a\r\n"));

    // Allowed: started now and later without a question.
    ClearJournal();
    SetConnect("beta", "true -x %a");
    QueueMessageBoxAnswer(IDYES);
    ChooseConnect(10, 4);
    ChooseConnect(10, 4);
    EXPECT_EQ(Entries("messagebox: "), std::vector<std::string>{question("true -x 127.0.0.1")});
    EXPECT_EQ(Started(), (std::vector<std::string>{"true -x 127.0.0.1", "true -x 127.0.0.1"}));

    // The TELNET command is not the map's, and a command typed in Host Information is the
    // user's own: neither is asked about.
    ClearJournal();
    CopyField(options.telnetCommand, sizeof options.telnetCommand, "true");
    ChooseConnect(6, 12);
    currentHost = 2;
    QueueDialogHook([](HWND dialog) {
        SetDlgItemText(dialog, HOSTINFO_CONNECT, "true typed %l");
        Click(dialog, HOSTINFO_ACCEPT);
    });
    ASSERT_EQ(ShowHostInformation(mainWindow), 1);
    ChooseConnect(6, 12);
    EXPECT_TRUE(Entries("messagebox: ").empty());
    EXPECT_EQ(Started(), (std::vector<std::string>{"true 127.0.0.1", "true typed gamma"}));

    // Two hosts go down at once: the alarm program is asked about once the cycle has ended
    // and the countdown runs again, so checks go on while the question waits for someone.
    // One question, and its answer makes both starts.
    ClearJournal();
    for (int i : {0, 1}) {
        for (auto [key, value] :
             {std::pair{"EXTERNAL", "true"}, {"BEEP_EACH", "1"}, {"BEEP_COUNT", "3"}})
            ASSERT_TRUE(WritePrivateProfileString(hostTable[i].name, key, value,
                                                  settingsFiles.mapSettings));
        CopyField(hostTable[i].resolvedAddr, sizeof hostTable[i].resolvedAddr, "255.255.255.255");
        CopyField(hostTable[i].address, sizeof hostTable[i].address, "255.255.255.255");
        hostTable[i].missed = DOWN_THRESHOLD - 1;
    }
    SendMessage(mainWindow, WM_COMMAND, CMD_CHECK, 0);
    ASSERT_TRUE(RunCycleToEnd());
    EXPECT_EQ(pollState.timerActive, 1);
    EXPECT_TRUE(Entries("messagebox: ").empty());
    QueueMessageBoxAnswer(IDYES);
    PumpPendingMessages();
    EXPECT_EQ(Entries("messagebox: "),
              std::vector<std::string>{question("true DN  0 255.255.255.255")});
    EXPECT_EQ(Started(), (std::vector<std::string>{"true DN  0 255.255.255.255",
                                                   "true DN  1 255.255.255.255"}));

    // An answer that cannot be kept still answers the start it was asked for, once.
    ClearJournal();
    WriteWholeFile(dir_.file("plain"), "");
    const std::string global = settingsFiles.global;
    CopyField(settingsFiles.global, sizeof settingsFiles.global,
              (dir_.file("plain") + "/TARNMAP.INI").c_str());
    SetConnect("beta", "true -y %a");
    QueueMessageBoxAnswer(IDYES);
    ChooseConnect(10, 4);
    EXPECT_EQ(Entries("messagebox: ").size(), 1u);
    EXPECT_EQ(Started(), std::vector<std::string>{"true -y 255.255.255.255"});
    EXPECT_TRUE(Holds(StatusText(), "could not be kept"));
    CopyField(settingsFiles.global, sizeof settingsFiles.global, global.c_str());

    // A cycle cut short by New: the question about its program comes before the map goes.
    ClearJournal();
    ASSERT_TRUE(
        WritePrivateProfileString("alpha", "EXTERNAL", "true cut", settingsFiles.mapSettings));
    hostTable[0].missed = DOWN_THRESHOLD - 1;
    const std::string asked = question("true cut DN  0 255.255.255.255");
    SendMessage(mainWindow, WM_COMMAND, CMD_CHECK, 0);
    ASSERT_EQ(hostTable[0].missed, DOWN_THRESHOLD) << "alpha evaluated at once";
    mapModified = 0;
    NewMapCommand(mainWindow); // the question's default answer: No
    EXPECT_EQ(Entries("messagebox: "), std::vector<std::string>{asked});
    EXPECT_EQ(StatusText(), " cannot start \"true\": not allowed for this map");
}
