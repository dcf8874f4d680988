// Dialog helpers and the settings-directory fixture for the map and dialog tests.
#include "support/ui_fixture.h"

#include "model/hosts.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "resources/resources.h"

#include <cstdlib>
#include <filesystem>

using namespace platform;

std::string ItemText(HWND dialog, int id) {
    char text[300] = {};
    GetDlgItemText(dialog, id, text, sizeof text);
    return text;
}

bool IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

bool IsEnabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id));
}

void Click(HWND dialog, int id) {
    SimulateClick(GetDlgItem(dialog, id));
}

std::string PicturePath(const char* name) {
    const char* output = std::getenv("TARNMAP_TEST_OUTPUT");
    std::string directory = output != nullptr ? output : ".";
    std::filesystem::create_directories(directory);
    return directory + "/" + name;
}

void DialogAnswers::Queue(int result) {
    QueueDialogHook([this, result](HWND dialog) {
        ++opened;
        hostAtOpening = currentHost;
        timerAtOpening = pollTimerActive;
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
