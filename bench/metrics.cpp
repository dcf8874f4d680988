// What the metrics cost: a scrape of the endpoint with 200 hosts (an HTTP GET over loopback,
// as Prometheus makes it), the UI thread's own share of one cycle (200 evaluations and the
// cycle's end), and the real poll cycle of the main window over 200 loopback hosts with
// the endpoint off and on, alternating, so the two stand side by side. Runs in a network
// namespace of its own (needs root).
#include "monitor/metrics.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/application.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/resources.h"
#include "shell/filecmds.h"
#include "shell/startup.h"

#include "bench_support.h"
#include "desktop.h"

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int HOSTS = 200;
constexpr unsigned PORT = 9100;

bool WriteMap() {
    if (!EnterFreshDirectory("metrics"))
        return false;
    std::string map = "Bmetrics bench\r\nV1\r\n";
    for (int i = 0; i < HOSTS; ++i) {
        char line[96];
        std::snprintf(line, sizeof line, "Hhost-%d,127.0.0.%d,,,%d,%d,0,1,%d\r\n", i + 1, i + 1,
                      i % GRID_COLUMNS, (i / GRID_COLUMNS) * 3, i % HOST_KIND_COUNT);
        map += line;
    }
    return WriteText("bench.db", map) && WriteText("TARNMAP.INI", "[OPTS]\r\nSOUND=0\r\n") &&
           WriteText("bench.INI", "[OPTS]\r\nNOCHECK=1\r\nWAIT=1000\r\nTIMER=3600\r\n");
}

void SetMetrics(bool on) {
    if (on) {
        SetCommandLineMetrics(std::to_string(PORT).c_str());
        ApplyMetricsSettings();
    } else {
        StopMetrics();
        metricsState.commandLine[0] = '\0';
    }
}

// One GET /metrics; the bytes of the answer, 0 when there was none.
std::size_t Scrape() {
    int connection = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(PORT);
    where.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::size_t total = 0;
    if (connect(connection, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0) {
        const char request[] = "GET /metrics HTTP/1.0\r\n\r\n";
        if (send(connection, request, sizeof request - 1, 0) > 0) {
            char buffer[65536];
            for (ssize_t got; (got = recv(connection, buffer, sizeof buffer, 0)) > 0;)
                total += static_cast<std::size_t>(got);
        }
    }
    close(connection);
    return total;
}

// Every host evaluated once, as a cycle leaves them: each one has all its series.
void EvaluateEveryHost() {
    BeginAlarmCycle();
    for (int i = 0; i < hostCount; ++i)
        RecordReply(i);
    FinishAlarmCycle();
}

void ScrapeOf200Hosts(benchmark::State& state) {
    SetMetrics(true);
    EvaluateEveryHost();
    std::size_t bytes = 0;
    for (auto _ : state)
        bytes = Scrape();
    if (bytes == 0)
        state.SkipWithError("no answer from the endpoint");
    state.counters["bytes"] = static_cast<double>(bytes);
    SetMetrics(false);
}

// The UI thread's part alone: 200 evaluations, each published, and the cycle's end.
void MetricsShareOfACycle(benchmark::State& state) {
    SetMetrics(state.range(0) != 0);
    for (auto _ : state)
        EvaluateEveryHost();
    SetMetrics(false);
}

// The real cycle, off and on by turns; the time of each is summed apart.
void PollCycleWithMetricsOffAndOn(benchmark::State& state) {
    options.useRawIcmp = 0;
    options.useIcmpLibrary = 1;
    RunWholeCycle(); // the first cycle repaints every host (missed 2 -> 0)
    double seconds[2] = {0, 0};
    long cycles[2] = {0, 0};
    for (auto _ : state) {
        for (int on = 0; on < 2; ++on) {
            state.PauseTiming();
            SetMetrics(on != 0);
            state.ResumeTiming();
            auto start = std::chrono::steady_clock::now();
            RunWholeCycle();
            seconds[on] +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            ++cycles[on];
        }
    }
    SetMetrics(false);
    int failed = 0;
    for (int i = 0; i < hostCount; ++i)
        failed += hostTable[i].status != 0 ? 1 : 0;
    if (failed != 0)
        state.SkipWithError("some hosts did not answer");
    double off = seconds[0] * 1e3 / static_cast<double>(cycles[0]);
    double on = seconds[1] * 1e3 / static_cast<double>(cycles[1]);
    state.counters["ms_off"] = off;
    state.counters["ms_on"] = on;
    state.counters["added_percent"] = 100.0 * (on - off) / off;
}

} // namespace

BENCHMARK(ScrapeOf200Hosts)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(MetricsShareOfACycle)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("metrics")
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(1.0);
BENCHMARK(PollCycleWithMetricsOffAndOn)->Unit(benchmark::kMillisecond)->MinTime(10.0);

int main(int argc, char** argv) {
    if (!EnterPrivateNetwork()) {
        std::fprintf(stderr, "bench_metrics: needs root to make its own network namespace\n");
        return 1;
    }
    if (!WriteMap()) {
        std::fprintf(stderr, "bench_metrics: cannot write the map\n");
        return 1;
    }
    platform::HWND window = OpenBenchMainWindow(argc, argv, "bench_metrics", 720, 480);
    platform::WSADATA stack;
    if (window == 0 || hostCount != HOSTS ||
        platform::WSAStartup(platform::MAKEWORD(1, 1), &stack) != 0) {
        std::fprintf(stderr, "bench_metrics: no map or network stack\n");
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
