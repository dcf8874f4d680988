// The finger and whois clients against line servers on the loopbacks (IPv4 and IPv6) of a namespace
// of the test's own: the request of each finger form, answers in pieces, the completion, progress
// and failure texts, WHOISHOST, Exit during a connect or a name look-up, and the sockets
// given up by a new query or by Exit.
#include "tools/fingerwhois.h"

#include "mapui/hostinfo.h"
#include "mapui/options.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "platform/testing.h"
#include "platform/winsock.h"
#include "resources/dialogcommon.h"
#include "resources/dialogs_hostinfo.h"
#include "resources/dialogs_options.h"
#include "support/small_disk.h"
#include "support/ui_fixture.h"
#include "tools/lookup.h"
#include "tools_world.h"

#include <optional>

using namespace platform;

// The test runs inside a namespace of its own, where its servers listen.
class QueryTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        SKIP_WITHOUT_NAMESPACES();
        ASSERT_TRUE(network_.emplace("query").ok());
        ASSERT_TRUE(inside_.emplace(*network_).ok());
    }
    void TearDown() override {
        inside_.reset();
        ToolTest::TearDown();
    }
    // Types `text` into `field`, presses the default button and runs the loop until the box
    // shows `end` at its end (or the bound runs out). The box's text.
    std::string QueryUntil(HWND dialog, int field, const char* text, int box, const char* end) {
        SetDlgItemText(dialog, field, text);
        SendMessage(dialog, WM_COMMAND, IDOK, 0);
        PumpUntil([&] { return BoxText(dialog, box).ends_with(end); });
        return BoxText(dialog, box);
    }
    std::optional<NetworkNamespace> network_;
    std::optional<EnteredNamespace> inside_;
};

// The three usual forms are sent to a server below; these are the odd ones.
TEST(FingerRequest, SplitsAtTheFirstAtSignOnly) {
    char host[QUERY_TEXT_LENGTH + 1];
    char request[QUERY_TEXT_LENGTH + 3];
    FormFingerRequest("bob@gateway@server.test", host, sizeof host, request, sizeof request);
    EXPECT_STREQ(host, "gateway@server.test");
    EXPECT_STREQ(request, "bob\r\n");
    FormFingerRequest("bob@", host, sizeof host, request, sizeof request);
    EXPECT_STREQ(host, "");
    EXPECT_STREQ(request, "bob\r\n");
}

TEST_F(QueryTest, FingerSendsEachFormShowsTheAnswerAndGivesUpOneStillArriving) {
    // More than one receive takes, in pieces of up to 256 bytes, the first ending in a CR
    // alone, the middle one inside a CR CR LF; lines end in CR LF, LF, a CR alone or CR CR LF.
    std::string answer, expected;
    for (int line = 0; line < 20; ++line) {
        std::string text = "line " + std::to_string(line + 10) + " of the answer.......";
        answer += text + (line == 7 ? "\n" : line == 4 || line == 9 ? "\r" : "\r\n");
        expected += text + "\r\n";
    }
    size_t loneEnd = answer.find("\rline 15") + 1, split = answer.find("\r\n", 350);
    answer.insert(split, "\r"); // line 21's end
    std::vector<std::string> pieces{answer.substr(0, loneEnd),
                                    answer.substr(loneEnd, split + 1 - loneEnd),
                                    answer.substr(split + 1)};
    // A zero byte and other control bytes in an answer show as dots, and what follows them
    // is shown too.
    const char oddBytes[] = "bra\0vo\x1b[2J\tx\x7f\r\n";
    std::string odd(oddBytes, sizeof oddBytes - 1);
    // Held answers stay open until the client closes: the next query or Exit must.
    auto server = ServeLines(FINGER_PORT, {{{"first part\r\n"}, true},
                                           {{"second\r\n"}},
                                           {pieces},
                                           {{odd}},
                                           {{"last part\r\n"}, true}});
    auto complete = [](const std::string& text) { return text + "\r\n**complete**\r\n"; };
    const struct {
        const char* query;
        const char* request;
        std::string shown;
    } cases[] = {{"@127.0.0.1", "\r\n", "first part\r\n"},
                 {"@::1", "\r\n", complete("second\r\n")}, // nothing of the first answer
                 {"someone@[::1]", "someone\r\n", complete(expected)},
                 {"localhost", "\r\n", complete("bra.vo.[2J\tx.\r\n")}, // a server alone: its users
                 {"root@localhost", "root\r\n", "last part\r\n"}};
    std::vector<std::string> shown;
    DWORD first = 99, last = 99; // the selection in the finger string
    QueueDialogHook([&](HWND dialog) {
        for (const auto& each : cases) {
            bool held = !each.shown.ends_with("**complete**\r\n");
            shown.push_back(QueryUntil(dialog, FINGER_STRING, each.query, FINGER_RESULTS,
                                       held ? "part\r\n" : "**complete**\r\n"));
            EXPECT_TRUE(!held || fingerSocket != INVALID_SOCKET) << "the server holds on";
            if (shown.size() == 3)
                SaveWindowImage(dialog, PicturePath("finger_dialog.png").c_str());
        }
        SendDlgItemMessage(dialog, FINGER_STRING, EM_GETSEL, reinterpret_cast<WPARAM>(&first),
                           reinterpret_cast<LPARAM>(&last));
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowFingerTool(0), 1);
    EXPECT_TRUE(PumpUntilToolsClosed());
    std::vector<SeenConnection> seen = server.get();
    ASSERT_EQ(seen.size(), std::size(cases));
    ASSERT_EQ(shown.size(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].request, cases[i].request);
        EXPECT_EQ(shown[i], cases[i].shown);
    }
    EXPECT_TRUE(seen[0].closedByClient) << "the next query closes the old socket";
    EXPECT_TRUE(seen.back().closedByClient) << "closing the dialog closes its socket";
    EXPECT_EQ(fingerSocket, INVALID_SOCKET);
    EXPECT_STREQ(fingerQuery, "root@localhost");
    EXPECT_STREQ(fingerHost, "localhost");
    EXPECT_EQ(std::pair(first, last), (std::pair<DWORD, DWORD>(0, 14)))
        << "the whole string selected";

    // Opened again, the dialog offers the last finger string.
    QueueDialogHook([&](HWND dialog) {
        shown = {ItemText(dialog, FINGER_STRING)};
        PostMessage(dialog, WM_COMMAND, TOOL_EXIT_COMMAND, 0);
    });
    ShowFingerTool(0);
    EXPECT_TRUE(PumpUntilToolsClosed());
    EXPECT_EQ(shown, std::vector<std::string>{"root@localhost"});
}

// Exit while a connect or a look-up waits closes the window at once: the socket is closed,
// the look-up called off, and nothing of the query comes after.
TEST_F(QueryTest, ExitDuringAConnectOrANameLookupEndsItWithTheWindow) {
    // 10.203.0.2 is a neighbour whose frames reach nobody: a connect there waits.
    ASSERT_TRUE(network_->Ip({"link", "add", "sil0", "type", "veth", "peer", "name", "sil1"}));
    ASSERT_TRUE(network_->Ip({"address", "add", "10.203.0.1/24", "dev", "sil0"}));
    ASSERT_TRUE(network_->Ip({"link", "set", "sil0", "up"}));
    ASSERT_TRUE(network_->Ip({"link", "set", "sil1", "up"}));
    ASSERT_TRUE(network_->Ip({"neigh", "add", "10.203.0.2", "lladdr", "02:00:00:00:00:02", "dev",
                              "sil0", "nud", "permanent"}));
    SilentNameServer nameServer(*network_);
    setenv("RES_OPTIONS", "timeout:30 attempts:1", 1);
    const struct {
        int (*open)(HWND);
        int field, results;
        const char* text;
        const char* waiting; // what Exit ends
    } cases[] = {{ShowFingerTool, FINGER_STRING, FINGER_RESULTS, "@10.203.0.2", "connecting\r\n"},
                 {ShowLookupTool, LOOKUP_HOST, LOOKUP_RESULTS, "silent.example",
                  "looking up silent.example\r\n"},
                 {ShowWhoisTool, WHOIS_SERVER, WHOIS_RESULTS, "silent.example",
                  "looking up silent.example\r\n"}};
    for (const auto& each : cases) {
        SCOPED_TRACE(each.text);
        if (each.text[0] != '@' && !nameServer.ok()) {
            unsetenv("RES_OPTIONS");
            GTEST_SKIP() << "cannot stand in for the name server " << nameServer.address();
        }
        std::string shown;
        const std::uint32_t start = GetTickCount();
        QueueDialogHook([&](HWND dialog) {
            SetDlgItemText(dialog, each.field, each.text);
            SendMessage(dialog, WM_COMMAND, IDOK, 0);
            PumpUntil([&] { return nameServer.Queries() > 0 || each.text[0] == '@'; }, 5);
            shown = BoxText(dialog, each.results);
            PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
        });
        EXPECT_EQ(each.open(0), 1);
        EXPECT_TRUE(PumpUntilToolsClosed(5));
        EXPECT_LT(GetTickCount() - start, 10000u) << "Exit does not wait for the query";
        EXPECT_EQ(shown, each.waiting);
        EXPECT_EQ(fingerSocket, INVALID_SOCKET);
        EXPECT_EQ(lookupTool.task, nullptr);
    }
    unsetenv("RES_OPTIONS");
    EXPECT_GE(nameServer.Queries(), 2) << "both look-ups asked the name server";
}

TEST_F(QueryTest, WhoisSavesItsServerEvenWhenRefusedAndSendsTheSearch) {
    auto server = ServeLines(WHOIS_PORT, {{{"Domain: example.test\n", "Status: active\r\n"}}});
    std::string defaultServer, refused, savedAfterFailure, answer;
    QueueDialogHook([&](HWND dialog) {
        defaultServer = ItemText(dialog, WHOIS_SERVER);
        SetDlgItemText(dialog, WHOIS_SERVER, "127.0.0.2"); // nothing listens there
        SetDlgItemText(dialog, WHOIS_SEARCH, "example.test");
        SendMessage(dialog, WM_COMMAND, IDOK, 0);
        PumpUntil([&] { return BoxText(dialog, WHOIS_RESULTS).starts_with("Failed"); });
        refused = BoxText(dialog, WHOIS_RESULTS);
        char saved[128] = {};
        GetPrivateProfileString("OPTS", "WHOISHOST", "", saved, sizeof saved, settingsFiles.global);
        savedAfterFailure = saved;

        SetDlgItemText(dialog, WHOIS_SERVER, "localhost");
        answer =
            QueryUntil(dialog, WHOIS_SEARCH, "example.test", WHOIS_RESULTS, "** complete **\r\n");
        SaveWindowImage(dialog, PicturePath("whois_dialog.png").c_str());
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowWhoisTool(0), 1);
    EXPECT_TRUE(PumpUntilToolsClosed());
    EXPECT_EQ(defaultServer, DEFAULT_WHOIS_SERVER);
    EXPECT_EQ(refused, "Failed to connect\r\n");
    EXPECT_EQ(savedAfterFailure, "127.0.0.2") << "saved even though the query failed";
    EXPECT_EQ(answer, "Domain: example.test\r\nStatus: active\r\n\r\n** complete **\r\n");
    std::vector<SeenConnection> seen = server.get();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].request, "example.test\r\n");

    // The next opening reads the server back from the settings.
    QueueDialogHook([&](HWND dialog) {
        answer = ItemTexts(dialog, {WHOIS_SERVER, WHOIS_SEARCH});
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    ShowWhoisTool(0);
    EXPECT_TRUE(PumpUntilToolsClosed());
    EXPECT_EQ(answer, "localhost|example.test");
}

TEST_F(QueryTest, AnAnswerThatGoesOnIsCutAfterItsFirst64KiB) {
    // 80 KiB that the server would go on sending, holding the connection open after them.
    std::vector<std::string> pieces;
    std::string answer;
    for (int piece = 0; piece < 80; ++piece) {
        std::string text;
        for (int line = 0; line < 32; ++line)
            text += "line " + std::to_string(100000 + piece * 32 + line) + " of the answer....\r\n";
        pieces.push_back(text);
        answer += text;
    }
    auto server = ServeLines(FINGER_PORT, {{pieces, true}});
    std::string shown;
    SOCKET afterCut = 0;
    QueueDialogHook([&](HWND dialog) {
        shown = QueryUntil(dialog, FINGER_STRING, "@127.0.0.1", FINGER_RESULTS, "(output cut)\r\n");
        afterCut = fingerSocket;
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowFingerTool(0), 1);
    EXPECT_TRUE(PumpUntilToolsClosed());
    EXPECT_EQ(shown, answer.substr(0, ANSWER_LIMIT) + "\r\n(output cut)\r\n");
    EXPECT_EQ(afterCut, INVALID_SOCKET) << "nothing more is read";
    std::vector<SeenConnection> seen = server.get();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].closedByClient);
}

// Host Information, Beeper Setup and the whois server say so when their settings cannot be
// written, here to a disk mounted read-only.
TEST_F(QueryTest, SettingsThatCannotBeSavedAreToldInAMessageBox) {
    SmallDisk disk(64);
    SKIP_WITHOUT_SMALL_DISK(disk);
    CopyField(settingsFiles.global, sizeof settingsFiles.global, disk.file("TARNMAP.INI").c_str());
    CopyField(settingsFiles.mapSettings, sizeof settingsFiles.mapSettings,
              disk.file("net.INI").c_str());
    ASSERT_TRUE(disk.SetReadOnly(true));
    AnswerUnaskedQuestions(true);
    ClearMap();
    currentHost = AppendHost(2, 2);
    CopyField(hostTable[currentHost].name, sizeof hostTable[currentHost].name, "router");
    QueueDialogHook([](HWND dialog) { PostMessage(dialog, WM_COMMAND, HOSTINFO_ACCEPT, 0); });
    EXPECT_EQ(ShowHostInformation(0), 1);
    QueueDialogHook([](HWND dialog) { PostMessage(dialog, WM_COMMAND, IDOK, 0); });
    EXPECT_EQ(ShowBeeperSetup(0), 1);
    QueueDialogHook([](HWND dialog) {
        SetDlgItemText(dialog, WHOIS_SERVER, "127.0.0.2");
        SendMessage(dialog, WM_COMMAND, IDOK, 0);
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowWhoisTool(0), 1);
    EXPECT_TRUE(PumpUntilToolsClosed());
    std::string global = "\"" + disk.file("TARNMAP.INI") + "\"";
    EXPECT_EQ(JournalEntries(),
              (std::vector<std::string>{
                  "messagebox: Host Information: The alarm and connect settings of router "
                  "could not be saved to \"" +
                      disk.file("net.INI") + "\" and are lost.",
                  "messagebox: Beeper Setup: The beeper settings could not be saved to " + global +
                      ". They hold until the program ends.",
                  "messagebox: Whois: The whois server could not be saved to " + global +
                      "; the next Whois starts with the one saved before."}));
    ClearMap();
}
