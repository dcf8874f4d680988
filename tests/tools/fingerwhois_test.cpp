// The finger and whois clients against line servers on the loopback of a namespace of the
// test's own: the request of each finger form, answers in pieces, the completion, progress
// and failure texts, WHOISHOST, Exit during a connect or a name look-up, and the sockets
// given up by a new query or by Exit.
#include "tools/fingerwhois.h"

#include "model/settings.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "platform/winsock.h"
#include "shell/startup.h"
#include "tools/lookup.h"
#include "tools_world.h"

#include <regex>

using namespace platform;

namespace {

// The test runs inside a namespace of its own, where its servers listen.
class QueryTest : public ToolTest {
  protected:
    void SetUp() override {
        ToolTest::SetUp();
        SKIP_WITHOUT_NAMESPACES();
        network_ = std::make_unique<NetworkNamespace>("query");
        ASSERT_TRUE(network_->ok());
        inside_ = std::make_unique<EnteredNamespace>(*network_);
        ASSERT_TRUE(inside_->ok());
    }
    void TearDown() override {
        inside_.reset();
        network_.reset();
        ToolTest::TearDown();
    }
    std::unique_ptr<NetworkNamespace> network_;
    std::unique_ptr<EnteredNamespace> inside_;
};

// Types `text` into `field`, presses the default button and runs the loop until the box
// shows `end` at its end (or the bound runs out). The box's text.
std::string QueryUntil(HWND dialog, int field, const char* text, int box, const char* end) {
    SetDlgItemText(dialog, field, text);
    SendMessage(dialog, WM_COMMAND, IDOK, 0);
    PumpUntil([&] { return ItemText(dialog, box).ends_with(end); });
    return ItemText(dialog, box);
}

// Every text the watched box showed while a blocking call waited, once each in order.
HWND watchedBox = 0;
std::vector<std::string> textsSeen;

bool RecordingHook() {
    char text[512] = {};
    GetWindowText(watchedBox, text, sizeof text);
    if (textsSeen.empty() || textsSeen.back() != text)
        textsSeen.emplace_back(text);
    return BlockingHook();
}

// Whether `texts` are progress texts of a whois query in the order of its steps.
bool InStepOrder(const std::vector<std::string>& texts) {
    const char* const steps[] = {"looking up localhost\r\n", "creating socket\r\n",
                                 "binding socket\r\n", "connecting\r\n", "sending query\r\n"};
    size_t next = 0;
    for (const std::string& text : texts) {
        while (next < std::size(steps) && text != steps[next])
            ++next;
        if (next == std::size(steps))
            return false;
    }
    return true;
}

} // namespace

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

TEST_F(QueryTest, FingerSendsTheRequestOfEachFormAndShowsTheAnswer) {
    // 600 bytes in 20 lines, one ended by a line feed alone, in pieces that split lines and
    // one CR LF pair.
    std::string answer;
    for (int line = 0; line < 20; ++line) {
        char text[40];
        std::snprintf(text, sizeof text, "line %02d of the answer.......%s", line,
                      line == 7 ? ".\n" : "\r\n");
        answer += text;
    }
    ASSERT_EQ(answer.size(), 600u);
    ASSERT_EQ(answer[388], '\r') << "the second piece ends inside a CR LF";
    std::vector<std::string> pieces{answer.substr(0, 150), answer.substr(150, 239),
                                    answer.substr(389, 111), answer.substr(500)};
    LineServer server(
        FINGER_PORT,
        {{pieces}, {{"alpha\r\n"}}, {{"bravo\r\n"}}, {{"charlie\r\n"}}, {{"delta\n"}}});
    ASSERT_TRUE(server.listening());
    struct Case {
        const char* query;
        const char* request;
        std::string shown;
    };
    const std::vector<Case> cases{
        {"someone@127.0.0.1", "someone\r\n",
         std::regex_replace(answer, std::regex("\\.\n"), ".\r\n")},
        {"@127.0.0.1", "\r\n", "alpha\r\n"},
        {"alice@127.0.0.1", "alice\r\n", "bravo\r\n"},
        {"localhost", "\r\n", "charlie\r\n"},         // a server alone asks for its list of users
        {"root@localhost", "root\r\n", "delta\r\n"}}; // a bare line feed breaks the line
    std::vector<std::string> shown;
    DWORD selectionStart = 99, selectionEnd = 99;
    QueueDialogHook([&](HWND dialog) {
        for (const Case& each : cases) {
            shown.push_back(
                QueryUntil(dialog, FINGER_STRING, each.query, FINGER_RESULTS, "**complete**\r\n"));
            if (shown.size() == 1)
                SaveWindowImage(dialog, PicturePath("finger_dialog.png").c_str());
        }
        SendDlgItemMessage(dialog, FINGER_STRING, EM_GETSEL,
                           reinterpret_cast<WPARAM>(&selectionStart),
                           reinterpret_cast<LPARAM>(&selectionEnd));
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowFingerTool(0), 1);
    std::vector<SeenConnection> seen = server.Seen(cases.size());
    ASSERT_EQ(seen.size(), cases.size());
    ASSERT_EQ(shown.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].query);
        EXPECT_EQ(seen[i].request, cases[i].request);
        EXPECT_EQ(shown[i], cases[i].shown + "\r\n**complete**\r\n");
    }
    EXPECT_STREQ(fingerQuery, "root@localhost");
    EXPECT_STREQ(fingerHost, "localhost");
    EXPECT_EQ(selectionStart, 0u);
    EXPECT_EQ(selectionEnd, 14u) << "the whole finger string is selected";
    EXPECT_EQ(fingerSocket, INVALID_SOCKET);

    // Opened again, the dialog offers the last finger string.
    std::string offered;
    QueueDialogHook([&](HWND dialog) {
        offered = ItemText(dialog, FINGER_STRING);
        PostMessage(dialog, WM_COMMAND, 101, 0);
    });
    ShowFingerTool(0);
    EXPECT_EQ(offered, "root@localhost");
}

TEST_F(QueryTest, ANewQueryAndExitGiveUpTheAnswerStillArriving) {
    LineServer server(FINGER_PORT,
                      {{{"first part\r\n"}, true}, {{"second\r\n"}}, {{"third part\r\n"}, true}});
    ASSERT_TRUE(server.listening());
    std::string afterFirst, afterSecond;
    QueueDialogHook([&](HWND dialog) {
        afterFirst = QueryUntil(dialog, FINGER_STRING, "@127.0.0.1", FINGER_RESULTS, "part\r\n");
        EXPECT_NE(fingerSocket, INVALID_SOCKET) << "the server still holds the connection";
        afterSecond =
            QueryUntil(dialog, FINGER_STRING, "@127.0.0.1", FINGER_RESULTS, "**complete**\r\n");
        QueryUntil(dialog, FINGER_STRING, "@127.0.0.1", FINGER_RESULTS, "part\r\n");
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowFingerTool(0), 1);
    EXPECT_EQ(afterFirst, "first part\r\n");
    EXPECT_EQ(afterSecond, "second\r\n\r\n**complete**\r\n") << "nothing of the first answer";
    EXPECT_EQ(fingerSocket, INVALID_SOCKET);
    std::vector<SeenConnection> seen = server.Seen(3);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(seen[0].closedByClient) << "the next query closes the old socket";
    EXPECT_TRUE(seen[2].closedByClient) << "closing the dialog closes its socket";
}

TEST_F(QueryTest, ExitDuringAConnectCancelsItFirstAndClosesNext) {
    // 10.203.0.2 is a neighbour whose frames reach nobody: a connect there waits.
    ASSERT_TRUE(network_->Ip({"link", "add", "sil0", "type", "veth", "peer", "name", "sil1"}));
    ASSERT_TRUE(network_->Ip({"address", "add", "10.203.0.1/24", "dev", "sil0"}));
    ASSERT_TRUE(network_->Ip({"link", "set", "sil0", "up"}));
    ASSERT_TRUE(network_->Ip({"link", "set", "sil1", "up"}));
    ASSERT_TRUE(network_->Ip({"neigh", "add", "10.203.0.2", "lladdr", "02:00:00:00:00:02", "dev",
                              "sil0", "nud", "permanent"}));
    bool cancelled = false;
    bool stillOpen = false;
    QueueDialogHook([&](HWND dialog) {
        SetDlgItemText(dialog, FINGER_STRING, "@10.203.0.2");
        watchedBox = GetDlgItem(dialog, FINGER_RESULTS);
        textsSeen.clear();
        WSASetBlockingHook(RecordingHook);
        PostMessage(dialog, WM_COMMAND, IDOK, 0);
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0); // arrives while the connect waits
        cancelled =
            PumpUntil([&] { return ItemText(dialog, FINGER_RESULTS) == "Failed to connect\r\n"; });
        stillOpen = IsWindow(dialog);
        WSASetBlockingHook(BlockingHook);
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowFingerTool(0), 1);
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(textsSeen, std::vector<std::string>{"connecting\r\n"}) << "what Exit interrupted";
    EXPECT_TRUE(stillOpen) << "the first Exit only cancels the connect";
    EXPECT_EQ(fingerSocket, INVALID_SOCKET);
    EXPECT_FALSE(WSAIsBlocking());
}

TEST_F(QueryTest, ExitDuringANameLookupCancelsItInLookupAndFinger) {
    SilentNameServer nameServer(*network_);
    if (!nameServer.ok())
        GTEST_SKIP() << "cannot stand in for the name server " << nameServer.address();
    // Without the cancel the look-up would outlast the bound of the wait below.
    setenv("RES_OPTIONS", "timeout:30 attempts:1", 1);

    std::string lookupShown;
    QueueDialogHook([&](HWND dialog) {
        SetDlgItemText(dialog, LOOKUP_HOST, "silent.example");
        PostMessage(dialog, WM_COMMAND, IDOK, 0);
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0); // arrives while the resolver waits
        PumpUntil([&] {
            lookupShown = ItemText(dialog, LOOKUP_RESULTS);
            return lookupShown.rfind("Failed", 0) == 0;
        });
    });
    EXPECT_EQ(ShowLookupTool(0), 1) << "Exit cancels and closes";
    EXPECT_EQ(lookupShown, "Failed to resolve name silent.example\r\n");

    bool stillOpen = false;
    std::string fingerShown;
    QueueDialogHook([&](HWND dialog) {
        SetDlgItemText(dialog, FINGER_STRING, "user@silent.example");
        PostMessage(dialog, WM_COMMAND, IDOK, 0);
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
        PumpUntil([&] {
            fingerShown = ItemText(dialog, FINGER_RESULTS);
            return fingerShown.rfind("Failed", 0) == 0;
        });
        stillOpen = IsWindow(dialog);
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowFingerTool(0), 1);
    unsetenv("RES_OPTIONS");
    EXPECT_EQ(fingerShown, "Failed to resolve name silent.example\r\n");
    EXPECT_TRUE(stillOpen) << "the first Exit only cancels the look-up";
    EXPECT_GE(nameServer.Queries(), 2) << "both look-ups asked the name server";
}

TEST_F(QueryTest, WhoisSavesItsServerSendsTheSearchAndTellsEachStep) {
    LineServer server(WHOIS_PORT, {{{"Domain: example.test\n", "Status: active\r\n"}}});
    ASSERT_TRUE(server.listening());
    std::string defaultServer, refused, savedAfterFailure, answer;
    QueueDialogHook([&](HWND dialog) {
        defaultServer = ItemText(dialog, WHOIS_SERVER);
        SetDlgItemText(dialog, WHOIS_SERVER, "127.0.0.2"); // nothing listens there
        SetDlgItemText(dialog, WHOIS_SEARCH, "example.test");
        SendMessage(dialog, WM_COMMAND, IDOK, 0);
        refused = ItemText(dialog, WHOIS_RESULTS);
        char saved[128] = {};
        GetPrivateProfileString("OPTS", "WHOISHOST", "", saved, sizeof saved, globalSettingsPath);
        savedAfterFailure = saved;

        SetDlgItemText(dialog, WHOIS_SERVER, "localhost");
        watchedBox = GetDlgItem(dialog, WHOIS_RESULTS);
        textsSeen.clear();
        WSASetBlockingHook(RecordingHook);
        answer =
            QueryUntil(dialog, WHOIS_SEARCH, "example.test", WHOIS_RESULTS, "** complete **\r\n");
        WSASetBlockingHook(BlockingHook);
        SaveWindowImage(dialog, PicturePath("whois_dialog.png").c_str());
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowWhoisTool(0), 1);
    EXPECT_EQ(defaultServer, DEFAULT_WHOIS_SERVER);
    EXPECT_EQ(refused, "Failed to connect\r\n");
    EXPECT_EQ(savedAfterFailure, "127.0.0.2") << "saved even though the query failed";
    EXPECT_EQ(answer, "Domain: example.test\r\nStatus: active\r\n\r\n** complete **\r\n");
    // Steps that finish at once are not seen here; the ones that waited, in order.
    EXPECT_TRUE(InStepOrder(textsSeen)) << testing::PrintToString(textsSeen);
    ASSERT_EQ(server.Seen(1).size(), 1u);
    EXPECT_EQ(server.Seen(1)[0].request, "example.test\r\n");

    // The next opening reads the server back from the settings.
    std::string offeredServer, offeredSearch;
    QueueDialogHook([&](HWND dialog) {
        offeredServer = ItemText(dialog, WHOIS_SERVER);
        offeredSearch = ItemText(dialog, WHOIS_SEARCH);
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    ShowWhoisTool(0);
    EXPECT_EQ(offeredServer, "localhost");
    EXPECT_EQ(offeredSearch, "example.test");
}
