// The Lookup tool against a hosts file of the test's own: the official name, every address
// and every alias in their lines, the failure lines, and the host shared with Connect.
#include "tools/lookup.h"

#include "platform/dialog.h"
#include "platform/testing.h"
#include "support/ui_fixture.h"
#include "tools_world.h"

#include <cstdio>

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

// In the child: nothing here may paint, since the toolkit's drawing threads stayed behind
// in the parent. The box lives in a window that is never shown.
void LookupWithOwnHosts() {
    HWND parent =
        CreateWindow("TARNMAPTESTWINDOW", "parent", WS_OVERLAPPED, 0, 0, 320, 220, 0, 0, nullptr);
    HWND box = CreateWindow("EDIT", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 300, 200,
                            parent, LOOKUP_RESULTS, nullptr);
    ASSERT_NE(box, 0u);
    const struct {
        const char* text;
        std::string shown; // and LookupHost's result after a "|"
    } cases[] = {{"pair.test",
                  "Official name: pair.test\r\nIP addr: 10.9.0.1\r\n         10.9.0.2\r\n"
                  "Aliases: pair\r\n         twin\r\n|1"},
                 // An alias finds its own line only.
                 {"twin", "Official name: pair.test\r\nIP addr: 10.9.0.1\r\nAliases: pair\r\n"
                          "         twin\r\n|1"},
                 // By address: the reverse entry, with its one address.
                 {"10.9.0.3", "Official name: single.test\r\nIP addr: 10.9.0.3\r\n|1"},
                 {"10.9.0.77", "Failed to resolve address 10.9.0.77\r\n|0"},
                 {"missing.test", "Failed to resolve name missing.test\r\n|0"},
                 {"", "Failed to resolve name \r\n|0"}};
    for (const auto& each : cases) {
        SCOPED_TRACE(each.text);
        SetWindowText(box, "what was there before");
        int result = LookupHost(each.text, box);
        EXPECT_EQ(BoxText(parent, LOOKUP_RESULTS) + "|" + std::to_string(result), each.shown);
    }
    DestroyWindow(parent);
}

} // namespace

TEST_F(ToolTest, LookupShowsNamesAddressesAliasesAndFailuresAndSharesItsHostWithConnect) {
    // The dialog offers the host last typed in Connect and keeps the one looked up; localhost
    // is found in this machine's hosts file without asking a name server.
    std::snprintf(toolHost, sizeof toolHost, "%s", "typed.in.connect");
    std::string offered, local;
    QueueDialogHook([&](HWND dialog) {
        offered = ItemText(dialog, LOOKUP_HOST);
        SetDlgItemText(dialog, LOOKUP_HOST, "localhost");
        SendMessage(dialog, WM_COMMAND, IDOK, 0);
        local = BoxText(dialog, LOOKUP_RESULTS);
        SaveWindowImage(dialog, PicturePath("lookup_dialog.png").c_str());
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowLookupTool(0), 1);
    EXPECT_EQ(offered, "typed.in.connect");
    EXPECT_TRUE(local.starts_with("Official name: localhost\r\nIP addr: 127.0.0.1\r\n")) << local;
    EXPECT_STREQ(toolHost, "localhost");

    int status = RunWithOwnHostsFile(ownHosts, ownResolver, LookupWithOwnHosts);
    if (status == ownHostsUnavailable)
        GTEST_SKIP() << "needs root, network and mount namespaces and the ip command";
    EXPECT_EQ(status, 0);
}
