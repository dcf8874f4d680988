// The outside world of the socket tests, built on the system's sockets directly: loopback
// peers, a child process with a network of its own, and a name server the test answers.
// Kept apart from winsock_test.cpp because the system's socket macros clash with the
// Winsock names.
#pragma once

#include <string>
#include <vector>

// A TCP listener on 127.0.0.1 at a port the system chose.
class LoopbackListener final {
  public:
    LoopbackListener();
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    unsigned short port() const { return port_; } // host order; 0 when it could not open
    // The next connection, waiting a few seconds at most; -1 when none came.
    int AcceptOne();

  private:
    int descriptor_ = -1;
    unsigned short port_ = 0;
};

// A UDP socket on 127.0.0.1 at a port the system chose.
class LoopbackDatagramPeer final {
  public:
    LoopbackDatagramPeer();
    ~LoopbackDatagramPeer();
    LoopbackDatagramPeer(const LoopbackDatagramPeer&) = delete;
    LoopbackDatagramPeer& operator=(const LoopbackDatagramPeer&) = delete;

    unsigned short port() const { return port_; }
    // One datagram, waiting a few seconds at most; empty when none came.
    std::string ReceiveOne(unsigned short* fromPort);
    bool SendTo(unsigned short toPort, const std::string& data);

  private:
    int descriptor_ = -1;
    unsigned short port_ = 0;
};

// A loopback port that nothing listens on.
unsigned short UnusedLoopbackPort();

bool WriteAll(int descriptor, const std::string& data);
// What arrives on a descriptor, waiting a few seconds at most for the first byte.
std::string ReadSome(int descriptor);
void CloseDescriptor(int descriptor);
// Whether data waits on a socket (or arrives within a few seconds).
bool WaitUntilReadable(unsigned socket);

// What the system holds for options set through the Winsock names.
int SystemTimeToLive(unsigned socket);
int SystemTypeOfService(unsigned socket);
bool SystemReuseAddress(unsigned socket);

// A name server on 127.0.0.1:53 inside a private network, answered by the test itself
// (normally from within the blocking hook). Names without a rule get "no such name".
class TestNameServer final {
  public:
    enum class Reply { Addresses, NoSuchName, ServerFailure, FormatError, NoAddresses, Hold };

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
    int queryCount() const { return queries_; }

  private:
    struct Rule {
        std::string name;
        Reply reply;
        std::vector<std::string> addresses;
    };
    struct Query {
        std::vector<unsigned char> bytes;
        std::vector<unsigned char> sender; // the system's socket address, as received
    };
    void Answer(const Query& query, bool releasing);

    int descriptor_ = -1;
    std::vector<Rule> rules_;
    std::vector<Query> held_;
    int queries_ = 0;
};

// Runs `body` in a child process with a network namespace of its own: loopback up, then
// `setupCommands` (a shell line of `ip` commands, may be empty). With `hostsText` and
// `resolverText` the child also sees its own /etc/hosts and /etc/resolv.conf. Returns 0
// when the body's expectations held, 77 when namespaces or `ip` are not available here,
// anything else when the body failed (its messages are printed by the child).
int RunInPrivateNetwork(const char* setupCommands, const char* hostsText, const char* resolverText,
                        void (*body)());
inline constexpr int privateNetworkUnavailable = 77;
