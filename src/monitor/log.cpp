// The map's log file writer: every line carries the local date and time of its event.
#include "monitor/log.h"

#include "model/settings.h"
#include "platform/system.h"

#include <cstdarg>
#include <cstdio>

void LogLine(const char* text) {
    if (mapLogPath[0] == '\0')
        return;
    std::FILE* file = std::fopen(mapLogPath, "ab");
    if (file == nullptr)
        return;
    platform::SYSTEMTIME now;
    platform::GetLocalTime(&now);
    std::fprintf(file, "%02u/%02u/%02u %02u:%02u:%02u %s\r\n", now.month, now.day, now.year % 100,
                 now.hour, now.minute, now.second, text);
    std::fclose(file);
}

void LogPrintf(const char* format, ...) {
    char message[LOG_MESSAGE_LENGTH + 1];
    std::va_list arguments;
    va_start(arguments, format);
    int length = std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    if (length < 0)
        return;
    LogLine(message);
}

void LogMapOpened(const char* path) {
    LogPrintf("open of database %s", path);
}
