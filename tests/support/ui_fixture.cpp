// Dialog helpers, the XPM reader and the settings-directory fixture for the map, dialog
// and picture tests.
#include "support/ui_fixture.h"

#include "model/hosts.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/profile.h"
#include "platform/testing.h"
#include "resources/resources.h"

#include <cstdio>
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

std::string ItemTexts(HWND dialog, std::initializer_list<int> ids) {
    std::string texts;
    for (int id : ids)
        texts += ItemText(dialog, id) + "|";
    return texts.substr(0, texts.size() - (texts.empty() ? 0 : 1));
}

void SetItemTexts(HWND dialog, std::initializer_list<std::pair<int, const char*>> texts) {
    for (const auto& [id, text] : texts)
        SetDlgItemText(dialog, id, text);
}

void Clicks(HWND dialog, std::initializer_list<int> ids) {
    for (int id : ids)
        Click(dialog, id);
}

std::string PicturePath(const char* name) {
    const char* output = std::getenv("TARNMAP_TEST_OUTPUT");
    std::string directory = output != nullptr ? output : ".";
    std::filesystem::create_directories(directory);
    return directory + "/" + name;
}

// Reads the XPM lines the way an XPM reader does; a fault fails the calling test.
testing::AssertionResult ParseXpm(const char* const* xpm, ParsedXpm& out) {
    int colours = 0;
    int perPixel = 0;
    if (std::sscanf(xpm[0], "%d %d %d %d", &out.width, &out.height, &colours, &perPixel) != 4 ||
        out.width <= 0 || out.height <= 0 || colours <= 0 || perPixel <= 0) {
        return ::testing::AssertionFailure() << "bad header \"" << xpm[0] << "\"";
    }
    for (int i = 1; i <= colours; ++i) {
        std::string line = xpm[i];
        std::string code = line.substr(0, perPixel);
        size_t key = line.find(" c ", perPixel - 1);
        if (line.size() <= static_cast<size_t>(perPixel) || key == std::string::npos) {
            return ::testing::AssertionFailure() << "bad colour line \"" << line << "\"";
        }
        if (!out.colourOf.emplace(code, line.substr(key + 3)).second) {
            return ::testing::AssertionFailure() << "code \"" << code << "\" defined twice";
        }
    }
    for (int y = 0; y < out.height; ++y) {
        std::string row = xpm[1 + colours + y];
        if (row.size() != static_cast<size_t>(out.width * perPixel)) {
            return ::testing::AssertionFailure()
                   << "row " << y << " has " << row.size() << " characters";
        }
        std::vector<std::string> colourRow;
        for (int x = 0; x < out.width; ++x) {
            auto found = out.colourOf.find(row.substr(x * perPixel, perPixel));
            if (found == out.colourOf.end()) {
                return ::testing::AssertionFailure() << "undefined code in row " << y;
            }
            colourRow.push_back(found->second);
        }
        out.pixels.push_back(colourRow);
    }
    return ::testing::AssertionSuccess();
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
