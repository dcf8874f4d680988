// What a long headless run costs and whether it holds steady: the real tarnmap program,
// headless, for back-to-back cycles (1000 unless --cycles=N) over 200 loopback hosts in a
// private network namespace, the last host flapping while its route is switched between
// "unreachable" and local every few cycles. Reports cycles per second and the program's
// descriptors, threads and resident memory after a warm-up, halfway and near the end.
// Needs root (for the namespace).
#include "bench_support.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int HOSTS = 200;
const char* const FLAPPING_ADDRESS = "127.1.1.100";
unsigned cycles = 1000;
std::string directory;

// The soak test's map: 200 hosts checked through the ICMP library, the flapping one last,
// with its down sound and an alarm program.
bool WriteMap() {
    char made[] = "/tmp/tarnmap-bench-soak-XXXXXX";
    if (mkdtemp(made) == nullptr)
        return false;
    directory = made;
    std::string map = "Bsoak bench\r\nV1\r\n";
    for (int i = 0; i < HOSTS; ++i) {
        std::string address =
            i == HOSTS - 1 ? FLAPPING_ADDRESS
                           : "127.1." + std::to_string(i / 100) + "." + std::to_string(i % 100 + 1);
        std::string name = i == HOSTS - 1 ? "flapper" : "host" + std::to_string(i);
        map += "H" + name + "," + address + ",,," + std::to_string(i % 36) + "," +
               std::to_string(i / 36 * 3) + ",0,1,0\r\n";
    }
    return WriteText(directory + "/net.db", map) &&
           WriteText(directory + "/net.INI",
                     "[OPTS]\r\nWAIT=2000\r\nNOCHECK=1\r\n[flapper]\r\nSOUND=2\r\n"
                     "EXTERNAL=true\r\nBEEP_NUMBER=555\r\nBEEP_PRIORITY=1\r\nBEEP_COUNT=6\r\n") &&
           WriteText(directory + "/TARNMAP.INI", "[OPTS]\r\nPING=0\r\nMSICMP=1\r\nSOUND=1\r\n");
}

// Makes the flapping address fail at once (no route) or answer (local again).
void SetFlappingRoute(bool unreachable) {
    std::string command = std::string("ip route ") + (unreachable ? "add" : "del") +
                          " unreachable " + FLAPPING_ADDRESS + "/32 table local";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "bench_soak: %s failed\n", command.c_str());
}

struct Sample {
    unsigned cycle = 0;
    double descriptors = 0;
    double threads = 0;
    double residentKb = 0;
};

Sample Measure(pid_t process, unsigned cycle) {
    Sample sample;
    sample.cycle = cycle;
    std::string proc = "/proc/" + std::to_string(process);
    if (DIR* fds = opendir((proc + "/fd").c_str())) {
        while (dirent* entry = readdir(fds))
            sample.descriptors += entry->d_name[0] != '.' ? 1 : 0;
        closedir(fds);
    }
    std::string status = ReadText(proc + "/status");
    std::size_t at = status.find("\nVmRSS:");
    if (at != std::string::npos)
        sample.residentKb = std::atof(status.c_str() + at + 7);
    at = status.find("\nThreads:");
    if (at != std::string::npos)
        sample.threads = std::atof(status.c_str() + at + 9);
    return sample;
}

// Starts the program with its cycle lines into a pipe; -1 on failure.
pid_t StartProgram(int* output) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return -1;
    std::string count = std::to_string(cycles);
    const char* argv[] = {TARNMAP_BINARY, "--headless", "--cycles",
                          count.c_str(),  "net.db",     nullptr};
    setenv("XDG_CONFIG_HOME", directory.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    int failed = posix_spawn(&child, argv[0], &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (failed != 0) {
        close(ends[0]);
        return -1;
    }
    *output = ends[0];
    return child;
}

void HeadlessSoak(benchmark::State& state) {
    for (auto _ : state) {
        int output = -1;
        auto start = std::chrono::steady_clock::now();
        pid_t child = StartProgram(&output);
        if (child < 0) {
            state.SkipWithError("cannot start tarnmap");
            return;
        }
        // Down for 8 cycles, back for 4: each round logs a down line, runs the alarm
        // program twice and plays both sounds.
        const unsigned marks[3] = {cycles / 10, cycles / 2, cycles - cycles / 100 - 1};
        std::vector<Sample> samples;
        bool unreachable = false;
        unsigned seen = 0;
        std::FILE* lines = fdopen(output, "r");
        char line[512];
        while (lines != nullptr && std::fgets(line, sizeof line, lines) != nullptr) {
            ++seen;
            for (unsigned mark : marks)
                if (seen == mark)
                    samples.push_back(Measure(child, seen));
            bool wanted = seen % 12 < 8;
            if (wanted != unreachable) {
                SetFlappingRoute(wanted);
                unreachable = wanted;
            }
        }
        if (lines != nullptr)
            std::fclose(lines);
        int status = 0;
        waitpid(child, &status, 0);
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (unreachable)
            SetFlappingRoute(false);
        state.SetIterationTime(seconds);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || seen != cycles ||
            samples.size() != 3) {
            state.SkipWithError("tarnmap did not run all its cycles");
            return;
        }
        std::string log = ReadText(directory + "/net.LOG");
        unsigned downs = 0;
        for (std::size_t at = 0; (at = log.find("] down, ", at)) != std::string::npos; ++at)
            ++downs;
        state.counters["cycles_per_s"] = cycles / seconds;
        state.counters["down_lines"] = downs;
        const char* names[3] = {"start", "middle", "end"};
        for (int i = 0; i < 3; ++i) {
            state.counters[std::string("fds_") + names[i]] = samples[i].descriptors;
            state.counters[std::string("threads_") + names[i]] = samples[i].threads;
            state.counters[std::string("rss_kB_") + names[i]] = samples[i].residentKb;
        }
        std::remove((directory + "/net.LOG").c_str());
    }
}

} // namespace

BENCHMARK(HeadlessSoak)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--cycles=", 9) == 0)
            cycles = static_cast<unsigned>(std::atoi(argv[i] + 9));
    if (cycles < 100) {
        std::fprintf(stderr, "bench_soak: --cycles=N needs N of 100 or more\n");
        return 1;
    }
    if (!EnterPrivateNetwork()) {
        std::fprintf(stderr, "bench_soak: needs root to make its own network namespace\n");
        return 1;
    }
    if (!WriteMap()) {
        std::fprintf(stderr, "bench_soak: cannot write the map\n");
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::string cleanup = "rm -rf '" + directory + "'";
    return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
