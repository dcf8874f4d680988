// The map database file: reads the T, B, V, H and N records into the host and line tables
// (converting the layout of files older than the V record), writes the tables back in the
// current layout, and composes the main window's title from the map's file name.
#include "model/mapdb.h"

#include "model/hosts.h"
#include "model/parents.h"
#include "model/settings.h"
#include "platform/files.h"
#include "platform/system.h"

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

using namespace platform;

/*** globals ***/

int mapVersion = 0;
char mapBanner[256];
int hostsNotLoaded = 0;
int linesNotLoaded = 0;
MapDatabaseReports mapDatabaseReports = {nullptr, nullptr, nullptr, nullptr, nullptr};

// What the title shows besides the map's name, for RefreshMapTitle.
static unsigned titleNumber = 0;
static char titleText[32];

static const char* const READ_ERROR_TEXT = "Database read error.";
const char* const mapReadingText = "Reading database.";
static const char* const VERSION_ERROR_TEXT =
    "Can't read this database!  Get a newer version of Tarnmap!";
static const char* const VERSION_ERROR_CAPTION = "Version error";
static const char* const REFUSED_CAPTION = "Map not read";

// A full map (every host and line record at its longest) is under 100 KiB; a file larger
// than this is no map, and reading it would only fill the memory.
constexpr std::uint64_t MAP_FILE_LIMIT = 1024 * 1024;
// The longest line kept of a record; the longest real record is under 300 characters, and
// what a longer line holds beyond this is skipped like the excess of a field.
constexpr std::size_t MAP_LINE_LIMIT = 4096;

// The version this program writes and the only one it reads in the current layout.
constexpr int CURRENT_MAP_VERSION = 1;

/*** reports ***/

static void ReportStatus(const char* text) {
    if (mapDatabaseReports.statusText != nullptr)
        mapDatabaseReports.statusText(text);
}

static void ReportVersionError(HWND owner) {
    if (mapDatabaseReports.versionError != nullptr)
        mapDatabaseReports.versionError(owner, VERSION_ERROR_TEXT, VERSION_ERROR_CAPTION);
}

// A file that exists but cannot be read as a map: too large, not a regular file, or refused
// by the system (no permission, a loop of links): the user must know which file and why.
static void ReportRefusedFile(HWND owner, const char* path, int error) {
    if (mapDatabaseReports.versionError == nullptr)
        return;
    char text[MAP_PATH_LENGTH + 128];
    if (error == FILE_TOO_LARGE)
        std::snprintf(text, sizeof text,
                      "The map %s is larger than %u KiB, more than any map needs; it was not "
                      "read.",
                      path, static_cast<unsigned>(MAP_FILE_LIMIT / 1024));
    else if (error == FILE_NOT_REGULAR)
        std::snprintf(text, sizeof text, "The map %s is %s; it was not read.", path,
                      FileErrorText(error));
    else
        std::snprintf(text, sizeof text, "The map %s cannot be read: %s.", path,
                      FileErrorText(error));
    mapDatabaseReports.versionError(owner, text, REFUSED_CAPTION);
}

// Saving such a map would write fewer records than its file holds: the user must know.
static void ReportRecordsNotLoaded(const char* path) {
    if ((hostsNotLoaded == 0 && linesNotLoaded == 0) ||
        mapDatabaseReports.recordsNotLoaded == nullptr)
        return;
    char text[MAP_PATH_LENGTH + 160];
    std::snprintf(text, sizeof text,
                  "%d host and %d line records of %s were not loaded: a map holds at most %d "
                  "hosts and %d lines.",
                  hostsNotLoaded, linesNotLoaded, path, MAX_HOSTS, MAX_LINES);
    mapDatabaseReports.recordsNotLoaded(text);
}

/*** reading ***/

// Reads one line into `line` without its line end, keeping at most MAP_LINE_LIMIT
// characters of it. CR LF, LF and a lone CR each end a line, so files written with any of
// them, or a mixture, read the same. False at the end of the file.
static bool ReadLine(std::FILE* file, std::string& line) {
    line.clear();
    int c = std::getc(file);
    if (c == EOF)
        return false;
    while (c != EOF && c != '\n' && c != '\r') {
        if (line.size() < MAP_LINE_LIMIT)
            line.push_back(static_cast<char>(c));
        c = std::getc(file);
    }
    if (c == '\r') {
        c = std::getc(file);
        if (c != '\n' && c != EOF)
            std::ungetc(c, file);
    }
    return true;
}

// The decimal number at the start of a field: leading blanks, an optional sign, then
// digits up to the first other character; no digits read as 0. The value is taken modulo
// 2^32, as the 32-bit fields hold it.
static std::uint32_t ReadNumber(const char* field) {
    while (*field == ' ' || *field == '\t' || *field == '\v' || *field == '\f' || *field == '\r')
        ++field;
    bool negative = false;
    if (*field == '+' || *field == '-') {
        negative = *field == '-';
        ++field;
    }
    std::uint32_t value = 0;
    while (*field >= '0' && *field <= '9') {
        value = value * 10u + static_cast<std::uint32_t>(*field - '0');
        ++field;
    }
    return negative ? 0u - value : value;
}

static std::int32_t ReadSignedNumber(const char* field) {
    return static_cast<std::int32_t>(ReadNumber(field));
}

// The start of the field after the one at `field`, or null when no comma follows.
static const char* NextField(const char* field) {
    const char* comma = std::strchr(field, ',');
    return comma != nullptr ? comma + 1 : nullptr;
}

// Copies the text field at `*cursor` into `text` (cut to its size; the rest of the field
// is skipped) and moves the cursor to the next field, or to the end of the line.
static void TakeTextField(const char** cursor, char* text, unsigned size) {
    const char* field = *cursor;
    std::size_t length = std::strcspn(field, ",");
    std::size_t kept = length < size - 1 ? length : size - 1;
    std::memcpy(text, field, kept);
    text[kept] = '\0';
    field += length;
    *cursor = *field == ',' ? field + 1 : field;
}

// Positions in files written before the V record existed were counted in an older unit.
static std::int32_t OldRowUnit(std::int32_t value) {
    return value / 10;
}
static std::int32_t OldColumnUnit(std::int32_t value) {
    return value / 35 * 2;
}

static void ParseHost(const char* body, bool oldLayout, HostRecord& host) {
    const char* cursor = body;
    TakeTextField(&cursor, host.name, sizeof host.name);
    TakeTextField(&cursor, host.address, sizeof host.address);
    TakeTextField(&cursor, host.info1, sizeof host.info1);
    TakeTextField(&cursor, host.info2, sizeof host.info2);

    // Fields 5 to 7 read as 0 when the line ends early; `cursor` then stays at the end.
    const char* field = cursor;
    std::int32_t first = ReadSignedNumber(field);
    field = NextField(field);
    std::int32_t second = field != nullptr ? ReadSignedNumber(field) : 0;
    if (oldLayout) {
        host.row = OldRowUnit(first);
        host.col = OldColumnUnit(second);
    } else {
        host.col = first;
        host.row = second;
    }
    field = field != nullptr ? NextField(field) : nullptr;
    host.flags = field != nullptr ? ReadNumber(field) : 0;

    field = field != nullptr ? NextField(field) : nullptr;
    host.protocol = field != nullptr && *field != '\0' ? ReadNumber(field) : 1;
    field = field != nullptr ? NextField(field) : nullptr;
    host.kind = field != nullptr && *field != '\0' ? ReadNumber(field) : 0;

    ResetLoadedHost(host);
}

// Fills `line` from an N body; false when fewer than five numbers are present.
static bool ParseLine(const char* body, bool oldLayout, LineRecord& line) {
    std::int32_t numbers[5];
    const char* field = body;
    for (int index = 0; index < 5; ++index) {
        if (field == nullptr)
            return false;
        numbers[index] = ReadSignedNumber(field);
        field = NextField(field);
    }
    line.attr = numbers[0];
    if (oldLayout) {
        line.y1 = OldRowUnit(numbers[1]);
        line.x1 = OldColumnUnit(numbers[2]);
        line.y2 = OldRowUnit(numbers[3]);
        line.x2 = OldColumnUnit(numbers[4]);
    } else {
        line.x1 = numbers[1];
        line.y1 = numbers[2];
        line.x2 = numbers[3];
        line.y2 = numbers[4];
    }
    return true;
}

// An empty map after a file that could not be read. A missing file keeps its path, so a
// Save creates it. After one that exists, a Save to its path would replace it with the
// empty tables, so the map becomes a new one, as after New: 0.
static int RefuseUnreadableFile(bool missing) {
    ReportStatus(READ_ERROR_TEXT);
    ClearMap();
    if (!missing) {
        std::snprintf(mapPath, sizeof mapPath, "%s", UNTITLED_MAP);
        SelectMapFiles(mapPath);
    }
    SetMapTitle(0, nullptr);
    return missing ? 1 : 0;
}

int ReadMapDatabase(HWND owner, const char* path) {
    mapVersion = 0;
    mapModified = 0;
    hostsNotLoaded = 0;
    linesNotLoaded = 0;
    int error = 0;
    std::FILE* file = OpenFileForReading(path, MAP_FILE_LIMIT, &error);
    if (file == nullptr) {
        // The map's own settings and log follow the path even when the file is missing:
        // what the user adds to this map must not land in the previous map's files.
        SelectMapFiles(path);
        bool missing = error == ENOENT || error == ENOTDIR;
        if (!missing)
            ReportRefusedFile(owner, path, error);
        return RefuseUnreadableFile(missing);
    }

    // First the map's files: a refusal of their paths is told in a box, whose loop must find
    // the tables whole.
    SelectMapFiles(path);
    std::memset(hostTable, 0, sizeof hostTable);
    ReportStatus(mapReadingText);

    int hosts = 0;
    int lines = 0;
    std::string text;
    while (ReadLine(file, text)) {
        const char* line = text.c_str(); // a zero byte ends the line's text
        const char* body = line + (line[0] != '\0' ? 1 : 0);
        bool oldLayout = mapVersion != CURRENT_MAP_VERSION;
        switch (line[0]) {
        case 'V':
            mapVersion = ReadSignedNumber(body);
            if (mapVersion != CURRENT_MAP_VERSION) {
                ReportVersionError(owner);
                std::fclose(file);
                return RefuseUnreadableFile(false);
            }
            break;
        case 'H':
            // Records beyond the table's capacity are left out, and counted.
            if (hosts < MAX_HOSTS) {
                ParseHost(body, oldLayout, hostTable[hosts]);
                ++hosts;
            } else {
                ++hostsNotLoaded;
            }
            break;
        case 'N':
            if (lines >= MAX_LINES)
                ++linesNotLoaded;
            else if (ParseLine(body, oldLayout, lineTable[lines]))
                ++lines;
            break;
        case 'B':
            std::snprintf(mapBanner, sizeof mapBanner, "%s", body);
            break;
        default: // T, and anything else, is not read
            break;
        }
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) // e.g. the path names a directory: report it, keep nothing half-read
        return RefuseUnreadableFile(false);

    ReportStatus(nullptr);
    hostCount = hosts;
    lineCount = lines;
    SetMapTitle(0, nullptr);
    ReportRecordsNotLoaded(path);
    ReadHostParents(mapDatabaseReports.parentIgnored);
    return 1;
}

/*** writing ***/

static void AppendFormatted(std::string& out, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

static void AppendFormatted(std::string& out, const char* format, ...) {
    char buffer[256];
    va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    if (length > 0)
        out.append(buffer, static_cast<std::size_t>(length) < sizeof buffer
                               ? static_cast<std::size_t>(length)
                               : sizeof buffer - 1);
}

static unsigned AsUnsigned(std::int32_t value) {
    return static_cast<std::uint32_t>(value);
}

int WriteMapDatabase(const char* path) {
    SYSTEMTIME now{};
    GetLocalTime(&now);

    std::string out;
    out.reserve(64 + sizeof mapBanner + static_cast<std::size_t>(hostCount) * 128 +
                static_cast<std::size_t>(lineCount) * 64);

    // A line end inside the path would start a record of its own when the file is read.
    std::string stampPath = path;
    for (char& c : stampPath)
        if (c == '\n' || c == '\r')
            c = '?';
    out += 'T';
    out += stampPath;
    AppendFormatted(out, " %02u/%02u/%02u %02u:%02u\r\n", now.year - 1900, now.month, now.day,
                    now.hour, now.minute);
    out += 'B';
    out += mapBanner;
    out += "\r\n";
    AppendFormatted(out, "V%d\r\n", CURRENT_MAP_VERSION);

    for (int index = 0; index < hostCount && index < MAX_HOSTS; ++index) {
        const HostRecord& host = hostTable[index];
        AppendFormatted(out, "H%s,%s,%s,%s,%u,%u,%u,%u,%u\r\n", host.name, host.address, host.info1,
                        host.info2, AsUnsigned(host.col), AsUnsigned(host.row), host.flags,
                        host.protocol, host.kind);
    }
    for (int index = 0; index < lineCount && index < MAX_LINES; ++index) {
        const LineRecord& line = lineTable[index];
        AppendFormatted(out, "N%u,%u,%u,%u,%u\r\n", AsUnsigned(line.attr), AsUnsigned(line.x1),
                        AsUnsigned(line.y1), AsUnsigned(line.x2), AsUnsigned(line.y2));
    }
    if (!ReplaceFileAtomically(path, out.data(), out.size()))
        return 0;
    mapModified = 0;
    hostsNotLoaded = 0;
    linesNotLoaded = 0;
    RefreshMapTitle();
    return 1;
}

/*** window title ***/

void ComposeMapTitle(char* buffer, unsigned size, unsigned number, const char* text) {
    if (size == 0)
        return;
    const char* name = std::strrchr(mapPath, '\\');
    if (name == nullptr)
        name = std::strrchr(mapPath, '/');
    name = name != nullptr ? name + 1 : mapPath;
    const char* dot = std::strrchr(name, '.');
    int nameLength = static_cast<int>(dot != nullptr ? dot - name : std::strlen(name));

    int length = std::snprintf(buffer, size, "%.*s%s", nameLength, name, mapModified ? "*" : "");
    if (number != 0 && length >= 0 && static_cast<unsigned>(length) < size)
        length +=
            std::snprintf(buffer + length, size - static_cast<unsigned>(length), " %u", number);
    if (text != nullptr && length >= 0 && static_cast<unsigned>(length) < size)
        std::snprintf(buffer + length, size - static_cast<unsigned>(length), " %s", text);
}

void SetMapTitle(unsigned number, const char* text) {
    titleNumber = number;
    CopyField(titleText, sizeof titleText, text != nullptr ? text : "");
    char title[MAP_TITLE_LENGTH + 1];
    ComposeMapTitle(title, sizeof title, number, text);
    if (mapDatabaseReports.windowTitle != nullptr)
        mapDatabaseReports.windowTitle(title);
}

void RefreshMapTitle() {
    char text[sizeof titleText];
    CopyField(text, sizeof text, titleText);
    SetMapTitle(titleNumber, text[0] != '\0' ? text : nullptr);
}
