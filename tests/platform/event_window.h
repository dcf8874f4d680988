// A window that notes what is posted to it, for the tests of what the layer tells by
// message (probe sets, asynchronous echoes and look-ups, socket and port notifications),
// and the program's own loop run until the test has what it waits for.
#pragma once

#include "platform/window.h"

#include <chrono>
#include <functional>
#include <vector>

class EventWindow final {
  public:
    struct Event {
        platform::UINT message;
        platform::WPARAM wParam;
        platform::LPARAM lParam;
        std::chrono::steady_clock::time_point at; // when the procedure got it
    };

    EventWindow();
    ~EventWindow();
    EventWindow(const EventWindow&) = delete;
    EventWindow& operator=(const EventWindow&) = delete;

    platform::HWND handle() const { return handle_; }
    // The messages `message` got so far.
    std::vector<Event> Received(platform::UINT message) const;
    // Runs at every message this window gets (after noting it), until replaced.
    void OnEvent(std::function<void(const Event&)> handler) { handler_ = std::move(handler); }

    // Runs the program's loop (GetMessage, DispatchMessage) until `done` holds, checked
    // after every message, or `boundMs` has passed. False when the bound ended it.
    bool RunUntil(const std::function<bool()>& done, unsigned boundMs);

  private:
    static platform::LRESULT Procedure(platform::HWND window, platform::UINT message,
                                       platform::WPARAM wParam, platform::LPARAM lParam);
    platform::HWND handle_ = 0;
    std::vector<Event> events_;
    std::function<void(const Event&)> handler_;
    bool boundPassed_ = false;
};
