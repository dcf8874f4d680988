// Starting outside programs: telnet and FTP clients, connect commands, alarm programs.
// A command line is split into words (double quotes group words, nothing else is special)
// and started directly; no shell ever sees it.
#pragma once

#include "platform/system.h"
#include "platform/types.h"

namespace platform {

// Starts the program named by the first word of the command line, searched on PATH, with
// the other words as its arguments and then `count` more arguments, each passed to the
// program exactly as it stands: never split at blanks, never unquoted, whatever it holds.
// With an empty command line the first of them names the program. Returns a value above
// 31 when it was started, otherwise an error number (0 for an empty command or no
// resources). The child is reaped when it ends. The journal shows the command line and
// the arguments joined by blanks.
UINT WinExecWithArguments(const char* commandLine, const char* const* arguments, int count,
                          UINT showState);

// What an error number of WinExecWithArguments means, for a message: "no such program", ...
const char* ExecErrorText(UINT error);

// True when `program` could be started: a path to an executable file, or a name found as
// one in a directory of PATH.
bool ProgramExists(const char* program);

// Splits a command line the way WinExecWithArguments does; exposed for the callers that show it.
// Writes at most `maxWords` pointers into `words`, each pointing into `storage` (at least
// as long as the command line plus one). Returns the number of words.
int SplitCommandLine(const char* commandLine, char* storage, char** words, int maxWords);

} // namespace platform
