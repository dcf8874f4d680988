// The programs the map has Tarnmap start: alarm programs, connect programs and the telnet
// and FTP clients. Fields taken from the map (names, addresses, numbers) are passed as
// arguments of their own, never split again; a command named by a map's settings file
// starts only when the user allows it; a program that cannot be started is told.
#pragma once

#include "platform/types.h"

// Where a program that was not started is told besides the map's log: the status bar, or
// standard error headless. Null: the log only.
extern void (*programFailureReport)(const char* text);

struct ProgramStart;

// Asked before a command named by the map's settings file (EXTERNAL, CONNECT) starts, with
// the start and its whole command line. Null lets every command start, as the program
// without windows does: there the administrator chose the map.
enum class CommandAnswer {
    Allowed,
    NotAllowed,
    Asking,     // the user is asked; the start is made, or told, once answered
    Unanswered, // a question about another command is still open
};
extern CommandAnswer (*mapCommandAllowed)(const ProgramStart& start, const char* commandLine);

// True when `text`, a host's name or address, may be handed to a program as an argument:
// it does not begin with "-" (it would be taken for an option) and holds no blank and no
// control character.
bool IsPlainArgument(const char* text);

// A program to start: the user's own command line, split into words as WinExec splits
// it, then each of `arguments` as one argument.
struct ProgramStart {
    const char* commandLine;
    const char* const* arguments;
    int count;
    const char* mapCommand; // the map's EXTERNAL or CONNECT value it comes from, or null
    platform::UINT showState;
};

// Starts the program unless the map's command is not allowed. False when it was not
// started; that is told as `cannot start "<program>": <reason>`, except while the user is
// asked.
bool StartProgram(const ProgramStart& start);

// Tells that `start` was not started because its map's command is not allowed.
void TellProgramNotAllowed(const ProgramStart& start);

// Tells that `program` (the first word of a command line) was not started, and why.
void TellProgramNotStarted(const char* program, const char* reason);
