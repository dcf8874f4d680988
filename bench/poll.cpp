// What monitoring costs: one poll cycle of the real main window over a map of 200 hosts
// (127.0.0.1 to 127.0.0.200) through each engine (raw echo, ICMP library, TCP to a closed
// port), as time per host; the resident memory afterwards; and the processor time the
// program uses while only the countdown runs. Runs in a network namespace of its own
// (needs root), so the echoes stay on a private loopback.
#include "monitor/poll.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/probe.h"
#include "platform/application.h"
#include "platform/profile.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/resources.h"
#include "shell/filecmds.h"
#include "shell/mainwnd.h"
#include "shell/startup.h"

#include "bench_support.h"
#include "desktop.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

constexpr int HOSTS = 200;

// A map of 200 hosts on loopback in a fresh directory, which becomes the current one.
bool WriteMap() {
    if (!EnterFreshDirectory("poll"))
        return false;
    std::string map = "Tbench.db 126/12/06 09:00\r\nBpoll bench\r\nV1\r\n";
    for (int i = 0; i < HOSTS; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "Hh%d,127.0.0.%d,,,%d,%d,0,1,0\r\n", i + 1, i + 1,
                      i % GRID_COLUMNS, (i / GRID_COLUMNS) * 3);
        map += line;
    }
    return WriteText("bench.db", map) && WriteText("TARNMAP.INI", "[OPTS]\r\nSOUND=0\r\n") &&
           WriteText("bench.INI", "[OPTS]\r\nNOCHECK=1\r\nWAIT=1000\r\nTIMER=3600\r\n");
}

std::uint64_t ProcessorMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

// utime + stime of /proc/self/stat, in clock ticks.
long StatTicks() {
    std::ifstream file("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0;
    long stime = 0;
    // Fields after the name start at the third (state); utime and stime are 14 and 15.
    for (int number = 3; number <= 15 && fields >> field; ++number) {
        if (number == 14)
            utime = std::atol(field.c_str());
        if (number == 15)
            stime = std::atol(field.c_str());
    }
    return utime + stime;
}

long ResidentKilobytes() {
    std::ifstream file("/proc/self/status");
    std::string line;
    while (std::getline(file, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

enum Engine { RAW, LIBRARY, TCP };

void PollCycle(benchmark::State& state) {
    const auto engine = static_cast<Engine>(state.range(0));
    options.useRawIcmp = engine == RAW ? 1 : 0;
    options.useIcmpLibrary = engine == LIBRARY ? 1 : 0;
    options.probePort = 230; // nothing listens there: every connection is refused, an answer
    rawIcmpUsed = 0;
    RunWholeCycle(); // the first cycle repaints every host (missed 2 -> 0)
    double seconds = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        RunWholeCycle();
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    int failed = 0;
    for (int i = 0; i < hostCount; ++i)
        failed += hostTable[i].status != 0 ? 1 : 0;
    if (failed != 0)
        state.SkipWithError("some hosts did not answer");
    state.counters["us_per_host"] =
        seconds * 1e6 / static_cast<double>(state.iterations() * static_cast<unsigned>(hostCount));
}

// The countdown alone: the main loop runs with a one-hour TIMER for ten seconds.
platform::LRESULT StopProcedure(platform::HWND window, platform::UINT message,
                                platform::WPARAM wParam, platform::LPARAM lParam) {
    if (message == platform::WM_TIMER) {
        platform::KillTimer(window, wParam);
        platform::PostQuitMessage(0);
        return 0;
    }
    return platform::DefWindowProc(window, message, wParam, lParam);
}

void IdleCountdown(benchmark::State& state) {
    static bool registered = [] {
        platform::WNDCLASS stopClass{};
        stopClass.lpfnWndProc = StopProcedure;
        stopClass.lpszClassName = "BENCHSTOP";
        return platform::RegisterClass(&stopClass);
    }();
    (void)registered;
    for (auto _ : state) {
        options.noAutomaticChecks = 0;
        pollState.countdown = 3600;
        StartPollTimer();
        platform::HWND stopper =
            platform::CreateWindow("BENCHSTOP", "stop", 0, 0, 0, 10, 10, 0, 0, nullptr);
        platform::SetTimer(stopper, 1, 10000, nullptr);
        long ticksBefore = StatTicks();
        std::uint64_t processorBefore = ProcessorMicroseconds();
        auto start = std::chrono::steady_clock::now();
        platform::MSG message;
        while (platform::GetMessage(&message, 0, 0, 0) > 0) {
            platform::TranslateMessage(&message);
            platform::DispatchMessage(&message);
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        double processor = static_cast<double>(ProcessorMicroseconds() - processorBefore) / 1e6;
        long ticks = StatTicks() - ticksBefore;
        StopPollTimer();
        platform::DestroyWindow(stopper);
        state.SetIterationTime(seconds);
        state.counters["cpu_percent"] = 100.0 * processor / seconds;
        state.counters["stat_cpu_percent"] = 100.0 * static_cast<double>(ticks) /
                                             static_cast<double>(sysconf(_SC_CLK_TCK)) / seconds;
        state.counters["countdown_ticks"] = 3600 - pollState.countdown;
    }
}

void ResidentMemory(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(ResidentKilobytes());
    state.counters["rss_kB"] = static_cast<double>(ResidentKilobytes());
}

} // namespace

BENCHMARK(PollCycle)
    ->Arg(RAW)
    ->Arg(LIBRARY)
    ->Arg(TCP)
    ->ArgName("engine")
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0);
BENCHMARK(ResidentMemory)->Iterations(1);
BENCHMARK(IdleCountdown)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    if (!EnterPrivateNetwork()) {
        std::fprintf(stderr, "bench_poll: needs root to make its own network namespace\n");
        return 1;
    }
    if (!WriteMap()) {
        std::fprintf(stderr, "bench_poll: cannot write the map\n");
        return 1;
    }
    platform::HWND window = OpenBenchMainWindow(argc, argv, "bench_poll", 720, 480);
    platform::WSADATA stack;
    if (window == 0 || hostCount != HOSTS ||
        platform::WSAStartup(platform::MAKEWORD(1, 1), &stack) != 0) {
        std::fprintf(stderr, "bench_poll: no map or network stack\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    platform::DestroyWindow(window);
    platform::WSACleanup();
    return 0;
}
