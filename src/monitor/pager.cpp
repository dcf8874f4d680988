// SendPage over platform/serial: open, 8N1 at the chosen rate, write the dial command,
// read the modem's answer line by line until a word settles the page (bounded), close.
#include "monitor/pager.h"

#include "model/settings.h"
#include "monitor/log.h"
#include "monitor/poll.h"
#include "platform/serial.h"
#include "platform/signals.h"
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
    for (const char* cursor = options.beepString; *cursor != '\0'; ++cursor) {
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

/*** the modem's answer ***/

// Result words with which a modem ends a dial that did not go through.
static const char* const FAILURE_WORDS[] = {"BUSY",         "NO CARRIER", "NO DIALTONE",
                                            "NO DIAL TONE", "NO ANSWER",  "ERROR"};
static constexpr unsigned ANSWER_LINE_SIZE = 96;

enum class PageOutcome {
    Answered,  // the modem said something else, or a modem line changed
    Failed,    // a failure word, or the line hung up
    NoAnswer,  // nothing but our own command came back in time
    Cancelled, // a termination signal cut the wait
    PortError, // the port failed otherwise
};

// What the modem's answer so far means.
struct ModemAnswer {
    PageOutcome outcome;
    char word[ANSWER_LINE_SIZE]; // the failure word, or "line hung up"
    DWORD error;                 // the port's error for PortError
};

// Judges one line the modem sent: false for an empty line or the echo of our command
// (`command` ends in its carriage return), which settle nothing.
static bool JudgeAnswerLine(const char* line, const char* command, ModemAnswer* answer) {
    std::size_t length = std::strlen(line);
    while (length > 0 && line[length - 1] == ' ')
        --length;
    std::size_t commandLength = std::strlen(command) - 1;
    if (length == 0 || (length == commandLength && std::strncmp(line, command, length) == 0))
        return false;
    answer->outcome = PageOutcome::Answered;
    for (const char* word : FAILURE_WORDS) {
        if (std::strlen(word) == length && std::strncmp(line, word, length) == 0) {
            answer->outcome = PageOutcome::Failed;
            std::snprintf(answer->word, sizeof answer->word, "%s", word);
        }
    }
    return true;
}

// The outcome of a wait or read that failed with `error`, the line read so far judged
// first: a modem may say its word and hang up.
static ModemAnswer EndOfAnswer(DWORD error, const char* line, const char* command) {
    ModemAnswer answer{};
    if (error != ERROR_OPERATION_ABORTED && JudgeAnswerLine(line, command, &answer))
        return answer;
    switch (error) {
    case ERROR_TIMEOUT:
        answer.outcome = PageOutcome::NoAnswer;
        break;
    case ERROR_BROKEN_PIPE:
        answer.outcome = PageOutcome::Failed;
        std::snprintf(answer.word, sizeof answer.word, "line hung up");
        break;
    case ERROR_OPERATION_ABORTED:
        answer.outcome = PageOutcome::Cancelled;
        break;
    default:
        answer.outcome = PageOutcome::PortError;
        answer.error = error;
    }
    return answer;
}

// Reads what the modem sends after the dial command, a character at a time, for at most
// pageWaitSeconds in all, until a line settles the page or a modem line changes.
static ModemAnswer ReadModemAnswer(HANDLE port, const char* command) {
    char line[ANSWER_LINE_SIZE] = "";
    unsigned used = 0;
    const DWORD limit = pageWaitSeconds * 1000;
    const DWORD start = GetTickCount();
    SetCommMask(port, EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD);
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD event = 0;
        if (elapsed >= limit)
            return EndOfAnswer(ERROR_TIMEOUT, line, command);
        if (!WaitCommEvent(port, &event, limit - elapsed))
            return EndOfAnswer(GetLastError(), line, command);
        if ((event & EV_RXCHAR) == 0) {
            ModemAnswer answer{};
            answer.outcome = PageOutcome::Answered;
            return answer;
        }
        char byte = 0;
        DWORD got = 0;
        if (!ReadFile(port, &byte, 1, &got))
            return EndOfAnswer(GetLastError(), line, command);
        if (got == 0)
            continue;
        if (byte != '\r' && byte != '\n') {
            if (used + 1 < sizeof line) // a longer line is judged by its start
                line[used++] = byte;
            line[used] = '\0';
            continue;
        }
        ModemAnswer answer{};
        if (JudgeAnswerLine(line, command, &answer))
            return answer;
        used = 0;
        line[0] = '\0';
    }
}

// Shows and logs how a page ended once the modem was dialled.
static void ReportPageOutcome(const ModemAnswer& answer, const char* number, const char* message) {
    char text[160];
    switch (answer.outcome) {
    case PageOutcome::Answered:
        ReportStatus("success");
        LogPrintf("success beeper message %s to %s", message, number);
        return;
    case PageOutcome::NoAnswer:
        // A modem that never answers must not hold the monitor for ever.
        ReportStatus("no answer from modem");
        LogPrintf("no answer from modem for beeper message %s to %s", message, number);
        return;
    case PageOutcome::Failed:
        std::snprintf(text, sizeof text, "beeper message %s to %s failed: %s", message, number,
                      answer.word);
        break;
    case PageOutcome::Cancelled:
        std::snprintf(text, sizeof text, "beeper message %s to %s cancelled", message, number);
        break;
    case PageOutcome::PortError:
        ReportPageError("comm wait error %lu", answer.error);
        return;
    }
    ReportStatus(text);
    LogLine(text);
}

/*** the exchange ***/

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
    if (options.beepEnable == 0) {
        LogPrintf("Beeper disabled on %s to %s", message, number);
        return 0;
    }
    if (TerminationRequested()) {
        // The program is ending: a dial now could not be waited for.
        ReportPageOutcome(ModemAnswer{PageOutcome::Cancelled, "", 0}, number, message);
        return 0;
    }
    char portName[sizeof options.beepDevice + 8];
    if (options.beepDevice[0] != '\0')
        std::snprintf(portName, sizeof portName, "%s", options.beepDevice);
    else
        std::snprintf(portName, sizeof portName, "COM%u", options.beepPort);
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
    state.BaudRate = BaudRateOf(options.beepBaud);
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
        if (GetLastError() == ERROR_OPERATION_ABORTED)
            ReportPageOutcome(ModemAnswer{PageOutcome::Cancelled, "", 0}, number, message);
        else
            ReportPageError("comm write error %lu", GetLastError());
    } else {
        FlushFileBuffers(port);
        ReportStatus("waiting for completion");
        ReportPageOutcome(ReadModemAnswer(port, command), number, message);
    }
    CloseHandle(port);
    return 1;
}
