// The map's log file writer: every line carries the local date and time of its event and
// goes to the file in one write; a log that cannot be written is told once.
#include "monitor/log.h"

#include "model/settings.h"
#include "platform/files.h"
#include "platform/system.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

void (*logFailureReport)(const char* text) = nullptr;

constexpr int LOG_TEXT_LENGTH = 1024; // of one line's text; the longest we write is 511

// What the writer remembers of a failure, so that it is told once.
struct LogWriterState {
    bool failing;                              // the last line was lost
    char failingLog[SETTINGS_PATH_LENGTH + 1]; // the log it was lost from
};
static LogWriterState logWriter;

/*** writing ***/

static void TellFailure(const char* log, int error) {
    if (logWriter.failing && std::strcmp(logWriter.failingLog, log) == 0)
        return;
    logWriter.failing = true;
    std::snprintf(logWriter.failingLog, sizeof logWriter.failingLog, "%s", log);
    if (logFailureReport == nullptr)
        return;
    char text[SETTINGS_PATH_LENGTH + 128];
    std::snprintf(text, sizeof text, " The log %s cannot be written (%s); its lines are lost.", log,
                  FileErrorText(error));
    logFailureReport(text);
}

void LogLine(const char* text) {
    LogLineTo(settingsFiles.mapLog, text);
}

void LogLineTo(const char* log, const char* text) {
    if (log[0] == '\0')
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[LOG_TEXT_LENGTH + 32];
    int length = std::snprintf(line, sizeof line, "%02u/%02u/%02u %02u:%02u:%02u %.*s\r\n",
                               now.month, now.day, now.year % 100, now.hour, now.minute, now.second,
                               LOG_TEXT_LENGTH, text);
    if (length <= 0 || static_cast<unsigned>(length) >= sizeof line)
        return;
    int error = AppendToFile(log, line, static_cast<std::size_t>(length));
    if (error != 0)
        TellFailure(log, error);
    else
        logWriter.failing = false;
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
