// The preference dialogs driven as the user drives them: the Options dialog's limits and
// its two target files, the solid-background notice, a failed save, Tool Options, colours
// chosen, shown and saved, Beeper Setup's check of the dial string and what it writes, and
// the Preferences command around them.
#include "icmp/rawecho.h"
#include "mapui/editor.h"
#include "mapui/options.h"
#include "mapui/render.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/commctl.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "resources/commands.h"
#include "resources/dialogs_options.h"
#include "shell/mainwnd.h"
#include "shell/startup.h"
#include "support/ui_fixture.h"
#include "tools/ping.h"
#include "tools/trace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

using namespace platform;

namespace {

using Numbers = std::vector<unsigned>;

// "KEY=value" for each key of a section of a settings file, "<none>" for a missing one.
std::string Keys(const std::string& file, std::initializer_list<const char*> keys,
                 const char* section = "OPTS") {
    std::string found;
    for (const char* key : keys) {
        char text[200] = {};
        GetPrivateProfileString(section, key, "<none>", text, sizeof text, file.c_str());
        found += std::string(found.empty() ? "" : " ") + key + "=" + text;
    }
    return found;
}

class OptionsTest : public DialogTest {
  protected:
    void SetUp() override {
        DialogTest::SetUp();
        CopyField(settingsFiles.global, sizeof settingsFiles.global, Global().c_str());
        CopyField(settingsFiles.mapSettings, sizeof settingsFiles.mapSettings, Map().c_str());
        options.pollInterval = 60;
        options.waitTimeout = 5000;
        options.scaledMapFont = options.solidBackground = 0;
        options.noAutomaticChecks = 1;
        options.parallelChecks = 0;
        options.desktopNotices = NOTIFY_UNSET;
        CopyField(options.telnetCommand, sizeof options.telnetCommand, "telnet");
        CopyField(options.ftpCommand, sizeof options.ftpCommand, "ftp");
        for (unsigned slot = 0; slot < COLOR_SLOT_COUNT; ++slot)
            colorTable[slot] = defaultColors[slot];
        colorDialogSlot = 0;
        options.beepEnable = 0;
        options.beepPort = options.beepBaud = 1;
        CopyField(options.pageNumber, sizeof options.pageNumber, "");
    }
    std::string Global() const { return dir_.file("TARNMAP.INI"); }
    std::string Map() const { return dir_.file("office.INI"); }
};

TEST_F(OptionsTest, LimitsApplyAndEachSaveButtonWritesItsOwnFile) {
    QueueDialogHook([](HWND dialog) {
        EXPECT_EQ(ItemTexts(dialog, {OPTIONS_TIMER, OPTIONS_WAIT, OPTIONS_PARALLEL}), "60|5|0")
            << "WAIT in seconds";
        EXPECT_EQ(Checked(dialog,
                          {OPTIONS_FIXED_MAP_FONT, OPTIONS_NO_CHECKS, OPTIONS_NOTIFY, OPTIONS_FIT}),
                  "1110")
            << "FONT 0, NOTIFY unset, FIT 0";
        EXPECT_TRUE(SaveWindowImage(dialog, PicturePath("options_dialog.png").c_str()));
        SetItemTexts(dialog, {{OPTIONS_TIMER, "2"},
                              {OPTIONS_WAIT, "0"},
                              {OPTIONS_TELNET, "xterm -e telnet"},
                              {OPTIONS_PARALLEL, "16"}});
        Clicks(dialog, {OPTIONS_FIXED_MAP_FONT, OPTIONS_NO_CHECKS, OPTIONS_FIT});
        SimulateKey(dialog, VK_RETURN, '\r'); // the default button saves the map options
    });
    EXPECT_EQ(ShowOptionsDialog(0), 1);
    EXPECT_EQ((Numbers{options.pollInterval, options.waitTimeout, options.scaledMapFont,
                       options.noAutomaticChecks, options.parallelChecks, options.fitMap}),
              (Numbers{5, 1000, 1, 0, 16, 1}));
    // TELNET and PARALLEL are program-wide keys; the map options stay out of TARNMAP.INI.
    EXPECT_EQ(Keys(Map(), {"TIMER", "WAIT", "FONT", "NOCHECK", "FIT", "TELNET", "PARALLEL"}),
              "TIMER=5 WAIT=1000 FONT=1 NOCHECK=0 FIT=1 TELNET=<none> PARALLEL=<none>");
    EXPECT_EQ(Keys(Global(), {"TELNET", "TIMER", "FIT", "PARALLEL", "NOTIFY"}),
              "TELNET=xterm -e telnet TIMER=<none> FIT=<none> PARALLEL=16 NOTIFY=<none>")
        << "NOTIFY is written once the user changed it";
    QueueDialogHook([](HWND dialog) { Clicks(dialog, {OPTIONS_NOTIFY, OPTIONS_SAVE_MAP}); });
    EXPECT_EQ(ShowOptionsDialog(0), 1);
    EXPECT_EQ(Keys(Global(), {"NOTIFY"}), "NOTIFY=0");
    EXPECT_EQ(Keys(Map(), {"NOTIFY"}), "NOTIFY=<none>");

    struct Case {
        const char *timer, *wait, *saved;
    };
    static const Case cases[] = {
        {"30000", "90", "TIMER=30000 WAIT=60000"},
        {"70000", "60", "TIMER=65535 WAIT=60000"}, // the most TIMER holds, not its low 16 bits
        {"x", "4294967", "TIMER=5 WAIT=60000"},    // no wrap-around in the multiplication
    };
    for (const Case& each : cases) {
        QueueDialogHook([&each](HWND dialog) {
            SetItemTexts(dialog, {{OPTIONS_TIMER, each.timer}, {OPTIONS_WAIT, each.wait}});
            Click(dialog, OPTIONS_SAVE_DEFAULT);
        });
        EXPECT_EQ(ShowOptionsDialog(0), 1);
        EXPECT_EQ(Keys(Global(), {"TIMER", "WAIT"}), each.saved) << each.timer;
        EXPECT_EQ("TIMER=" + std::to_string(options.pollInterval), Keys(Global(), {"TIMER"}));
    }
    EXPECT_EQ(Keys(Map(), {"TIMER"}), "TIMER=5") << "the map's file untouched by Save as Default";

    // A save that fails is told.
    WriteWholeFile(dir_.file("blocker"), "a file where a directory should be");
    CopyField(settingsFiles.mapSettings, sizeof settingsFiles.mapSettings,
              dir_.file("blocker/office.INI").c_str());
    QueueDialogHook([](HWND dialog) { Click(dialog, OPTIONS_SAVE_MAP); });
    EXPECT_EQ(ShowOptionsDialog(0), 1);
    ASSERT_EQ(JournalEntries().size(), 1u);
    EXPECT_EQ(JournalEntries()[0].rfind("messagebox: Options: The options could not be saved", 0),
              0u)
        << JournalEntries()[0];
}

TEST_F(OptionsTest, SolidBackgroundIsAnnouncedOnlyWhenSavedChanged) {
    std::string before = "[OPTS]\r\nBACKGROUND=0\r\n";
    WriteWholeFile(Global(), before);
    QueueDialogHook([](HWND dialog) {
        SetDlgItemText(dialog, OPTIONS_TIMER, "7");
        Clicks(dialog, {OPTIONS_SOLID_BACKGROUND, OPTIONS_EXIT});
    });
    EXPECT_EQ(ShowOptionsDialog(0), 0);
    EXPECT_TRUE(JournalEntries().empty());
    EXPECT_EQ(options.solidBackground, 0u);
    EXPECT_EQ(options.pollInterval, 60u);
    EXPECT_EQ(ReadWholeFile(Global()), before);

    QueueDialogHook([](HWND dialog) {
        Clicks(dialog, {OPTIONS_SOLID_BACKGROUND, OPTIONS_SAVE_DEFAULT});
    });
    EXPECT_EQ(ShowOptionsDialog(0), 1);
    ASSERT_EQ(JournalEntries().size(), 1u);
    EXPECT_EQ(JournalEntries()[0],
              "messagebox: TARNMAP: Color change takes effect next time program starts.");
    EXPECT_EQ(options.solidBackground, 1u);
    EXPECT_EQ(Keys(Global(), {"BACKGROUND"}), "BACKGROUND=1");

    // Saved unchanged: no notice.
    QueueDialogHook([](HWND dialog) { Click(dialog, OPTIONS_SAVE_MAP); });
    EXPECT_EQ(ShowOptionsDialog(0), 1);
    EXPECT_EQ(JournalEntries().size(), 1u);
}

TEST_F(OptionsTest, ToolOptionsSetTheToolsWithinTheirBounds) {
    toolOptions.pingCount = 5;
    toolOptions.traceMaxHops = 30;
    options.waitTimeout = 1000; // WAIT=1, which the echoes of the tools wait too
    toolOptions.echoDataLength = 56;
    toolOptions.verbose = 0;
    toolOptions.showHopNames = 1;
    QueueDialogHook([](HWND dialog) {
        EXPECT_EQ(ItemTexts(dialog, {TOOLOPTIONS_COUNT, TOOLOPTIONS_TIMEOUT,
                                     TOOLOPTIONS_DATA_LENGTH, TOOLOPTIONS_MAX_HOPS}),
                  "5|1|56|30");
        EXPECT_EQ(Checked(dialog, {TOOLOPTIONS_SHOW_NAMES, TOOLOPTIONS_VERBOSE}), "10");
        EXPECT_TRUE(SaveWindowImage(dialog, PicturePath("tool_options_dialog.png").c_str()));
        SetItemTexts(dialog, {{TOOLOPTIONS_COUNT, "3"},
                              {TOOLOPTIONS_TIMEOUT, "90"},
                              {TOOLOPTIONS_DATA_LENGTH, "100000"},
                              {TOOLOPTIONS_MAX_HOPS, "300"}});
        Clicks(dialog, {TOOLOPTIONS_SHOW_NAMES, TOOLOPTIONS_VERBOSE, IDOK});
    });
    EXPECT_EQ(ShowToolOptions(0), 1);
    EXPECT_EQ((Numbers{toolOptions.pingCount, options.waitTimeout, toolOptions.echoDataLength,
                       toolOptions.traceMaxHops, unsigned(toolOptions.showHopNames),
                       unsigned(toolOptions.verbose)}),
              (Numbers{3, 60000, ECHO_DATA_LENGTH_MAX, TRACE_MAX_HOPS_LIMIT, 0, 1}));
    EXPECT_FALSE(std::filesystem::exists(Global())) << "kept in memory only";

    QueueDialogHook([](HWND dialog) {
        SetItemTexts(dialog, {{TOOLOPTIONS_COUNT, "abc"},
                              {TOOLOPTIONS_DATA_LENGTH, "0"},
                              {TOOLOPTIONS_TIMEOUT, "0"}});
        Click(dialog, IDOK);
    });
    EXPECT_EQ(ShowToolOptions(0), 1);
    EXPECT_EQ(toolOptions.pingCount, 0u) << "not a number reads as 0";
    EXPECT_EQ(toolOptions.echoDataLength, ECHO_DATA_LENGTH_MIN);
    EXPECT_EQ(options.waitTimeout, 1000u);

    QueueDialogHook([](HWND dialog) {
        SetDlgItemText(dialog, TOOLOPTIONS_COUNT, "9");
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(ShowToolOptions(0), 0);
    EXPECT_EQ(toolOptions.pingCount, 0u);
}

TEST_F(OptionsTest, AColourChosenForASlotIsShownKeptAndSaved) {
    QueueDialogHook([](HWND dialog) {
        HWND slots = GetDlgItem(dialog, COLORS_SLOTS);
        HWND swatch = GetDlgItem(dialog, COLORS_SWATCH);
        EXPECT_EQ(SendMessage(slots, LB_GETCOUNT, 0, 0), 10);
        // The slot is selected by a posted request: until it is taken, a colour button
        // changes only the swatch.
        EXPECT_EQ(SendMessage(slots, LB_GETCURSEL, 0, 0), LB_ERR);
        Click(dialog, COLORS_FIRST_BUTTON + 13);
        UpdateWindow(dialog);
        EXPECT_EQ(WindowPixel(swatch, 4, 4), PaletteColor(13));
        EXPECT_EQ(WindowPixel(swatch, 0, 0), RGB(0, 0, 0)) << "outlined in black";
        EXPECT_EQ(colorTable[SLOT_OK], defaultColors[SLOT_OK]);
        PumpPendingMessages();
        EXPECT_EQ(SendMessage(slots, LB_GETCURSEL, 0, 0), 0);

        SimulateSelect(slots, SLOT_TWO); // "Lost 2 pkts"
        UpdateWindow(dialog);
        EXPECT_EQ(WindowPixel(swatch, 4, 4), PaletteColor(defaultColors[SLOT_TWO]));
        Click(dialog, 1039); // palette index 6
        EXPECT_EQ(colorTable[SLOT_TWO], 6u) << "at once";
        UpdateWindow(dialog);
        EXPECT_EQ(WindowPixel(swatch, 4, 4), PaletteColor(6));
        for (int index : {0, 6, 16, 23}) {
            HWND button = GetDlgItem(dialog, COLORS_FIRST_BUTTON + index);
            UpdateWindow(button);
            EXPECT_EQ(WindowPixel(button, 4, 4), PaletteColor(static_cast<unsigned>(index)))
                << index;
            EXPECT_EQ(WindowPixel(button, 0, 0), RGB(0, 0, 0)) << index;
        }
        EXPECT_TRUE(SaveWindowImage(dialog, PicturePath("colors_dialog.png").c_str()));
        Click(dialog, IDOK);
    });
    EXPECT_EQ(ShowColorsDialog(0), 1);
    EXPECT_EQ(Keys(Global(), {"TWO", "OK"}, "COLORS"), "TWO=6 OK=10");
    EXPECT_EQ(colorDialogSlot, unsigned{SLOT_TWO});

    // It opens on the slot of last time; cancelled, a change stays in memory unsaved.
    QueueDialogHook([](HWND dialog) {
        PumpPendingMessages();
        EXPECT_EQ(SendDlgItemMessage(dialog, COLORS_SLOTS, LB_GETCURSEL, 0, 0), SLOT_TWO);
        Click(dialog, COLORS_FIRST_BUTTON + 20);
        SimulateKey(dialog, VK_ESCAPE, 27);
    });
    EXPECT_EQ(ShowColorsDialog(0), 0);
    EXPECT_EQ(colorTable[SLOT_TWO], 20u);
    EXPECT_EQ(Keys(Global(), {"TWO"}, "COLORS"), "TWO=6");
}

TEST_F(OptionsTest, BeeperSetupRefusesADialStringWithOneTarget) {
    WriteWholeFile(Global(), "[OPTS]\r\nBEEP_NUMBER=5551234\r\n");
    // Opened from the Options dialog, which stays open and is then left.
    QueueDialogHook([](HWND dialog) {
        Click(dialog, OPTIONS_SET_BEEPER);
        EXPECT_TRUE(IsWindow(dialog));
        Click(dialog, OPTIONS_EXIT);
    });
    int refusals = 0;
    QueueDialogHook([&refusals](HWND dialog) {
        EXPECT_EQ(ItemTexts(dialog, {BEEPER_DIAL_STRING, BEEPER_NUMBER}), "ATDT%s,,,,,%s#|5551234");
        EXPECT_EQ(Checked(dialog, {BEEPER_COM1, BEEPER_BAUD_9600, BEEPER_ENABLE}), "110");
        EXPECT_TRUE(SaveWindowImage(dialog, PicturePath("beeper_dialog.png").c_str()));
        for (const char* refused : {"ATDT%s", "", "ATDT%d,%s", "%s%"}) {
            SetDlgItemText(dialog, BEEPER_DIAL_STRING, refused);
            Click(dialog, IDOK);
            ASSERT_TRUE(IsWindow(dialog)) << refused;
            ++refusals;
        }
        SetItemTexts(dialog, {{BEEPER_DIAL_STRING, "%s%s"}, {BEEPER_NUMBER, "5550000"}});
        Clicks(dialog, {BEEPER_ENABLE, BEEPER_COM2, BEEPER_BAUD_19200, IDOK});
    });
    EXPECT_EQ(ShowOptionsDialog(0), 0);
    EXPECT_EQ(refusals, 4);
    EXPECT_EQ(
        JournalEntries(),
        std::vector<std::string>(4, "messagebox: Beeper Setup: String must contain two \"%s\"."));
    EXPECT_EQ(ReadWholeFile(Global()), "[OPTS]\r\n"
                                       "BEEP_NUMBER=5550000\r\n"
                                       "BEEP_STRING=%s%s\r\n"
                                       "BEEP_ENABLE=1\r\n"
                                       "BEEP_PORT=2\r\n"
                                       "BEEP_BAUD=2\r\n");
    EXPECT_STREQ(options.beepString, "%s%s");
    EXPECT_EQ((Numbers{options.beepEnable, options.beepPort, options.beepBaud}),
              (Numbers{1, 2, 2}));
    EXPECT_STREQ(options.pageNumber, "5550000");

    // Cancel changes nothing; the number shown is the saved default, not a host's.
    CopyField(options.pageNumber, sizeof options.pageNumber, "host number");
    std::string saved = ReadWholeFile(Global());
    QueueDialogHook([](HWND dialog) {
        EXPECT_EQ(ItemText(dialog, BEEPER_NUMBER), "5550000");
        EXPECT_EQ(Checked(dialog, {BEEPER_COM2, BEEPER_BAUD_19200}), "11");
        SetDlgItemText(dialog, BEEPER_DIAL_STRING, "ATX%s%s");
        Click(dialog, IDCANCEL);
    });
    EXPECT_EQ(ShowBeeperSetup(0), 0);
    EXPECT_EQ(ReadWholeFile(Global()), saved);
    EXPECT_STREQ(options.beepString, "%s%s");

    // A long dial string saved earlier survives an OK untouched.
    const char* longString = "AT&F&C1&D2S7=90S11=60X4DT%s,,,,,,,,,,%s#";
    WritePrivateProfileString("OPTS", "BEEP_STRING", longString, Global().c_str());
    QueueDialogHook([](HWND dialog) { Click(dialog, IDOK); });
    EXPECT_EQ(ShowBeeperSetup(0), 1);
    EXPECT_STREQ(options.beepString, longString);
    EXPECT_EQ(Keys(Global(), {"BEEP_STRING"}), std::string("BEEP_STRING=") + longString);
}

TEST_F(OptionsTest, PreferencesCutsTheCountdownAndDuringACycleHoldsWhatItChecksWith) {
    WNDCLASS frame{};
    frame.lpfnWndProc = DefWindowProc;
    frame.lpszClassName = "OPTIONSTESTMAIN";
    static bool registered = RegisterClass(&frame);
    ASSERT_TRUE(registered);
    HWND window =
        CreateWindow("OPTIONSTESTMAIN", "", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, 0, 0, nullptr);
    HWND savedMain = mainWindow;
    mainWindow = window;
    CreateBars(window);
    ConnectReports();
    CopyField(mapPath, sizeof mapPath, "office.db");
    ClearMap();
    editMode = mapModified = 0; // as a map freshly opened, whatever tests ran before
    SetWindowText(window, "office 12");

    // A shorter interval cuts the countdown under way.
    pollState.countdown = 59;
    QueueDialogHook([](HWND dialog) {
        SetDlgItemText(dialog, OPTIONS_TIMER, "5");
        Clicks(dialog, {OPTIONS_NO_CHECKS, OPTIONS_SAVE_DEFAULT}); // automatic checks on
    });
    RunCommand(window, CMD_PREFERENCES);
    EXPECT_EQ(pollState.countdown, 5);
    EXPECT_EQ(pollState.timerActive, 1) << "restarted with automatic checks now on";
    char title[64] = {};
    GetWindowText(window, title, sizeof title);
    EXPECT_STREQ(title, "office");

    // During a cycle it opens too; the time-out and the engines wait for the cycle's end.
    pollState.inProgress = 1;
    QueueDialogHook([](HWND dialog) {
        SetDlgItemText(dialog, OPTIONS_WAIT, "9");
        Clicks(dialog, {OPTIONS_RAW_ICMP, OPTIONS_SAVE_DEFAULT});
    });
    RunCommand(window, CMD_PREFERENCES);
    EXPECT_EQ(pollState.timerActive, 0) << "the cycle's end restarts the countdown";
    EXPECT_EQ((Numbers{options.waitTimeout, options.useRawIcmp}), (Numbers{5000, 0}));
    EXPECT_EQ(Keys(Global(), {"WAIT", "PING"}), "WAIT=9000 PING=1");
    char pane[96] = {};
    SendMessage(statusBar, SB_GETTEXT, 0, reinterpret_cast<LPARAM>(pane));
    EXPECT_STREQ(pane, " Options saved. The checks take them from the next cycle.");
    pollState.inProgress = 0;
    ASSERT_TRUE(RunPollCycle(window)); // no hosts: over at once
    OnPollCycleDone(window);           // as its done message does
    EXPECT_EQ((Numbers{options.waitTimeout, options.useRawIcmp}), (Numbers{9000, 1}));

    // Colors, bracketed by the countdown, also when a cycle ends under it.
    bool opened = false;
    QueueDialogHook([&opened, window](HWND dialog) {
        opened = true;
        ASSERT_TRUE(RunCountedPollCycle(window));
        OnPollCycleDone(window);
        EXPECT_EQ(pollState.timerActive, 0) << "no countdown under the dialog";
        Click(dialog, IDOK);
    });
    RunCommand(window, CMD_COLORS);
    EXPECT_TRUE(opened);
    EXPECT_EQ(pollState.timerActive, 1);

    StopPollTimer();
    mainWindow = savedMain;
    DestroyWindow(window);
}

} // namespace
