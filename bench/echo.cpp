// Round trip of one echo to 127.0.0.1 through the monitor's probe set, with the raw engine
// and with the library engine over a ping socket and over a raw one, beside the round trip
// that iputils `ping -c 1 -n 127.0.0.1` reports for itself. Each echo is timed from its
// start to its outcome taken after the set's message. Runs in a network namespace of its
// own (needs root). Each benchmark reports its median as "median_us".
#include "platform/application.h"
#include "platform/messages.h"
#include "platform/probeset.h"
#include "platform/testing_sys.h"
#include "platform/window.h"
#include "platform/winsock.h"

#include "bench_support.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

platform::HWND mainWindow = 0;
constexpr platform::UINT PROBES_MESSAGE = platform::WM_USER + 1;

// Runs a program and waits for it; its output is kept when `output` is given.
bool Run(std::vector<std::string> arguments, std::string* output = nullptr) {
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    pid_t child = 0;
    int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    char chunk[512];
    ssize_t got = 0;
    while (failed == 0 && (got = read(pipeEnds[0], chunk, sizeof chunk)) > 0) {
        if (output != nullptr)
            output->append(chunk, static_cast<std::size_t>(got));
    }
    close(pipeEnds[0]);
    if (failed != 0)
        return false;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool AllowPingSockets(bool allow) {
    return WriteText("/proc/sys/net/ipv4/ping_group_range", allow ? "0 2147483647" : "1 0");
}

double Median(std::vector<double> samples) {
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    std::size_t middle = samples.size() / 2;
    return samples.size() % 2 != 0 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// One set of `engine` for the whole run, one echo in it at a time, each awaited through
// the event loop.
void ProbeSetEcho(benchmark::State& state, int engine, bool pingSockets) {
    using namespace platform;
    if (!AllowPingSockets(pingSockets)) {
        state.SkipWithError("cannot set ping_group_range in the private namespace");
        return;
    }
    const unsigned char data[56] = "Tarnmap network monitor echo test pattern!!";
    HANDLE set = CreateProbeSet(mainWindow, PROBES_MESSAGE, engine, 1, data, sizeof data);
    int expected = pingSockets && engine == PROBE_ECHO_LIBRARY ? ICMP_SOCKET_PING : ICMP_SOCKET_RAW;
    if (set == INVALID_HANDLE_VALUE || ProbeSetEchoSocketKind(set) != expected) {
        state.SkipWithError("cannot open the echo socket of this kind");
        AllowPingSockets(true);
        return;
    }
    const DWORD loopback = inet_addr("127.0.0.1");
    const DWORD answered = engine == PROBE_ECHO_LIBRARY ? IP_SUCCESS : 0;
    std::vector<double> samples;
    DWORD key = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        PROBE_OUTCOME outcome{};
        bool known = StartEchoProbe(set, ++key, loopback, 1000);
        MSG message{};
        while (known && !TakeProbeOutcome(set, key, &outcome) && GetMessage(&message, 0, 0, 0) > 0)
            DispatchMessage(&message);
        double elapsed = Since(start);
        if (!known || outcome.status != answered) {
            state.SkipWithError("no echo reply");
            break;
        }
        state.SetIterationTime(elapsed);
        samples.push_back(elapsed * 1e6);
    }
    CloseProbeSet(set);
    AllowPingSockets(true);
    state.counters["median_us"] = Median(samples);
}

void RawEngineEcho(benchmark::State& state) {
    ProbeSetEcho(state, platform::PROBE_ECHO_RAW, false);
}
void LibraryEnginePingSocket(benchmark::State& state) {
    ProbeSetEcho(state, platform::PROBE_ECHO_LIBRARY, true);
}
void LibraryEngineRawSocket(benchmark::State& state) {
    ProbeSetEcho(state, platform::PROBE_ECHO_LIBRARY, false);
}

// The "time=" that `ping -c 1 -n 127.0.0.1` printed, in microseconds, or a negative value.
double PingProgramRoundTrip() {
    std::string output;
    if (!Run({"ping", "-c", "1", "-n", "127.0.0.1"}, &output))
        return -1;
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

BENCHMARK(RawEngineEcho)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(LibraryEnginePingSocket)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(LibraryEngineRawSocket)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(PingProgram)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);

int main(int argc, char** argv) {
    if (!EnterPrivateNetwork()) {
        std::fprintf(stderr, "bench_echo: needs root to make its own network namespace\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    platform::InitializeApplication(argc, argv);
    platform::WNDCLASS mainClass{};
    mainClass.lpfnWndProc = platform::DefWindowProc;
    mainClass.lpszClassName = "BENCHMAIN";
    platform::RegisterClass(&mainClass);
    mainWindow = platform::CreateWindow("BENCHMAIN", "bench", platform::WS_OVERLAPPEDWINDOW, 0, 0,
                                        200, 100, 0, 0, nullptr);
    platform::WSADATA data;
    if (mainWindow == 0 || platform::WSAStartup(platform::MAKEWORD(1, 1), &data) != 0) {
        std::fprintf(stderr, "bench_echo: no window or no network stack\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    platform::WSACleanup();
    return 0;
}
