// The map's log file: one dated line per event, appended to the .LOG beside the map.
#pragma once

constexpr unsigned LOG_MESSAGE_LENGTH = 511;

// Appends "MM/DD/YY HH:MM:SS text" and a line end to the map's log file. When the file
// cannot be opened the line is dropped without a word.
void LogLine(const char* text);

// Formats the message (cut to LOG_MESSAGE_LENGTH characters) and logs it; nothing is
// written when formatting fails.
void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs "open of database" with the map's path (the settings' report of an opened map).
void LogMapOpened(const char* path);
