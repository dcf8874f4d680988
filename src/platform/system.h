// The operating system as the logic sees it: the clock, the current directory, files and
// directories, where our own files live.
#pragma once

#include "platform/types.h"

#include <cstdint>

namespace platform {

struct SYSTEMTIME {
    unsigned year;  // e.g. 2026
    unsigned month; // 1 to 12
    unsigned day;   // 1 to 31
    unsigned hour;  // 0 to 23
    unsigned minute;
    unsigned second;
};

void GetLocalTime(SYSTEMTIME* time);

// Milliseconds since an arbitrary start, wrapping at 2^32.
std::uint32_t GetTickCount();

// Writes the current directory (no trailing slash except for "/") into `buffer`. Returns
// its length, or 0 when it cannot be obtained or does not fit.
unsigned GetCurrentDirectory(char* buffer, unsigned size);

// System error numbers that platform calls report.
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_BAD_FORMAT = 11;
constexpr DWORD ERROR_OPERATION_ABORTED = 995; // a termination signal cut the wait

// The error number of the last failed platform call on this thread that reports one
// this way (serial ports, the ICMP library).
DWORD GetLastError();

// True when `path` names an existing regular file.
bool FileExists(const char* path);
// True when both paths name one existing file, whatever the names.
bool SameFile(const char* first, const char* second);

// The directory for the program-wide settings: $XDG_CONFIG_HOME/tarnmap, or
// $HOME/.config/tarnmap. Returns its length, or 0 when neither variable is usable or the
// path does not fit.
unsigned GetConfigDirectory(char* buffer, unsigned size);

// Our read-only data (sounds/, help/, examples/): share/tarnmap of the installation
// (../share/tarnmap from the program's directory unless the build placed it elsewhere),
// or the source tree's resources when run from a build tree. Returns its length,
// 0 when neither exists.
unsigned GetDataDirectory(char* buffer, unsigned size);

// The full path of this program's executable file. Returns its length, 0 when it cannot
// be read or does not fit.
unsigned GetProgramPath(char* buffer, unsigned size);

// ---- The machine, for the About box ----
unsigned GetProcessorCount();
// The processor's model name ("Intel(R) Xeon(R) ..."), or the machine type ("x86_64").
void GetProcessorName(char* buffer, unsigned size);
// The operating system and its release: "Linux 6.1.0-18-amd64".
void GetPlatformName(char* buffer, unsigned size);

struct MEMORYSTATUS {
    std::uint64_t totalPhysical;     // bytes
    std::uint64_t availablePhysical; // bytes
};
void GlobalMemoryStatus(MEMORYSTATUS* status);

// Free bytes for us on the file system of `path`; 0 when it cannot be read.
std::uint64_t GetDiskFreeBytes(const char* path);

} // namespace platform
