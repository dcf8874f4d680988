// The networks the cycle benches check, and how a run over them is timed.
//
// The bench process moves into a network namespace of its own, the client side, where the
// program under test and its peer tools run. The hosts live behind veth links in further
// namespaces: answering hosts (a whole prefix routed to the loopback device, so the kernel
// answers every address of it), silent hosts (a blackholed prefix: requests vanish without
// a word) and delayed hosts (the kernel's echo replies off; the bench's responder answers
// each echo request after a fixed delay). IPv4 (10.x) or IPv6 (fd00::/16) addresses that
// exist only inside these namespaces. Nothing but descriptors of this process and the
// responder child hold the namespaces, so they go when the bench ends, however it ends.
//
//   std::string why;
//   if (!EnterClientNamespace(&why)) ...
//   std::vector<std::string> up = MakeHosts(HostBehaviour::ANSWERING, Family::IPV4, 190, &why);
//   std::vector<std::string> down = MakeHosts(HostBehaviour::SILENT, Family::IPV4, 10, &why);
//   up.insert(up.end(), down.begin(), down.end());
//   WriteBenchMap(directory, up, "WAIT=5000\r\n");
//   TimedRun run = TimeHeadlessCycle(TARNMAP_BINARY, directory, 600);
//
// A run is timed from the first probe (ICMP or ICMPv6 echo request, TCP SYN) that leaves
// the client side, by the kernel's time stamp on a packet socket, to the cycle line on the
// program's standard output or, for a peer tool, to its exit (a later cycle of the program:
// from the line of the cycle before to its own). Its processor time and
// context switches are counted over the same span, from /proc at the first probe and at
// the end (the program is stopped for that moment) or from its resource usage at exit. The
// time of a thread that ends within the span is not counted (worker threads normally stay).
#pragma once

#include <string>
#include <vector>

enum class HostBehaviour { ANSWERING, SILENT, DELAYED };
enum class Family { IPV4, IPV6 };

// Moves the process into a network namespace of its own with loopback up and ping sockets
// open to every group. Call it first, while the process has one thread. False with the
// reason in `why`.
bool EnterClientNamespace(std::string* why);

// The addresses of `count` hosts of `behaviour` (1 to 62500), the same ones on every call;
// builds their side of the network on first use. `delayMs` is the delayed hosts' round
// trip, fixed by the first call that makes them. Empty, with the reason in `why`, on
// failure.
std::vector<std::string> MakeHosts(HostBehaviour behaviour, Family family, int count,
                                   std::string* why, int delayMs = 10);

// Writes `directory`/bench.db with one monitored host per address (named h1, h2, ...,
// placed on the map's grid in order) and `directory`/TARNMAP.INI with SOUND=0 and then
// `options` ("KEY=value\r\n" lines) in [OPTS]. Removes a log of an earlier run.
bool WriteBenchMap(const std::string& directory, const std::vector<std::string>& addresses,
                   const std::string& options);

// One timed run of a child program.
struct TimedRun {
    bool ended = false;        // the cycle line came, or the tool ended by itself
    bool probed = false;       // a probe was seen leaving, so `seconds` holds
    double seconds = 0;        // first probe to the end
    double startupSeconds = 0; // start of the child to its first probe
    double cpuSeconds = 0;     // the child's processor time over the same span
    long switches = 0;         // its voluntary and involuntary context switches over it
    int exitStatus = -1;       // as waitpid gives it; -1 when it had to be killed
    std::string line;          // the cycle line, without its line end
    std::string error;         // the start of its standard error, or what went wrong
};

// `binary` --headless --cycles N bench.db in `directory` (with XDG_CONFIG_HOME there, so
// its TARNMAP.INI is the one read), timed over its cycle N = `cycle`: the first from its
// first probe, a later one from the line of the cycle before, which the cycles run back to
// back. Ends at the "cycle N:" line. Killed after `limitSeconds`.
TimedRun TimeHeadlessCycle(const char* binary, const std::string& directory, double limitSeconds,
                           int cycle = 1);

// A peer tool (looked up on PATH) with `arguments`, standard output to /dev/null; ends at
// its exit. Killed after `limitSeconds`.
TimedRun TimeTool(const std::vector<std::string>& arguments, const std::string& directory,
                  double limitSeconds);

// The processor time of the system calls alone that check `addresses` (IPv4 hosts that do
// not answer) once, in a bare loop of this thread: a TCP connect to `port` for each (socket,
// connect, epoll_ctl, and close after the last), or an ICMP echo request for each (one
// sendto on one raw socket). -1 when a socket cannot be had.
double BareConnectSeconds(const std::vector<std::string>& addresses, unsigned short port);
double BareEchoSeconds(const std::vector<std::string>& addresses);

// The answering count of a cycle line ("... cycle 1: 200 checked, 190 answering, ..."), -1
// when the line has none.
int AnsweringHosts(const std::string& cycleLine);
