// Inside the layer: socket addresses of the stack's layout (winsock.h, Winsock's family
// numbers) turned into the system's, for the parts of the layer that call the system with
// them. Included only by src/platform/*.cpp.
#pragma once

#include <sys/socket.h>

namespace platform {

struct sockaddr;

// A sockaddr_in or sockaddr_in6 of our layout, `length` bytes, as the system's: 0, or
// WSAEFAULT (too short) or WSAEAFNOSUPPORT (another family).
int ToSystemSocketAddress(const sockaddr* address, int length, ::sockaddr_storage* system,
                          socklen_t* systemLength);

} // namespace platform
