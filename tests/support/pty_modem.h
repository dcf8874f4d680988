// A pseudo-terminal standing in for a modem: the program opens device() as its serial port,
// the test reads, writes and looks at the line settings on the other side.
#pragma once

#include <cstddef>
#include <string>
#include <thread>

class PtyModem final {
  public:
    // The line settings the program made, as the terminal holds them.
    struct Line {
        unsigned speed = 0; // a termios B... value
        unsigned characterSize = 0;
        bool parity = true;
        bool twoStopBits = true;
        bool hardwareFlow = true; // RTS/CTS
    };

    PtyModem();
    ~PtyModem();
    PtyModem(const PtyModem&) = delete;
    PtyModem& operator=(const PtyModem&) = delete;

    const std::string& device() const { return device_; } // empty when no terminal opened
    // Up to `size` bytes, ending early after `stopAt` (when not '\0') or after `waitMs` of
    // silence.
    std::string Receive(std::size_t size, char stopAt = '\0', int waitMs = 5000);
    bool Send(const std::string& bytes);
    Line Settings() const;

    // In a thread: takes the dial command up to its carriage return and notes the
    // settings; then keeps silent (""), hangs up (HANG_UP), or echoes the command and
    // answers with `answer` ("OK", "BUSY", ...) on a line of its own, as a modem does.
    static const char* const HANG_UP;
    void AnswerInBackground(const std::string& answer);
    // What the thread took, and the settings then; waits for the thread.
    std::string Received();
    const Line& line() const { return line_; }

  private:
    int master_ = -1;
    std::string device_;
    std::thread thread_;
    std::string received_;
    Line line_;
};
