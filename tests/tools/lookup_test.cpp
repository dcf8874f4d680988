// The Lookup tool against a hosts file of the test's own: the official name, every
// address and every alias in their lines, the failure lines, the host text shared with
// the Connect dialog, and the resize rule.
#include "tools/lookup.h"

#include "platform/dialog.h"
#include "platform/system.h"
#include "platform/testing.h"
#include "platform/winsock.h"
#include "tools/connect.h"
#include "tools/shared.h"
#include "tools_world.h"

#include <cstring>

using namespace platform;

namespace {

const char ownHosts[] = "127.0.0.1 localhost\n"
                        "10.9.0.1 pair.test pair twin\n"
                        "10.9.0.2 pair.test\n"
                        "10.9.0.3 single.test\n";
// Nothing answers on the loopback of the child's network: names not in the hosts file
// fail at once.
const char ownResolver[] = "nameserver 127.0.0.1\n"
                           "options timeout:1 attempts:1\n";

// The box's text after LookupHost, and LookupHost's result after a "|".
std::string LookupInto(HWND box, const char* text) {
    SetWindowText(box, "what was there before");
    int result = LookupHost(text, box);
    char shown[1024] = {};
    GetWindowText(box, shown, sizeof shown);
    return std::string(shown) + "|" + std::to_string(result);
}

// In the child: nothing here may paint, since the toolkit's drawing threads stayed behind
// in the parent. The box lives in a window that is never shown.
void LookupWithOwnHosts(std::string* report) {
    HWND parent =
        CreateWindow("TOOLSTESTBOUND", "parent", WS_OVERLAPPED, 0, 0, 320, 220, 0, 0, nullptr);
    HWND box = CreateWindow("EDIT", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 300, 200,
                            parent, LOOKUP_RESULTS, nullptr);
    ASSERT_NE(box, 0u);

    EXPECT_EQ(LookupInto(box, "localhost"), "Official name: localhost\r\n"
                                            "IP addr: 127.0.0.1\r\n|1");
    std::string pair = LookupInto(box, "pair.test");
    EXPECT_EQ(pair, "Official name: pair.test\r\n"
                    "IP addr: 10.9.0.1\r\n"
                    "         10.9.0.2\r\n"
                    "Aliases: pair\r\n"
                    "         twin\r\n|1");
    *report = pair.substr(0, pair.size() - 2);
    EXPECT_EQ(LookupInto(box, "twin"), "Official name: pair.test\r\n"
                                       "IP addr: 10.9.0.1\r\n"
                                       "Aliases: pair\r\n"
                                       "         twin\r\n|1")
        << "an alias finds its own line only";
    // By address: the reverse entry, with its one address.
    EXPECT_EQ(LookupInto(box, "10.9.0.3"), "Official name: single.test\r\n"
                                           "IP addr: 10.9.0.3\r\n|1");
    EXPECT_EQ(LookupInto(box, "10.9.3"), "Official name: single.test\r\n"
                                         "IP addr: 10.9.0.3\r\n|1")
        << "the short dotted form is an address too";
    EXPECT_EQ(LookupInto(box, "10.9.0.77"), "Failed to resolve address 10.9.0.77\r\n|0");
    EXPECT_EQ(LookupInto(box, "missing.test"), "Failed to resolve name missing.test\r\n|0");
    EXPECT_EQ(LookupInto(box, ""), "Failed to resolve name \r\n|0");
    DestroyWindow(parent);
}

// A Lookup dialog in which `host` is typed and Lookup pressed, the results put as
// `shown` when given (for the picture); the results and the host field afterwards.
std::string LookupInDialog(const char* host, const char* picture = nullptr,
                           const std::string& shown = "") {
    std::string results;
    QueueDialogHook([&](HWND dialog) {
        SetDlgItemText(dialog, LOOKUP_HOST, host);
        SendMessage(dialog, WM_COMMAND, IDOK, 0);
        if (!shown.empty())
            SetDlgItemText(dialog, LOOKUP_RESULTS, shown.c_str());
        results = ItemText(dialog, LOOKUP_RESULTS);
        if (picture != nullptr)
            SaveWindowImage(dialog, PicturePath(picture).c_str());
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowLookupTool(0), 1);
    return results;
}

} // namespace

TEST_F(ToolsTest, LookupShowsNamesAddressesAliasesAndFailures) {
    std::string pair;
    int status = RunWithOwnHostsFile(ownHosts, ownResolver, LookupWithOwnHosts, &pair);
    if (status == ownHostsUnavailable)
        GTEST_SKIP() << "needs root, network and mount namespaces and the ip command";
    EXPECT_EQ(status, 0);

    // The dialog here, on this machine's hosts file, where localhost is always found
    // without asking a name server; the picture shows the child's answer for pair.test.
    std::string local = LookupInDialog("localhost");
    EXPECT_EQ(local.rfind("Official name: localhost\r\nIP addr: 127.0.0.1\r\n", 0), 0u) << local;
    EXPECT_STREQ(toolHost, "localhost");
    LookupInDialog("pair.test", "lookup_dialog.png", pair);
    EXPECT_TRUE(FileExists(PicturePath("lookup_dialog.png").c_str()));
}

TEST_F(ToolsTest, LookupAndConnectOfferTheHostTypedInTheOther) {
    // Lookup of an address in the hosts file, so no name server is asked.
    LookupInDialog("127.0.0.1");
    EXPECT_STREQ(toolHost, "127.0.0.1");
    std::string offered;
    QueueDialogHook([&](HWND dialog) {
        offered = ItemText(dialog, CONNECT_HOST);
        SetDlgItemText(dialog, CONNECT_HOST, "typed.in.connect");
        SetDlgItemText(dialog, CONNECT_PORT, "7");
        SendMessage(dialog, WM_COMMAND, IDOK, 0);
    });
    std::snprintf(sharedText, sizeof sharedText, "%s", "true");
    EXPECT_EQ(ShowConnectTool(0, TELNET_PORT), 1);
    EXPECT_EQ(offered, "127.0.0.1");

    std::string offeredBack;
    QueueDialogHook([&](HWND dialog) {
        offeredBack = ItemText(dialog, LOOKUP_HOST);
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    ShowLookupTool(0);
    EXPECT_EQ(offeredBack, "typed.in.connect");
}

TEST_F(ToolsTest, LookupDialogKeepsItsLayoutWhenResized) {
    RECT okBefore{}, okAfter{}, exitAfter{}, hostAfter{}, resultsBefore{}, resultsAfter{};
    RECT client{};
    QueueDialogHook([&](HWND dialog) {
        GetControlRect(dialog, IDOK, &okBefore);
        GetControlRect(dialog, LOOKUP_RESULTS, &resultsBefore);
        RECT outer;
        GetWindowRect(dialog, &outer);
        MoveWindow(dialog, outer.left, outer.top, outer.right - outer.left + 150,
                   outer.bottom - outer.top + 90, true);
        GetClientRect(dialog, &client);
        GetControlRect(dialog, IDOK, &okAfter);
        GetControlRect(dialog, IDCANCEL, &exitAfter);
        GetControlRect(dialog, LOOKUP_HOST, &hostAfter);
        GetControlRect(dialog, LOOKUP_RESULTS, &resultsAfter);
        SaveWindowImage(dialog, PicturePath("lookup_dialog_wide.png").c_str());
        PostMessage(dialog, WM_COMMAND, 101, 0);
    });
    EXPECT_EQ(ShowLookupTool(0), 1);

    int width = okBefore.right - okBefore.left;
    int height = okBefore.bottom - okBefore.top;
    ASSERT_GT(width, 0);
    EXPECT_EQ(okAfter.left, client.right - width - height / 2);
    EXPECT_EQ(okAfter.top, height / 2);
    EXPECT_EQ(okAfter.right - okAfter.left, width);
    EXPECT_EQ(exitAfter.left, okAfter.left);
    EXPECT_EQ(exitAfter.top, height / 2 + height + 5);
    EXPECT_EQ(exitAfter.bottom - exitAfter.top, height);
    EXPECT_EQ(hostAfter.right - hostAfter.left, client.right / 2);
    // Equal margins left, right and below; the top-left corner stays.
    EXPECT_EQ(resultsAfter.left, resultsBefore.left);
    EXPECT_EQ(resultsAfter.top, resultsBefore.top);
    EXPECT_EQ(client.right - resultsAfter.right, resultsAfter.left);
    EXPECT_EQ(client.bottom - resultsAfter.bottom, resultsAfter.left);
    EXPECT_GT(resultsAfter.right - resultsAfter.left, resultsBefore.right - resultsBefore.left);
}
