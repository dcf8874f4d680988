// SendPage over platform/serial: open, 8N1 at the chosen rate, write the dial command,
// read the modem's answer, wait (bounded) for a line event, close.
#include "monitor/pager.h"

#include "model/settings.h"
#include "monitor/log.h"
#include "monitor/poll.h"
#include "platform/serial.h"
#include "platform/system.h"

#include <cstdio>
#include <cstring>

using namespace platform;

unsigned pageWaitSeconds = 60;

void ComposeDialCommand(char* buffer, unsigned size, const char* number, const char* message) {
    unsigned length = 0;
    unsigned substitutions = 0;
    auto append = [&](const char* text, std::size_t count) {
        for (std::size_t i = 0; i < count && length + 1 < size; ++i)
            buffer[length++] = text[i];
    };
    // The template comes from the settings file; it is never used as a printf format.
    for (const char* cursor = beepString; *cursor != '\0'; ++cursor) {
        if (cursor[0] == '%' && cursor[1] == 's' && substitutions < 2) {
            const char* value = substitutions++ == 0 ? number : message;
            append(value, std::strlen(value));
            ++cursor;
        } else {
            append(cursor, 1);
        }
    }
    append("\r", 1);
    if (size > 0)
        buffer[length] = '\0';
}

// Shows a failure in the status bar and the log.
static void ReportPageError(const char* format, DWORD error) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long>(error));
    ReportStatus(text);
    LogLine(text);
}

static DWORD BaudRateOf(unsigned index) {
    switch (index) {
    case 0:
        return 2400;
    case 2:
        return 19200;
    case 3:
        return 38400;
    default:
        return 9600;
    }
}

int SendPage(const char* number, const char* message) {
    if (beepEnable == 0) {
        LogPrintf("Beeper disabled on %s to %s", message, number);
        return 0;
    }
    char portName[sizeof beepDevice + 8];
    if (beepDevice[0] != '\0')
        std::snprintf(portName, sizeof portName, "%s", beepDevice);
    else
        std::snprintf(portName, sizeof portName, "COM%u", beepPort);
    HANDLE port = OpenCommPort(portName);
    if (port == INVALID_HANDLE_VALUE) {
        ReportPageError("open error %lu", GetLastError());
        return 0;
    }
    DCB state{};
    if (!GetCommState(port, &state)) {
        DWORD error = GetLastError();
        CloseHandle(port);
        ReportPageError("get comm state error %lu", error);
        return 0;
    }
    state.BaudRate = BaudRateOf(beepBaud);
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    if (!SetCommState(port, &state)) {
        DWORD error = GetLastError();
        CloseHandle(port);
        ReportPageError("set comm state error %lu", error);
        return 0;
    }
    COMMTIMEOUTS timeouts{pageWaitSeconds * 1000, 10000};
    SetCommTimeouts(port, &timeouts);

    char command[BEEP_STRING_LENGTH + PAGE_NUMBER_LENGTH + 32];
    ComposeDialCommand(command, sizeof command, number, message);
    DWORD length = static_cast<DWORD>(std::strlen(command));
    DWORD written = 0;
    if (!WriteFile(port, command, length, &written) || written != length) {
        ReportPageError("comm write error %lu", GetLastError());
    } else {
        FlushFileBuffers(port);
        ReportStatus("waiting for completion");
        DWORD answered = 0;
        if (ReadFile(port, command, length, &answered)) {
            command[answered] = '\0';
            ReportStatus(command);
        }
        SetCommMask(port, EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD);
        DWORD event = 0;
        if (WaitCommEvent(port, &event, pageWaitSeconds * 1000)) {
            ReportStatus("success");
            LogPrintf("success beeper message %s to %s", message, number);
        } else if (GetLastError() == ERROR_TIMEOUT) {
            // A modem that never answers must not hold the monitor for ever.
            ReportStatus("no answer from modem");
            LogPrintf("no answer from modem for beeper message %s to %s", message, number);
        } else {
            ReportPageError("comm wait error %lu", GetLastError());
        }
    }
    CloseHandle(port);
    return 1;
}
