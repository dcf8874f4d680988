// The outside world of the socket tests, built on the system's sockets directly: loopback
// peers, a child process with a network of its own, and a name server the test answers.
// Kept apart from the tests because the system's socket macros clash with the Winsock names.
#pragma once

#include "support/netns.h"

#include <string>
#include <vector>

// A TCP listener (or a UDP socket) on 127.0.0.1 at a port the system chose. The waits
// below last a few seconds at most.
class LoopbackPeer final {
  public:
    explicit LoopbackPeer(bool stream = true);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    unsigned short port() const { return port_; }     // host order; 0 when it could not open
    int AcceptOne();                                  // -1 when no connection came
    std::string ReceiveOne(unsigned short* fromPort); // empty when no datagram came
    bool SendTo(unsigned short toPort, const std::string& data);

  private:
    int descriptor_ = -1;
    unsigned short port_ = 0;
};

bool WriteAll(int descriptor, const std::string& data);
void CloseDescriptor(int descriptor);
bool WaitUntilReadable(unsigned socket);

// The time to live the system holds for a socket, set through the Winsock names.
int SystemTimeToLive(unsigned socket);

// A name server on 127.0.0.1:53 inside a private network, answered by the test itself
// (from its message loop). Names without a rule get "no such name".
class TestNameServer final {
  public:
    enum class Reply { Addresses, NoSuchName, Hold };

    TestNameServer();
    ~TestNameServer();
    TestNameServer(const TestNameServer&) = delete;
    TestNameServer& operator=(const TestNameServer&) = delete;

    bool ok() const { return descriptor_ >= 0; }
    void SetRule(const std::string& name, Reply reply,
                 const std::vector<std::string>& addresses = {});
    // Answers every query that has arrived; queries for names on hold are kept.
    void Serve();
    // Answers the queries kept so far by the rules as they are now.
    void ReleaseHeld();
    int heldCount() const { return static_cast<int>(held_.size()); }

  private:
    struct Rule {
        Reply reply;
        std::vector<std::string> addresses;
    };
    struct Query {
        std::vector<unsigned char> bytes;
        std::vector<unsigned char> sender; // the system's socket address, as received
    };
    void Answer(const Query& query, bool releasing);

    int descriptor_ = -1;
    std::vector<std::pair<std::string, Rule>> rules_;
    std::vector<Query> held_;
};
