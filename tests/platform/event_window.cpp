// The noting window: one class, its procedure finds the window's record by handle.
#include "event_window.h"

#include <map>

using namespace platform;

namespace {

constexpr UINT_PTR boundTimer = 0x7B;
std::map<HWND, EventWindow*> windows;

} // namespace

EventWindow::EventWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASS windowClass{};
        windowClass.lpfnWndProc = Procedure;
        windowClass.lpszClassName = "EVENTWINDOW";
        registered = RegisterClass(&windowClass);
    }
    handle_ = CreateWindow("EVENTWINDOW", "events", 0, 0, 0, 100, 100, 0, 0, nullptr);
    windows[handle_] = this;
}

EventWindow::~EventWindow() {
    windows.erase(handle_);
    DestroyWindow(handle_);
}

std::vector<EventWindow::Event> EventWindow::Received(UINT message) const {
    std::vector<Event> found;
    for (const Event& event : events_)
        if (event.message == message)
            found.push_back(event);
    return found;
}

bool EventWindow::RunUntil(const std::function<bool()>& done, unsigned boundMs) {
    boundPassed_ = false;
    SetTimer(handle_, boundTimer, boundMs, nullptr);
    MSG message{};
    while (!done() && !boundPassed_ && GetMessage(&message, 0, 0, 0) != 0)
        DispatchMessage(&message);
    KillTimer(handle_, boundTimer);
    return done();
}

LRESULT EventWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto found = windows.find(window);
    if (found == windows.end())
        return DefWindowProc(window, message, wParam, lParam);
    EventWindow& self = *found->second;
    if (message == WM_TIMER && wParam == boundTimer) {
        self.boundPassed_ = true;
        return 0;
    }
    if (message == WM_PAINT || message == WM_CREATE || message == WM_SIZE || message == WM_MOVE)
        return DefWindowProc(window, message, wParam, lParam);
    self.events_.push_back(Event{message, wParam, lParam, std::chrono::steady_clock::now()});
    if (self.handler_)
        self.handler_(self.events_.back());
    return 0;
}
