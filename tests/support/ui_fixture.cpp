// Dialog helpers and the settings-directory fixture for the map, dialog
// and picture tests.
#include "support/ui_fixture.h"

#include "mapui/editor.h"
#include "model/hosts.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "resources/resources.h"

using namespace platform;

int PumpPendingMessages() {
    MSG message;
    while (PeekMessage(&message, 0, 0, 0, PM_NOREMOVE)) {
        if (message.message == WM_QUIT)
            return 0;
        GetMessage(&message, 0, 0, 0);
        TranslateMessage(&message);
        DispatchMessage(&message);
    }
    return 1;
}

std::string ItemText(HWND dialog, int id) {
    char text[300] = {};
    GetDlgItemText(dialog, id, text, sizeof text);
    return text;
}

void Click(HWND dialog, int id) {
    SimulateClick(GetDlgItem(dialog, id));
}

std::string ItemTexts(HWND dialog, std::initializer_list<int> ids) {
    std::string texts;
    for (int id : ids)
        texts += ItemText(dialog, id) + "|";
    return texts.substr(0, texts.size() - (texts.empty() ? 0 : 1));
}

std::string Checked(HWND dialog, std::initializer_list<int> ids) {
    std::string states;
    for (int id : ids)
        states += IsDlgButtonChecked(dialog, id) == BST_CHECKED ? '1' : '0';
    return states;
}

std::string Enabled(HWND dialog, std::initializer_list<int> ids) {
    std::string states;
    for (int id : ids)
        states += IsWindowEnabled(GetDlgItem(dialog, id)) ? '1' : '0';
    return states;
}

void SetItemTexts(HWND dialog, std::initializer_list<std::pair<int, const char*>> texts) {
    for (const auto& [id, text] : texts)
        SetDlgItemText(dialog, id, text);
}

void Clicks(HWND dialog, std::initializer_list<int> ids) {
    for (int id : ids)
        Click(dialog, id);
}

std::string MapState() {
    return "mode " + std::to_string(editMode) + " host " + std::to_string(currentHost) + " line " +
           std::to_string(currentLine) + " timer " + std::to_string(pollState.timerActive) +
           " hosts " + std::to_string(hostCount) + " lines " + std::to_string(lineCount);
}

void DialogAnswers::Queue(int result) {
    QueueDialogHook([this, result](HWND dialog) {
        ++opened;
        hostAtOpening = currentHost;
        timerAtOpening = pollState.timerActive;
        PostMessage(dialog, WM_COMMAND, result == 1 ? IDOK : IDCANCEL, 0);
    });
}

void DialogTest::SetUp() {
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    FlushProfileCache();
    RegisterResources();
    ResetTestingSeams();
    EnableJournal(true);
    AnswerUnaskedQuestions(true);
}

void DialogTest::TearDown() {
    AnswerUnaskedQuestions(false);
    EnableJournal(false);
    ResetTestingSeams();
}
