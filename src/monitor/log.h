// The map's log file: one dated line per event, appended to the .LOG beside the map.
#pragma once

constexpr unsigned LOG_MESSAGE_LENGTH = 511;

// Told when the log cannot be written (full disk, no permission, not a regular file): once,
// until a line is written again or another log is opened. The desktop program shows it in
// the status bar, the headless one prints it to standard error.
extern void (*logFailureReport)(const char* text);

// Appends "MM/DD/YY HH:MM:SS text" and a line end to the map's log file in one write, so
// that a line is in the file whole or not at all. A line that cannot be written is lost
// and told through logFailureReport. Texts longer than a log line holds are cut.
void LogLine(const char* text);
// The same to the log `log`: a page's outcome goes to the log of the map that asked for
// it, whatever map is open when the modem answers.
void LogLineTo(const char* log, const char* text);

// Formats the message (cut to LOG_MESSAGE_LENGTH characters) and logs it; nothing is
// written when formatting fails.
void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs "open of database" with the map's path (the settings' report of an opened map).
void LogMapOpened(const char* path);
