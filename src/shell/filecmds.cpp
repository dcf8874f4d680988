// New, Load, Save and Save As. Each holds the countdown while it runs; nothing is ever saved
// without being asked, and nothing edited is dropped without a question. Save As takes the map's
// settings file along to the new name; the log stays where it was written.
#include "shell/filecmds.h"

#include "mapui/editor.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/settings.h"
#include "monitor/log.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/dialog.h"
#include "platform/files.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/window.h"
#include "shell/mainwnd.h"
#include "shell/startup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

using namespace platform;

static const char mapFilters[] = "Tarnmap Files (*.db)\0*.db\0all files (*.*)\0*.*\0";
static const char* const QUESTION_CAPTION = "Tarnmap";

int ChooseMapFile(HWND owner, int mode) {
    OPENFILENAME request{};
    request.hwndOwner = owner;
    request.lpstrFilter = mapFilters;
    request.nFilterIndex = 1;
    request.lpstrFile = mapPath;
    request.nMaxFile = sizeof mapPath;
    request.Flags = mode == 1 ? OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST : OFN_OVERWRITEPROMPT;
    bool chosen = mode == 1 ? GetOpenFileName(&request) : GetSaveFileName(&request);
    // A path the map cannot hold is no cancel: the user must know why nothing happened.
    if (!chosen && CommDlgExtendedError() == FNERR_BUFFERTOOSMALL) {
        char text[128];
        std::snprintf(text, sizeof text,
                      "The chosen path is longer than %d characters; the map was not %s.",
                      MAP_PATH_LENGTH, mode == 1 ? "opened" : "saved");
        MessageBox(owner, text, mode == 1 ? "Open error" : "Save error", MB_OK | MB_ICONSTOP);
    }
    return chosen ? 1 : 0;
}

// The end of every file command, which holds the countdown from its start: the map
// repainted, the countdown going again.
static void FinishFileCommand() {
    InvalidateRect(mapWindow, nullptr, true);
    ReleaseCountdown();
}

// The name of the map's file without its directory, for the questions.
static const char* MapFileName() {
    const char* slash = std::strrchr(mapPath, '/');
    return slash != nullptr ? slash + 1 : mapPath;
}

// Writing the tables over the file they were read from drops the records it holds beyond
// them: only when the user says so.
static bool MayDropRecordsNotLoaded(HWND window) {
    if (hostsNotLoaded == 0 && linesNotLoaded == 0)
        return true;
    char text[MAP_PATH_LENGTH + 200];
    std::snprintf(text, sizeof text,
                  "%s holds %d host and %d line records that were not loaded. Saving over it "
                  "drops them. Save anyway?",
                  MapFileName(), hostsNotLoaded, linesNotLoaded);
    return MessageBox(window, text, QUESTION_CAPTION,
                      MB_OKCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDOK;
}

// A failed save leaves the old file as it was and says so, and why (a full disk, a
// read-only one, a folder the user may not write).
static bool WriteMapOrComplain(HWND window) {
    if (WriteMapDatabase(mapPath) != 0) {
        SetMapTitle(0, nullptr);
        return true;
    }
    int error = errno;
    char text[MAP_PATH_LENGTH + 128];
    std::snprintf(text, sizeof text, "Could not save the map to %s: %s.", mapPath,
                  FileErrorText(error));
    SetStatusText("Database write error.");
    MessageBox(window, text, "Save error", MB_OK | MB_ICONSTOP);
    return false;
}

/*** Save As: the settings go along ***/

// The whole of a file into `content`; false when it cannot be read.
static bool ReadWholeFile(const char* path, std::string* content) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        content->append(buffer, got);
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

static void ComplainSettingsNotCopied(HWND window, const char* path) {
    char text[2 * SETTINGS_PATH_LENGTH + 96];
    std::snprintf(text, sizeof text,
                  "The map's settings could not be written to %s. They are still in %s.", path,
                  settingsFiles.mapSettings);
    SetStatusText("Settings write error.");
    MessageBox(window, text, "Save error", MB_OK | MB_ICONSTOP);
}

// Makes the settings file of the map just saved at mapPath hold what the current one
// holds. One of that name is replaced only when the user agreed: in the save dialog, by
// overwriting the map it belongs to, or here. False when it could not be written (and said).
static bool CarryMapSettings(HWND window, bool overwriteConfirmed) {
    char settings[SETTINGS_PATH_LENGTH + 1];
    char log[SETTINGS_PATH_LENGTH + 1];
    if (!DeriveMapFilePaths(mapPath, settings, log) || settingsFiles.mapSettings[0] == '\0' ||
        std::strcmp(settings, settingsFiles.mapSettings) == 0 ||
        SameFile(settings, settingsFiles.mapSettings))
        return true;
    bool exists = FileExists(settings);
    if (exists && !overwriteConfirmed) {
        char text[SETTINGS_PATH_LENGTH + 96];
        std::snprintf(text, sizeof text,
                      "%s already exists. Replace it with the settings of this map?", settings);
        if (MessageBox(window, text, QUESTION_CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES)
            return true;
    }
    std::string content;
    bool written;
    if (!FileExists(settingsFiles.mapSettings)) // none of its own: neither has the new one
        written = !exists || std::remove(settings) == 0;
    else
        written = ReadWholeFile(settingsFiles.mapSettings, &content) &&
                  ReplaceFileAtomically(settings, content.data(), content.size());
    if (!written)
        ComplainSettingsNotCopied(window, settings);
    return written;
}

// Save As on the chosen path; the map keeps its old path when nothing was written.
static bool SaveMapAs(HWND window) {
    char previous[MAP_PATH_LENGTH + 1];
    CopyField(previous, sizeof previous, mapPath);
    if (ChooseMapFile(window, 2) == 0)
        return false;
    bool overwriting = FileExists(mapPath);
    bool overFileRead = overwriting && SameFile(previous, mapPath);
    if ((overFileRead && !MayDropRecordsNotLoaded(window)) || !WriteMapOrComplain(window)) {
        CopyField(mapPath, sizeof mapPath, previous);
        RefreshMapTitle();
        return false;
    }
    char settings[SETTINGS_PATH_LENGTH + 1];
    CopyField(settings, sizeof settings, settingsFiles.mapSettings);
    bool carried = CarryMapSettings(window, overwriting);
    UseMapFiles(mapPath);
    // Settings that could not be carried stay in use where they are, as the message says:
    // the hosts' alarms must not go quiet, or follow another file, for the rest of the run.
    if (!carried)
        CopyField(settingsFiles.mapSettings, sizeof settingsFiles.mapSettings, settings);
    return true;
}

static bool SaveMap(HWND window) {
    if (std::strcmp(mapPath, UNTITLED_MAP) == 0)
        return SaveMapAs(window);
    return MayDropRecordsNotLoaded(window) && WriteMapOrComplain(window);
}

/*** the commands ***/

bool AskToSaveMapChanges(HWND window) {
    if (mapModified == 0 || TerminationRequested())
        return true;
    char text[MAP_PATH_LENGTH + 32];
    std::snprintf(text, sizeof text, "Save changes to %s?", MapFileName());
    HoldCountdown();
    int answer = MessageBox(window, text, QUESTION_CAPTION, MB_SAVEDISCARDCANCEL | MB_ICONQUESTION);
    bool goOn = answer == IDNO;
    // A termination signal while the question was up ends the program without a write.
    if (TerminationRequested())
        goOn = true;
    else if (answer == IDYES)
        goOn = SaveMap(window);
    FinishFileCommand();
    return goOn;
}

void NewMapCommand(HWND window) {
    ReleaseEditorHolds(); // before the question: a host never placed is not saved
    if (!AskToSaveMapChanges(window))
        return;
    HoldCountdown();
    EndPollCycle(); // its hosts are gone
    AskWaitingMapCommand();
    lineCount = 0;
    hostCount = 0;
    mapModified = 0;
    hostsNotLoaded = 0;
    linesNotLoaded = 0;
    CopyField(mapPath, sizeof mapPath, UNTITLED_MAP);
    SelectMapFiles(mapPath);
    SetMapTitle(0, nullptr);
    FinishFileCommand();
}

void LoadMapCommand(HWND window) {
    ReleaseEditorHolds();
    if (!AskToSaveMapChanges(window))
        return;
    HoldCountdown();
    if (ChooseMapFile(window, 1) != 0) {
        EndPollCycle(); // its hosts are gone
        AskWaitingMapCommand();
        ReadMapDatabase(window, mapPath);
    }
    FinishFileCommand();
}

void SaveMapAsCommand(HWND window) {
    HoldCountdown();
    SaveMapAs(window);
    FinishFileCommand();
}

void SaveMapCommand(HWND window) {
    HoldCountdown();
    SaveMap(window);
    FinishFileCommand();
}

/*** the reader's reports ***/

static void ShowMapStatus(const char* text) {
    SetStatusText(text);
}

static void ShowVersionError(HWND owner, const char* text, const char* caption) {
    MessageBox(owner, text, caption, MB_OK | MB_ICONSTOP);
}

static void ShowMapTitle(const char* title) {
    SetWindowText(mainWindow, title);
}

static void ShowRecordsNotLoaded(const char* text) {
    SetStatusText(text);
    LogLine(text);
}

// Told once for the map that was opened: nothing of this map will be logged or kept.
static void ShowMapFilesRefused(const char* text) {
    SetStatusText(text);
    MessageBox(mainWindow, text, "Tarnmap", MB_OK | MB_ICONEXCLAMATION);
}

void ConnectMapReports() {
    mapDatabaseReports.statusText = ShowMapStatus;
    mapDatabaseReports.versionError = ShowVersionError;
    mapDatabaseReports.windowTitle = ShowMapTitle;
    mapDatabaseReports.recordsNotLoaded = ShowRecordsNotLoaded;
    mapDatabaseReports.parentIgnored = LogLine;
    settingsReports.mapFilesRefused = ShowMapFilesRefused;
}
