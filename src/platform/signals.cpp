// A self-pipe: the handler only writes one byte; a socket notifier on the UI thread reads
// it and posts the message. Waits that do not dispatch watch the pipe as well, and the flag
// for a signal whose byte the notifier has already taken.
#include "platform/signals.h"

#include "platform/messages.h"
#include "platform/signals_internal.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t lastSignal = 0;
std::atomic<bool> terminationRequested{false};
HWND targetWindow = 0;
UINT targetMessage = 0;
QSocketNotifier* notifier = nullptr;

void OnTerminationSignal(int signal) {
    terminationRequested = true;
    lastSignal = signal;
    char byte = 1;
    ssize_t ignored = write(signalPipe[1], &byte, 1);
    (void)ignored;
}

void DeliverSignal() {
    char bytes[16];
    while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    if (targetWindow != 0) {
        PostMessage(targetWindow, targetMessage, 0, 0);
        return;
    }
    // Nothing to close yet (a message box before the main window): the signal does what
    // it always does.
    std::signal(lastSignal, SIG_DFL);
    std::raise(lastSignal);
}

} // namespace

void PostMessageOnTermination(HWND window, UINT message) {
    targetWindow = window;
    targetMessage = message;
    CatchTerminationSignals();
    if (terminationRequested)
        PostMessage(targetWindow, targetMessage, 0, 0);
}

void CatchTerminationSignals() {
    if (notifier != nullptr)
        return;
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [] { DeliverSignal(); });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
}

bool TerminationRequested() {
    return terminationRequested;
}

int WaitUnlessTerminated(int descriptor, short events, int timeoutMs, short* seen) {
    *seen = 0;
    pollfd entries[2] = {{descriptor, events, 0}, {signalPipe[0], POLLIN, 0}};
    int ready = terminationRequested ? 0 : poll(entries, 2, timeoutMs);
    if (terminationRequested) {
        errno = ECANCELED;
        return -1;
    }
    if (ready > 0) {
        *seen = entries[0].revents;
        ready = entries[0].revents != 0 ? 1 : 0;
    }
    return ready;
}

} // namespace platform
