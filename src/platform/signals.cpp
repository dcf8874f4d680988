// A self-pipe: the handler only writes one byte; a socket notifier on the UI thread reads
// it and posts the message.
#include "platform/signals.h"

#include "platform/messages.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <fcntl.h>
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

} // namespace platform
