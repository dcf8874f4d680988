// SendPage over platform/serial: open, 8N1 at the chosen rate, write the dial command and
// return; the modem's answer comes byte by byte as notices to the pager's window until a
// line settles the page or its deadline passes, then the port is closed.
#include "monitor/pager.h"

#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/log.h"
#include "monitor/poll.h"
#include "platform/serial.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/window.h"

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

// A page, and the log of the map that asked for it.
struct PageText {
    char number[PAGE_NUMBER_LENGTH + 1];
    char message[PAGE_MESSAGE_LENGTH + 1];
    char log[SETTINGS_PATH_LENGTH + 1];
};

// Shows a failure in the status bar and the page's log.
static void ReportPageError(const PageText& page, const char* format, DWORD error) {
    char text[64];
    std::snprintf(text, sizeof text, format, static_cast<unsigned long>(error));
    ReportStatus(text);
    LogLineTo(page.log, text);
}

/*** the modem's answer ***/

// Result words with which a modem ends a dial that did not go through.
static const char* const FAILURE_WORDS[] = {"BUSY",         "NO CARRIER", "NO DIALTONE",
                                            "NO DIAL TONE", "NO ANSWER",  "ERROR"};
// The longest dial command the settings allow: the template with both its values (each
// in place of two characters), the carriage return and the end of the text. A modem line
// holds as much, so the echo of any command fits in it and is known as the echo.
static constexpr unsigned DIAL_COMMAND_SIZE =
    BEEP_STRING_LENGTH + PAGE_NUMBER_LENGTH + PAGE_MESSAGE_LENGTH + 2;

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
    char word[16]; // the failure word, or "line hung up"
    DWORD error;   // the port's error for PortError
};

// Judges one line the modem sent: false for an empty line or the echo of our command
// (`command` ends in its carriage return), which settle nothing, and for a line cut to the
// line's size, which is neither our echo nor any answer a modem gives.
static bool JudgeAnswerLine(const char* line, bool cut, const char* command, ModemAnswer* answer) {
    if (cut)
        return false;
    std::size_t length = std::strlen(line);
    while (length > 0 && line[length - 1] == ' ')
        --length;
    std::size_t commandLength = std::strlen(command) - 1;
    while (commandLength > 0 && command[commandLength - 1] == ' ')
        --commandLength; // the echo is judged without its trailing blanks, so the command too
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
static ModemAnswer EndOfAnswer(DWORD error, const char* line, bool cut, const char* command) {
    ModemAnswer answer{};
    if (error != ERROR_OPERATION_ABORTED && JudgeAnswerLine(line, cut, command, &answer))
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

// Shows and logs how a page ended once the modem was dialled.
static void ReportPageOutcome(const ModemAnswer& answer, const PageText& page) {
    const char* number = page.number;
    const char* message = page.message;
    char text[160];
    switch (answer.outcome) {
    case PageOutcome::Answered:
        ReportStatus("success");
        std::snprintf(text, sizeof text, "success beeper message %s to %s", message, number);
        LogLineTo(page.log, text);
        return;
    case PageOutcome::NoAnswer:
        // A modem that never answers must not hold the monitor for ever.
        ReportStatus("no answer from modem");
        std::snprintf(text, sizeof text, "no answer from modem for beeper message %s to %s",
                      message, number);
        LogLineTo(page.log, text);
        return;
    case PageOutcome::Failed:
        std::snprintf(text, sizeof text, "beeper message %s to %s failed: %s", message, number,
                      answer.word);
        break;
    case PageOutcome::Cancelled:
        std::snprintf(text, sizeof text, "beeper message %s to %s cancelled", message, number);
        break;
    case PageOutcome::PortError:
        ReportPageError(page, "comm wait error %lu", answer.error);
        return;
    }
    ReportStatus(text);
    LogLineTo(page.log, text);
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

/*** the page under way ***/

static constexpr UINT PAGE_TIMER_ID = 1;       // the deadline of the modem's answer
static constexpr unsigned PAGE_QUEUE_SIZE = 8; // pages waiting for the one under way
static const char* const PAGER_CLASS = "TARNMAPPAGER";

// The page under way, from its dial until its outcome is logged, and the pages that end of
// cycle asked for meanwhile. The modem's answer comes as WM_COMMNOTIFY to the pager's own
// hidden window, read a byte at a time (each read finds its byte at once); its deadline is
// a timer on that window.
struct PageExchange {
    HWND window; // made at the first page, kept for the run
    HANDLE port; // INVALID_HANDLE_VALUE when no page is under way
    PageText page;
    char command[DIAL_COMMAND_SIZE]; // the dial command sent
    char line[DIAL_COMMAND_SIZE];    // the modem's line so far
    unsigned used;                   // its characters
    bool lineCut;                    // the line went on beyond `line`
    PageText queue[PAGE_QUEUE_SIZE];
    unsigned queued;
};
static PageExchange pageExchange{0, INVALID_HANDLE_VALUE};

static void StartNextPage();

// Logs how the page ended, closes the port and starts the next page waiting.
static void EndPage(const ModemAnswer& answer) {
    KillTimer(pageExchange.window, PAGE_TIMER_ID);
    CloseHandle(pageExchange.port);
    pageExchange.port = INVALID_HANDLE_VALUE;
    ReportPageOutcome(answer, pageExchange.page);
    StartNextPage();
}

// WM_COMMNOTIFY: a modem line that changed answers; a byte adds to the line, and a line
// that settles the page ends it.
static void OnModemNotice(LPARAM lParam) {
    if ((static_cast<DWORD>(lParam) & CN_EVENT) != 0) {
        EndPage(ModemAnswer{PageOutcome::Answered, "", 0});
        return;
    }
    char byte = 0;
    DWORD got = 0;
    if (!ReadFile(pageExchange.port, &byte, 1, &got)) {
        EndPage(EndOfAnswer(GetLastError(), pageExchange.line, pageExchange.lineCut,
                            pageExchange.command));
        return;
    }
    if (got == 0)
        return;
    if (byte != '\r' && byte != '\n') {
        if (pageExchange.used + 1 < sizeof pageExchange.line)
            pageExchange.line[pageExchange.used++] = byte;
        else
            pageExchange.lineCut = true;
        pageExchange.line[pageExchange.used] = '\0';
        return;
    }
    ModemAnswer answer{};
    if (JudgeAnswerLine(pageExchange.line, pageExchange.lineCut, pageExchange.command, &answer)) {
        EndPage(answer);
        return;
    }
    pageExchange.used = 0;
    pageExchange.lineCut = false;
    pageExchange.line[0] = '\0';
}

static LRESULT PagerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    bool ours = pageExchange.port != INVALID_HANDLE_VALUE;
    if (message == WM_COMMNOTIFY && ours && reinterpret_cast<HANDLE>(wParam) == pageExchange.port) {
        OnModemNotice(lParam);
        return 0;
    }
    if (message == WM_TIMER && wParam == PAGE_TIMER_ID) {
        KillTimer(window, PAGE_TIMER_ID);
        if (ours) // the modem never answered: it must not hold the pager for ever
            EndPage(EndOfAnswer(ERROR_TIMEOUT, pageExchange.line, pageExchange.lineCut,
                                pageExchange.command));
        return 0;
    }
    return DefWindowProc(window, message, wParam, lParam);
}

static bool MakePagerWindow() {
    if (pageExchange.window != 0)
        return true;
    WNDCLASS pagerClass{};
    pagerClass.lpfnWndProc = PagerWndProc;
    pagerClass.lpszClassName = PAGER_CLASS;
    RegisterClass(&pagerClass); // a second registration fails harmlessly
    pageExchange.window =
        CreateWindow(PAGER_CLASS, "pager", WS_OVERLAPPED, 0, 0, 1, 1, 0, 0, nullptr);
    return pageExchange.window != 0;
}

// Opens and sets the port; a failure is told. INVALID_HANDLE_VALUE on failure.
static HANDLE OpenModemPort(const PageText& page) {
    char portName[sizeof options.beepDevice + 8];
    if (options.beepDevice[0] != '\0')
        std::snprintf(portName, sizeof portName, "%s", options.beepDevice);
    else
        std::snprintf(portName, sizeof portName, "COM%u", options.beepPort);
    HANDLE port = OpenCommPort(portName);
    if (port == INVALID_HANDLE_VALUE) {
        ReportPageError(page, "open error %lu", GetLastError());
        return port;
    }
    DCB state{};
    if (!GetCommState(port, &state)) {
        DWORD error = GetLastError();
        CloseHandle(port);
        ReportPageError(page, "get comm state error %lu", error);
        return INVALID_HANDLE_VALUE;
    }
    state.BaudRate = BaudRateOf(options.beepBaud);
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    if (!SetCommState(port, &state)) {
        DWORD error = GetLastError();
        CloseHandle(port);
        ReportPageError(page, "set comm state error %lu", error);
        return INVALID_HANDLE_VALUE;
    }
    // A read that follows a notice finds its byte at once; the bound only guards it.
    COMMTIMEOUTS timeouts{1, 10000};
    SetCommTimeouts(port, &timeouts);
    return port;
}

// Dials the page in pageExchange.page and leaves the answer to the notices. False when it
// could not be dialled (told).
static bool DialPage() {
    const PageText& page = pageExchange.page;
    if (!MakePagerWindow()) {
        ReportPageError(page, "comm wait error %lu", GetLastError());
        return false;
    }
    HANDLE port = OpenModemPort(page);
    if (port == INVALID_HANDLE_VALUE)
        return false;
    ComposeDialCommand(pageExchange.command, sizeof pageExchange.command, page.number,
                       page.message);
    DWORD length = static_cast<DWORD>(std::strlen(pageExchange.command));
    DWORD written = 0;
    if (!WriteFile(port, pageExchange.command, length, &written) || written != length) {
        if (GetLastError() == ERROR_OPERATION_ABORTED)
            ReportPageOutcome(ModemAnswer{PageOutcome::Cancelled, "", 0}, page);
        else
            ReportPageError(page, "comm write error %lu", GetLastError());
        CloseHandle(port);
        return true; // dialled, and told
    }
    FlushFileBuffers(port);
    ReportStatus("waiting for completion");
    pageExchange.port = port;
    pageExchange.used = 0;
    pageExchange.lineCut = false;
    pageExchange.line[0] = '\0';
    SetCommMask(port, EV_CTS | EV_DSR | EV_RLSD);
    if (!EnableCommNotification(port, pageExchange.window) ||
        SetTimer(pageExchange.window, PAGE_TIMER_ID, pageWaitSeconds * 1000, nullptr) == 0)
        EndPage(ModemAnswer{PageOutcome::PortError, "", GetLastError()});
    return true;
}

static void StartNextPage() {
    while (pageExchange.port == INVALID_HANDLE_VALUE && pageExchange.queued > 0) {
        pageExchange.page = pageExchange.queue[0];
        --pageExchange.queued;
        std::memmove(pageExchange.queue, pageExchange.queue + 1,
                     pageExchange.queued * sizeof pageExchange.queue[0]);
        DialPage();
    }
}

int SendPage(const char* number, const char* message) {
    if (options.beepEnable == 0) {
        LogPrintf("Beeper disabled on %s to %s", message, number);
        return 0;
    }
    PageText page{};
    std::snprintf(page.number, sizeof page.number, "%s", number);
    std::snprintf(page.message, sizeof page.message, "%s", message);
    std::snprintf(page.log, sizeof page.log, "%s", settingsFiles.mapLog);
    if (TerminationRequested() || pollState.closeRequested) {
        // The program is ending: a dial now could not be waited for.
        ReportPageOutcome(ModemAnswer{PageOutcome::Cancelled, "", 0}, page);
        return 0;
    }
    if (pageExchange.port != INVALID_HANDLE_VALUE) {
        // The modem is busy with an earlier page: this one is dialled after it.
        if (pageExchange.queued == PAGE_QUEUE_SIZE) {
            ReportPageOutcome(ModemAnswer{PageOutcome::Cancelled, "", 0}, page);
            return 0;
        }
        pageExchange.queue[pageExchange.queued++] = page;
        return 1;
    }
    pageExchange.page = page;
    return DialPage() ? 1 : 0;
}

bool PageUnderWay() {
    return pageExchange.port != INVALID_HANDLE_VALUE;
}

void CancelPages() {
    pageExchange.queued = 0;
    if (pageExchange.port != INVALID_HANDLE_VALUE)
        EndPage(ModemAnswer{PageOutcome::Cancelled, "", 0});
}
