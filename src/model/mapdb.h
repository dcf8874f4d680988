// The map database file: the line-oriented text form of the host and line tables (T, B,
// V, H and N records), its reader and its writer, and the main window's title text.
#pragma once

#include "platform/types.h"

constexpr unsigned MAP_TITLE_LENGTH = 79;           // characters of the composed window title
constexpr const char* UNTITLED_MAP = "untitled.db"; // the path of a new map

extern int mapVersion;      // version of the file being read; 0 until its V record
extern char mapBanner[256]; // the B text, kept as read and written back unchanged
// Records of the map file beyond the tables' capacity, left out when it was read; both 0
// again once the tables were written to a file.
extern int hostsNotLoaded;
extern int linesNotLoaded;

extern const char* const mapReadingText; // the status while a map is read

// What the reader tells the user. The shell points these at the status bar, the message
// box and the main window's title; unset entries are skipped.
struct MapDatabaseReports {
    void (*statusText)(const char* text); // null text: back to the default banner
    // A file refused in a message box: its version, its size, or not a regular file.
    void (*versionError)(platform::HWND owner, const char* text, const char* caption);
    void (*windowTitle)(const char* title);
    void (*recordsNotLoaded)(const char* text); // how many records were left out, and why
    void (*parentIgnored)(const char* text);    // a host's PARENT that names no host or loops
};
extern MapDatabaseReports mapDatabaseReports;

// Replaces both tables by the file's contents. Returns 1 when the file was read, or when
// it does not exist (the map stays at that path and a Save creates it). Returns 0 when
// the file exists but was not read: of another version, larger than any map, not a regular
// file, or unreadable; the user is told, the tables are empty and the map becomes
// UNTITLED_MAP, so that a Save never writes the empty tables over that file. Never waits
// on a FIFO.
int ReadMapDatabase(platform::HWND owner, const char* path);

// Writes both tables to `path`, replacing the file atomically. Returns 1 when the file
// was written, 0 when it could not be (the old file is then untouched).
int WriteMapDatabase(const char* path);

// The title for mapPath: its file name without directory and extension, "*" when the
// map is modified, then " %u" with `number` when it is not 0, then " %s" with `text` when
// it is not null; cut to `size`.
void ComposeMapTitle(char* buffer, unsigned size, unsigned number, const char* text);

// Composes the title and hands it to mapDatabaseReports.windowTitle.
void SetMapTitle(unsigned number, const char* text);
// The last title again, for a change of the map's name or modified state.
void RefreshMapTitle();
