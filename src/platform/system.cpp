// The clock, the current directory, file existence and the settings directory on POSIX.
#include "platform/system.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
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

unsigned GetDataDirectory(char* buffer, unsigned size) {
    char program[4096];
    ssize_t length = readlink("/proc/self/exe", program, sizeof program - 1);
    if (length > 0) {
        program[length] = '\0';
        char* slash = std::strrchr(program, '/');
        if (slash != nullptr) {
            *slash = '\0';
            int written = std::snprintf(buffer, size, "%s/../share/tarnmap", program);
            if (written > 0 && static_cast<unsigned>(written) < size && DirectoryExists(buffer))
                return static_cast<unsigned>(written);
        }
    }
#ifdef TARNMAP_RESOURCE_DIR
    int written = std::snprintf(buffer, size, "%s", TARNMAP_RESOURCE_DIR);
    if (written > 0 && static_cast<unsigned>(written) < size && DirectoryExists(buffer))
        return static_cast<unsigned>(written);
#endif
    if (size > 0)
        buffer[0] = '\0';
    return 0;
}

} // namespace platform
