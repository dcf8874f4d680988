// Modal dialogs from a template driven through the testing seam: items filled and read
// back, notifications, Enter, Escape and the close box, timers and posted messages while
// the dialog runs, edits, combo and list boxes, colours and drawn buttons in a picture,
// message boxes and file dialogs answered for the user.
#include "platform/dialog.h"
#include "platform/gdi.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using namespace platform;

namespace {

constexpr DialogItem testItems[] = {
    LeftText("Display &Name:", -1, 3, 7, 55, 8),
    EditText(601, 60, 6, 86, 12, ES_AUTOHSCROLL),
    EditText(602, 60, 20, 86, 12, ES_AUTOHSCROLL),
    ComboBox(1029, 60, 34, 86, 64, CBS_DROPDOWN),
    GroupBox("Type", 102, 154, 4, 61, 40),
    AutoRadioButton("TCP/IP", 1069, 162, 16, 40, 10, WS_GROUP | WS_TABSTOP),
    AutoRadioButton("None", 1068, 162, 28, 40, 10),
    AutoCheckBox("Monitor", 1012, 163, 48, 40, 10, WS_GROUP),
    PushButton("Cancel", IDCANCEL, 155, 62, 28, 14),
    DefPushButton("Accept", 100, 187, 62, 28, 14),
    EditText(1016, 4, 80, 140, 40, ES_MULTILINE | ES_READONLY | WS_VSCROLL | WS_HSCROLL),
    ListBox(1032, 150, 80, 60, 40),
    Control("", 1033, "BUTTON", BS_OWNERDRAW, 4, 124, 20, 12),
    Control("", 1057, "STATIC", SS_BLACKFRAME, 30, 124, 20, 12),
};
const DialogTemplate testDialog{"TESTDLG",
                                "Host Information",
                                221,
                                140,
                                "MS Sans Serif",
                                8,
                                WS_CAPTION | WS_SYSMENU | WS_THICKFRAME,
                                testItems};

// What the dialog procedure saw and read back.
struct Outcome {
    std::vector<std::pair<int, int>> commands; // id, notification
    std::string name;
    UINT number = 0;
    bool numberRead = false;
    LRESULT kind = 0;
    UINT tcp = 0;
    UINT none = 0;
    bool monitorEnabled = false;
    int ticks = 0;
    bool drawn = false;
    int width = 0; // from the last WM_SIZE
};
Outcome outcome;
HBRUSH dialogBrush = nullptr;
HBRUSH drawnBrush = nullptr;

LRESULT SendText(HWND window, UINT message, WPARAM wParam, const char* text) {
    return SendMessage(window, message, wParam, reinterpret_cast<LPARAM>(text));
}

INT_PTR TestDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetDlgItemText(dialog, 601, "gateway");
        CheckDlgButton(dialog, 1069, BST_CHECKED);
        CheckDlgButton(dialog, 1012, BST_CHECKED);
        for (const char* kind : {"Workstation", "Host", "Router"})
            SendText(GetDlgItem(dialog, 1029), CB_ADDSTRING, 0, kind);
        SendDlgItemMessage(dialog, 1029, CB_SETCURSEL, 1, 0);
        return 1;
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        outcome.commands.emplace_back(id, HIWORD(wParam));
        if (id == 100) {
            char name[8];
            GetDlgItemText(dialog, 601, name, sizeof name);
            outcome.name = name;
            outcome.number = GetDlgItemInt(dialog, 602, &outcome.numberRead, false);
            outcome.kind = SendDlgItemMessage(dialog, 1029, CB_GETCURSEL, 0, 0);
            outcome.tcp = IsDlgButtonChecked(dialog, 1069);
            outcome.none = IsDlgButtonChecked(dialog, 1068);
            outcome.monitorEnabled = IsWindowEnabled(GetDlgItem(dialog, 1012));
            EndDialog(dialog, 1);
        } else if (id == IDCANCEL) {
            EndDialog(dialog, 0);
        } else if ((id == 1068 || id == 1069) && HIWORD(wParam) == BN_CLICKED) {
            EnableWindow(GetDlgItem(dialog, 1012),
                         IsDlgButtonChecked(dialog, 1068) == BST_UNCHECKED);
        }
        return 1;
    }
    case WM_SIZE: // the tool dialogs lay their controls out again from here
        outcome.width = LOWORD(static_cast<std::uintptr_t>(lParam));
        return 1;
    case WM_TIMER:
        if (++outcome.ticks == 2)
            EndDialog(dialog, 77);
        return 1;
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(dialogBrush);
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        outcome.drawn = item->CtlType == ODT_BUTTON && item->CtlID == 1033;
        FillRect(item->hDC, &item->rcItem, drawnBrush);
        return 1;
    }
    default:
        return 0;
    }
}

int CountCommands(int id, int code) {
    return static_cast<int>(
        std::count(outcome.commands.begin(), outcome.commands.end(), std::make_pair(id, code)));
}

class DialogTest : public testing::Test {
  protected:
    void SetUp() override {
        static bool registered = false;
        if (!registered) {
            registered = true;
            ASSERT_TRUE(RegisterDialogTemplate(&testDialog));
            EXPECT_FALSE(RegisterDialogTemplate(&testDialog));
            dialogBrush = CreateSolidBrush(RGB(0, 128, 128));
            drawnBrush = CreateSolidBrush(RGB(255, 0, 0));
        }
        outcome = Outcome{};
        ResetTestingSeams();
        EnableJournal(true);
    }
    void TearDown() override { EnableJournal(false); }
};

TEST_F(DialogTest, ItemsAreFilledByTheUserAndReadBackOnEnter) {
    QueueDialogHook([](HWND dialog) {
        SimulateTyping(GetDlgItem(dialog, 601), "2");
        SetDlgItemText(dialog, 602, " 42 ");
        SimulateSelect(GetDlgItem(dialog, 1029), 2);
        SimulateClick(GetDlgItem(dialog, 1068));
        SimulateKey(dialog, VK_RETURN, '\r'); // the default button, "Accept"
    });
    EXPECT_EQ(DialogBox(0, "testdlg", TestDialogProc), 1);
    EXPECT_EQ(outcome.name, "gateway") << "\"gateway2\" cut to the buffer of 8";
    EXPECT_TRUE(outcome.numberRead);
    EXPECT_EQ(outcome.number, 42u);
    EXPECT_EQ(outcome.kind, 2);
    EXPECT_EQ(outcome.none, BST_CHECKED);
    EXPECT_EQ(outcome.tcp, BST_UNCHECKED) << "one radio button per group";
    EXPECT_FALSE(outcome.monitorEnabled);
    EXPECT_EQ(CountCommands(1029, CBN_SELCHANGE), 1) << "the user's choice only, not CB_SETCURSEL";
    EXPECT_EQ(CountCommands(1068, BN_CLICKED), 1);
    EXPECT_GE(CountCommands(601, EN_CHANGE), 1);
    EXPECT_EQ(CountCommands(100, BN_CLICKED), 1);
    EXPECT_EQ(DialogBox(0, "NO_SUCH_DIALOG", TestDialogProc), -1);
}

TEST_F(DialogTest, EscapeAndTheCloseBoxCancel) {
    for (void (*user)(HWND) : {+[](HWND dialog) { SimulateKey(dialog, VK_ESCAPE, 27); },
                               +[](HWND dialog) { SimulateCloseBox(dialog); }}) {
        outcome = Outcome{};
        QueueDialogHook(user);
        EXPECT_EQ(DialogBox(0, "TESTDLG", TestDialogProc), 0);
        EXPECT_EQ(CountCommands(IDCANCEL, BN_CLICKED), 1);
    }
}

// A window outside the dialog that notes whether a dialog was open when it got its message.
HWND openDialog = 0;
bool receivedDuringDialog = false;

LRESULT BystanderProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER + 7)
        receivedDuringDialog = IsWindow(openDialog);
    return DefWindowProc(window, message, wParam, lParam);
}

TEST_F(DialogTest, TimersAndPostedMessagesArriveWhileTheDialogRuns) {
    WNDCLASS bystander{};
    bystander.lpfnWndProc = BystanderProcedure;
    bystander.lpszClassName = "BYSTANDER";
    RegisterClass(&bystander);
    HWND window = CreateWindow("BYSTANDER", "", WS_OVERLAPPEDWINDOW, 0, 0, 50, 50, 0, 0, nullptr);
    receivedDuringDialog = false;
    QueueDialogHook([window](HWND dialog) {
        openDialog = dialog;
        SetTimer(dialog, 30, 10, nullptr);
        PostMessage(window, WM_USER + 7, 0, 0);
    });
    EXPECT_EQ(DialogBox(window, "TESTDLG", TestDialogProc), 77) << "ended by the second tick";
    EXPECT_EQ(outcome.ticks, 2);
    EXPECT_TRUE(receivedDuringDialog);
    EXPECT_FALSE(IsWindow(openDialog)) << "the dialog is gone with its timer";
    DestroyWindow(window);
}

TEST_F(DialogTest, EditsComboAndListBoxesAnswerTheirMessagesAndOnlyTheUserNotifies) {
    QueueDialogHook([](HWND dialog) {
        HWND results = GetDlgItem(dialog, 1016);
        auto replace = [results](const char* text) { SendText(results, EM_REPLACESEL, 0, text); };
        replace("line 1\nline 2\r\n");
        replace("end");
        char text[64];
        GetWindowText(results, text, sizeof text);
        EXPECT_STREQ(text, "line 1\r\nline 2\r\nend");
        EXPECT_EQ(GetWindowTextLength(results), 19);
        SendMessage(results, EM_SETSEL, 8, 14); // "line 2" in Win32 offsets
        replace("second");
        GetWindowText(results, text, sizeof text);
        EXPECT_STREQ(text, "line 1\r\nsecond\r\nend");
        replace("!"); // the caret follows the insertion
        GetWindowText(results, text, sizeof text);
        EXPECT_STREQ(text, "line 1\r\nsecond!\r\nend");
        SendMessage(results, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(ANSI_FIXED_FONT)),
                    0);

        HWND kinds = GetDlgItem(dialog, 1029);
        for (const char* typed : {"Gizmo", "Router"}) { // a typed text selects only an entry
            SetWindowText(kinds, "");
            SimulateTyping(kinds, typed);
            EXPECT_EQ(SendMessage(kinds, CB_GETCURSEL, 0, 0), typed[0] == 'G' ? CB_ERR : 2);
        }
        // Texts are Latin-1: what cannot be kept shows as the "?" the program reads.
        for (HWND typedInto : {GetDlgItem(dialog, 601), kinds}) {
            SetWindowText(typedInto, "");
            SimulateTyping(typedInto, "caf\u00e9 \u0416\u2013");
            GetWindowText(typedInto, text, sizeof text);
            EXPECT_STREQ(text, "caf\xe9 ??");
            EXPECT_EQ(ShownText(typedInto), "caf\u00e9 ??");
        }

        HWND list = GetDlgItem(dialog, 1032);
        for (const char* slot : {"Responding", "Lost 1 pkt", "Lost 2 pkts"})
            SendText(list, LB_ADDSTRING, 0, slot);
        // Shown with the focus, the list makes its first row current: no selection, no
        // notification.
        SetFocus(list);
        ShowWindow(dialog, SW_SHOW);
        for (MSG message; PeekMessage(&message, 0, 0, 0, PM_REMOVE);)
            DispatchMessage(&message);
        EXPECT_EQ(SendMessage(list, LB_GETCURSEL, 0, 0), LB_ERR);
        SendMessage(list, LB_SETCURSEL, 1, 0);
        SimulateSelect(list, 2);

        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(DialogBox(0, "TESTDLG", TestDialogProc), 0);
    EXPECT_EQ(CountCommands(1032, LBN_SELCHANGE), 1) << "LB_SETCURSEL does not notify";
    EXPECT_EQ(CountCommands(1016, EN_CHANGE), 0) << "the program's insertions do not notify";
}

TEST_F(DialogTest, NumbersAreReadAsWin32ReadsThem) {
    struct Case {
        const char* text;
        bool isSigned;
        UINT value;
        bool translated;
    };
    static const Case cases[] = {
        {"  42 ", false, 42, true},
        {"4x", false, 0, false},
        {"-5", false, 0, false},
        {"-5", true, static_cast<UINT>(-5), true},
        {"4294967295", false, 4294967295u, true},
        {"4294967296", false, 0, false},
        {"", false, 0, false},
        {"2147483648", true, 0, false},
    };
    QueueDialogHook([](HWND dialog) {
        for (const Case& each : cases) {
            SetDlgItemText(dialog, 602, each.text);
            bool translated = !each.translated;
            EXPECT_EQ(GetDlgItemInt(dialog, 602, &translated, each.isSigned), each.value)
                << each.text;
            EXPECT_EQ(translated, each.translated) << each.text;
        }
        SetDlgItemInt(dialog, 602, static_cast<UINT>(-7), true);
        char text[16];
        GetDlgItemText(dialog, 602, text, sizeof text);
        EXPECT_STREQ(text, "-7");
        EndDialog(dialog, 5);
    });
    EXPECT_EQ(DialogBox(0, "TESTDLG", TestDialogProc), 5) << "ended before it was shown";
}

// A resizable dialog is told its new size at once, with the client width.
TEST_F(DialogTest, ColourAnswersAndDrawnButtonsShowInThePictureAndResizesAreTold) {
    QueueDialogHook([](HWND dialog) {
        EXPECT_TRUE(SaveWindowImage(dialog, PicturePath("dialog_sample.png").c_str()));
        EXPECT_EQ(WindowPixel(dialog, 1, 1), RGB(0, 128, 128)) << "WM_CTLCOLORDLG's brush";
        EXPECT_TRUE(outcome.drawn);
        HWND drawn = GetDlgItem(dialog, 1033);
        EXPECT_EQ(WindowPixel(drawn, 2, 2), RGB(255, 0, 0));
        SimulateClick(drawn);
        RECT window{}, client{};
        GetWindowRect(dialog, &window);
        MoveWindow(dialog, window.left, window.top, 600, 400, true);
        GetClientRect(dialog, &client);
        EXPECT_EQ(outcome.width, client.right);
        PostMessage(dialog, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(DialogBox(0, "TESTDLG", TestDialogProc), 0);
    EXPECT_EQ(CountCommands(1033, BN_CLICKED), 1);
    EXPECT_GT(outcome.width, 500);
}

// The same dialog kept open: Accept only notes the command, Cancel ends it for good.
INT_PTR ModelessDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TIMER) {
        ++outcome.ticks;
        return 1;
    }
    if (message == WM_COMMAND && (LOWORD(wParam) == 100 || LOWORD(wParam) == IDCANCEL)) {
        outcome.commands.emplace_back(LOWORD(wParam), HIWORD(wParam));
        if (LOWORD(wParam) == IDCANCEL)
            DestroyWindow(dialog);
        return 1;
    }
    return TestDialogProc(dialog, message, wParam, lParam);
}

TEST_F(DialogTest, AModelessDialogStaysOpenWhileTheProgramsOwnLoopGoesOn) {
    QueueDialogHook([](HWND dialog) { SetDlgItemText(dialog, 602, "7"); });
    HWND dialog = CreateDialog(0, "TESTDLG", ModelessDialogProc);
    ASSERT_NE(dialog, 0u);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(GetDlgItemInt(dialog, 602, nullptr, false), 7u) << "the hook ran";
    char name[16];
    GetDlgItemText(dialog, 601, name, sizeof name);
    EXPECT_STREQ(name, "gateway") << "WM_INITDIALOG came first";

    // Its messages and timers come through the program's loop; no loop of its own runs.
    SetTimer(dialog, 1, 10, nullptr);
    MSG message;
    for (int round = 0; round < 5000 && outcome.ticks < 2; ++round)
        if (GetMessage(&message, 0, 0, 0) != 0)
            DispatchMessage(&message);
    EXPECT_GE(outcome.ticks, 2);
    KillTimer(dialog, 1);
    EXPECT_TRUE(SaveWindowImage(dialog, PicturePath("dialog_modeless.png").c_str()));

    // The keys of a modal dialog: Enter presses the default button, Escape cancels.
    SimulateKey(dialog, VK_RETURN, '\r');
    EXPECT_EQ(CountCommands(100, BN_CLICKED), 1);
    EXPECT_TRUE(IsWindow(dialog));
    SimulateKey(dialog, VK_ESCAPE, 27);
    EXPECT_EQ(CountCommands(IDCANCEL, BN_CLICKED), 1);
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(CreateDialog(0, "NO_SUCH_DIALOG", ModelessDialogProc), 0u);
}

TEST_F(DialogTest, MessageBoxesTakeTheQueuedAnswerAndAreJournaled) {
    QueueMessageBoxAnswer(IDNO);
    EXPECT_EQ(MessageBox(0, "Save changes?", "Tarnmap", MB_SAVEDISCARDCANCEL | MB_ICONQUESTION),
              IDNO);
    ASSERT_EQ(JournalEntries().size(), 1u);
    EXPECT_EQ(JournalEntries()[0], "messagebox: Tarnmap: Save changes?");
    AnswerUnaskedQuestions(true);
    EXPECT_EQ(MessageBox(0, "x", "y", MB_YESNO | MB_DEFBUTTON2), IDNO) << "the default button";
    EXPECT_EQ(MessageBox(0, "x", "y", MB_SAVEDISCARDCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(MessageBox(0, "x", "y", MB_OK | MB_ICONSTOP), IDOK);
    EXPECT_EQ(MessageBox(0, "x", "y", MB_RETRYCANCEL), IDRETRY);
}

TEST_F(DialogTest, FileDialogsReturnFullPathsWithinTheirLimits) {
    TempDir directory(true);
    WriteWholeFile(directory.file("office.db"), "V1\r\n");
    char file[160] = "tarnmap.db";
    char title[16] = "";
    OPENFILENAME request{};
    request.lpstrFilter = "Map files (*.db)\0*.db\0All files\0*.*\0";
    request.nFilterIndex = 1;
    request.lpstrFile = file;
    request.nMaxFile = sizeof file;
    request.lpstrFileTitle = title;
    request.nMaxFileTitle = sizeof title;
    request.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;

    // Patterns are shown once, as the toolkit reads them ("*.*" is every file here).
    EXPECT_EQ(FileDialogFilters("Maps (*.db)\0*.db\0Old maps\0*.map; *.db\0All (*.*)\0*.*\0"),
              (std::vector<std::string>{"Maps (*.db)", "Old maps (*.map *.db)", "All (*)"}));
    QueueFileDialogAnswer("office.db");
    ASSERT_TRUE(GetOpenFileName(&request));
    std::string expected = directory.file("office.db");
    EXPECT_EQ(std::string(file), expected);
    EXPECT_STREQ(file + request.nFileOffset, "office.db");
    EXPECT_STREQ(file + request.nFileExtension, "db");
    EXPECT_STREQ(title, "office.db");
    EXPECT_EQ(JournalEntries().back(), "open: Open: office.db");

    QueueFileDialogAnswer("missing.db");
    EXPECT_FALSE(GetOpenFileName(&request)) << "the file must exist";
    QueueFileDialogAnswer(nullptr);
    EXPECT_FALSE(GetOpenFileName(&request)) << "cancelled";

    request.Flags = OFN_OVERWRITEPROMPT;
    request.lpstrTitle = "Save Map";
    QueueFileDialogAnswer("new");
    ASSERT_TRUE(GetSaveFileName(&request));
    EXPECT_EQ(std::string(file), directory.file("new"));
    EXPECT_EQ(request.nFileExtension, static_cast<WORD>(std::string(file).size()))
        << "no extension";
    QueueFileDialogAnswer("nowhere/new.db");
    request.Flags = OFN_PATHMUSTEXIST;
    EXPECT_FALSE(GetSaveFileName(&request)) << "the directory must exist";

    char small[8];
    request.lpstrFile = small;
    request.nMaxFile = sizeof small;
    request.Flags = 0;
    QueueFileDialogAnswer("office.db");
    EXPECT_FALSE(GetOpenFileName(&request)) << "the path does not fit";
}

} // namespace
