// The command line's map, and the Connect action: a host's connect command with its %
// letters expanded and started as a program, or followed as a link to another map.
#include "shell/maplinks.h"

#include "mapui/ctxmenu.h"
#include "mapui/editor.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "monitor/programs.h"
#include "platform/system.h"
#include "platform/window.h"
#include "shell/filecmds.h"
#include "shell/startup.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace platform;

static const char* const HOME_MAP_DEFAULT = "tarnmap.db";
static constexpr unsigned NET_STEM_LENGTH = 8; // characters of a "Net" host's name used

/*** the command line ***/

bool TakeCommandLineMap(const char* commandLine) {
    if (std::strlen(commandLine) > MAP_PATH_LENGTH)
        return false;
    CopyField(mapPath, sizeof mapPath, commandLine);
    return true;
}

/*** opening a linked map ***/

void OpenLinkedMap(HWND window, const char* path) {
    if (std::strlen(path) > MAP_PATH_LENGTH) {
        // A cut path would open some other file; the current map stays.
        SetStatusText(" The linked map's path is too long to open.");
        return;
    }
    ReleaseEditorHolds();
    if (!AskToSaveMapChanges(window))
        return;
    HoldCountdown(); // no cycle of a half-read map under a box of the reader
    EndPollCycle();  // its hosts are gone
    AskWaitingMapCommand();
    CopyField(mapPath, sizeof mapPath, path);
    ReadMapDatabase(window, mapPath);
    InvalidateRect(window, nullptr, true);
    if (window != mapWindow)
        InvalidateRect(mapWindow, nullptr, true);
    ReleaseCountdown();
}

bool FindNetHostMap(const char* name, char* path, unsigned size) {
    char stem[NET_STEM_LENGTH + 1];
    CopyField(stem, sizeof stem, name);
    std::snprintf(path, size, "%s.db", stem);
    if (FileExists(path))
        return true;
    char withNet[NET_STEM_LENGTH + 4];
    std::snprintf(withNet, sizeof withNet, "%snet", stem);
    withNet[NET_STEM_LENGTH] = '\0';
    std::snprintf(path, size, "%s.db", withNet);
    return FileExists(path);
}

/*** the connect command ***/

// Appends text to a line of `size` bytes, cutting at its end.
static void Append(char* line, unsigned size, unsigned* used, const char* text,
                   std::size_t length) {
    while (length-- > 0 && *used + 1 < size)
        line[(*used)++] = *text++;
    line[*used] = '\0';
}

// The host's field a letter after "%" stands for, or null for no letter of ours;
// `plain` tells whether it is a name or an address, which must be a plain argument.
static const char* ConnectField(const HostRecord& host, char letter, bool* plain) {
    *plain = false;
    switch (std::tolower(static_cast<unsigned char>(letter))) {
    case '%':
        return "%";
    case '1':
        return host.info1;
    case '2':
        return host.info2;
    case ' ':
        return ""; // "% " gives nothing, the blank included
    default:
        break;
    }
    *plain = true;
    switch (std::tolower(static_cast<unsigned char>(letter))) {
    case 'a':
    case 'i':
        return host.resolvedAddr;
    case 'h':
    case 'n':
        return host.address;
    case 'l':
        return host.name;
    default:
        *plain = false;
        return nullptr;
    }
}

bool ExpandConnectCommand(const char* command, int index, char* line, unsigned size) {
    if (size == 0)
        return false;
    const HostRecord& host = hostTable[index];
    unsigned used = 0;
    line[0] = '\0';
    bool percent = false;
    for (const char* c = command; *c != '\0'; ++c) {
        if (*c != '%') {
            Append(line, size, &used, c, 1);
            continue;
        }
        percent = true;
        if (c[1] == '\0')
            break; // a "%" at the end is dropped
        ++c;
        bool plain = false;
        const char* field = ConnectField(host, *c, &plain);
        if (field != nullptr)
            Append(line, size, &used, field, std::strlen(field));
        else
            Append(line, size, &used, c - 1, 2);
    }
    return percent;
}

bool ComposeConnectWords(const char* command, int index, std::vector<std::string>* words,
                         std::string* refused) {
    const HostRecord& host = hostTable[index];
    words->clear();
    std::string word;
    bool inWord = false;
    bool quoted = false;
    bool percent = false;
    auto endWord = [&] {
        if (inWord)
            words->push_back(word);
        word.clear();
        inWord = false;
    };
    for (const char* c = command; *c != '\0'; ++c) {
        if (*c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((*c == ' ' || *c == '\t') && !quoted) {
            endWord();
        } else if (*c != '%') {
            word += *c;
            inWord = true;
        } else {
            percent = true;
            if (c[1] == '\0')
                break; // a "%" at the end is dropped
            ++c;
            bool plain = false;
            const char* field = ConnectField(host, *c, &plain);
            if (plain && !IsPlainArgument(field)) {
                *refused = field;
                return false;
            }
            word += field != nullptr ? field : std::string{'%', *c};
            inWord = inWord || *c != ' ';
        }
    }
    endWord();
    if (!percent) {
        if (!IsPlainArgument(host.resolvedAddr)) {
            *refused = host.resolvedAddr;
            return false;
        }
        words->push_back(host.resolvedAddr);
    }
    return true;
}

void ComposeConnectLine(const char* command, int index, char* line, unsigned size) {
    if (std::strchr(command, '%') != nullptr)
        ExpandConnectCommand(command, index, line, size);
    else if (std::strncmp(command, "[LOAD]", 6) == 0)
        std::snprintf(line, size, "%s", command);
    else
        std::snprintf(line, size, "%s %s", command, hostTable[index].resolvedAddr);
}

// Whether the four letters after the bracket are `word`, in any case.
static bool BracketWordIs(const char* line, const char* word) {
    for (int i = 0; i < 4; ++i)
        if (std::toupper(static_cast<unsigned char>(line[1 + i])) != word[i])
            return false;
    return true;
}

static void FollowLoadLink(HWND window, const char* line) {
    const char* blank = std::strchr(line, ' ');
    if (blank == nullptr)
        return;
    while (*blank == ' ')
        ++blank;
    if (*blank == '\0')
        return;
    OpenLinkedMap(window, blank);
}

static void FollowHomeLink(HWND window) {
    char home[MAP_PATH_LENGTH + 1];
    ReadDefaultMapFile(home, sizeof home);
    OpenLinkedMap(window, home[0] != '\0' ? home : HOME_MAP_DEFAULT);
}

// Starts the host's connect program: `command` is the map's CONNECT value when
// `fromMap`, otherwise the TELNET command.
static void StartConnectProgram(const char* command, int index, bool fromMap) {
    std::vector<std::string> words;
    std::string refused;
    if (!ComposeConnectWords(command, index, &words, &refused)) {
        char program[CONNECT_COMMAND_LENGTH + 1];
        std::snprintf(program, sizeof program, "%.*s", static_cast<int>(std::strcspn(command, " ")),
                      command);
        TellProgramNotStarted(program,
                              ("\"" + refused + "\" is no plain host name or address").c_str());
        return;
    }
    std::vector<const char*> arguments;
    for (const std::string& word : words)
        arguments.push_back(word.c_str());
    StartProgram({"", arguments.data(), static_cast<int>(arguments.size()),
                  fromMap ? command : nullptr, SW_SHOW});
}

void ConnectHost(HWND window) {
    if (menuHost < 0 || menuHost >= hostCount)
        return;
    const HostRecord& host = hostTable[menuHost];
    char command[CONNECT_COMMAND_LENGTH + 1];
    // A missing key and an empty value are alike.
    ReadHostText(menuHost, "CONNECT", "", command, sizeof command);
    bool fromMap = command[0] != '\0';
    if (!fromMap && host.kind == KIND_NET) {
        char path[MAP_PATH_LENGTH + 1];
        if (FindNetHostMap(host.name, path, sizeof path))
            OpenLinkedMap(window, path);
        return;
    }
    if (!fromMap)
        CopyField(command, sizeof command, options.telnetCommand);

    char line[CONNECT_LINE_LENGTH + 1];
    ComposeConnectLine(command, menuHost, line, sizeof line);
    if (line[0] != '[') {
        StartConnectProgram(command, menuHost, fromMap);
        return;
    }
    if (BracketWordIs(line, "LOAD"))
        FollowLoadLink(window, line);
    else if (BracketWordIs(line, "HOME"))
        FollowHomeLink(window);
}
