// What the map's repaints cost in the desktop program's main window (offscreen): a cycle
// in which each of 200 hosts changes colour, repainted host by host as the poll cycle
// does it (the host's area invalidated, the window updated, the waiting events handled),
// without the probes; and one repaint of the whole map for comparison. No network is used.
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "platform/application.h"
#include "platform/window.h"
#include "resources/resources.h"
#include "shell/filecmds.h"
#include "shell/startup.h"

#include "bench_support.h"
#include "desktop.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

constexpr int HOSTS = 200;
constexpr int LINES = 60;

// A map of 200 picture hosts in ten bands of twenty, joined by lines, in a fresh directory
// that becomes the current one.
bool WriteMap() {
    if (!EnterFreshDirectory("repaint"))
        return false;
    std::string map = "Tbench.db 126/12/06 09:00\r\nBrepaint bench\r\nV1\r\n";
    char line[96];
    for (int i = 0; i < HOSTS; ++i) {
        std::snprintf(line, sizeof line, "Hh%d,127.0.0.%d,,,%d,%d,0,1,%d\r\n", i + 1, i + 1,
                      (i % 20) * GRID_COLUMNS / 20, (i / 20) * 3, i % HOST_KIND_COUNT);
        map += line;
    }
    for (int i = 0; i < LINES; ++i) {
        std::snprintf(line, sizeof line, "N12,%d,%d,%d,%d\r\n", (i % 20) * GRID_COLUMNS / 20,
                      (i / 20) * 9, ((i + 7) % 20) * GRID_COLUMNS / 20, (i / 20) * 9 + 3);
        map += line;
    }
    return WriteText("bench.db", map) && WriteText("TARNMAP.INI", "[OPTS]\r\nSOUND=0\r\n") &&
           WriteText("bench.INI", "[OPTS]\r\nNOCHECK=1\r\nTIMER=3600\r\n");
}

void HandleWaitingEvents() {
    platform::MSG message;
    while (platform::PeekMessage(&message, 0, 0, 0, platform::PM_REMOVE)) {
        platform::TranslateMessage(&message);
        platform::DispatchMessage(&message);
    }
}

// Every host turns from answering to two missed checks or back, one after another, each
// repainted before the next changes.
void ColourChangeCycle(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < hostCount; ++i) {
            HostRecord& host = hostTable[i];
            host.missed = host.missed == 0 ? 2 : 0;
            InvalidateHost(mapWindow, host);
            platform::UpdateWindow(mapWindow);
            HandleWaitingEvents();
        }
    }
    state.counters["us_per_host"] = benchmark::Counter(
        static_cast<double>(hostCount),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void WholeMap(benchmark::State& state) {
    for (auto _ : state) {
        platform::InvalidateRect(mapWindow, nullptr, true);
        platform::UpdateWindow(mapWindow);
        HandleWaitingEvents();
    }
}

} // namespace

BENCHMARK(ColourChangeCycle)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(WholeMap)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char** argv) {
    if (!WriteMap()) {
        std::fprintf(stderr, "bench_repaint: cannot write the map\n");
        return 1;
    }
    platform::HWND window = OpenBenchMainWindow(argc, argv, "bench_repaint", 1024, 768);
    if (window == 0 || hostCount != HOSTS || lineCount != LINES) {
        std::fprintf(stderr, "bench_repaint: no main window or map\n");
        return 1;
    }
    HandleWaitingEvents();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    platform::DestroyWindow(window);
    return 0;
}
