// A plain HTTP/1.0 GET for tests that read what a server of ours, or one they started,
// serves on loopback or in a namespace the calling thread has entered; and a free port.
#pragma once

#include <string>

struct HttpAnswer {
    int status = 0; // 0 when no answer came: refused, reset or more than 5 s
    std::string body;
};

HttpAnswer HttpGet(const std::string& address, unsigned port, const std::string& target);

// A TCP port of `address` that nothing listens on now (the system's pick).
unsigned FreePort(const std::string& address = "127.0.0.1");
