// The program's one message queue and its timers. Posted messages wait here until a
// PeekMessage or GetMessage of the program takes them, or, while a nested toolkit loop
// runs (a modal dialog, a popup menu, a message box), until the dispatcher hands them to
// their windows, as the loop of a Win32 dialog box would.
//
// Timers are QTimers that queue WM_TIMER; like Win32's they never have more than one
// WM_TIMER waiting, and a stopped timer's waiting WM_TIMER is withdrawn.
#include "platform/system.h"
#include "platform/window_internal.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <deque>
#include <memory>

namespace platform {

struct TimerRecord {
    HWND window;
    UINT_PTR id;
    std::unique_ptr<QTimer> timer;
    bool waiting; // its WM_TIMER is in the queue
};

/*** globals ***/

static std::deque<MSG> messageQueue;
static std::vector<std::unique_ptr<TimerRecord>> timerTable;
static bool quitRequested = false; // PostQuitMessage was called and WM_QUIT not yet taken
static int quitCode = 0;
// True while PeekMessage or GetMessage lets the toolkit handle events: the program's own
// loop will take the queued messages, so the dispatcher must leave them.
static bool programLoopRuns = false;
static bool wakePosted = false;

static const QEvent::Type wakeEvent = static_cast<QEvent::Type>(QEvent::User + 0x101);

static void DispatchWaitingMessages();

// Receives the wake-up event that every posted message sends, so that a nested toolkit
// loop delivers queued messages too.
class MessageDispatcher final : public QObject {
  public:
    MessageDispatcher() = default;
    Q_DISABLE_COPY_MOVE(MessageDispatcher)

    bool event(QEvent* event) override {
        if (event->type() != wakeEvent)
            return QObject::event(event);
        wakePosted = false;
        if (!programLoopRuns)
            DispatchWaitingMessages();
        return true;
    }
};

static MessageDispatcher* dispatcher = nullptr;

void StartMessageDispatcher() {
    if (dispatcher == nullptr)
        dispatcher = new MessageDispatcher;
}

static void WakeDispatcher() {
    if (dispatcher == nullptr || wakePosted)
        return;
    wakePosted = true;
    QCoreApplication::postEvent(dispatcher, new QEvent(wakeEvent));
}

static DWORD MessageTime() {
    return GetTickCount();
}

static void NoteTimerTaken(const MSG& message) {
    if (message.message != WM_TIMER)
        return;
    for (auto& timer : timerTable)
        if (timer->window == message.hwnd && timer->id == message.wParam)
            timer->waiting = false;
}

// Hands out the messages that were waiting when it began (those posted meanwhile wait for
// the next wake-up), so that a window that keeps posting cannot starve the toolkit.
static void DispatchWaitingMessages() {
    FreeDestroyedWindows();
    size_t count = messageQueue.size();
    for (size_t i = 0; i < count && !messageQueue.empty() && !programLoopRuns; ++i) {
        MSG message = messageQueue.front();
        messageQueue.pop_front();
        NoteTimerTaken(message);
        DispatchMessage(&message);
    }
    if (!messageQueue.empty())
        WakeDispatcher();
}

void RunNestedLoop(const std::function<void()>& loop) {
    bool outer = programLoopRuns;
    programLoopRuns = false;
    if (!messageQueue.empty())
        WakeDispatcher();
    loop();
    programLoopRuns = outer;
}

// Lets the toolkit handle its events on behalf of the program's loop.
static void HandleToolkitEvents(QEventLoop::ProcessEventsFlags flags) {
    bool outer = programLoopRuns;
    programLoopRuns = true;
    QCoreApplication::processEvents(flags);
    programLoopRuns = outer;
    if (!programLoopRuns && !messageQueue.empty())
        WakeDispatcher();
    FreeDestroyedWindows();
}

/*** posting and taking ***/

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window != 0 && !IsWindow(window))
        return false;
    MSG entry{window, message, wParam, lParam, MessageTime(), POINT{0, 0}};
    GetCursorPos(&entry.pt);
    messageQueue.push_back(entry);
    WakeDispatcher();
    return true;
}

void PostQuitMessage(int exitCode) {
    quitRequested = true;
    quitCode = exitCode;
    WakeDispatcher();
}

static bool IsWithin(HWND window, HWND ancestor) {
    for (HWND each = window; each != 0;) {
        if (each == ancestor)
            return true;
        WindowRecord* record = FindWindowRecord(each);
        each = record != nullptr ? record->parent : 0;
    }
    return false;
}

static bool Matches(const MSG& message, HWND window, UINT first, UINT last) {
    if (window != 0 && !IsWithin(message.hwnd, window))
        return false;
    if (first == 0 && last == 0)
        return true;
    return message.message >= first && message.message <= last;
}

static bool TakeMessage(MSG* message, HWND window, UINT first, UINT last, UINT remove) {
    for (auto entry = messageQueue.begin(); entry != messageQueue.end(); ++entry) {
        if (!Matches(*entry, window, first, last))
            continue;
        *message = *entry;
        if ((remove & PM_REMOVE) != 0) {
            messageQueue.erase(entry);
            NoteTimerTaken(*message);
        }
        return true;
    }
    if (quitRequested && window == 0 &&
        ((first == 0 && last == 0) || (WM_QUIT >= first && WM_QUIT <= last))) {
        *message = MSG{0, WM_QUIT, static_cast<WPARAM>(quitCode), 0, MessageTime(), POINT{0, 0}};
        if ((remove & PM_REMOVE) != 0)
            quitRequested = false;
        return true;
    }
    return false;
}

bool PeekMessage(MSG* message, HWND window, UINT first, UINT last, UINT remove) {
    if (message == nullptr)
        return false;
    HandleToolkitEvents(QEventLoop::AllEvents);
    return TakeMessage(message, window, first, last, remove);
}

int GetMessage(MSG* message, HWND window, UINT first, UINT last) {
    if (message == nullptr)
        return -1;
    HandleToolkitEvents(QEventLoop::AllEvents);
    while (!TakeMessage(message, window, first, last, PM_REMOVE))
        HandleToolkitEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return message->message == WM_QUIT ? 0 : 1;
}

// Keys arrive with their WM_CHAR already (the widget sends both), so there is nothing to do.
bool TranslateMessage(const MSG*) {
    return false;
}

LRESULT DispatchMessage(const MSG* message) {
    if (message == nullptr || message->hwnd == 0)
        return 0;
    return SendMessage(message->hwnd, message->message, message->wParam, message->lParam);
}

/*** timers ***/

static TimerRecord* FindTimer(HWND window, UINT_PTR id) {
    for (auto& timer : timerTable)
        if (timer->window == window && timer->id == id)
            return timer.get();
    return nullptr;
}

static void TimerFired(HWND window, UINT_PTR id) {
    TimerRecord* timer = FindTimer(window, id);
    if (timer == nullptr || timer->waiting)
        return;
    timer->waiting = true;
    PostMessage(window, WM_TIMER, id, 0);
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT milliseconds, void*) {
    if (!IsWindow(window) || id == 0)
        return 0;
    // Win32 raises periods below 10 ms to 10 ms; a 0 period would keep the loop busy.
    int period = static_cast<int>(std::min<UINT>(std::max<UINT>(milliseconds, 10), 0x7FFFFFFF));
    TimerRecord* timer = FindTimer(window, id);
    if (timer == nullptr) {
        auto record = std::make_unique<TimerRecord>();
        record->window = window;
        record->id = id;
        record->timer = std::make_unique<QTimer>();
        record->waiting = false;
        QObject::connect(record->timer.get(), &QTimer::timeout,
                         [window, id]() { TimerFired(window, id); });
        timer = record.get();
        timerTable.push_back(std::move(record));
    }
    timer->timer->start(period);
    return id;
}

static void WithdrawMessages(HWND window, bool timersOnly, UINT_PTR id) {
    for (auto entry = messageQueue.begin(); entry != messageQueue.end();) {
        bool timerOfIt = entry->message == WM_TIMER && (!timersOnly || entry->wParam == id);
        if (entry->hwnd == window && (!timersOnly || timerOfIt))
            entry = messageQueue.erase(entry);
        else
            ++entry;
    }
}

bool KillTimer(HWND window, UINT_PTR id) {
    for (auto timer = timerTable.begin(); timer != timerTable.end(); ++timer) {
        if ((*timer)->window == window && (*timer)->id == id) {
            timerTable.erase(timer);
            WithdrawMessages(window, true, id);
            return true;
        }
    }
    return false;
}

void ForgetWindowMessages(HWND window) {
    for (auto timer = timerTable.begin(); timer != timerTable.end();) {
        if ((*timer)->window == window)
            timer = timerTable.erase(timer);
        else
            ++timer;
    }
    WithdrawMessages(window, false, 0);
}

} // namespace platform
