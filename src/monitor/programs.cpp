// Starting the map's programs: the question for commands of a map's settings file, the
// start with its arguments, and the message when a program is not started.
#include "monitor/programs.h"

#include "monitor/log.h"
#include "platform/exec.h"

#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

void (*programFailureReport)(const char* text) = nullptr;
CommandAnswer (*mapCommandAllowed)(const ProgramStart& start, const char* commandLine) = nullptr;

constexpr unsigned PROGRAM_NAME_LENGTH = 255; // of the program's name in a message

/*** arguments ***/

bool IsPlainArgument(const char* text) {
    if (text[0] == '-')
        return false;
    for (const char* c = text; *c != '\0'; ++c) {
        unsigned char code = static_cast<unsigned char>(*c);
        if (code <= ' ' || code == 0x7F)
            return false;
    }
    return true;
}

// The name of the program a start would run: the first word of the command line, or the
// first argument when the command line has none.
static void ProgramName(const ProgramStart& start, char* name, unsigned size) {
    char storage[PROGRAM_NAME_LENGTH + 1];
    char* words[1] = {nullptr};
    char line[PROGRAM_NAME_LENGTH + 1];
    std::snprintf(line, sizeof line, "%s", start.commandLine);
    if (SplitCommandLine(line, storage, words, 1) == 1)
        std::snprintf(name, size, "%s", words[0]);
    else
        std::snprintf(name, size, "%s", start.count > 0 ? start.arguments[0] : "");
}

// The whole command line as the user reads it: the words, then the arguments.
static void ShownCommandLine(const ProgramStart& start, char* line, unsigned size) {
    int used = std::snprintf(line, size, "%s", start.commandLine);
    for (int i = 0; i < start.count && used >= 0 && static_cast<unsigned>(used) < size; ++i)
        used += std::snprintf(line + used, size - static_cast<unsigned>(used), "%s%s",
                              used > 0 ? " " : "", start.arguments[i]);
}

/*** starting ***/

void TellProgramNotStarted(const char* program, const char* reason) {
    char text[PROGRAM_NAME_LENGTH + 128];
    std::snprintf(text, sizeof text, "cannot start \"%s\": %s", program, reason);
    LogLine(text);
    if (programFailureReport != nullptr) {
        char shown[sizeof text + 1];
        std::snprintf(shown, sizeof shown, " %s", text);
        programFailureReport(shown);
    }
}

void TellProgramNotAllowed(const ProgramStart& start) {
    char name[PROGRAM_NAME_LENGTH + 1];
    ProgramName(start, name, sizeof name);
    TellProgramNotStarted(name, "not allowed for this map");
}

bool StartProgram(const ProgramStart& start) {
    char name[PROGRAM_NAME_LENGTH + 1];
    ProgramName(start, name, sizeof name);
    if (start.mapCommand != nullptr && mapCommandAllowed != nullptr) {
        char line[1024];
        ShownCommandLine(start, line, sizeof line);
        switch (mapCommandAllowed(start, line)) {
        case CommandAnswer::Allowed:
            break;
        case CommandAnswer::Asking:
            return false;
        case CommandAnswer::NotAllowed:
            TellProgramNotAllowed(start);
            return false;
        case CommandAnswer::Unanswered:
            TellProgramNotStarted(name, "another program of the map waits for an answer");
            return false;
        }
    }
    UINT result =
        WinExecWithArguments(start.commandLine, start.arguments, start.count, start.showState);
    if (result > 31)
        return true;
    TellProgramNotStarted(name, ExecErrorText(result));
    return false;
}
