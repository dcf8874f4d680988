// What a poll cycle costs beside fping doing the same work, in one run of this bench: the
// real program headless (tarnmap --headless --cycles 1) and fping over the same 200 hosts
// in network namespaces the bench makes (network.h), each run in turn, the median of N
// runs of each, their ratio; and the desktop program's cycle (its main window, offscreen,
// in this process) against the headless one. Needs root. Run by hand; see --help.
#include "mapui/render.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "platform/application.h"
#include "platform/testing.h"
#include "platform/window.h"
#include "platform/winsock.h"
#include "resources/commands.h"
#include "resources/resources.h"
#include "shell/filecmds.h"
#include "shell/maplinks.h"
#include "shell/startup.h"

#include "network.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int HOSTS = 200;
constexpr int DELAY_MS = 10; // the round trip of the delayed hosts

/*** what is measured ***/

// How the program checks, as TARNMAP.INI says it.
struct Engine {
    const char* name;
    const char* options;
};
enum EngineIndex { LIBRARY, RAW, TCP };
constexpr unsigned short CLOSED_PORT = 230; // the TCP engine's PORT: nothing listens on it
const Engine ENGINES[] = {
    {"MSICMP=1", "PING=0\r\nMSICMP=1\r\n"},            // the default: ping sockets
    {"PING=1", "PING=1\r\nMSICMP=1\r\n"},              // raw sockets
    {"TCP 230", "PING=0\r\nMSICMP=0\r\nPORT=230\r\n"}, // CLOSED_PORT
};

struct Scenario {
    int number;
    const char* work;
    int silent;    // hosts of the 200 that never answer, spread evenly over the map
    bool delayed;  // the others answer after DELAY_MS (else at once, by the kernel)
    unsigned wait; // WAIT in milliseconds
    std::vector<int> engines;
    std::vector<std::string> fping; // its options; the addresses follow
    int cycle = 1;                  // the program's cycle that is timed
};

// clang-format off
const Scenario SCENARIOS[] = {
    {1, "200 hosts, all silent, WAIT 5000", HOSTS, false, 5000, {LIBRARY, RAW},
     {"-r0", "-i1", "-t5000", "-q"}},
    {2, "200 hosts, all silent, WAIT 1000", HOSTS, false, 1000, {LIBRARY},
     {"-r0", "-i1", "-t1000", "-q"}},
    {3, "200 hosts, 10 silent, WAIT 5000", 10, false, 5000, {LIBRARY, RAW, TCP},
     {"-r0", "-i1", "-t5000", "-q"}},
    {4, "200 hosts answering after 10 ms", 0, true, 5000, {LIBRARY},
     {"-i1", "-q"}},
    {5, "200 hosts, all silent, WAIT 1000 (CPU)", HOSTS, false, 1000, {RAW, TCP},
     {"-r0", "-i1", "-t1000", "-q"}},
    {9, "the same, a running monitor's 4th cycle", HOSTS, false, 1000, {LIBRARY, RAW, TCP},
     {"-r0", "-i1", "-t1000", "-q"}, 4},
};
// clang-format on
constexpr int GUI_SCENARIO = 6;
constexpr int PARENTS_SCENARIO = 7;
constexpr int FAMILIES_SCENARIO = 8;
constexpr int LAST_SCENARIO = 9;

// The settings of this run of the bench.
struct BenchOptions {
    int runs = 10;
    bool chosen[LAST_SCENARIO + 1] = {false, true, true, true, true, true, true, true, true, true};
    std::string directory; // made for this run, removed at the end
};
BenchOptions benchOptions;

/*** figures ***/

double Median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string FormatSeconds(double seconds) {
    char text[32];
    if (seconds < 0)
        return "-";
    if (seconds >= 100)
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    else if (seconds >= 1)
        std::snprintf(text, sizeof text, "%.2f s", seconds);
    else if (seconds >= 0.001)
        std::snprintf(text, sizeof text, "%.1f ms", seconds * 1e3);
    else
        std::snprintf(text, sizeof text, "%.0f us", seconds * 1e6);
    return text;
}

std::string FormatRatio(double ours, double theirs) {
    char text[32];
    if (ours < 0 || theirs <= 0)
        return "-";
    double ratio = ours / theirs;
    std::snprintf(text, sizeof text, ratio >= 100 ? "%.0fx" : "%.2fx", ratio);
    return text;
}

// The runs of one side of a row.
struct Side {
    std::vector<double> seconds, cpu, switches;
    int unexpected = 0;  // runs that ended otherwise than the hosts would have them
    std::string lastOdd; // what the last of those said
    void Add(const TimedRun& run, bool asExpected, const std::string& said) {
        if (run.probed && run.ended) {
            seconds.push_back(run.seconds);
            cpu.push_back(run.cpuSeconds);
            switches.push_back(static_cast<double>(run.switches));
        }
        if (!run.probed || !run.ended || !asExpected) {
            ++unexpected;
            lastOdd = !run.error.empty() ? run.error : said;
        }
    }
};

void PrintTableHead(const char* ours, const char* theirs) {
    std::printf("\n%-3s%-42s%-10s%11s%11s%9s |%11s%11s%9s |%9s%9s\n", "", "work", "engine", ours,
                theirs, "ratio", "CPU", "CPU", "ratio", "switches", "");
    std::printf("%-3s%-42s%-10s%11s%11s%9s |%11s%11s%9s |%9s%9s\n", "", "", "", "", "", "", ours,
                theirs, "", ours, theirs);
}

void PrintRow(int number, const char* work, const char* engine, const Side& ours,
              const Side& theirs, const char* oursName, const char* theirsName) {
    double cpuOurs = Median(ours.cpu), cpuTheirs = Median(theirs.cpu);
    std::printf(
        "%-3d%-42s%-10s%11s%11s%9s |%11s%11s%9s |%9.0f%9.0f\n", number, work, engine,
        FormatSeconds(Median(ours.seconds)).c_str(), FormatSeconds(Median(theirs.seconds)).c_str(),
        FormatRatio(Median(ours.seconds), Median(theirs.seconds)).c_str(),
        FormatSeconds(cpuOurs).c_str(), FormatSeconds(cpuTheirs).c_str(),
        FormatRatio(cpuOurs, cpuTheirs).c_str(), Median(ours.switches), Median(theirs.switches));
    const Side* sides[2] = {&ours, &theirs};
    const char* names[2] = {oursName, theirsName};
    for (int i = 0; i < 2; ++i)
        if (sides[i]->unexpected != 0)
            std::printf("   ! %s: %d of %d runs not as expected, the last: %s\n", names[i],
                        sides[i]->unexpected, benchOptions.runs, sides[i]->lastOdd.c_str());
    std::fflush(stdout);
}

/*** the headless rows ***/

// Where the silent hosts stand among HOSTS: spread evenly, the last host always one.
bool IsSilent(int index, int silent) {
    return (index + 1) * silent / HOSTS > index * silent / HOSTS;
}

bool ScenarioHosts(const Scenario& scenario, std::vector<std::string>* addresses) {
    std::string why;
    std::vector<std::string> silent, answering;
    if (scenario.silent > 0)
        silent = MakeHosts(HostBehaviour::SILENT, Family::IPV4, scenario.silent, &why);
    if (scenario.silent < HOSTS)
        answering = MakeHosts(scenario.delayed ? HostBehaviour::DELAYED : HostBehaviour::ANSWERING,
                              Family::IPV4, HOSTS - scenario.silent, &why, DELAY_MS);
    if (silent.size() + answering.size() != HOSTS) {
        std::fprintf(stderr, "bench_cycle: %s\n", why.c_str());
        return false;
    }
    std::size_t nextSilent = 0, nextAnswering = 0;
    for (int index = 0; index < HOSTS; ++index)
        addresses->push_back(IsSilent(index, scenario.silent) ? silent[nextSilent++]
                                                              : answering[nextAnswering++]);
    return true;
}

// The bench's map of `addresses` with `options`; false, told, when it cannot be written.
bool WriteScenarioMap(const std::vector<std::string>& addresses, const std::string& options) {
    if (WriteBenchMap(benchOptions.directory, addresses, options))
        return true;
    std::fprintf(stderr, "bench_cycle: cannot write the map in %s\n",
                 benchOptions.directory.c_str());
    return false;
}

std::string WaitOption(unsigned wait) {
    return "WAIT=" + std::to_string(wait) + "\r\n";
}

// What the kernel's part of an all-silent cycle costs by itself, beside the rows: the
// TCP engine's connects against the echo requests that fping and the ICMP engines send.
void PrintBareCalls(const std::vector<std::string>& addresses) {
    std::vector<double> connects, echoes;
    for (int run = 0; run < benchOptions.runs; ++run) {
        connects.push_back(BareConnectSeconds(addresses, CLOSED_PORT));
        echoes.push_back(BareEchoSeconds(addresses));
    }
    std::printf("   the system calls alone, in a bare loop of this bench over the same hosts: TCP "
                "connects %s, ICMP echo requests %s\n",
                FormatSeconds(Median(connects)).c_str(), FormatSeconds(Median(echoes)).c_str());
}

void RunScenario(const Scenario& scenario) {
    std::vector<std::string> addresses;
    if (!ScenarioHosts(scenario, &addresses))
        return;
    std::vector<std::string> fping{"fping"};
    fping.insert(fping.end(), scenario.fping.begin(), scenario.fping.end());
    fping.insert(fping.end(), addresses.begin(), addresses.end());
    int expected = HOSTS - scenario.silent;
    // One cycle checks the hosts one after the other at worst; fping gives up on its own.
    double oursLimit = (HOSTS * scenario.wait / 1000.0 * 1.5 + 120) * scenario.cycle;
    double fpingLimit = scenario.wait / 1000.0 * 4 + 60;
    for (int engine : scenario.engines) {
        if (!WriteScenarioMap(addresses, WaitOption(scenario.wait) + ENGINES[engine].options))
            return;
        Side ours, theirs;
        for (int run = 1; run <= benchOptions.runs; ++run) {
            TimedRun cycle = TimeHeadlessCycle(TARNMAP_BINARY, benchOptions.directory, oursLimit,
                                               scenario.cycle);
            ours.Add(cycle, AnsweringHosts(cycle.line) == expected, cycle.line);
            TimedRun peer = TimeTool(fping, benchOptions.directory, fpingLimit);
            bool fpingRight = WIFEXITED(peer.exitStatus) &&
                              WEXITSTATUS(peer.exitStatus) == (scenario.silent > 0 ? 1 : 0);
            theirs.Add(peer, fpingRight, "exit status " + std::to_string(peer.exitStatus));
            std::fprintf(stderr, "[%d %s, run %d of %d] tarnmap %s (start-up %s), fping %s\n",
                         scenario.number, ENGINES[engine].name, run, benchOptions.runs,
                         FormatSeconds(cycle.probed && cycle.ended ? cycle.seconds : -1).c_str(),
                         FormatSeconds(cycle.probed ? cycle.startupSeconds : -1).c_str(),
                         FormatSeconds(peer.probed && peer.ended ? peer.seconds : -1).c_str());
        }
        PrintRow(scenario.number, scenario.work, ENGINES[engine].name, ours, theirs, "tarnmap",
                 "fping");
    }
    if (scenario.silent == HOSTS &&
        std::find(scenario.engines.begin(), scenario.engines.end(), TCP) != scenario.engines.end())
        PrintBareCalls(addresses);
}

/*** parents ***/

// The same 200 answering hosts with and without parents, in turn: hosts 1 to 180 behind
// the last 20, so that each waits in the cycle for the router after it in the table.
void RunParentsScenario() {
    const Scenario scenario{PARENTS_SCENARIO, "", 0, false, 1000, {LIBRARY}, {}};
    std::vector<std::string> addresses;
    if (!ScenarioHosts(scenario, &addresses))
        return;
    std::string parents;
    for (int host = 1; host <= HOSTS - 20; ++host)
        parents += "[h" + std::to_string(host) + "]\r\nPARENT=h" +
                   std::to_string(HOSTS - host % 20) + "\r\n";
    const std::string settings = benchOptions.directory + "/bench.INI";
    double limit = HOSTS * scenario.wait / 1000.0 * 1.5 + 120;
    Side with, without;
    for (int run = 1; run <= benchOptions.runs; ++run) {
        for (Side* side : {&with, &without}) {
            std::FILE* file = std::fopen(settings.c_str(), "wb");
            bool written =
                file != nullptr && std::fputs(side == &with ? parents.c_str() : "", file) >= 0;
            if (file == nullptr || std::fclose(file) != 0 || !written) {
                std::fprintf(stderr, "bench_cycle: cannot write %s\n", settings.c_str());
                return;
            }
            if (!WriteScenarioMap(addresses, WaitOption(scenario.wait) + ENGINES[LIBRARY].options))
                return;
            TimedRun cycle = TimeHeadlessCycle(TARNMAP_BINARY, benchOptions.directory, limit);
            side->Add(cycle, AnsweringHosts(cycle.line) == HOSTS, cycle.line);
        }
        std::fprintf(stderr, "[%d, run %d of %d] parents %s, none %s\n", PARENTS_SCENARIO, run,
                     benchOptions.runs, FormatSeconds(Median(with.seconds)).c_str(),
                     FormatSeconds(Median(without.seconds)).c_str());
    }
    std::remove(settings.c_str());
    PrintTableHead("parents", "none");
    PrintRow(PARENTS_SCENARIO, "200 answering, 180 behind 20 routers", ENGINES[LIBRARY].name, with,
             without, "parents", "none");
}

/*** IPv6 beside IPv4 ***/

// The same cycle over 200 hosts the kernel answers, once at IPv6 addresses and once at
// IPv4 ones, in turn, on each engine.
void RunFamiliesScenario() {
    std::string why;
    std::vector<std::string> addresses[2] = {
        MakeHosts(HostBehaviour::ANSWERING, Family::IPV6, HOSTS, &why),
        MakeHosts(HostBehaviour::ANSWERING, Family::IPV4, HOSTS, &why)};
    if (addresses[0].size() != HOSTS || addresses[1].size() != HOSTS) {
        std::fprintf(stderr, "bench_cycle: %s\n", why.c_str());
        return;
    }
    PrintTableHead("IPv6", "IPv4");
    for (int engine : {LIBRARY, RAW, TCP}) {
        // TCP checks a port nothing listens on: a refused connect is an answer.
        std::string options = WaitOption(1000) + ENGINES[engine].options;
        Side sides[2];
        for (int run = 1; run <= benchOptions.runs; ++run) {
            for (int family = 0; family < 2; ++family) {
                if (!WriteScenarioMap(addresses[family], options))
                    return;
                TimedRun cycle = TimeHeadlessCycle(TARNMAP_BINARY, benchOptions.directory, 120);
                sides[family].Add(cycle, AnsweringHosts(cycle.line) == HOSTS, cycle.line);
            }
        }
        PrintRow(FAMILIES_SCENARIO, "200 hosts answering at once", ENGINES[engine].name, sides[0],
                 sides[1], "IPv6", "IPv4");
    }
    // The kernel's own share of the difference: fping over the same hosts without a pause
    // between requests, each family in turn.
    Side peers[2];
    for (int run = 1; run <= benchOptions.runs; ++run) {
        for (int family = 0; family < 2; ++family) {
            std::vector<std::string> fping{"fping", "-q", "-i0"};
            fping.insert(fping.end(), addresses[family].begin(), addresses[family].end());
            TimedRun peer = TimeTool(fping, benchOptions.directory, 60);
            peers[family].Add(peer, WIFEXITED(peer.exitStatus) && WEXITSTATUS(peer.exitStatus) == 0,
                              "exit status " + std::to_string(peer.exitStatus));
        }
    }
    PrintRow(FAMILIES_SCENARIO, "the same, fping -i0", "", peers[0], peers[1], "fping -6",
             "fping -4");
}

/*** the desktop program's cycle ***/

// The desktop program's start as far as its message loop, in this process, on the map in
// `directory`; the main window is offscreen. False when something is missing.
bool OpenDesktop(const std::string& directory) {
    if (chdir(directory.c_str()) != 0)
        return false;
    setenv("XDG_CONFIG_HOME", directory.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", directory.c_str(), 1);
    platform::UseOffscreenDisplay();
    static int argc = 1;
    static char name[] = "bench_cycle";
    static char* argv[] = {name, nullptr};
    platform::InitializeApplication(argc, argv);
    platform::AnswerUnaskedQuestions(true); // nothing may wait for a person
    RegisterResources();
    ConnectDesktopReports();
    ReadColors(colorTable);
    std::string map = directory + "/bench.db";
    if (!TakeCommandLineMap(map.c_str()) || !RegisterWindowClasses())
        return false;
    platform::HWND window = platform::CreateWindow(
        MAIN_CLASS, "Tarnmap", platform::WS_OVERLAPPEDWINDOW | platform::WS_CLIPCHILDREN, 1, 1, 640,
        400, 0, 0, nullptr);
    platform::WSADATA stack;
    if (window == 0 || hostCount != HOSTS ||
        platform::WSAStartup(platform::MAKEWORD(1, 1), &stack) != 0)
        return false;
    platform::ShowWindow(window, platform::SW_SHOW);
    platform::UpdateWindow(window);
    CopyField(stackVendorText, sizeof stackVendorText, stack.szDescription);
    AdaptProbeEngine(stackVendorText);
    return true;
}

double ProcessSeconds() {
    timespec used{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

double WallSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

long OwnSwitches() {
    rusage used{};
    getrusage(RUSAGE_SELF, &used);
    return used.ru_nvcsw + used.ru_nivcsw;
}

// Dispatches what is queued: the repaints a cycle asked for.
void DispatchQueued() {
    platform::MSG message;
    while (platform::PeekMessage(&message, 0, 0, 0, platform::PM_REMOVE)) {
        platform::TranslateMessage(&message);
        platform::DispatchMessage(&message);
    }
}

// One cycle of the main window over a map loaded afresh, so that every host changes
// colour: from the start of the cycle to its end with the repaints it asked for done.
TimedRun TimeDesktopCycle(const std::string& map) {
    platform::QueueFileDialogAnswer(map.c_str());
    platform::SendMessage(mainWindow, platform::WM_COMMAND, CMD_LOAD, 0);
    DispatchQueued();
    TimedRun run;
    double wall = WallSeconds(), processor = ProcessSeconds();
    long switches = OwnSwitches();
    RunPollCycle(mainWindow);
    platform::MSG message;
    while (pollState.inProgress != 0 && platform::GetMessage(&message, 0, 0, 0) > 0) {
        platform::TranslateMessage(&message);
        platform::DispatchMessage(&message);
    }
    DispatchQueued();
    run.seconds = WallSeconds() - wall;
    run.cpuSeconds = ProcessSeconds() - processor;
    run.switches = OwnSwitches() - switches;
    run.probed = true;
    run.ended = pollState.inProgress == 0;
    int answering = 0;
    for (int index = 0; index < hostCount; ++index)
        answering += hostTable[index].missed == 0 ? 1 : 0;
    run.line = std::to_string(answering) + " of " + std::to_string(hostCount) + " answering";
    return run;
}

void RunDesktopScenario() {
    std::string why;
    std::vector<std::string> addresses =
        MakeHosts(HostBehaviour::ANSWERING, Family::IPV4, HOSTS, &why);
    std::string desktop = benchOptions.directory + "/desktop";
    std::string headless = benchOptions.directory + "/headless";
    std::string settings = WaitOption(5000) + ENGINES[LIBRARY].options + "NOCHECK=1\r\n";
    if (addresses.empty() || mkdir(desktop.c_str(), 0700) != 0 ||
        mkdir(headless.c_str(), 0700) != 0 || !WriteBenchMap(desktop, addresses, settings) ||
        !WriteBenchMap(headless, addresses, settings) || !OpenDesktop(desktop)) {
        std::fprintf(stderr, "bench_cycle: cannot start the desktop program's window %s\n",
                     why.c_str());
        return;
    }
    Side gui, plain;
    std::string expected = std::to_string(HOSTS) + " of " + std::to_string(HOSTS) + " answering";
    for (int run = 1; run <= benchOptions.runs; ++run) {
        TimedRun cycle = TimeDesktopCycle(desktop + "/bench.db");
        gui.Add(cycle, cycle.line == expected, cycle.line);
        TimedRun line = TimeHeadlessCycle(TARNMAP_BINARY, headless, 600);
        plain.Add(line, AnsweringHosts(line.line) == HOSTS, line.line);
        std::fprintf(stderr, "[6, run %d of %d] desktop %s, headless %s\n", run, benchOptions.runs,
                     FormatSeconds(cycle.seconds).c_str(),
                     FormatSeconds(line.probed && line.ended ? line.seconds : -1).c_str());
    }
    PrintTableHead("desktop", "headless");
    PrintRow(GUI_SCENARIO, "200 hosts answering, each changes colour", ENGINES[LIBRARY].name, gui,
             plain, "desktop", "headless");
}

/*** the run ***/

void PrintUsage() {
    std::printf(
        "Usage: bench_cycle [--runs N] [--scenarios LIST]\n\n"
        "Times one poll cycle of tarnmap beside fping doing the same work, in network\n"
        "namespaces of its own (needs root), each run in turn, and prints the medians and\n"
        "their ratios. The scenarios (LIST: numbers joined by commas; all by default):\n"
        "  1  200 hosts, all silent, WAIT 5000: MSICMP=1 and PING=1 / fping -r0 -i1 -t5000\n"
        "  2  200 hosts, all silent, WAIT 1000: MSICMP=1 / fping -r0 -i1 -t1000\n"
        "  3  200 hosts, 10 of them silent, WAIT 5000: MSICMP=1, PING=1 and TCP to a closed\n"
        "     port / fping -r0 -i1 -t5000\n"
        "  4  200 hosts answering after 10 ms (a responder of this bench): MSICMP=1 /\n"
        "     fping -i1\n"
        "  5  processor time of the all-silent cycle at WAIT 1000 with PING=1 and TCP (the\n"
        "     MSICMP=1 figures are those of scenario 2), and the system calls of that work\n"
        "     alone, timed in a bare loop of this bench: TCP connects / ICMP echo requests\n"
        "  6  the desktop program's cycle (its main window, offscreen, in this process) /\n"
        "     the headless one, 200 answering hosts that each change colour\n"
        "  7  the headless cycle over 200 answering hosts, 180 of them behind 20 routers\n"
        "     that come last in the table / the same map without parents\n"
        "  8  the headless cycle over 200 hosts answering at IPv6 addresses / at IPv4\n"
        "     ones, on each engine (TCP: a refused connect answers), and fping -i0 over\n"
        "     both, as the kernel's share of the difference\n"
        "  9  scenario 5's work on every engine, timed over the 4th of four cycles run\n"
        "     back to back (the hosts are down by then): what each cycle of a running\n"
        "     monitor costs, without its first cycle's warming up / fping as in 5\n"
        "fping runs with -q. Where hosts are silent, one tarnmap cycle that checks them one\n"
        "at a time takes about hosts x WAIT: minutes per run.\n"
        "  --runs N          runs of each side per row (default 10)\n"
        "  --scenarios LIST  the scenarios to run\n");
}

bool ReadArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (std::strcmp(argv[i], "--runs") == 0) {
            benchOptions.runs = std::atoi(value);
            if (benchOptions.runs < 1 || benchOptions.runs > 1000)
                return false;
            ++i;
        } else if (std::strcmp(argv[i], "--scenarios") == 0) {
            std::fill(std::begin(benchOptions.chosen), std::end(benchOptions.chosen), false);
            for (const char* at = value; *at != '\0'; ++at) {
                if (*at < '1' || *at > '0' + LAST_SCENARIO || (at[1] != ',' && at[1] != '\0'))
                    return false;
                benchOptions.chosen[*at - '0'] = true;
                at += at[1] == ',' ? 1 : 0;
            }
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

// fping's name and version ("fping 5.1"); empty when it cannot be run.
std::string PeerVersion() {
    std::string version;
    if (std::FILE* pipe = popen("fping -v 2>/dev/null", "r")) {
        char line[128];
        const char* prefix = "fping: Version "; // as fping 5 says it
        if (std::fgets(line, sizeof line, pipe) != nullptr &&
            std::strncmp(line, prefix, std::strlen(prefix)) == 0)
            version = "fping " + std::string(line + std::strlen(prefix),
                                             std::strcspn(line + std::strlen(prefix), "\n"));
        pclose(pipe);
    }
    return version;
}

void PrintMethod(const std::string& version) {
    std::printf("Poll cycle of tarnmap beside %s: %d hosts, median of %d runs each, taken in "
                "turn.\n",
                version.c_str(), HOSTS, benchOptions.runs);
    std::printf(
        "tarnmap: %s\n"
        "  --headless --cycles 1, timed from its first probe on the wire to its \"cycle 1:\"\n"
        "  line; fping: from its first probe to its exit. The probe's time is the kernel's\n"
        "  stamp on a packet socket of the client namespace, so neither start-up counts.\n"
        "  Scenario 9: --cycles 4, timed from its \"cycle 3:\" line to its \"cycle 4:\" line.\n"
        "  CPU and switches: the child's threads over the same span (schedstat and context\n"
        "  switches in /proc at the first probe, and at the cycle line with the program\n"
        "  stopped; fping: its resource usage at exit).\n"
        "Hosts: 10.x (scenario 8: also fd00::) addresses behind a veth link; answering ones are "
        "answered by the kernel,\n"
        "  silent ones blackholed, delayed ones answered by this bench's responder.\n",
        TARNMAP_BINARY);
    if (benchOptions.chosen[GUI_SCENARIO])
        std::printf("Scenario 6: the desktop cycle from RunPollCycle to the cycle's end with "
                    "its repaints done, in\n  this process (CPU: this process); headless as "
                    "above.\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (!ReadArguments(argc, argv)) {
        PrintUsage();
        return 2;
    }
    std::string version = PeerVersion();
    if (version.empty()) {
        std::fprintf(stderr, "bench_cycle: fping does not run here (scripts/bootstrap installs "
                             "it)\n");
        return 1;
    }
    std::string why;
    if (!EnterClientNamespace(&why)) {
        std::fprintf(stderr, "bench_cycle: %s\n", why.c_str());
        return 1;
    }
    char made[] = "/tmp/tarnmap-bench-cycle-XXXXXX";
    if (mkdtemp(made) == nullptr) {
        std::fprintf(stderr, "bench_cycle: cannot make a directory in /tmp\n");
        return 1;
    }
    benchOptions.directory = made;
    PrintMethod(version);
    bool headed = false;
    for (const Scenario& scenario : SCENARIOS) {
        if (!benchOptions.chosen[scenario.number])
            continue;
        if (!headed)
            PrintTableHead("tarnmap", "fping");
        headed = true;
        RunScenario(scenario);
    }
    if (benchOptions.chosen[PARENTS_SCENARIO])
        RunParentsScenario();
    if (benchOptions.chosen[FAMILIES_SCENARIO])
        RunFamiliesScenario();
    // Last: it starts the toolkit in this process.
    if (benchOptions.chosen[GUI_SCENARIO])
        RunDesktopScenario();
    std::string cleanup = "rm -rf '" + benchOptions.directory + "'";
    // Ended as the program ends, without the static destructors: the toolkit started by the
    // desktop scenario is gone by the time the menu table would free its menus.
    platform::ExitProcess(std::system(cleanup.c_str()) == 0 ? 0 : 1);
}
