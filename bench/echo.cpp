// Round trip of one echo to 127.0.0.1 through each echo engine and through the ICMP
// library's ping and raw sockets, beside the round trip that iputils `ping -c 1 -n
// 127.0.0.1` reports for itself. The raw engine is timed through the monitor's EchoProbe,
// up to the echo reply. Runs in a network namespace of its own (needs root). Each benchmark
// reports its median as "median_us".
#include "icmp/icmplib.h"
#include "icmp/rawecho.h"
#include "model/settings.h"
#include "monitor/poll.h"
#include "platform/application.h"
#include "platform/icmplib.h"
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

platform::LRESULT MainProcedure(platform::HWND window, platform::UINT message,
                                platform::WPARAM wParam, platform::LPARAM lParam) {
    if (message == platform::WM_TIMER && wParam == WAIT_TIMER_ID) {
        platform::KillTimer(window, WAIT_TIMER_ID);
        if (platform::WSAIsBlocking())
            platform::WSACancelBlockingCall();
        return 0;
    }
    return platform::DefWindowProc(window, message, wParam, lParam);
}

bool DispatchOneMessage() {
    platform::MSG message{};
    if (!platform::PeekMessage(&message, 0, 0, 0, platform::PM_REMOVE))
        return false;
    platform::DispatchMessage(&message);
    return true;
}

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

platform::sockaddr_in Loopback() {
    platform::sockaddr_in address{};
    address.sin_family = platform::AF_INET;
    address.sin_addr.s_addr = platform::inet_addr("127.0.0.1");
    return address;
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void RawEchoProbe(benchmark::State& state) {
    platform::SOCKET raw =
        platform::socket(platform::AF_INET, platform::SOCK_RAW, platform::IPPROTO_ICMP);
    if (raw == platform::INVALID_SOCKET) {
        state.SkipWithError("cannot open a raw socket");
        return;
    }
    platform::sockaddr_in destination = Loopback();
    std::vector<double> samples;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        int result = EchoProbe(mainWindow, raw, &destination);
        double elapsed = Since(start);
        if (result != 0) {
            state.SkipWithError("no echo");
            break;
        }
        state.SetIterationTime(elapsed);
        samples.push_back(elapsed * 1e6);
    }
    platform::closesocket(raw);
    state.counters["median_us"] = Median(samples);
}

void LibraryEchoProbeLoopback(benchmark::State& state) {
    platform::sockaddr_in destination = Loopback();
    std::vector<double> samples;
    for (auto _ : state) {
        std::uint32_t rtt = 0;
        auto start = std::chrono::steady_clock::now();
        int result = LibraryEchoProbe(&destination, 1000, &rtt);
        double elapsed = Since(start);
        if (result != 0) {
            state.SkipWithError("no echo reply");
            break;
        }
        state.SetIterationTime(elapsed);
        samples.push_back(elapsed * 1e6);
    }
    state.counters["median_us"] = Median(samples);
}

// The ICMP library itself, over a ping socket and over a raw socket.
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
    AllowPingSockets(true);
    state.counters["median_us"] = Median(samples);
}

void LibraryEchoPingSocket(benchmark::State& state) {
    LibraryEcho(state, true);
}
void LibraryEchoRawSocket(benchmark::State& state) {
    LibraryEcho(state, false);
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

BENCHMARK(RawEchoProbe)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(LibraryEchoProbeLoopback)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(LibraryEchoPingSocket)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(LibraryEchoRawSocket)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(PingProgram)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(300);

int main(int argc, char** argv) {
    if (!EnterPrivateNetwork()) {
        std::fprintf(stderr, "bench_echo: needs root to make its own network namespace\n");
        return 1;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    platform::InitializeApplication(argc, argv);
    platform::WNDCLASS mainClass{};
    mainClass.lpfnWndProc = MainProcedure;
    mainClass.lpszClassName = "BENCHMAIN";
    platform::RegisterClass(&mainClass);
    mainWindow = platform::CreateWindow("BENCHMAIN", "bench", platform::WS_OVERLAPPEDWINDOW, 0, 0,
                                        200, 100, 0, 0, nullptr);
    platform::WSADATA data;
    if (mainWindow == 0 || platform::WSAStartup(platform::MAKEWORD(1, 1), &data) != 0) {
        std::fprintf(stderr, "bench_echo: no window or no network stack\n");
        return 1;
    }
    platform::WSASetBlockingHook(DispatchOneMessage);
    options.waitTimeout = 1000;
    options.useIcmpLibrary = 1;
    if (!LoadIcmpLibrary()) {
        std::fprintf(stderr, "bench_echo: the ICMP library cannot be loaded\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    UnloadIcmpLibrary();
    platform::WSACleanup();
    return 0;
}
