// The GET: one connection, the request, everything up to the server's close, the status
// line's number and what follows the header.
#include "support/http_get.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Address(const std::string& address, unsigned port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    return where;
}

} // namespace

HttpAnswer HttpGet(const std::string& address, unsigned port, const std::string& target) {
    HttpAnswer answer;
    int connection = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where = Address(address, port);
    timeval limit{5, 0};
    setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (connect(connection, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        close(connection);
        return answer;
    }
    std::string request = "GET " + target + " HTTP/1.0\r\nHost: " + address + "\r\n\r\n";
    std::string reply;
    if (send(connection, request.data(), request.size(), MSG_NOSIGNAL) ==
        static_cast<ssize_t>(request.size())) {
        char buffer[16384];
        for (ssize_t got; (got = recv(connection, buffer, sizeof buffer, 0)) > 0;)
            reply.append(buffer, static_cast<std::size_t>(got));
    }
    close(connection);
    std::size_t header = reply.find("\r\n\r\n");
    if (reply.rfind("HTTP/1.", 0) != 0 || reply.size() < 12 || header == std::string::npos)
        return answer;
    answer.status = std::atoi(reply.c_str() + 9);
    answer.body = reply.substr(header + 4);
    return answer;
}

unsigned FreePort(const std::string& address) {
    int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where = Address(address, 0);
    socklen_t size = sizeof where;
    unsigned port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&where), &size) == 0)
        port = ntohs(where.sin_port);
    close(probe);
    return port;
}
