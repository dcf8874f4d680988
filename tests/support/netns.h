// Network namespaces that a test builds for itself: hosts, routers and silent hosts with
// 10.x addresses that exist only inside them, joined by veth pairs, removed afterwards.
// Each namespace gets a unique name (pid and a serial), so tests may run in parallel.
//
//   NetworkNamespace client("client"), router("router");
//   ConnectNamespaces(client, "c0", "10.1.1.1/24", router, "r0", "10.1.1.2/24");
//   client.Ip({"route", "add", "default", "via", "10.1.1.2"});
//   router.SetSysctl("net.ipv4.ip_forward", "1");
//   { EnteredNamespace inside(client); /* sockets opened here belong to client */ }
//
// Needs root and the `ip` program (iproute2); NetworkNamespacesAvailable says whether a
// test can run. Nothing here touches the namespace the test process started in.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// True when namespaces can be made here; otherwise false with the reason in `why`, for
// GTEST_SKIP. Also removes namespaces that crashed test processes left behind.
bool NetworkNamespacesAvailable(std::string* why);

#define SKIP_WITHOUT_NAMESPACES()                                                                  \
    do {                                                                                           \
        std::string why;                                                                           \
        if (!NetworkNamespacesAvailable(&why))                                                     \
            GTEST_SKIP() << why;                                                                   \
    } while (false)

// One network namespace, named "tarnmap-<pid>-<serial>-<role>", with its loopback up.
// Removed, with every interface in it, when the object goes.
class NetworkNamespace {
  public:
    explicit NetworkNamespace(const std::string& role);
    ~NetworkNamespace();
    NetworkNamespace(const NetworkNamespace&) = delete;
    NetworkNamespace& operator=(const NetworkNamespace&) = delete;

    // Whether the namespace was made; nothing else works when it was not.
    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }

    // Runs `ip <arguments>` inside the namespace ("ip -n <name> ..."). True when it
    // succeeded; its complaints go to the test's standard error.
    bool Ip(const std::vector<std::string>& arguments) const;

    // Writes a sysctl of this namespace: `key` in dotted ("net.ipv4.ip_forward") or slashed
    // form. Only per-namespace keys (net.*) are meaningful.
    bool SetSysctl(const std::string& key, const std::string& value) const;

    // Lets the namespace's programs open ping sockets (net.ipv4.ping_group_range, which
    // governs ICMPv6 ping sockets too), or refuses them so that raw sockets must be used.
    bool AllowPingSockets(bool allowed) const;

  private:
    std::string name_;
    bool ok_ = false;
};

// Joins `a` and `b` with a veth pair: `deviceA` in `a` with `addressA`, `deviceB` in `b`
// with `addressB` (addresses in CIDR form, "10.1.1.1/24"), both up.
bool ConnectNamespaces(const NetworkNamespace& a, const std::string& deviceA,
                       const std::string& addressA, const NetworkNamespace& b,
                       const std::string& deviceB, const std::string& addressB);

// A TCP listener at `address` (IPv4, or IPv6 such as "::") and `port` (0: one the system
// chooses) in `space`, its socket made with `socketFlags` (SOCK_NONBLOCK) too; its port, 0
// when it could not open.
unsigned short ListenIn(const NetworkNamespace& space, const char* address, int* descriptor,
                        unsigned short port = 0, int socketFlags = 0);

// Moves the calling thread (only it) into a namespace for the guard's life and back when
// it goes. Sockets opened meanwhile stay in that namespace.
class EnteredNamespace {
  public:
    explicit EnteredNamespace(const NetworkNamespace& target);
    ~EnteredNamespace();
    EnteredNamespace(const EnteredNamespace&) = delete;
    EnteredNamespace& operator=(const EnteredNamespace&) = delete;

    bool ok() const { return ok_; }

  private:
    int previous_ = -1; // the thread's own namespace, to go back to
    bool ok_ = false;
};

// Runs a program (looked up on PATH, no shell) to its end; its standard output goes to
// /dev/null when `quiet`. True when it exited with 0.
bool RunProgram(const std::vector<std::string>& arguments, bool quiet = false);

// Starts `arguments` (the program by its path, no shell) in `directory`, with `variables`
// ("NAME=value") added to the environment or replacing what it has, standard output and
// error into directory/out.txt and directory/err.txt. The child joins the calling thread's
// network namespace. Returns its process id, -1 when it could not be started.
pid_t StartProgramIn(const std::string& directory, const std::vector<std::string>& arguments,
                     const std::vector<std::string>& variables = {});

// The wait status of a started program; one still running after `seconds` is killed and
// gives -1 and a test failure, so that a hang fails the test instead of holding it.
int WaitForExit(pid_t child, int seconds);

// How many children of `parent` have ended and wait, unreaped, as zombies.
long CountZombieChildren(pid_t parent);

// Runs `body` in a child process with a network namespace of its own: loopback up, then
// `setupCommands` (a shell line of `ip` commands, may be empty). With `hostsText` and
// `resolverText` the child also sees its own /etc/hosts and /etc/resolv.conf. Returns 0
// when the body's expectations held, 77 when namespaces or `ip` are not available here,
// anything else when the body failed (its messages are printed by the child).
int RunInPrivateNetwork(const char* setupCommands, const char* hostsText, const char* resolverText,
                        void (*body)());
inline constexpr int privateNetworkUnavailable = 77;

// Expects a RunInPrivateNetwork run to have held, and skips the test where it could not run.
#define EXPECT_PRIVATE_NETWORK_RUN(status)                                                         \
    do {                                                                                           \
        int result = (status);                                                                     \
        if (result == privateNetworkUnavailable)                                                   \
            GTEST_SKIP() << "needs root, network and mount namespaces and the ip command";         \
        EXPECT_EQ(result, 0);                                                                      \
    } while (false)
