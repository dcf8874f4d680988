// The Lookup tool against a hosts file of the test's own: the official name, every address
// of both families and every alias in their lines, reverse look-ups of both families, the failure
// lines, and the host shared with Connect; the address Ping and Trace Route take for a host.
#include "tools/lookup.h"

#include "platform/dialog.h"
#include "platform/system.h"
#include "platform/testing.h"
#include "support/ui_fixture.h"
#include "tools/ping.h"
#include "tools/shared.h"
#include "tools_world.h"

#include <cstdio>
#include <cstring>

using namespace platform;

namespace {

const char ownHosts[] = "127.0.0.1 localhost\n"
                        "::1 localhost\n"
                        "10.9.0.1 pair.test pair twin\n"
                        "10.9.0.2 pair.test\n"
                        "10.9.0.3 single.test\n"
                        "fd00:9::1 pair.test pair6\n"
                        "fd00:9::3 only6.test\n";
// Nothing answers on the loopback of the child's network: names not in the hosts file
// fail at once.
const char ownResolver[] = "nameserver 127.0.0.1\n"
                           "options timeout:1 attempts:1\n";

LRESULT LookupWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TOOL_LOOKUP_DONE || message == WM_DESTROY)
        return LookupDialogProc(window, message, wParam, lParam);
    return DefWindowProc(window, message, wParam, lParam);
}

// In the child: nothing here may paint, since the toolkit's drawing threads stayed behind
// in the parent. The Lookup window is a plain one that is never shown, with the tool's
// procedure for the look-up's end.
void LookupWithOwnHosts() {
    WNDCLASS windowClass{};
    windowClass.lpfnWndProc = LookupWindowProcedure;
    windowClass.lpszClassName = "LOOKUPTESTWINDOW";
    ASSERT_TRUE(RegisterClass(&windowClass));
    HWND parent =
        CreateWindow("LOOKUPTESTWINDOW", "parent", WS_OVERLAPPED, 0, 0, 320, 220, 0, 0, nullptr);
    HWND box = CreateWindow("EDIT", "", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 300, 200,
                            parent, LOOKUP_RESULTS, nullptr);
    ASSERT_NE(box, 0u);
    lookupTool.window = parent;
    std::string many = "Official name: many.test\r\nIP addr: 10.9.1.1\r\n";
    for (int address = 2; address <= 60; ++address) // the hosts file's 60 lines
        many += "         10.9.1." + std::to_string(address) + "\r\n";
    const struct {
        const char* text;
        std::string shown;
    } cases[] = {{"pair.test",
                  "Official name: pair.test\r\nIP addr: 10.9.0.1\r\n         10.9.0.2\r\n"
                  "         fd00:9::1\r\nAliases: pair\r\n         twin\r\n         pair6\r\n"},
                 // A name of one family only, and IPv6 addresses bare, bracketed and zoned.
                 {"only6.test", "Official name: only6.test\r\nIP addr: fd00:9::3\r\n"},
                 {"fd00:9:0::3", "Official name: only6.test\r\nIP addr: fd00:9::3\r\n"},
                 {"[fd00:9::1]", "Official name: pair.test\r\nIP addr: fd00:9::1\r\n"
                                 "Aliases: pair6\r\n"},
                 {"fd00:9::77", "Failed to resolve address fd00:9::77\r\n"},
                 // To the resolver, "::1 localhost" is 127.0.0.1 too: each address once.
                 {"localhost", "Official name: localhost\r\nIP addr: 127.0.0.1\r\n"
                               "         ::1\r\n"},
                 // An alias finds its own line only.
                 {"twin", "Official name: pair.test\r\nIP addr: 10.9.0.1\r\nAliases: pair\r\n"
                          "         twin\r\n"},
                 // By address: the reverse entry, with its one address.
                 {"10.9.0.3", "Official name: single.test\r\nIP addr: 10.9.0.3\r\n"},
                 {"10.9.0.77", "Failed to resolve address 10.9.0.77\r\n"},
                 // A name with many addresses: every one.
                 {"many.test", many},
                 {"missing.test", "Failed to resolve name missing.test\r\n"},
                 {"", "Failed to resolve name \r\n"}};
    for (const auto& each : cases) {
        SCOPED_TRACE(each.text);
        SetWindowText(box, "what was there before");
        StartLookup(each.text);
        EXPECT_EQ(BoxText(parent, LOOKUP_RESULTS), "looking up " + std::string(each.text) + "\r\n");
        MSG message{};
        const std::uint32_t start = GetTickCount();
        while (BoxText(parent, LOOKUP_RESULTS).starts_with("looking up") &&
               GetTickCount() - start < 20000)
            if (PeekMessage(&message, 0, 0, 0, PM_REMOVE))
                DispatchMessage(&message);
        EXPECT_EQ(BoxText(parent, LOOKUP_RESULTS), each.shown);
    }

    // Ping and Trace Route take a name's first address, of either family, and addresses of
    // both families (a zone names its interface) at once.
    const struct {
        const char* text;
        const char* address;
        std::uint32_t scope;
    } hosts[] = {{"pair.test", "10.9.0.1", 0},
                 {"only6.test", "fd00:9::3", 0},
                 {"[fe80::1%lo]", "fe80::1", 1},
                 {"many.test", "10.9.1.1", 0},
                 {"missing.test", "", 0}};
    for (const auto& each : hosts) {
        SCOPED_TRACE(each.text);
        sockaddr_storage destination{};
        alignas(hostent) char entry[MAXGETHOSTSTRUCT];
        HANDLE task = 0;
        ToolHostLookup started = StartToolHostLookup(parent, each.text, &destination, entry, &task);
        MSG message{};
        const std::uint32_t start = GetTickCount();
        while (started == TOOL_HOST_LOOKING_UP && GetTickCount() - start < 20000)
            if (PeekMessage(&message, 0, 0, 0, PM_REMOVE) &&
                message.message == WM_TOOL_LOOKUP_DONE &&
                reinterpret_cast<HANDLE>(message.wParam) == task)
                started = TakeToolHostLookup(message.lParam, entry, &destination)
                              ? TOOL_HOST_RESOLVED
                              : TOOL_HOST_FAILED;
        EXPECT_EQ(started, each.address[0] != '\0' ? TOOL_HOST_RESOLVED : TOOL_HOST_FAILED);
        if (started != TOOL_HOST_RESOLVED)
            continue;
        char text[ADDRESS_TEXT_SIZE];
        EXPECT_STREQ(AddressText(destination, text), each.address);
        sockaddr_in6 ipv6;
        std::memcpy(&ipv6, &destination, sizeof ipv6);
        EXPECT_EQ(destination.ss_family == AF_INET6 ? ipv6.sin6_scope_id : 0u, each.scope);
    }
    DestroyWindow(parent);
    EXPECT_EQ(lookupTool.window, 0u);
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
        PumpUntil([&] { return !BoxText(dialog, LOOKUP_RESULTS).starts_with("looking up"); });
        local = BoxText(dialog, LOOKUP_RESULTS);
        SaveWindowImage(dialog, PicturePath("lookup_dialog.png").c_str());
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(ShowLookupTool(0), 1);
    EXPECT_TRUE(PumpUntilToolsClosed());
    EXPECT_EQ(offered, "typed.in.connect");
    EXPECT_TRUE(local.starts_with("Official name: localhost\r\nIP addr: 127.0.0.1\r\n")) << local;
    EXPECT_STREQ(toolHost, "localhost");

    std::string hosts = ownHosts;
    for (int address = 1; address <= 60; ++address)
        hosts += "10.9.1." + std::to_string(address) + " many.test\n";
    EXPECT_PRIVATE_NETWORK_RUN(
        RunInPrivateNetwork("", hosts.c_str(), ownResolver, LookupWithOwnHosts));
}
