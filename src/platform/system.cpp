// The clock, the current directory, file existence and the settings directory on POSIX.
#include "platform/system.h"

#include "platform/system_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

namespace platform {

void GetLocalTime(SYSTEMTIME* time) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    time->year = static_cast<unsigned>(local.tm_year + 1900);
    time->month = static_cast<unsigned>(local.tm_mon + 1);
    time->day = static_cast<unsigned>(local.tm_mday);
    time->hour = static_cast<unsigned>(local.tm_hour);
    time->minute = static_cast<unsigned>(local.tm_min);
    time->second = static_cast<unsigned>(local.tm_sec);
}

std::uint32_t GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(now.tv_nsec) / 1000000u);
}

unsigned GetCurrentDirectory(char* buffer, unsigned size) {
    if (size == 0 || getcwd(buffer, size) == nullptr) {
        if (size > 0)
            buffer[0] = '\0';
        return 0;
    }
    return static_cast<unsigned>(std::strlen(buffer));
}

static thread_local DWORD lastError = 0;

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD error) {
    lastError = error;
}

bool FileExists(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

bool SameFile(const char* first, const char* second) {
    struct stat one {};
    struct stat other {};
    return stat(first, &one) == 0 && stat(second, &other) == 0 && one.st_dev == other.st_dev &&
           one.st_ino == other.st_ino;
}

unsigned GetConfigDirectory(char* buffer, unsigned size) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    int length = -1;
    if (config != nullptr && config[0] == '/') {
        length = std::snprintf(buffer, size, "%s/tarnmap", config);
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0')
            return 0;
        length = std::snprintf(buffer, size, "%s/.config/tarnmap", home);
    }
    if (length < 0 || static_cast<unsigned>(length) >= size) {
        if (size > 0)
            buffer[0] = '\0';
        return 0;
    }
    return static_cast<unsigned>(length);
}

static bool DirectoryExists(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

unsigned GetProgramPath(char* buffer, unsigned size) {
    if (size == 0)
        return 0;
    ssize_t length = readlink("/proc/self/exe", buffer, size);
    if (length <= 0 || static_cast<unsigned>(length) >= size) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[length] = '\0';
    return static_cast<unsigned>(length);
}

// The installed data directory as seen from the program's directory.
#ifdef TARNMAP_DATA_FROM_PROGRAM
static const char* const dataFromProgram = TARNMAP_DATA_FROM_PROGRAM;
#else
static const char* const dataFromProgram = "../share/tarnmap";
#endif

// `path` without "..", "." and links, into `buffer`, when it is an existing directory.
static unsigned ResolvedDirectory(const char* path, char* buffer, unsigned size) {
    char* resolved = realpath(path, nullptr);
    unsigned length = 0;
    if (resolved != nullptr && DirectoryExists(resolved)) {
        int written = std::snprintf(buffer, size, "%s", resolved);
        if (written > 0 && static_cast<unsigned>(written) < size)
            length = static_cast<unsigned>(written);
    }
    std::free(resolved);
    return length;
}

unsigned GetDataDirectory(char* buffer, unsigned size) {
    char program[4096];
    char candidate[4200];
    unsigned length = 0;
    if (GetProgramPath(program, sizeof program) != 0) {
        char* slash = std::strrchr(program, '/');
        if (slash != nullptr) {
            *slash = '\0';
            std::snprintf(candidate, sizeof candidate, "%s/%s", program, dataFromProgram);
            length = ResolvedDirectory(candidate, buffer, size);
        }
    }
#ifdef TARNMAP_RESOURCE_DIR
    if (length == 0)
        length = ResolvedDirectory(TARNMAP_RESOURCE_DIR, buffer, size);
#endif
    if (length == 0 && size > 0)
        buffer[0] = '\0';
    return length;
}

unsigned GetProcessorCount() {
    long count = sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 1;
}

void GetProcessorName(char* buffer, unsigned size) {
    std::FILE* info = std::fopen("/proc/cpuinfo", "r");
    char line[512];
    while (info != nullptr && std::fgets(line, sizeof line, info) != nullptr) {
        if (std::strncmp(line, "model name", 10) != 0)
            continue;
        const char* value = std::strchr(line, ':');
        if (value == nullptr)
            continue;
        ++value;
        while (*value == ' ' || *value == '\t')
            ++value;
        std::snprintf(buffer, size, "%.*s", static_cast<int>(std::strcspn(value, "\n")), value);
        std::fclose(info);
        return;
    }
    if (info != nullptr)
        std::fclose(info);
    utsname name{};
    std::snprintf(buffer, size, "%s", uname(&name) == 0 ? name.machine : "unknown");
}

void GetPlatformName(char* buffer, unsigned size) {
    utsname name{};
    if (uname(&name) == 0)
        std::snprintf(buffer, size, "%s %s", name.sysname, name.release);
    else
        std::snprintf(buffer, size, "Linux");
}

void GlobalMemoryStatus(MEMORYSTATUS* status) {
    struct sysinfo info {};
    *status = MEMORYSTATUS{};
    if (sysinfo(&info) != 0)
        return;
    status->totalPhysical = static_cast<std::uint64_t>(info.totalram) * info.mem_unit;
    status->availablePhysical =
        (static_cast<std::uint64_t>(info.freeram) + info.bufferram) * info.mem_unit;
    // MemAvailable counts the page cache that can be given back, as a user expects.
    std::FILE* meminfo = std::fopen("/proc/meminfo", "r");
    char line[128];
    unsigned long long kilobytes = 0;
    while (meminfo != nullptr && std::fgets(line, sizeof line, meminfo) != nullptr)
        if (std::sscanf(line, "MemAvailable: %llu kB", &kilobytes) == 1)
            status->availablePhysical = kilobytes * 1024u;
    if (meminfo != nullptr)
        std::fclose(meminfo);
}

std::uint64_t GetDiskFreeBytes(const char* path) {
    struct statvfs info {};
    if (statvfs(path, &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

} // namespace platform
