// The command line and the links between maps: the host Connect action, which starts the
// host's connect program or follows a map link ("Net" hosts, "[LOAD] path", "[HOME]"),
// and opening a linked map.
#pragma once

#include "platform/types.h"

#include <string>
#include <vector>

constexpr unsigned CONNECT_COMMAND_LENGTH = 149; // the CONNECT key of a host
constexpr unsigned CONNECT_LINE_LENGTH = 255;    // the expanded command line

// Puts `commandLine`, taken whole, into mapPath. False (mapPath unchanged) when it does
// not fit.
bool TakeCommandLineMap(const char* commandLine);

// The Connect action on menuHost, with the window that received the command. The program
// is started with its words and fields as separate arguments; a CONNECT value of the map's
// settings is asked about first (see mapCommandAllowed).
void ConnectHost(platform::HWND window);

// Expands the % letters of `command` for host `index` into `line` (at most `size` - 1
// characters; a longer expansion is cut at the end). Returns whether a "%" was seen.
bool ExpandConnectCommand(const char* command, int index, char* line, unsigned size);

// The words of the program the Connect action starts for host `index`: `command` split as
// WinExec splits a command line, each % letter expanded inside the word it stands in and
// never split again; without a "%", the host's address follows as a word of its own. False
// when a name or address to be put in is not a plain argument (IsPlainArgument); `refused`
// then holds it.
bool ComposeConnectWords(const char* command, int index, std::vector<std::string>* words,
                         std::string* refused);

// The command line the Connect action would run for host `index` with `command`: the
// expansion, the command as it stands for "[LOAD]", else the command and the address.
void ComposeConnectLine(const char* command, int index, char* line, unsigned size);

// The map a "Net" host opens: name.db, else the 8-character stem of name + "net", ".db".
// False when neither exists.
bool FindNetHostMap(const char* name, char* path, unsigned size);

// Makes `path` the current map: stops the countdown, reads the map (and its settings and
// log), repaints `window` and the map window, restarts the countdown. A path too long
// for the map path is refused, and the current map stays.
void OpenLinkedMap(platform::HWND window, const char* path);
