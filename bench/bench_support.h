// What the benches share: a network namespace of their own with loopback up and ping
// sockets open to every group, and whole-file reads and writes.
#pragma once

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sched.h>
#include <string>
#include <unistd.h>

inline bool WriteText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.flush(); // a write to /proc is refused only when it reaches the file
    return static_cast<bool>(file);
}

inline std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

inline bool EnterPrivateNetwork() {
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    return WriteText("/proc/sys/net/ipv4/ping_group_range", "0 2147483647") &&
           std::system("ip link set lo up") == 0;
}
