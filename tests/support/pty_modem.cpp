// The pseudo-terminal modem: the master side of a pty, read a byte at a time with a bound.
#include "support/pty_modem.h"

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyModem::PtyModem() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
        device_ = ptsname(master_);
}

PtyModem::~PtyModem() {
    if (thread_.joinable())
        thread_.join();
    if (master_ >= 0)
        close(master_);
}

std::string PtyModem::Receive(std::size_t size, char stopAt, int waitMs) {
    std::string bytes;
    char byte = 0;
    while (bytes.size() < size && (stopAt == '\0' || bytes.empty() || bytes.back() != stopAt)) {
        pollfd wait{master_, POLLIN, 0};
        if (poll(&wait, 1, waitMs) <= 0 || read(master_, &byte, 1) != 1)
            break;
        bytes += byte;
    }
    return bytes;
}

bool PtyModem::Send(const std::string& bytes) {
    return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

// On Linux the master reports the terminal settings of the slave.
PtyModem::Line PtyModem::Settings() const {
    Line line;
    termios settings{};
    if (tcgetattr(master_, &settings) == 0) {
        line.speed = cfgetospeed(&settings);
        line.characterSize = settings.c_cflag & CSIZE;
        line.parity = (settings.c_cflag & PARENB) != 0;
        line.twoStopBits = (settings.c_cflag & CSTOPB) != 0;
        line.hardwareFlow = (settings.c_cflag & CRTSCTS) != 0;
    }
    return line;
}

const char* const PtyModem::HANG_UP = "(hang up)";

void PtyModem::AnswerInBackground(const std::string& answer) {
    thread_ = std::thread([this, answer] {
        received_ = Receive(4096, '\r', 20000);
        line_ = Settings();
        if (answer == HANG_UP) {
            close(master_);
            master_ = -1;
        } else if (!answer.empty() && !received_.empty()) {
            Send(received_ + "\r\n" + answer + "\r\n");
        }
    });
}

std::string PtyModem::Received() {
    if (thread_.joinable())
        thread_.join();
    return received_;
}
