// Inside the layer: raw sockets for a program that holds CAP_NET_RAW only in its permitted set, as
// a file capability set with `setcap cap_net_raw+p` gives it: the capability is made effective for
// the one socket call and lowered again, so the program never runs with it raised.
#pragma once

namespace platform {

// socket(`systemFamily`, `systemType`, `protocol`) for a raw socket (`systemType` holds SOCK_RAW
// and any SOCK_* flags), with CAP_NET_RAW raised from the permitted to the effective set
// of this thread around the call when it is permitted but not effective. Nothing else is
// raised or dropped. Returns the descriptor, or -1 with errno.
int OpenRawSocket(int systemFamily, int systemType, int protocol);

// Empties the ambient set, before any thread is started. A service manager hands CAP_NET_RAW
// over in it (AmbientCapabilities=), and every program we start (the alarm programs a map
// names) would inherit it from there; the permitted set keeps it for our own raw sockets.
void KeepCapabilitiesFromChildren();

} // namespace platform
