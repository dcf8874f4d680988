// Serial ports on termios. Every wait is poll() with a deadline that a termination signal
// cuts short, so no call can hang or hold the program's end; notifications instead watch
// the port from the event loop and wait for nothing.
#include "platform/serial.h"

#include "platform/messages.h"
#include "platform/signals.h"
#include "platform/signals_internal.h"
#include "platform/system.h"
#include "platform/system_internal.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

struct PortState {
    DWORD mask = 0;
    DWORD readTimeout = 0;
    DWORD writeTimeout = 0;
    // EnableCommNotification: the window told, the watch on the port, the modem lines'
    // sampling and their last state, and whether CN_RECEIVE waits for a ReadFile.
    HWND notifyWindow = 0;
    QSocketNotifier* receiveWatch = nullptr;
    QTimer* lineWatch = nullptr;
    int lines = 0;
    bool receivePosted = false;
};
constexpr int MAX_PORT_DESCRIPTOR = 1024;
PortState ports[MAX_PORT_DESCRIPTOR];

bool Fail() {
    SetLastError(errno == ECANCELED ? ERROR_OPERATION_ABORTED : static_cast<DWORD>(errno));
    return false;
}

bool HungUp() {
    SetLastError(ERROR_BROKEN_PIPE);
    return false;
}

// A port's handle carries its file descriptor.
HANDLE HandleOf(int fd) {
    return reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(fd));
}

int DescriptorOf(HANDLE port) {
    std::intptr_t fd = reinterpret_cast<std::intptr_t>(port);
    return fd >= 0 && fd < MAX_PORT_DESCRIPTOR ? static_cast<int>(fd) : -1;
}

PortState* StateOf(HANDLE port) {
    int fd = DescriptorOf(port);
    if (fd < 0) {
        errno = EBADF;
        return nullptr;
    }
    return &ports[fd];
}

long long NowMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Milliseconds left until `deadline` (-1 without one), for poll().
int Remaining(long long deadline) {
    if (deadline < 0)
        return -1;
    long long left = deadline - NowMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

speed_t SpeedFor(DWORD baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B9600;
    }
}

DWORD BaudFor(speed_t speed) {
    switch (speed) {
    case B1200:
        return 1200;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 9600;
    }
}

} // namespace

HANDLE OpenCommPort(const char* name) {
    char device[4096];
    unsigned number = 0;
    if (name[0] == '/') {
        // A cut path would open some other device.
        int length = std::snprintf(device, sizeof device, "%s", name);
        if (length < 0 || static_cast<unsigned>(length) >= sizeof device) {
            errno = ENAMETOOLONG;
            Fail();
            return INVALID_HANDLE_VALUE;
        }
    } else if (std::sscanf(name, "COM%u", &number) == 1 && number >= 1) {
        std::snprintf(device, sizeof device, "/dev/ttyS%u", number - 1);
    } else {
        errno = ENOENT;
        Fail();
        return INVALID_HANDLE_VALUE;
    }
    int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        Fail();
        return INVALID_HANDLE_VALUE;
    }
    if (fd >= MAX_PORT_DESCRIPTOR || ioctl(fd, TIOCEXCL) != 0 || !isatty(fd)) {
        if (fd >= MAX_PORT_DESCRIPTOR)
            errno = EMFILE;
        Fail();
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    ports[fd] = PortState{};
    return HandleOf(fd);
}

bool GetCommState(HANDLE port, DCB* state) {
    termios settings{};
    if (StateOf(port) == nullptr || tcgetattr(DescriptorOf(port), &settings) != 0)
        return Fail();
    state->BaudRate = BaudFor(cfgetospeed(&settings));
    switch (settings.c_cflag & CSIZE) {
    case CS5:
        state->ByteSize = 5;
        break;
    case CS6:
        state->ByteSize = 6;
        break;
    case CS7:
        state->ByteSize = 7;
        break;
    default:
        state->ByteSize = 8;
    }
    state->Parity = (settings.c_cflag & PARENB) != 0 ? 2 : NOPARITY;
    state->StopBits = (settings.c_cflag & CSTOPB) != 0 ? 2 : ONESTOPBIT;
    return true;
}

bool SetCommState(HANDLE port, const DCB* state) {
    termios settings{};
    if (StateOf(port) == nullptr || tcgetattr(DescriptorOf(port), &settings) != 0)
        return Fail();
    // A modem speaks raw bytes: no line editing, echo or translation by the tty, and no
    // flow control, which another program may have left on the port: with RTS/CTS a modem
    // that is switched off would hold every write.
    cfmakeraw(&settings);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXOFF | IXANY);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | PARENB | CRTSCTS);
    settings.c_cflag |= state->ByteSize == 7 ? CS7 : CS8;
    if (state->Parity != NOPARITY)
        settings.c_cflag |= PARENB;
    if (state->StopBits != ONESTOPBIT)
        settings.c_cflag |= CSTOPB;
    cfsetispeed(&settings, SpeedFor(state->BaudRate));
    cfsetospeed(&settings, SpeedFor(state->BaudRate));
    if (tcsetattr(DescriptorOf(port), TCSANOW, &settings) != 0)
        return Fail();
    return true;
}

bool SetCommTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts) {
    PortState* state = StateOf(port);
    if (state == nullptr)
        return Fail();
    state->readTimeout = timeouts->ReadTotalTimeoutConstant;
    state->writeTimeout = timeouts->WriteTotalTimeoutConstant;
    return true;
}

bool WriteFile(HANDLE port, const void* data, DWORD size, DWORD* written) {
    *written = 0;
    PortState* state = StateOf(port);
    if (state == nullptr)
        return Fail();
    long long deadline = state->writeTimeout != 0 ? NowMs() + state->writeTimeout : -1;
    const char* bytes = static_cast<const char*>(data);
    while (*written < size) {
        short seen = 0;
        int ready = WaitUnlessTerminated(DescriptorOf(port), POLLOUT, Remaining(deadline), &seen);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Fail();
        if (ready == 0) {
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        ssize_t count = write(DescriptorOf(port), bytes + *written, size - *written);
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            return Fail();
        if (count > 0)
            *written += static_cast<DWORD>(count);
    }
    return true;
}

bool FlushFileBuffers(HANDLE port) {
    if (StateOf(port) == nullptr || tcdrain(DescriptorOf(port)) != 0)
        return Fail();
    return true;
}

bool ReadFile(HANDLE port, void* data, DWORD size, DWORD* read) {
    *read = 0;
    PortState* state = StateOf(port);
    if (state == nullptr)
        return Fail();
    if (state->receivePosted) {
        state->receivePosted = false; // each read asks for the next CN_RECEIVE
        state->receiveWatch->setEnabled(true);
    }
    long long deadline = state->readTimeout != 0 ? NowMs() + state->readTimeout : -1;
    char* bytes = static_cast<char*>(data);
    while (*read < size) {
        short seen = 0;
        int ready = WaitUnlessTerminated(DescriptorOf(port), POLLIN, Remaining(deadline), &seen);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return Fail();
        if (ready == 0)
            break; // the time-out ends a read with what has arrived
        ssize_t count = ::read(DescriptorOf(port), bytes + *read, size - *read);
        if (count > 0) {
            *read += static_cast<DWORD>(count);
            continue;
        }
        bool closed = (seen & (POLLHUP | POLLERR)) != 0;
        if (count < 0 && (errno == EINTR || (errno == EAGAIN && !closed)))
            continue;
        if (count < 0 && errno != EAGAIN && errno != EIO)
            return Fail();
        // End of file, EIO (a pseudo-terminal whose other side closed) or a hang-up with
        // nothing to read: the line is gone. What came is kept; the next read tells.
        if (*read > 0)
            break;
        return HungUp();
    }
    return true;
}

bool SetCommMask(HANDLE port, DWORD mask) {
    PortState* state = StateOf(port);
    if (state == nullptr)
        return Fail();
    state->mask = mask;
    return true;
}

namespace {

void StopNotification(PortState* state) {
    // Deleted directly: their handlers only post messages, so they are not running.
    delete state->receiveWatch;
    delete state->lineWatch;
    state->receiveWatch = nullptr;
    state->lineWatch = nullptr;
    state->notifyWindow = 0;
    state->receivePosted = false;
}

void OnPortReadable(int fd) {
    PortState& state = ports[fd];
    state.receiveWatch->setEnabled(false);
    state.receivePosted = true;
    PostMessage(state.notifyWindow, WM_COMMNOTIFY, reinterpret_cast<WPARAM>(HandleOf(fd)),
                static_cast<LPARAM>(CN_RECEIVE));
}

// Modem lines change without making the descriptor ready, so they are sampled.
void OnLineSample(int fd) {
    PortState& state = ports[fd];
    int now = 0;
    if (ioctl(fd, TIOCMGET, &now) != 0)
        return;
    int changed = now ^ state.lines;
    state.lines = now;
    if (((state.mask & EV_CTS) != 0 && (changed & TIOCM_CTS) != 0) ||
        ((state.mask & EV_DSR) != 0 && (changed & TIOCM_DSR) != 0) ||
        ((state.mask & EV_RLSD) != 0 && (changed & TIOCM_CD) != 0))
        PostMessage(state.notifyWindow, WM_COMMNOTIFY, reinterpret_cast<WPARAM>(HandleOf(fd)),
                    static_cast<LPARAM>(CN_EVENT));
}

constexpr int LINE_SAMPLE_MS = 50;

} // namespace

bool EnableCommNotification(HANDLE port, HWND window) {
    PortState* state = StateOf(port);
    if (state == nullptr)
        return Fail();
    int fd = DescriptorOf(port);
    StopNotification(state);
    if (window == 0)
        return true;
    state->notifyWindow = window;
    state->receiveWatch = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(state->receiveWatch, &QSocketNotifier::activated,
                     [fd] { OnPortReadable(fd); });
    if (ioctl(fd, TIOCMGET, &state->lines) == 0) {
        state->lineWatch = new QTimer;
        state->lineWatch->setTimerType(Qt::PreciseTimer);
        QObject::connect(state->lineWatch, &QTimer::timeout, [fd] { OnLineSample(fd); });
        state->lineWatch->start(LINE_SAMPLE_MS);
    }
    return true;
}

bool CloseHandle(HANDLE port) {
    PortState* state = StateOf(port);
    if (state != nullptr)
        StopNotification(state);
    if (state == nullptr || close(DescriptorOf(port)) != 0)
        return Fail();
    return true;
}

} // namespace platform
