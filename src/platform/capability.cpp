// CAP_NET_RAW around raw socket calls, through the capget/capset system calls: the
// kernel's capabilities are per thread, and only this thread's effective set changes. And
// the ambient set emptied at the start, so that no program we start inherits it.
#include "platform/capability_internal.h"

#include <cerrno>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

struct CapabilitySets {
    __user_cap_header_struct header;
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3];
};

// CAP_NET_RAW (13) lies in the first 32-bit word of each set.
constexpr unsigned kNetRawBit = 1u << CAP_NET_RAW;
static_assert(CAP_NET_RAW < 32);

bool ReadCapabilities(CapabilitySets* sets) {
    *sets = CapabilitySets{};
    sets->header.version = _LINUX_CAPABILITY_VERSION_3;
    sets->header.pid = 0; // this thread
    return syscall(SYS_capget, &sets->header, sets->data) == 0;
}

bool WriteCapabilities(CapabilitySets* sets) {
    return syscall(SYS_capset, &sets->header, sets->data) == 0;
}

} // namespace

int OpenRawSocket(int systemFamily, int systemType, int protocol) {
    CapabilitySets sets;
    bool raised = false;
    if (ReadCapabilities(&sets) && (sets.data[0].permitted & kNetRawBit) != 0 &&
        (sets.data[0].effective & kNetRawBit) == 0) {
        sets.data[0].effective |= kNetRawBit;
        raised = WriteCapabilities(&sets);
    }
    int descriptor = socket(systemFamily, systemType, protocol);
    if (raised) {
        int error = errno;
        sets.data[0].effective &= ~kNetRawBit;
        WriteCapabilities(&sets);
        errno = error;
    }
    return descriptor;
}

void KeepCapabilitiesFromChildren() {
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0); // fails only on kernels without it
}

} // namespace platform
