// The Host Information dialog driven as the user drives it: what it shows for a host with
// and without a section, the enable rules, what Accept writes to the record and to the
// map's settings file key by key, Cancel, the help button and the refusal of bad fields.
#include "mapui/hostinfo.h"
#include "mapui/parentlines.h"
#include "model/hosts.h"
#include "model/parents.h"
#include "model/settings.h"
#include "platform/dialog.h"
#include "platform/help.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "resources/dialogs_hostinfo.h"
#include "support/ui_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using namespace platform;

namespace {

// A map of eight hosts whose settings file lies in a directory of the test's own.
class HostInformationTest : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        ClearMap();
        for (int i = 0; i < 8; ++i)
            AppendHost(i, 2);
        CopyField(settingsFiles.mapSettings, sizeof settingsFiles.mapSettings,
                  dir_.file("office.INI").c_str());
        CopyField(options.telnetCommand, sizeof options.telnetCommand, "telnet.exe");
        CopyField(options.pageNumber, sizeof options.pageNumber, "5551234");
    }
    void TearDown() override {
        DialogTest::TearDown();
        ClearMap();
        currentHost = -1;
    }
    // The host the dialog edits, named and with TCP/IP.
    HostRecord& Edit(int index, const char* name, const char* address = "") {
        currentHost = index;
        HostRecord& host = hostTable[index];
        CopyField(host.name, sizeof host.name, name);
        CopyField(host.address, sizeof host.address, address);
        host.protocol = 1;
        return host;
    }
    std::string Settings() const { return ReadWholeFile(dir_.file("office.INI")); }
};

TEST_F(HostInformationTest, AHostWithoutASectionShowsTheDefaultsAndCancelChangesNothing) {
    HostRecord& host = Edit(7, "printer", "10.0.0.7");
    CopyField(host.info1, sizeof host.info1, "second floor");
    host.kind = KIND_PRINTER;
    bool seen = false;
    QueueDialogHook([&seen](HWND dialog) {
        seen = true;
        // The connect command is the TELNET setting, the number the default one.
        EXPECT_EQ(
            ItemTexts(dialog, {HOSTINFO_NAME, HOSTINFO_ADDRESS, HOSTINFO_INFO1, HOSTINFO_CONNECT,
                               HOSTINFO_BEEP_COUNT, HOSTINFO_BEEP_CODE, HOSTINFO_BEEP_PRIORITY,
                               HOSTINFO_BEEP_NUMBER, HOSTINFO_EXTERNAL}),
            "printer|10.0.0.7|second floor|telnet.exe|19|7|7|5551234|");
        EXPECT_EQ(SendDlgItemMessage(dialog, HOSTINFO_KIND, CB_GETCOUNT, 0, 0), 9);
        EXPECT_EQ(SendDlgItemMessage(dialog, HOSTINFO_KIND, CB_GETCURSEL, 0, 0), 8);
        EXPECT_EQ(ItemText(dialog, HOSTINFO_KIND), "Printer");
        EXPECT_EQ(Checked(dialog, {HOSTINFO_PROTOCOL_TCPIP, HOSTINFO_MONITOR, HOSTINFO_SOUND_LOW,
                                   HOSTINFO_LOG, HOSTINFO_SOUND_NONE, HOSTINFO_BEEPER}),
                  "111100");
        EXPECT_EQ(Enabled(dialog, {HOSTINFO_PROTOCOL_NETBEUI, HOSTINFO_PROTOCOL_SNMP,
                                   HOSTINFO_EDIT_POPUP, HOSTINFO_MONITOR, HOSTINFO_BEEP_EACH}),
                  "00011");
        EXPECT_TRUE(SaveWindowImage(dialog, PicturePath("hostinfo_dialog.png").c_str()));
        // Edits the user then abandons.
        SetItemTexts(dialog, {{HOSTINFO_NAME, "renamed"}, {HOSTINFO_BEEP_NUMBER, "999"}});
        Clicks(dialog, {HOSTINFO_PROTOCOL_NONE, HOSTINFO_CANCEL});
    });
    EXPECT_EQ(ShowHostInformation(0), 0);
    EXPECT_TRUE(seen);
    EXPECT_STREQ(host.name, "printer");
    EXPECT_EQ(host.protocol, 1u);
    EXPECT_EQ(host.flags, 0u);
    EXPECT_FALSE(std::filesystem::exists(dir_.file("office.INI"))) << "nothing written";
    EXPECT_STREQ(options.pageNumber, "5551234") << "the host's number, taken on opening";

    // With no host there is no dialog.
    currentHost = 8;
    EXPECT_EQ(ShowHostInformation(0), 0);
}

TEST_F(HostInformationTest, AcceptWritesTheRecordAndEveryKeyOfTheNewSection) {
    HostRecord& host = Edit(3, "newhost");
    host.flags = HOST_NOT_MONITORED;
    // What a previous Accept under the new name left: both keys must go.
    WriteWholeFile(dir_.file("office.INI"),
                   "[gateway]\r\nCONNECT=ssh gateway\r\nEXTERNAL=notify-send down\r\n");
    QueueDialogHook([](HWND dialog) {
        SetItemTexts(dialog, {{HOSTINFO_NAME, "gateway"},
                              {HOSTINFO_ADDRESS, "10.0.0.1"},
                              {HOSTINFO_INFO1, "core router"},
                              {HOSTINFO_INFO2, ""},
                              {HOSTINFO_CONNECT, "TELNET.EXE"},
                              {HOSTINFO_BEEP_COUNT, ""},
                              {HOSTINFO_BEEP_CODE, "12x"},
                              {HOSTINFO_BEEP_PRIORITY, "4"},
                              {HOSTINFO_BEEP_NUMBER, "5550000"},
                              {HOSTINFO_EXTERNAL, ""}});
        SimulateSelect(GetDlgItem(dialog, HOSTINFO_KIND), KIND_ROUTER);
        // Monitored, loud, not logged, one page each time.
        Clicks(dialog, {HOSTINFO_MONITOR, HOSTINFO_SOUND_HIGH, HOSTINFO_LOG, HOSTINFO_BEEP_EACH,
                        HOSTINFO_BEEPER});
        EXPECT_EQ(Enabled(dialog, {HOSTINFO_BEEP_EACH}), "0") << "a page replaces the program";
        SimulateKey(dialog, VK_RETURN, '\r'); // "Accept" is the default button
    });
    EXPECT_EQ(ShowHostInformation(0), 1);
    EXPECT_EQ(std::string(host.name) + "|" + host.address + "|" + host.resolvedAddr + "|" +
                  host.info1 + "|" + host.info2,
              "gateway|10.0.0.1|10.0.0.1|core router|");
    EXPECT_EQ(host.kind, KIND_ROUTER);
    EXPECT_EQ(host.protocol, 1u);
    EXPECT_EQ(host.flags, 0u) << "monitored, with a protocol";
    EXPECT_STREQ(options.pageNumber, "5550000");
    EXPECT_EQ(Settings(), "[gateway]\r\n"
                          "SOUND=3\r\n"
                          "LOG=0\r\n"
                          "BEEP_COUNT=\r\n"
                          "BEEP_PRIORITY=4\r\n"
                          "BEEP_CODE=12x\r\n"
                          "BEEP_NUMBER=5550000\r\n"
                          "BEEPER=1\r\n"
                          "BEEP_EACH=0\r\n");

    // Opened again, the section reads back as written; a connect command of its own is
    // kept, and "Beep Each" alone is written as such.
    QueueDialogHook([](HWND dialog) {
        EXPECT_EQ(Checked(dialog, {HOSTINFO_SOUND_HIGH, HOSTINFO_LOG, HOSTINFO_BEEPER}), "101");
        // An empty count reads as the default.
        EXPECT_EQ(ItemTexts(dialog, {HOSTINFO_BEEP_COUNT, HOSTINFO_BEEP_CODE}), "19|12");
        Click(dialog, HOSTINFO_BEEPER);
        EXPECT_EQ(Enabled(dialog, {HOSTINFO_BEEP_EACH}), "1");
        Click(dialog, HOSTINFO_BEEP_EACH);
        SetItemTexts(dialog, {{HOSTINFO_CONNECT, "ssh admin@gateway"},
                              {HOSTINFO_EXTERNAL, "notify-send %s"}});
        Click(dialog, HOSTINFO_ACCEPT);
    });
    EXPECT_EQ(ShowHostInformation(0), 1);
    EXPECT_EQ(Settings(), "[gateway]\r\n"
                          "SOUND=3\r\n"
                          "LOG=0\r\n"
                          "BEEP_COUNT=19\r\n"
                          "BEEP_PRIORITY=4\r\n"
                          "BEEP_CODE=12\r\n"
                          "BEEP_NUMBER=5550000\r\n"
                          "BEEPER=0\r\n"
                          "BEEP_EACH=1\r\n"
                          "CONNECT=ssh admin@gateway\r\n"
                          "EXTERNAL=notify-send %s\r\n");
}

TEST_F(HostInformationTest, TypeRulesKeepAHostWithoutProtocolUnmonitored) {
    // A fresh host: protocol None, so "Monitor" starts disabled.
    HostRecord& host = Edit(0, "newhost");
    host.protocol = 0;
    host.kind = 3;
    QueueDialogHook([](HWND dialog) {
        EXPECT_EQ(Checked(dialog, {HOSTINFO_PROTOCOL_NONE}) + Enabled(dialog, {HOSTINFO_MONITOR}),
                  "10");
        Click(dialog, HOSTINFO_PROTOCOL_TCPIP);
        EXPECT_EQ(Enabled(dialog, {HOSTINFO_MONITOR}), "1");
        Click(dialog, HOSTINFO_PROTOCOL_NONE);
        EXPECT_EQ(Enabled(dialog, {HOSTINFO_MONITOR}) + Checked(dialog, {HOSTINFO_MONITOR}), "01")
            << "disabled, not cleared";
        HWND kinds = GetDlgItem(dialog, HOSTINFO_KIND);
        SetWindowText(kinds, "");
        SimulateTyping(kinds, "Gizmo");
        Click(dialog, HOSTINFO_ACCEPT);
    });
    EXPECT_EQ(ShowHostInformation(0), 1);
    EXPECT_EQ(host.protocol, 0u);
    EXPECT_EQ(host.flags, HOST_NOT_MONITORED | HOST_PROTOCOL_NONE);
    EXPECT_EQ(host.kind, 0u) << "a typed kind that is not in the list";

    // Values outside the buttons leave their groups unchecked; Accept then takes TCP/IP
    // and low priority.
    host.protocol = 4;
    host.kind = 12;
    host.flags = HOST_NOT_MONITORED;
    WritePrivateProfileString("newhost", "SOUND", "5", settingsFiles.mapSettings);
    QueueDialogHook([](HWND dialog) {
        EXPECT_EQ(Checked(dialog, {HOSTINFO_PROTOCOL_NONE, HOSTINFO_PROTOCOL_TCPIP,
                                   HOSTINFO_PROTOCOL_NETBEUI, HOSTINFO_PROTOCOL_SNMP,
                                   HOSTINFO_SOUND_NONE, HOSTINFO_SOUND_LOW, HOSTINFO_SOUND_MIDDLE,
                                   HOSTINFO_SOUND_HIGH, HOSTINFO_MONITOR}),
                  "000000000");
        EXPECT_EQ(SendDlgItemMessage(dialog, HOSTINFO_KIND, CB_GETCURSEL, 0, 0), CB_ERR);
        Clicks(dialog, {HOSTINFO_MONITOR, HOSTINFO_ACCEPT});
    });
    EXPECT_EQ(ShowHostInformation(0), 1);
    EXPECT_EQ(host.protocol, 1u);
    EXPECT_EQ(host.flags, 0u);
    EXPECT_EQ(GetPrivateProfileInt("newhost", "SOUND", 99, settingsFiles.mapSettings), 1u);
}

// A host named like the map's options section, as a map file may have it, reads none of the
// options as its settings and keeps the name only until Accept.
TEST_F(HostInformationTest, FieldsThatWouldBreakTheMapOrAProgramsArgumentsAreRefused) {
    const std::string mapOptions = "[OPTS]\r\nSOUND=0\r\nCONNECT=ssh opts\r\n";
    WriteWholeFile(dir_.file("office.INI"), mapOptions);
    HostRecord& host = Edit(1, "opts", "10.0.0.80");
    CopyField(hostTable[2].name, sizeof hostTable[2].name, "mail");
    const std::string commas = "messagebox: Host Information: The display name, the address and "
                               "the info lines cannot contain a comma: the map file separates "
                               "its fields with commas.";
    const std::string options = "messagebox: Host Information: The display name and the address "
                                "cannot begin with \"-\" or contain blanks or control characters: "
                                "programs started for the host get them as arguments.";
    const std::string section = "messagebox: Host Information: The display name cannot be "
                                "\"OPTS\" in any case: the map's settings file keeps the map's "
                                "options under that name.";
    std::vector<std::string> refusals;
    QueueDialogHook([&](HWND dialog) {
        EXPECT_EQ(ItemText(dialog, HOSTINFO_CONNECT), "telnet.exe");
        EXPECT_EQ(Checked(dialog, {HOSTINFO_SOUND_LOW}), "1");
        const std::pair<int, const char*> refused[] = {
            {HOSTINFO_NAME, "a,b"},  {HOSTINFO_ADDRESS, "a,b"},       {HOSTINFO_INFO1, "a,b"},
            {HOSTINFO_INFO2, "a,b"}, {HOSTINFO_ADDRESS, "-oProxy=x"}, {HOSTINFO_ADDRESS, "1 -x"},
            {HOSTINFO_NAME, "a\tb"}, {HOSTINFO_NAME, "-l"},           {HOSTINFO_NAME, "opts"},
            {HOSTINFO_NAME, "OpTS"}};
        for (const auto& [id, text] : refused) {
            std::string before = ItemText(dialog, id);
            SetDlgItemText(dialog, id, text);
            size_t journal = JournalEntries().size();
            Click(dialog, HOSTINFO_ACCEPT);
            ASSERT_TRUE(IsWindow(dialog)) << "kept open for " << text;
            ASSERT_EQ(JournalEntries().size(), journal + 1);
            refusals.push_back(JournalEntries().back());
            SetDlgItemText(dialog, id, before.c_str());
        }
        // Another host's name is asked about: the two would share one section.
        QueueMessageBoxAnswer(IDNO);
        SetDlgItemText(dialog, HOSTINFO_NAME, "MAIL");
        Click(dialog, HOSTINFO_ACCEPT);
        ASSERT_TRUE(IsWindow(dialog));
        refusals.push_back(JournalEntries().back());
        // A comma, a blank or a dash anywhere else is the user's business.
        SetItemTexts(dialog, {{HOSTINFO_CONNECT, "ssh -o A=b,c web"},
                              {HOSTINFO_INFO1, "-rack a-"},
                              {HOSTINFO_NAME, "web2"}});
        Click(dialog, HOSTINFO_ACCEPT);
    });
    EXPECT_EQ(ShowHostInformation(0), 1);
    EXPECT_EQ(refusals, (std::vector<std::string>{commas, commas, commas, commas, options, options,
                                                  options, options, section, section,
                                                  "messagebox: Host Information: Another host is "
                                                  "named \"mail\". Hosts of one name share their "
                                                  "alarm and connect settings, and these would "
                                                  "replace its settings. Use the name anyway?"}));
    EXPECT_STREQ(host.name, "web2");
    EXPECT_STREQ(host.address, "10.0.0.80");
    EXPECT_STREQ(host.info1, "-rack a-");
    EXPECT_EQ(Settings().rfind(mapOptions + "\r\n[web2]\r\n", 0), 0u) << "[OPTS] untouched";
    EXPECT_TRUE(Holds(Settings(), "CONNECT=ssh -o A=b,c web\r\n"));
}

// "Behind:" offers "(none)" and every other host; a choice that closes a loop is refused
// with the loop named, and a new name follows into the PARENT of the hosts behind it.
TEST_F(HostInformationTest, BehindRefusesALoopAndARenameFollowsIntoTheHostsBehind) {
    Edit(1, "switch");
    Edit(2, "pc");
    HostRecord& router = Edit(0, "router", "10.0.0.1");
    hostTable[1].parent = router.serial;
    hostTable[2].parent = hostTable[1].serial;
    std::string refusal;
    QueueDialogHook([&](HWND dialog) {
        EXPECT_EQ(SendDlgItemMessage(dialog, HOSTINFO_PARENT, CB_GETCOUNT, 0, 0), 8);
        EXPECT_EQ(ItemText(dialog, HOSTINFO_PARENT), "(none)");
        SendDlgItemMessage(dialog, HOSTINFO_PARENT, CB_SETCURSEL, 2, 0); // pc
        Click(dialog, HOSTINFO_ACCEPT);
        ASSERT_TRUE(IsWindow(dialog)) << "kept open";
        ASSERT_FALSE(JournalEntries().empty()) << "refused in a box";
        refusal = JournalEntries().back();
        EXPECT_TRUE(SaveWindowImage(dialog, PicturePath("hostinfo_behind.png").c_str()));
        SendDlgItemMessage(dialog, HOSTINFO_PARENT, CB_SETCURSEL, 3, 0); // the first newhost
        SetItemTexts(dialog, {{HOSTINFO_NAME, "gateway"}});
        Click(dialog, HOSTINFO_ACCEPT);
    });
    EXPECT_EQ(ShowHostInformation(0), 1);
    EXPECT_EQ(refusal,
              "messagebox: Host Information: The host cannot sit behind pc: the hosts "
              "would sit behind one another in a loop (router -> pc -> switch -> router).");
    EXPECT_EQ(HostParent(router), 3);
    EXPECT_TRUE(Holds(Settings(), "[switch]\r\nPARENT=gateway\r\n"));
    EXPECT_TRUE(Holds(Settings(), "PARENT=newhost\r\n"));
}

// The lines from the root propose each host's neighbour nearer to it; the user moves one
// proposal to another parent and drops another, and only what is left is written.
TEST_F(HostInformationTest, ParentsFromLinesProposeTowardTheRootAndWriteWhatIsAccepted) {
    const char* names[] = {"core", "sw", "pc1", "pc2", "lone"};
    const int cells[][2] = {{2, 2}, {10, 2}, {10, 10}, {18, 2}, {30, 30}};
    for (int i = 0; i < 5; ++i) {
        Edit(i, names[i]);
        hostTable[i].col = cells[i][0];
        hostTable[i].row = cells[i][1];
    }
    hostTable[3].parent = hostTable[2].serial; // pc2 has one already
    for (auto [a, b] : {std::pair{0, 1}, {1, 2}, {1, 3}, {2, 3}}) {
        LineRecord& line = lineTable[AppendLine(cells[a][0], cells[a][1])];
        line.x2 = cells[b][0];
        line.y2 = cells[b][1];
    }
    std::vector<std::string> shown;
    QueueDialogHook([&](HWND dialog) {
        SendDlgItemMessage(dialog, PARENTLINES_ROOT, CB_SETCURSEL, 0, 0);
        Click(dialog, PARENTLINES_PROPOSE);
        shown.push_back(std::to_string(SendDlgItemMessage(
            dialog, PARENTLINES_LIST, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
            reinterpret_cast<LPARAM>("pc1 behind sw"))));
        SendDlgItemMessage(dialog, PARENTLINES_LIST, LB_SETCURSEL, 1, 0);
        SendDlgItemMessage(dialog, PARENTLINES_BEHIND, CB_SETCURSEL, 0, 0);
        Click(dialog, PARENTLINES_SET);
        shown.push_back(
            std::to_string(SendDlgItemMessage(dialog, PARENTLINES_LIST, LB_GETCOUNT, 0, 0)));
        for (const char* item : {"sw behind core", "pc1 behind core"})
            shown.push_back(std::to_string(
                SendDlgItemMessage(dialog, PARENTLINES_LIST, LB_FINDSTRINGEXACT,
                                   static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(item))));
        EXPECT_TRUE(SaveWindowImage(dialog, PicturePath("parents_from_lines.png").c_str()));
        SendDlgItemMessage(dialog, PARENTLINES_LIST, LB_SETCURSEL, 0, 0);
        Clicks(dialog, {PARENTLINES_DROP, IDOK});
    });
    EXPECT_EQ(ShowParentsFromLines(0), 1);
    EXPECT_EQ(shown, (std::vector<std::string>{"1", "2", "0", "1"}))
        << "pc1 proposed behind sw, then moved behind the root; two proposals";
    std::vector<int> parents;
    for (int i = 0; i < 5; ++i)
        parents.push_back(HostParent(hostTable[i]));
    EXPECT_EQ(parents, (std::vector<int>{-1, -1, 0, 2, -1}));
    EXPECT_EQ(Settings(), "[pc1]\r\nPARENT=core\r\n");
    Edit(4, "Opts"); // a map file's host named like the options section
    EXPECT_FALSE(SetHostParent(4, 0));
    EXPECT_EQ(Settings(), "[pc1]\r\nPARENT=core\r\n");
}

TEST_F(HostInformationTest, FieldsAreCutToTheRecordAndHelpOpensItsTopic) {
    currentHost = 2;
    QueueDialogHook([](HWND dialog) {
        SetDlgItemText(dialog, HOSTINFO_NAME, "");
        SimulateTyping(GetDlgItem(dialog, HOSTINFO_NAME), "averyveryverylongname");
        SetDlgItemText(dialog, HOSTINFO_BEEP_COUNT, "");
        SimulateTyping(GetDlgItem(dialog, HOSTINFO_BEEP_COUNT), "12345678901");
        Click(dialog, HOSTINFO_HELP);
        char page[64] = {};
        EXPECT_TRUE(HelpWindowPage(page, sizeof page));
        EXPECT_STREQ(page, "host-information.html");
        WinHelp(0, "tarnmap.hlp", HELP_QUIT, 0);
        Click(dialog, HOSTINFO_ACCEPT);
    });
    EXPECT_EQ(ShowHostInformation(0), 1);
    EXPECT_STREQ(hostTable[2].name, "averyveryverylo");
    EXPECT_EQ(GetPrivateProfileInt(hostTable[2].name, "BEEP_COUNT", 0, settingsFiles.mapSettings),
              123456789u)
        << "at most 9 characters";
}

} // namespace
