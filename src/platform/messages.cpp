// The program's one message queue, its timers, and the registry of the window handles it
// delivers to. Posted messages wait here until a PeekMessage or GetMessage of the program
// takes them, or, while a nested toolkit loop runs (a modal dialog, a popup menu, a message
// box), until the dispatcher hands them to their windows, as the loop of a Win32 dialog box
// would.
//
// Timers are QTimers that queue WM_TIMER; like Win32's they never have more than one
// WM_TIMER waiting, and a stopped timer's waiting WM_TIMER is withdrawn.
#include "platform/messages_internal.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace platform {

struct TimerRecord {
    HWND window;
    UINT_PTR id;
    std::unique_ptr<QTimer> timer;
    bool waiting; // its WM_TIMER is in the queue
};

/*** globals ***/

// Live windows by handle, and the records of retired ones that wait until no window
// procedure runs.
static std::unordered_map<HWND, std::unique_ptr<HandleRecord>> handleTable;
static std::vector<std::unique_ptr<HandleRecord>> retiredRecords;
static int procedureDepth = 0; // window procedures running now
static HWND nextHandle = 0;    // the next handle to try

static std::deque<MSG> messageQueue;
static std::vector<std::unique_ptr<TimerRecord>> timerTable;
static bool quitRequested = false; // PostQuitMessage was called and WM_QUIT not yet taken
// How to end each nested loop that runs, the innermost last.
static std::vector<const std::function<void()>*> nestedLoopEnds;
static int quitCode = 0;
// True while PeekMessage or GetMessage lets the toolkit handle events: the program's own
// loop will take the queued messages, so the dispatcher must leave them.
static bool programLoopRuns = false;
static bool wakePosted = false;

/*** the handle registry ***/

HandleRecord* RegisterHandle(std::unique_ptr<HandleRecord> record) {
    if (nextHandle == 0)
        nextHandle = 0x00010000u | ((static_cast<HWND>(getpid()) * 0x9E37u) & 0xFFFFu);
    HWND handle = 0;
    while (handle == 0 || handleTable.count(handle) != 0)
        handle = nextHandle++;
    record->handle = handle;
    HandleRecord* kept = record.get();
    handleTable[handle] = std::move(record);
    return kept;
}

HandleRecord* FindHandle(HWND window) {
    auto found = handleTable.find(window);
    return found == handleTable.end() ? nullptr : found->second.get();
}

bool IsWindow(HWND window) {
    return FindHandle(window) != nullptr;
}

std::vector<HWND> OwnedWindows(HWND owner) {
    std::vector<HWND> owned;
    for (auto& entry : handleTable)
        if (entry.second->owner == owner)
            owned.push_back(entry.first);
    return owned;
}

void RetireHandle(HWND window) {
    auto found = handleTable.find(window);
    if (found == handleTable.end())
        return;
    retiredRecords.push_back(std::move(found->second));
    handleTable.erase(found);
}

void FreeRetiredHandles() {
    if (procedureDepth != 0)
        return;
    // Freeing a window's widgets may run procedures that retire more; those wait.
    std::vector<std::unique_ptr<HandleRecord>> retired;
    retired.swap(retiredRecords);
}

LRESULT CallWindowProcedure(HandleRecord* record, UINT message, WPARAM wParam, LPARAM lParam) {
    if (record == nullptr || record->procedure == nullptr)
        return 0;
    ++procedureDepth;
    LRESULT result = record->procedure(record->handle, message, wParam, lParam);
    --procedureDepth;
    return result;
}

LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcedure(FindHandle(window), message, wParam, lParam);
}

/*** the dispatcher ***/

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
    // Within the program loop's own turn of the toolkit, that turn ends once the event at
    // hand is handled and the loop then takes what was posted: no wake-up is needed.
    if (dispatcher == nullptr || wakePosted || programLoopRuns)
        return;
    wakePosted = true;
    QCoreApplication::postEvent(dispatcher, new QEvent(wakeEvent));
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
    FreeRetiredHandles();
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

void RunNestedLoop(const std::function<void()>& loop, const std::function<void()>& end) {
    if (quitRequested)
        return;
    bool outer = programLoopRuns;
    programLoopRuns = false;
    if (!messageQueue.empty())
        WakeDispatcher();
    nestedLoopEnds.push_back(&end);
    loop();
    nestedLoopEnds.pop_back();
    programLoopRuns = outer;
}

// Lets the toolkit handle its events on behalf of the program's loop.
static void HandleToolkitEvents(QEventLoop::ProcessEventsFlags flags) {
    bool outer = programLoopRuns;
    programLoopRuns = true;
    QCoreApplication::processEvents(flags);
    programLoopRuns = outer;
    FreeRetiredHandles();
}

/*** posting and taking ***/

bool PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window != 0 && !IsWindow(window))
        return false;
    messageQueue.push_back(MSG{window, message, wParam, lParam});
    WakeDispatcher();
    return true;
}

void PostQuitMessage(int exitCode) {
    quitRequested = true;
    quitCode = exitCode;
    std::vector<const std::function<void()>*> ends = nestedLoopEnds;
    for (auto end = ends.rbegin(); end != ends.rend(); ++end)
        (**end)();
    WakeDispatcher();
}

static bool IsWithin(HWND window, HWND ancestor) {
    for (HWND each = window; each != 0;) {
        if (each == ancestor)
            return true;
        HandleRecord* record = FindHandle(each);
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
        *message = MSG{0, WM_QUIT, static_cast<WPARAM>(quitCode), 0};
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
    // The toolkit has its turn between two messages, and before WM_QUIT; with none waiting,
    // the waiting turn below handles what is ready as well.
    if (!messageQueue.empty() || quitRequested)
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
        // Precise: a timer of a second ends between 1000 and 1020 ms, not 5% either way.
        record->timer->setTimerType(Qt::PreciseTimer);
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

void WithdrawPostedMessages(HWND window, UINT message, WPARAM wParam) {
    std::erase_if(messageQueue, [&](const MSG& queued) {
        return queued.hwnd == window && queued.message == message && queued.wParam == wParam;
    });
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
