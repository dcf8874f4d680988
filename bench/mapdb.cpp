// Reading and writing a full map: 200 hosts with texts at their maximum lengths and 300
// lines, through the real file system (the write includes flushing it to disk).
#include "model/mapdb.h"
#include "model/hosts.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

void FillFullMap() {
    std::snprintf(mapBanner, sizeof mapBanner, "Benchmark network");
    hostCount = MAX_HOSTS;
    for (int index = 0; index < MAX_HOSTS; ++index) {
        HostRecord& host = hostTable[index];
        host = HostRecord{};
        std::snprintf(host.name, sizeof host.name, "host%012d", index);
        std::snprintf(host.address, sizeof host.address, "server%020d", index);
        std::snprintf(host.info1, sizeof host.info1, "first info line %09d", index);
        std::snprintf(host.info2, sizeof host.info2, "second info %013d", index);
        host.col = index % GRID_COLUMNS;
        host.row = index % GRID_ROWS;
        host.protocol = 1;
        host.kind = static_cast<unsigned>(index % HOST_KIND_COUNT);
    }
    lineCount = 300;
    for (int index = 0; index < lineCount; ++index)
        lineTable[index] = {12, index % 36, index % 35, 35 - index % 36, index / 10};
}

// A scratch directory for the whole run, with its own settings directory so reading a
// map touches no real settings file.
struct Scratch {
    Scratch() {
        char pattern[] = "/tmp/bench_mapdb-XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            std::abort();
        path = pattern;
        setenv("XDG_CONFIG_HOME", pattern, 1);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

Scratch scratch;

void BM_ReadFullMap(benchmark::State& state) {
    std::string path = scratch.path + "/full.db";
    FillFullMap();
    if (WriteMapDatabase(path.c_str()) != 1) {
        state.SkipWithError("cannot write the map");
        return;
    }
    for (auto _ : state) {
        ReadMapDatabase(0, path.c_str());
        benchmark::DoNotOptimize(hostCount);
    }
    if (hostCount != MAX_HOSTS || lineCount != 300)
        state.SkipWithError("map read back incomplete");
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_ReadFullMap);

void BM_WriteFullMap(benchmark::State& state) {
    std::string path = scratch.path + "/written.db";
    FillFullMap();
    for (auto _ : state) {
        if (WriteMapDatabase(path.c_str()) != 1) {
            state.SkipWithError("cannot write the map");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(std::filesystem::file_size(path)));
}
BENCHMARK(BM_WriteFullMap);

} // namespace

BENCHMARK_MAIN();
