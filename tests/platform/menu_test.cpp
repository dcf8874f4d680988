// Menus from templates on a window: the bar swapped whole, items checked and greyed by
// command, commands posted to the owner, popup menus tracked with a test's answer.
#include "platform/menu.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "support/ui_fixture.h"

#include <gtest/gtest.h>

#include <vector>

using namespace platform;
using Ids = std::vector<int>;

namespace {

constexpr MenuTemplateItem runItems[] = {
    {0, "&File", 0, MF_POPUP},
    {1, "&Load...", 2002, 0},
    {1, nullptr, 0, MF_SEPARATOR},
    {1, "E&xit", 2005, 0},
    {0, "&Edit", 550, 0},
    {0, "&Options", 0, MF_POPUP},
    {1, "Show &Toolbar", 2033, MF_CHECKED},
    {1, "&Colors...", 2027, MF_GRAYED},
    {3, "lost", 9999, 0}, // deeper than any open popup: left out
};
constexpr MenuTemplateItem editItems[] = {
    {0, "&Add", 0, MF_POPUP},
    {1, "&Host", 2007, 0},
    {0, "&End_edit", 550, 0},
};
const MenuTemplate runMenu{"TESTMENU0", runItems};
const MenuTemplate editMenu{"testmenu1", editItems};

std::vector<WPARAM> commands;
std::vector<int> clientHeights;

LRESULT MenuOwnerProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND)
        commands.push_back(wParam);
    if (message == WM_SIZE)
        clientHeights.push_back(HIWORD(static_cast<std::uintptr_t>(lParam)));
    return DefWindowProc(window, message, wParam, lParam);
}

class MenuTest : public testing::Test {
  protected:
    void SetUp() override {
        static bool registered = false;
        if (!registered) {
            registered = true;
            ASSERT_TRUE(RegisterMenuTemplate(&runMenu));
            ASSERT_TRUE(RegisterMenuTemplate(&editMenu));
            EXPECT_FALSE(RegisterMenuTemplate(&runMenu));
            WNDCLASS owner{};
            owner.lpfnWndProc = MenuOwnerProcedure;
            owner.lpszMenuName = "TestMenu0";
            owner.lpszClassName = "MENUOWNER";
            ASSERT_TRUE(RegisterClass(&owner));
        }
        ResetTestingSeams();
        commands.clear();
        clientHeights.clear();
        window = CreateWindow("MENUOWNER", "menus", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 400,
                              300, 0, 0, nullptr);
        ASSERT_NE(window, 0u);
    }
    void TearDown() override { DestroyWindow(window); }
    // The commands that reach the window when the user chooses `ids` in turn.
    std::vector<int> Choose(std::initializer_list<UINT> ids) {
        commands.clear();
        for (UINT id : ids)
            SimulateMenuChoice(window, id);
        PumpPendingMessages();
        std::vector<int> chosen;
        for (WPARAM command : commands)
            chosen.push_back(LOWORD(command));
        return chosen;
    }
    HWND window = 0;
};

TEST_F(MenuTest, TheClassMenuIsBuiltFromItsTemplate) {
    HMENU bar = GetMenu(window);
    ASSERT_NE(bar, 0u);
    EXPECT_EQ(GetMenuItemCount(bar), 3);
    EXPECT_EQ(GetMenuState(bar, 0, MF_BYPOSITION) & MF_POPUP, MF_POPUP);
    char text[8];
    EXPECT_EQ(GetMenuString(bar, 2005, text, sizeof text, MF_BYCOMMAND), 5);
    EXPECT_STREQ(text, "E&xit");
    EXPECT_EQ(GetMenuState(bar, 1, MF_BYPOSITION) & MF_POPUP, 0u) << "\"&Edit\" is a command";
    EXPECT_EQ(GetMenuState(bar, 9999, MF_BYCOMMAND), static_cast<UINT>(-1));
    EXPECT_EQ(LoadMenu("NOSUCHMENU"), 0u);
}

TEST_F(MenuTest, ChoosingAnItemPostsItsCommandUnlessGreyedAndNeverTogglesItsCheck) {
    SimulateMenuChoice(window, 2002);
    EXPECT_TRUE(commands.empty()) << "posted, not sent";
    EXPECT_EQ(Choose({}), Ids{2002});
    EXPECT_EQ(Choose({2027, 550}), Ids{550}) << "2027 is greyed by the template";
    HMENU bar = GetMenu(window);
    EXPECT_EQ(EnableMenuItem(bar, 2027, MF_BYCOMMAND | MF_ENABLED), static_cast<int>(MF_GRAYED));
    EXPECT_EQ(EnableMenuItem(bar, 2002, MF_BYCOMMAND | MF_GRAYED), 0);
    EXPECT_EQ(Choose({2027, 2002}), Ids{2027});
    EXPECT_EQ(EnableMenuItem(bar, 4242, MF_BYCOMMAND), -1);

    // Check marks change only when the program sets them.
    EXPECT_EQ(GetMenuState(bar, 2033, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED);
    EXPECT_EQ(Choose({2033}), Ids{2033});
    EXPECT_EQ(GetMenuState(bar, 2033, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED) << "not toggled";
    EXPECT_EQ(CheckMenuItem(bar, 2033, MF_BYCOMMAND | MF_UNCHECKED), static_cast<int>(MF_CHECKED));
    EXPECT_EQ(GetMenuState(bar, 2033, MF_BYCOMMAND) & MF_CHECKED, 0u);
    EXPECT_EQ(CheckMenuItem(bar, 2033, MF_BYCOMMAND | MF_CHECKED), 0);
    EXPECT_EQ(CheckMenuItem(bar, 1, MF_BYPOSITION | MF_CHECKED), 0) << "the \"&Edit\" item";
    EXPECT_EQ(GetMenuState(bar, 550, MF_BYCOMMAND) & MF_CHECKED, MF_CHECKED);
    EXPECT_EQ(CheckMenuItem(bar, 7777, MF_BYCOMMAND), -1);
}

TEST_F(MenuTest, SetMenuSwapsTheWholeBarAndKeepsTheOldOne) {
    HMENU run = GetMenu(window);
    EnableMenuItem(run, 2002, MF_BYCOMMAND | MF_GRAYED);
    HMENU edit = LoadMenu("TESTMENU1");
    ASSERT_NE(edit, 0u);
    ASSERT_TRUE(SetMenu(window, edit));
    EXPECT_EQ(GetMenu(window), edit);
    EXPECT_EQ(Choose({2007, 2005}), Ids{2007}) << "2005 is on the old bar only";
    ASSERT_TRUE(SetMenu(window, run));
    EXPECT_EQ(GetMenuState(run, 2002, MF_BYCOMMAND) & MF_GRAYED, MF_GRAYED) << "state kept";
    EXPECT_EQ(Choose({2005, 2007}), Ids{2005});

    // Without a bar the client area takes its place.
    RECT withBar{};
    GetClientRect(window, &withBar);
    clientHeights.clear();
    ASSERT_TRUE(SetMenu(window, 0));
    RECT withoutBar{};
    GetClientRect(window, &withoutBar);
    EXPECT_GT(withoutBar.bottom, withBar.bottom);
    ASSERT_FALSE(clientHeights.empty());
    EXPECT_EQ(clientHeights.back(), withoutBar.bottom);
    EXPECT_TRUE(DestroyMenu(edit));
    EXPECT_TRUE(DestroyMenu(run));
    EXPECT_FALSE(DestroyMenu(run));
}

TEST_F(MenuTest, PopupMenusPostOrReturnTheChosenCommand) {
    HMENU context = CreatePopupMenu();
    HMENU create = CreatePopupMenu();
    ASSERT_TRUE(AppendMenu(create, MF_STRING, 4311, "Host"));
    ASSERT_TRUE(AppendMenu(create, MF_STRING, 4312, "Line"));
    ASSERT_TRUE(AppendMenu(context, MF_POPUP, create, "New"));
    ASSERT_TRUE(AppendMenu(context, MF_SEPARATOR, 0, nullptr));
    ASSERT_TRUE(AppendMenu(context, MF_STRING | MF_GRAYED, 4330, "Connect"));
    EXPECT_FALSE(AppendMenu(context, MF_POPUP, create, "again")) << "a popup has one holder";

    QueuePopupMenuAnswer(4312);
    EXPECT_NE(TrackPopupMenu(context, TPM_LEFTALIGN, 10, 10, 0, window, nullptr), 0);
    EXPECT_EQ(Choose({}), Ids{4312});

    QueuePopupMenuAnswer(4311);
    EXPECT_EQ(TrackPopupMenu(context, TPM_RETURNCMD, 10, 10, 0, window, nullptr), 4311);
    QueuePopupMenuAnswer(4330); // greyed: the user cannot choose it
    EXPECT_EQ(TrackPopupMenu(context, TPM_RETURNCMD, 10, 10, 0, window, nullptr), 0);
    EnableMenuItem(context, 4330, MF_BYCOMMAND | MF_ENABLED);
    QueuePopupMenuAnswer(4330);
    EXPECT_EQ(TrackPopupMenu(context, TPM_RETURNCMD, 10, 10, 0, window, nullptr), 4330);
    EXPECT_TRUE(Choose({}).empty()) << "TPM_RETURNCMD posts nothing";
    EXPECT_EQ(TrackPopupMenu(GetMenu(window), 0, 0, 0, 0, window, nullptr), 0)
        << "a bar is not a popup";
    DestroyMenu(context);
    EXPECT_EQ(GetMenuItemCount(create), -1) << "submenus go with their menu";
}

} // namespace
