// The map in memory: the host table and the line table that every part of the program
// reads and changes on the one UI thread, the host kinds, and the grid that positions are
// counted in. The text form of the tables on disk lives in model/mapdb.
#pragma once

#include "platform/types.h"

#include <cstdint>

/*** limits ***/

constexpr int MAX_HOSTS = 200;
constexpr int MAX_LINES = 500;
constexpr int GRID_COLUMNS = 36;
constexpr int GRID_ROWS = 35;
constexpr int MAP_PATH_LENGTH = 159; // characters of mapPath, terminator not counted
// Characters of a host's address: an IPv4-mapped IPv6 address written out in full (45),
// "%" and an interface name of 15.
constexpr unsigned ADDRESS_TEXT_LENGTH = 61;

constexpr unsigned HOST_NOT_MONITORED = 1; // flags bit 0: "Monitor" box clear
constexpr unsigned HOST_PROTOCOL_NONE = 2; // flags bit 1: protocol None

constexpr unsigned MISSED_LIMIT = 32000; // missed stops counting here

/*** record types ***/

struct HostRecord {
    char name[17]; // shown on the map; also the name of its settings section
    // The address the probes use (IPv6 in its short form); a copy of address until resolved.
    char resolvedAddr[ADDRESS_TEXT_LENGTH + 1];
    char address[ADDRESS_TEXT_LENGTH + 1]; // address or name as the user entered it; saved
    std::uint32_t status;                  // code of the last check, 0 for a reply
    std::uint32_t flags;                   // HOST_NOT_MONITORED | HOST_PROTOCOL_NONE
    std::int32_t row;                      // grid row of the top-left cell
    std::int32_t col;                      // grid column of the top-left cell
    std::uint32_t kind;                    // HostKind; 9 and more are kept as read
    std::int32_t drawWidth;                // pixels of the area last drawn, 0 until drawn
    std::int32_t drawHeight;               // pixels of the area last drawn, 0 until drawn
    std::uint32_t missed;   // consecutive checks without a reply, stops at MISSED_LIMIT
    std::uint32_t protocol; // 0 None, 1 TCP/IP, 2 Netbeui, 3 SNMP; shown only
    std::uint32_t lost;     // failed checks since the map was loaded
    char info1[26];         // free text
    char info2[26];         // free text
    std::uint32_t quiet;    // 1: repeated alarm actions suppressed
    std::uint32_t rtt;      // round-trip time of the last echo reply in ms, 0 unknown
    std::uint32_t rttTaken; // 1 when the last check measured rtt (0 then is under 1 ms)
    // Names this record for the run: given when it is made or loaded, never reused, never
    // saved. A check under way finds its host by it, wherever edits moved the record.
    std::uint32_t serial;
    std::uint32_t parent; // serial of the host this one sits behind, 0 none; never in the .db
    std::uint32_t reach;  // HostReach: what the alarms last made of it
};

struct LineRecord {
    std::int32_t attr; // 12 for lines drawn in the editor; otherwise kept as read
    std::int32_t x1;   // grid column of the first end
    std::int32_t y1;   // grid row of the first end
    std::int32_t x2;   // grid column of the second end
    std::int32_t y2;   // grid row of the second end
};

enum HostKind : unsigned {
    KIND_WORKSTATION = 0,
    KIND_HOST = 1,
    KIND_SERVER = 2,
    KIND_ROUTER = 3,
    KIND_BRIDGE = 4,
    KIND_HUB = 5,
    KIND_LANBOX = 6,
    KIND_NET = 7,
    KIND_PRINTER = 8,
    HOST_KIND_COUNT = 9
};

// Where a host stands for the alarms. A host is down from its down line until it answers;
// it is unreachable while its failures are put down to a host it sits behind.
enum HostReach : unsigned {
    REACH_COUNTING = 0,    // answering, or missing checks not yet declared anything
    REACH_DOWN = 1,        // declared down, not answered since
    REACH_UNREACHABLE = 2, // its last failure came while a host it sits behind was out
};

// Names in the "System Type" list, and picture resources, indexed by kind.
extern const char* const hostKindNames[HOST_KIND_COUNT];
extern const char* const hostKindPictures[HOST_KIND_COUNT];

/*** globals ***/

extern HostRecord hostTable[MAX_HOSTS];
extern int hostCount;
extern LineRecord lineTable[MAX_LINES];
extern int lineCount;
extern int currentHost;                   // host being added, edited or dragged; -1 none
extern char mapPath[MAP_PATH_LENGTH + 1]; // the map database the tables belong to
extern int gridCellWidth;                 // client width / GRID_COLUMNS
extern int gridCellHeight;                // client height / GRID_ROWS
extern int mapModified; // 1 when the tables hold edits the map file has not: shown as "*"

/*** operations ***/

void ClearMap();

// Recomputes the cell size from the map area's client size.
void SetGridFromClientSize(int width, int height);

// Appends a new host record ("newhost", a new serial, everything else zero) at (col, row)
// and returns its index, or -1 when the table is full. This and the other three changes of
// the tables below mark the map modified.
int AppendHost(int col, int row);

// Appends a line of attribute 12 with both ends at (col, row); -1 when the table is full.
int AppendLine(int col, int row);

// Removes one record; those behind it move down one place. Out-of-range indices are
// ignored.
void DeleteHost(int index);
void DeleteLine(int index);

// Notes an edit of what the map file holds (a host's or line's place, a host added,
// deleted or changed), so that nothing edited is lost without a question.
void MarkMapModified();

// Whether two records differ in what the map file holds of a host.
bool HostFileFieldsDiffer(const HostRecord& a, const HostRecord& b);

// Whether the poll cycle checks the host: monitored, and with an address to check. A host
// whose address was never filled in (a new host whose dialog was cancelled) is not.
bool HostIsChecked(const HostRecord& host);

// Fills the fields of a record read from a map database that the file does not carry,
// a new serial among them.
void ResetLoadedHost(HostRecord& host);

// The index of the record with `serial`, or -1 when none has it any more.
int FindHostBySerial(std::uint32_t serial);

// Copies `text` into a fixed field of `size` bytes, cutting it.
void CopyField(char* field, unsigned size, const char* text);

// Pixel positions of cells, in 64 bits: a map may place a host or a line end at any
// 32-bit cell, far beyond what a window shows or an int holds.
long long CellLeft(std::int32_t col);
long long CellTop(std::int32_t row);
// `value` held within a quarter of the int range each way, which a RECT and every drawing
// call carry; what lies that far out is off any window either way.
int HeldPixel(long long value);

// The area to repaint for one host (its drawn extent, or an estimate before the first
// paint) and for one line; right and bottom are exclusive.
platform::RECT HostRepaintArea(const HostRecord& host);
platform::RECT LineRepaintArea(const LineRecord& line);

// Ask `window` to repaint (with erase) the area of one host or one line. With FIT the ends
// of lines follow the hosts' pictures, so a line, and a host moved, deleted or resized by an
// edit (InvalidateEditedHost), repaint the whole window then.
bool InvalidateHost(platform::HWND window, const HostRecord& host);
bool InvalidateEditedHost(platform::HWND window, const HostRecord& host);
bool InvalidateLine(platform::HWND window, const LineRecord& line);

// Repaints a host whose size may have changed (a new host, a new name or kind): its area
// as last drawn, or estimated, at once, and then its area as that paint drew it.
void RepaintChangedHost(platform::HWND window, const HostRecord& host);
