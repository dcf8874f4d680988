// What the map, dialog and picture tests share: dialog items read and clicked as the user
// does, dialogs answered and counted, pictures for the test output, and a
// fixture that gives a test its own settings files with the journal on.
#pragma once

#include "platform/window.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

// Dispatches every message already queued. 0 when the next one is the quit message.
int PumpPendingMessages();

std::string ItemText(platform::HWND dialog, int id);
void Click(platform::HWND dialog, int id);
// Several items at once: their texts joined by "|", whether each is checked or enabled
// ("1" or "0" each), texts set, clicks in turn.
std::string ItemTexts(platform::HWND dialog, std::initializer_list<int> ids);
std::string Checked(platform::HWND dialog, std::initializer_list<int> ids);
std::string Enabled(platform::HWND dialog, std::initializer_list<int> ids);
void SetItemTexts(platform::HWND dialog, std::initializer_list<std::pair<int, const char*>> texts);
void Clicks(platform::HWND dialog, std::initializer_list<int> ids);

// The editor's state in one line: "mode M host H line L timer T hosts N lines K" (edit mode,
// current host and line, whether the poll countdown runs, the table sizes).
std::string MapState();

// Counts the dialogs that open and answers each with Accept (1) or Cancel (0), noting the
// current host and the poll countdown as it opens.
struct DialogAnswers {
    int opened = 0;
    int hostAtOpening = -2;
    int timerAtOpening = -1;
    void Queue(int result);
};

// The current directory and the config directory are the test's own; the journal is on and
// questions nobody answers are cancelled.
class DialogTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    TempDir dir_{true};
};
