// Round trip of one echo to 127.0.0.1 through the ICMP library, over a ping socket and
// over a raw socket, beside the round trip that iputils `ping -c 1 -n 127.0.0.1` reports
// for itself. Runs in a network namespace of its own (needs root), so the host's settings
// stay as they are. Each benchmark reports the median round trip as "median_us".
#include "platform/icmplib.h"

#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

bool WriteFile(const char* path, const char* text) {
    int file = open(path, O_WRONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    std::size_t length = std::strlen(text);
    bool written = write(file, text, length) == static_cast<ssize_t>(length);
    return close(file) == 0 && written;
}

// A namespace of our own with loopback up; the ping program started later shares it.
bool EnterPrivateNetwork() {
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (control < 0)
        return false;
    ifreq request{};
    std::snprintf(request.ifr_name, sizeof request.ifr_name, "lo");
    bool up = ioctl(control, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ioctl(control, SIOCSIFFLAGS, &request) == 0;
    close(control);
    return up;
}

bool AllowPingSockets(bool allow) {
    return WriteFile("/proc/sys/net/ipv4/ping_group_range", allow ? "0 2147483647" : "1 0");
}

double Median(std::vector<double> samples) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    std::size_t middle = samples.size() / 2;
    return samples.size() % 2 != 0 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

void LibraryEcho(benchmark::State& state, bool pingSockets) {
    using namespace platform;
    if (!AllowPingSockets(pingSockets)) {
        state.SkipWithError("cannot set ping_group_range in the private namespace");
        return;
    }
    HANDLE handle = IcmpCreateFile();
    int expected = pingSockets ? ICMP_SOCKET_PING : ICMP_SOCKET_RAW;
    if (handle == INVALID_HANDLE_VALUE || IcmpHandleKind(handle) != expected) {
        state.SkipWithError("cannot open the echo handle of this kind");
        return;
    }
    unsigned char data[56] = "Tarnmap network monitor echo test pattern!!";
    alignas(ICMP_ECHO_REPLY) unsigned char reply[IcmpReplyBufferSize(56)];
    DWORD loopback = inet_addr("127.0.0.1");
    std::vector<double> samples;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        DWORD count = IcmpSendEcho(handle, loopback, data, 56, nullptr, reply, sizeof reply, 1000);
        auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        if (count != 1) {
            state.SkipWithError("no echo reply");
            break;
        }
        state.SetIterationTime(elapsed.count());
        samples.push_back(elapsed.count() * 1e6);
    }
    IcmpCloseHandle(handle);
    state.counters["median_us"] = Median(samples);
}

void LibraryEchoPingSocket(benchmark::State& state) {
    LibraryEcho(state, true);
}
void LibraryEchoRawSocket(benchmark::State& state) {
    LibraryEcho(state, false);
}

// Runs `ping -c 1 -n 127.0.0.1` and returns the "time=" it printed, in microseconds, or a
// negative value.
double PingProgramRoundTrip() {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    char program[] = "ping";
    char count[] = "-c";
    char one[] = "1";
    char numeric[] = "-n";
    char target[] = "127.0.0.1";
    char* argv[] = {program, count, one, numeric, target, nullptr};
    pid_t child = 0;
    int failed = posix_spawnp(&child, "ping", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    std::string output;
    char chunk[512];
    ssize_t got = 0;
    while (failed == 0 && (got = read(pipeEnds[0], chunk, sizeof chunk)) > 0)
        output.append(chunk, static_cast<std::size_t>(got));
    close(pipeEnds[0]);
    if (failed != 0)
        return -1;
    int status = 0;
    waitpid(child, &status, 0);
    std::size_t at = output.find("time=");
    if (at == std::string::npos)
        return -1;
    return std::strtod(output.c_str() + at + 5, nullptr) * 1000.0;
}

void PingProgram(benchmark::State& state) {
    std::vector<double> samples;
    for (auto _ : state) {
        double roundTrip = PingProgramRoundTrip();
        if (roundTrip < 0) {
            state.SkipWithError("ping did not report a time");
            break;
        }
        state.SetIterationTime(roundTrip / 1e6);
        samples.push_back(roundTrip);
    }
    state.counters["median_us"] = Median(samples);
}

} // namespace

BENCHMARK(LibraryEchoPingSocket)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(LibraryEchoRawSocket)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(PingProgram)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);

int main(int argc, char** argv) {
    if (!EnterPrivateNetwork()) {
        std::fprintf(stderr, "bench_icmplib: needs root to make its own network namespace\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
