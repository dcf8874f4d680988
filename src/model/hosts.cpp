// The host and line tables and the operations that add, remove and locate their records.
#include "model/hosts.h"

#include "model/mapdb.h"
#include "model/settings.h"
#include "platform/window.h"

#include <algorithm>
#include <cstring>
#include <limits>

using namespace platform;

/*** globals ***/

HostRecord hostTable[MAX_HOSTS];
int hostCount = 0;
LineRecord lineTable[MAX_LINES];
int lineCount = 0;
int currentHost = -1;
char mapPath[MAP_PATH_LENGTH + 1];
int gridCellWidth = 0;
int gridCellHeight = 0;
int mapModified = 0;

// The serial the next record made or loaded gets; 0 is never given.
static std::uint32_t nextHostSerial = 1;

const char* const hostKindNames[HOST_KIND_COUNT] = {
    "Workstation", "Host", "Server", "Router", "Bridge", "Hub", "Lanbox", "Net", "Printer"};

const char* const hostKindPictures[HOST_KIND_COUNT] = {"BMP_PC",     "BMP_HOST",   "BMP_SERVER",
                                                       "BMP_ROUTER", "BMP_BRIDGE", "BMP_HUB",
                                                       "BMP_MTU",    "BMP_NET",    "BMP_PRINTER"};

/*** operations ***/

void ClearMap() {
    hostCount = 0;
    lineCount = 0;
}

void SetGridFromClientSize(int width, int height) {
    gridCellWidth = width / GRID_COLUMNS;
    gridCellHeight = height / GRID_ROWS;
}

void CopyField(char* field, unsigned size, const char* text) {
    if (size == 0)
        return;
    std::size_t length = std::strlen(text);
    if (length >= size)
        length = size - 1;
    std::memcpy(field, text, length);
    field[length] = '\0';
}

void MarkMapModified() {
    if (mapModified != 0)
        return;
    mapModified = 1;
    RefreshMapTitle();
}

bool HostFileFieldsDiffer(const HostRecord& a, const HostRecord& b) {
    return std::strcmp(a.name, b.name) != 0 || std::strcmp(a.address, b.address) != 0 ||
           std::strcmp(a.info1, b.info1) != 0 || std::strcmp(a.info2, b.info2) != 0 ||
           a.col != b.col || a.row != b.row || a.flags != b.flags || a.protocol != b.protocol ||
           a.kind != b.kind;
}

bool HostIsChecked(const HostRecord& host) {
    return host.flags == 0 && host.address[0] != '\0';
}

int AppendHost(int col, int row) {
    if (hostCount >= MAX_HOSTS)
        return -1;
    HostRecord& host = hostTable[hostCount];
    host = HostRecord{};
    host.serial = nextHostSerial++;
    CopyField(host.name, sizeof host.name, "newhost");
    host.col = col;
    host.row = row;
    MarkMapModified();
    return hostCount++;
}

int AppendLine(int col, int row) {
    if (lineCount >= MAX_LINES)
        return -1;
    lineTable[lineCount] = LineRecord{12, col, row, col, row};
    MarkMapModified();
    return lineCount++;
}

void DeleteHost(int index) {
    if (index < 0 || index >= hostCount)
        return;
    std::memmove(&hostTable[index], &hostTable[index + 1],
                 sizeof(HostRecord) * static_cast<std::size_t>(hostCount - index - 1));
    --hostCount;
    MarkMapModified();
}

void DeleteLine(int index) {
    if (index < 0 || index >= lineCount)
        return;
    std::memmove(&lineTable[index], &lineTable[index + 1],
                 sizeof(LineRecord) * static_cast<std::size_t>(lineCount - index - 1));
    --lineCount;
    MarkMapModified();
}

void ResetLoadedHost(HostRecord& host) {
    CopyField(host.resolvedAddr, sizeof host.resolvedAddr, host.address);
    host.status = 0;
    host.missed = 2;
    host.lost = 0;
    host.quiet = 0;
    host.rtt = 0;
    host.rttTaken = 0;
    host.drawWidth = 0;
    host.drawHeight = 0;
    host.serial = nextHostSerial++;
    host.parent = 0;
    host.reach = REACH_COUNTING;
}

int FindHostBySerial(std::uint32_t serial) {
    // Records are appended and loaded with rising serials and deleted without reordering,
    // so a binary search finds one; the pass after it answers for a table in any order.
    int low = 0;
    int high = hostCount;
    while (low < high) {
        int middle = low + (high - low) / 2;
        if (hostTable[middle].serial < serial)
            low = middle + 1;
        else
            high = middle;
    }
    if (low < hostCount && hostTable[low].serial == serial)
        return low;
    for (int i = 0; i < hostCount; ++i)
        if (hostTable[i].serial == serial)
            return i;
    return -1;
}

long long CellLeft(std::int32_t col) {
    return static_cast<long long>(col) * gridCellWidth;
}

long long CellTop(std::int32_t row) {
    return static_cast<long long>(row) * gridCellHeight;
}

int HeldPixel(long long value) {
    constexpr long long LIMIT = std::numeric_limits<int>::max() / 4;
    return static_cast<int>(std::clamp(value, -LIMIT, LIMIT));
}

RECT HostRepaintArea(const HostRecord& host) {
    long long left = CellLeft(host.col);
    long long top = CellTop(host.row);
    int width = host.drawWidth;
    if (width == 0) {
        std::size_t length = std::strlen(host.name);
        int letters = length <= 4 ? static_cast<int>(length) : 6;
        width = (gridCellWidth / 4) * letters + 4;
    }
    int height = host.drawHeight != 0 ? host.drawHeight : gridCellHeight;
    return {HeldPixel(left - 2), HeldPixel(top - 2), HeldPixel(left + width + 3),
            HeldPixel(top + height + 3)};
}

RECT LineRepaintArea(const LineRecord& line) {
    long long x1 = CellLeft(line.x1) + gridCellWidth / 2;
    long long x2 = CellLeft(line.x2) + gridCellWidth / 2;
    long long y1 = CellTop(line.y1) + gridCellHeight / 2;
    long long y2 = CellTop(line.y2) + gridCellHeight / 2;
    return {HeldPixel(std::min(x1, x2) - 1), HeldPixel(std::min(y1, y2) - 1),
            HeldPixel(std::max(x1, x2) + 1), HeldPixel(std::max(y1, y2) + 1)};
}

bool InvalidateHost(HWND window, const HostRecord& host) {
    RECT area = HostRepaintArea(host);
    return InvalidateRect(window, &area, true);
}

bool InvalidateEditedHost(HWND window, const HostRecord& host) {
    if (options.fitMap != 0)
        return InvalidateRect(window, nullptr, true);
    return InvalidateHost(window, host);
}

bool InvalidateLine(HWND window, const LineRecord& line) {
    if (options.fitMap != 0)
        return InvalidateRect(window, nullptr, true);
    RECT area = LineRepaintArea(line);
    return InvalidateRect(window, &area, true);
}

void RepaintChangedHost(HWND window, const HostRecord& host) {
    InvalidateEditedHost(window, host);
    UpdateWindow(window);
    InvalidateEditedHost(window, host);
}
