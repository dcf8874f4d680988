// The real tarnmap program run as a child process: with its windows on the example map and
// headless, its cycle lines, its log, its exit status, its prompt end on a signal whatever
// waits, its metrics as a real Prometheus server reads them, and its answers to wrong
// command lines.
#include "model/hosts.h"
#include "support/http_get.h"
#include "support/netns.h"
#include "support/pty_modem.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iomanip>
#include <netinet/in.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Starts tarnmap with `arguments` in `dir`, its current directory and XDG_CONFIG_HOME.
pid_t StartTarnmap(const TempDir& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), TARNMAP_BINARY);
    return StartProgramIn(dir.path(), arguments, {"XDG_CONFIG_HOME=" + dir.path()});
}

// Waits (bounded) until `path` contains `text`.
bool WaitForText(const std::string& path, const std::string& text) {
    for (int i = 0; i < 600; ++i) {
        if (ReadWholeFile(path).find(text) != std::string::npos)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The local times at which the lines of `path` were stamped ("MM/DD/YY HH:MM:SS ...").
std::vector<std::time_t> CycleStamps(const std::string& path) {
    std::vector<std::time_t> stamps;
    std::istringstream text(ReadWholeFile(path));
    for (std::string line; std::getline(text, line);) {
        std::tm local{};
        std::istringstream stamp(line);
        stamp >> std::get_time(&local, "%m/%d/%y %H:%M:%S");
        local.tm_isdst = -1;
        if (!stamp.fail())
            stamps.push_back(std::mktime(&local));
    }
    return stamps;
}

// The program's own lines of its standard error (the toolkit's notes left out).
std::string OwnErrorLines(const std::string& directory) {
    std::string text = ReadWholeFile(directory + "/err.txt");
    std::string own;
    for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        if (text.compare(start, 9, "tarnmap: ") == 0)
            own += text.substr(start, end + 1 - start);
    return own;
}

// A map of `hosts` ("name,address" with the not-monitored flag when `flags` is 1), with
// probes through the ICMP library and a one-second wait unless `options` (TARNMAP.INI's
// [OPTS]) and `mapSettings` (the map's .INI) say otherwise.
void WriteMap(const TempDir& dir, const std::vector<std::pair<std::string, int>>& hosts,
              unsigned timer, const std::string& options = "PING=0\r\nMSICMP=1\r\n",
              const std::string& mapSettings = "[OPTS]\r\nWAIT=1000\r\n") {
    std::string map = "Bheadless test map\r\nV1\r\n";
    int column = 1;
    for (const auto& [host, flags] : hosts) {
        map += "H" + host + ",,," + std::to_string(column) + ",1," + std::to_string(flags) +
               ",1,1\r\n";
        column += 3;
    }
    WriteWholeFile(dir.file("net.db"), map);
    WriteWholeFile(dir.file("net.INI"),
                   mapSettings + "NOCHECK=1\r\nSOUND=1\r\nTIMER=" + std::to_string(timer) + "\r\n");
    WriteWholeFile(dir.file("TARNMAP.INI"), "[OPTS]\r\n" + options);
}

// Sends SIGTERM to `child`, which must exit with status 0 within 2 s (tested as 20 s).
void ExpectPromptEndOnSignal(pid_t child, const char* during) {
    auto start = std::chrono::steady_clock::now();
    kill(child, SIGTERM);
    EXPECT_EQ(WaitForExit(child, 60), 0);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("headless run ended %.2f s after SIGTERM during %s\n", seconds, during);
    EXPECT_LT(seconds, 20);
}

// Whatever waits when the signal comes ends at once: the check of a silent host at the
// longest WAIT there is (the file's 4294967295 held to 60 s) through either ICMP engine, and
// a page to a modem that never answers. The cut check counts as nothing and the cycle goes
// no further; a page due or under way is logged as cancelled.
TEST(Headless, ATerminationSignalCutsTheCheckOrPageThatWaits) {
    SKIP_WITHOUT_NAMESPACES();
    NetworkNamespace network("silent"); // whose loopback answers no echo
    ASSERT_TRUE(network.SetSysctl("net.ipv4.icmp_echo_ignore_all", "1") &&
                network.SetSysctl("net.ipv4.ping_group_range", "0 2147483647"));
    auto start = [&](const TempDir& dir) {
        EnteredNamespace inside(network);
        EXPECT_TRUE(inside.ok());
        return StartTarnmap(dir, {"--headless", "net.db"});
    };
    // "gone" has no route: it fails at once and queues a page (its third miss in a row),
    // sent at the end of the cycle if the signal has not come by then.
    const std::string pagedHost = "[gone]\r\nBEEPER=1\r\nBEEP_COUNT=2\r\nBEEP_NUMBER=555\r\n"
                                  "BEEP_CODE=7\r\nBEEP_PRIORITY=1\r\n";
    PtyModem modem;
    ASSERT_FALSE(modem.device().empty());
    modem.AnswerInBackground("");
    const struct {
        const char* engine;
        bool silentHosts; // else the modem's wait is what the signal cuts
        std::string device;
        const char* cycle;
    } runs[] = {
        {"PING=0\r\nMSICMP=1\r\n", true, "/nonexistent/modem", "1 checked, 0 answering, 3 missing"},
        {"PING=1\r\nMSICMP=0\r\n", true, "/nonexistent/modem", "1 checked, 0 answering, 3 missing"},
        {"PING=0\r\nMSICMP=1\r\n", false, modem.device(), "1 checked, 0 answering, 1 missing"}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.engine + run.device);
        TempDir dir;
        std::vector<std::pair<std::string, int>> hosts{{"gone,10.9.9.9", 0}};
        if (run.silentHosts)
            hosts.insert(hosts.end(), {{"silent,127.0.0.1", 0}, {"next,127.0.0.1", 0}});
        WriteMap(dir, hosts, 3600,
                 run.engine + ("BEEP_ENABLE=1\r\nBEEP_DEVICE=" + run.device + "\r\n"),
                 pagedHost + "[OPTS]\r\nWAIT=4294967295\r\n");
        pid_t child = start(dir);
        ASSERT_GT(child, 0);
        if (run.silentHosts) {
            ASSERT_TRUE(WaitForText(dir.file("net.LOG"), "open of database"));
            std::this_thread::sleep_for(std::chrono::milliseconds(500)); // into the silent check
        } else {
            ASSERT_EQ(modem.Received(), "ATDT555,,,,,0007#\r")
                << ReadWholeFile(dir.file("err.txt"));
        }
        ExpectPromptEndOnSignal(child, run.silentHosts ? "a check" : "a page");
        // The page is dialled as the cycle ends and its answer awaited after it: the signal
        // cuts the page, not the cycle.
        EXPECT_EQ(StampedLines(dir.file("out.txt"), "\n"),
                  std::vector<std::string>{"cycle 1: " + std::string(run.cycle) +
                                           ", 0 down, 0 not monitored" +
                                           (run.silentHosts ? "; stopped" : "")});
        EXPECT_EQ(StampedLines(dir.file("net.LOG"), "\r\n"),
                  (std::vector<std::string>{"open of database net.db",
                                            "beeper message 0007 to 555 cancelled"}));
    }
}

// The path of `name` on PATH, "" when it is not there.
std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "");
    for (std::string directory; std::getline(directories, directory, ':');)
        if (access((directory + "/" + name).c_str(), X_OK) == 0)
            return directory + "/" + name;
    return "";
}

// A child that is ended, if it still runs, however the test leaves.
struct ChildGuard {
    pid_t child;
    ~ChildGuard() {
        if (child > 0 && kill(child, SIGKILL) == 0)
            WaitForExit(child, 20);
    }
};

// The value of the one series a Prometheus query at 127.0.0.1:9090 finds; NaN for none.
double QueryPrometheus(const std::string& query) {
    std::string target = "/api/v1/query?query=";
    for (unsigned char c : query)
        target += std::isalnum(c) || c == '_'
                      ? std::string(1, static_cast<char>(c))
                      : "%" + std::string{"0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
    std::smatch value;
    std::string body = HttpGet("127.0.0.1", 9090, target).body;
    if (!std::regex_search(body, value, std::regex(R"re("value":\[[0-9.e+]+,"([^"]+)"\])re")))
        return std::nan("");
    return std::stod(value[1]);
}

// A Prometheus server scrapes headless Tarnmap every second, in a namespace where the
// loopback answers and a peer namespace's address is silent: both hosts are seen, the
// silent one as down once declared so. What is served passes promtool's checks, and the
// server threads do not hold up the end.
TEST(Headless, PrometheusReadsItsMetrics) {
    SKIP_WITHOUT_NAMESPACES();
    const std::string prometheus = FindProgram("prometheus");
    if (prometheus.empty() || FindProgram("promtool").empty())
        GTEST_SKIP() << "prometheus and promtool are not installed (Debian package prometheus)";
    NetworkNamespace monitor("metrics"), silent("silent");
    ASSERT_TRUE(ConnectNamespaces(monitor, "m0", "10.77.0.1/24", silent, "s0", "10.77.0.2/24"));
    ASSERT_TRUE(silent.SetSysctl("net.ipv4.icmp_echo_ignore_all", "1"));
    TempDir dir, server;
    WriteMap(dir, {{"answering,127.0.0.1", 0}, {"silent,10.77.0.2", 0}}, 1,
             "PING=0\r\nMSICMP=1\r\nMETRICS=9100\r\n");
    WriteWholeFile(server.file("prometheus.yml"), "global:\n"
                                                  "  scrape_interval: 1s\n"
                                                  "scrape_configs:\n"
                                                  "  - job_name: tarnmap\n"
                                                  "    static_configs:\n"
                                                  "      - targets: ['127.0.0.1:9100']\n");
    EnteredNamespace inside(monitor);
    ASSERT_TRUE(inside.ok());
    ChildGuard tarnmap{StartTarnmap(dir, {"--headless", "net.db"})};
    ChildGuard scraper{StartProgramIn(server.path(), {prometheus, "--config.file=prometheus.yml",
                                                      "--storage.tsdb.path=" + server.file("data"),
                                                      "--web.listen-address=127.0.0.1:9090"})};
    ASSERT_GT(tarnmap.child, 0);
    ASSERT_GT(scraper.child, 0);

    // Loaded hosts count two misses already: the silent one is down after its third, some
    // 6 s in; the wait is bounded well beyond that and Prometheus's start.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (QueryPrometheus("tarnmap_host_down{host=\"silent\"}") != 1 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_EQ(QueryPrometheus("tarnmap_host_down{host=\"silent\"}"), 1)
        << ReadWholeFile(dir.file("out.txt")) << ReadWholeFile(server.file("err.txt"));
    EXPECT_EQ(QueryPrometheus("tarnmap_host_up{host=\"silent\",address=\"10.77.0.2\"}"), 0);
    EXPECT_EQ(QueryPrometheus("tarnmap_host_up{host=\"answering\",map=\"net\"}"), 1);
    EXPECT_EQ(QueryPrometheus("tarnmap_host_down{host=\"answering\"}"), 0);

    HttpAnswer served = HttpGet("127.0.0.1", 9100, "/metrics");
    ASSERT_EQ(served.status, 200);
    WriteWholeFile(dir.file("metrics.txt"), served.body);
    EXPECT_TRUE(RunProgram({"sh", "-c", "promtool check metrics < " + dir.file("metrics.txt")}))
        << served.body;

    ExpectPromptEndOnSignal(tarnmap.child, "a run serving metrics");
    tarnmap.child = -1;
}

// A port in use and a map's settings that ask for an address beyond loopback are told,
// on standard error and in the log, and the cycles go on without metrics.
TEST(Headless, MetricsThatCannotBeServedAreToldAndTheCyclesGoOn) {
    TempDir dir;
    int taken = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(taken, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(taken, 1), 0);
    ASSERT_EQ(getsockname(taken, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const std::string port = std::to_string(ntohs(address.sin_port));
    WriteMap(dir, {{"loopback,127.0.0.1", 0}}, 1, "PING=0\r\nMSICMP=1\r\nMETRICS=" + port + "\r\n",
             "[OPTS]\r\nWAIT=1000\r\nMETRICS=0.0.0.0:9100\r\n");
    pid_t child = StartTarnmap(dir, {"--headless", "--cycles", "2", "net.db"});
    ASSERT_EQ(WaitForExit(child, 60), 0);
    close(taken);
    const std::string refused = "METRICS=0.0.0.0:9100 in the map's settings " +
                                dir.file("net.INI") +
                                " is refused: a map may serve metrics only on a loopback "
                                "address (127.x.x.x).";
    const std::string inUse = "Metrics cannot be served on 127.0.0.1:" + port +
                              ": the port is in use. Monitoring goes on without them.";
    EXPECT_EQ(OwnErrorLines(dir.path()), "tarnmap: " + refused + "\ntarnmap: " + inUse + "\n");
    EXPECT_EQ(StampedLines(dir.file("net.LOG"), "\r\n"),
              (std::vector<std::string>{"open of database net.db", refused, inUse}));
    EXPECT_EQ(StampedLines(dir.file("out.txt"), "\n").size(), 2u);
}

TEST(Headless, SettingsAndLogFilesThatAreFifosAreRefusedWithoutWaiting) {
    TempDir dir;
    WriteMap(dir, {{"loopback,127.0.0.1", 0}}, 3600);
    std::filesystem::create_directory(dir.file("tarnmap"));
    std::remove(dir.file("TARNMAP.INI").c_str());
    std::remove(dir.file("net.INI").c_str());
    std::vector<std::string> fifos{dir.file("tarnmap/TARNMAP.INI"), dir.file("net.INI"),
                                   dir.file("net.LOG")};
    for (const std::string& fifo : fifos)
        ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    pid_t child = StartTarnmap(dir, {"--headless", "--cycles", "1", "net.db"});
    ASSERT_GT(child, 0);
    EXPECT_EQ(WaitForExit(child, 60), 0);
    std::string errors = ReadWholeFile(dir.file("err.txt"));
    for (const std::string& settings : {fifos[0], fifos[1]}) {
        std::string told = "tarnmap: The settings file " + settings +
                           " is not a regular file: it is neither read nor written, and its "
                           "settings are the defaults.\n";
        EXPECT_TRUE(Holds(errors, told));
        EXPECT_EQ(errors.find(told), errors.rfind(told)) << "told once";
    }
    EXPECT_TRUE(
        Holds(errors, "tarnmap: The log " + fifos[2] +
                          " cannot be written (not a regular file); its lines are lost.\n"));
    EXPECT_EQ(StampedLines(dir.file("out.txt"), "\n").size(), 1u);
}

TEST(Headless, AnInterruptWhileWaitingForTheNextCycleEndsIt) {
    TempDir dir;
    WriteMap(dir, {{"loopback,127.0.0.1", 0}, {"spare,127.0.0.2", 1}}, 3600);
    pid_t child = StartTarnmap(dir, {"--headless", "net.db"});
    ASSERT_GT(child, 0);
    ASSERT_TRUE(WaitForText(dir.file("out.txt"), "\n")) << ReadWholeFile(dir.file("err.txt"));
    kill(child, SIGINT);
    EXPECT_EQ(WaitForExit(child, 60), 0);
    EXPECT_EQ(StampedLines(dir.file("out.txt"), "\n"),
              std::vector<std::string>{
                  "cycle 1: 1 checked, 1 answering, 0 missing, 0 down, 1 not monitored"});
    EXPECT_EQ(StampedLines(dir.file("net.LOG"), "\r\n"),
              std::vector<std::string>{"open of database net.db"});
    EXPECT_EQ(OwnErrorLines(dir.path()), "") << "nothing the user need not know";

    // TIMER is in seconds: with 1 the cycles follow each other a second apart. The host's
    // address is one no echo may be sent to, so each check fails at once: the host is
    // missing at its third and fourth miss, down at the fifth; the host behind it is then
    // unreachable, neither missing nor down.
    std::remove(dir.file("out.txt").c_str());
    WriteMap(dir, {{"broadcast,255.255.255.255", 0}, {"behind,255.255.255.255", 0}}, 1,
             "PING=0\r\nMSICMP=1\r\n", "[behind]\r\nPARENT=broadcast\r\n[OPTS]\r\nWAIT=1000\r\n");
    child = StartTarnmap(dir, {"--headless", "net.db"});
    ASSERT_GT(child, 0);
    ASSERT_TRUE(WaitForText(dir.file("out.txt"), "cycle 3:")) << ReadWholeFile(dir.file("err.txt"));
    kill(child, SIGINT);
    EXPECT_EQ(WaitForExit(child, 60), 0);
    std::vector<std::string> lines = StampedLines(dir.file("out.txt"), "\n");
    ASSERT_GE(lines.size(), 3u);
    lines.resize(3);
    const std::string counts = ": 2 checked, 0 answering, ";
    EXPECT_EQ(lines,
              (std::vector<std::string>{"cycle 1" + counts + "2 missing, 0 down, 0 not monitored",
                                        "cycle 2" + counts + "2 missing, 0 down, 0 not monitored",
                                        "cycle 3" + counts +
                                            "0 missing, 1 down, 0 not monitored, 1 unreachable; "
                                            "went down: broadcast [255.255.255.255]; went "
                                            "unreachable: behind [255.255.255.255]"}));
    std::vector<std::time_t> stamps = CycleStamps(dir.file("out.txt"));
    for (std::size_t i = 1; i < stamps.size(); ++i)
        EXPECT_GE(stamps[i] - stamps[i - 1], 1) << "cycle " << i + 1 << " came too soon";
}

// Hosts beyond the table, and a map whose settings and log paths would be too long (a bare
// name in a deep directory): both said on standard error.
TEST(Headless, WhatIsLeftOutIsSaid) {
    TempDir dir;
    const std::string deep = dir.path() + "/" + std::string(250 - dir.path().size(), 'd');
    std::filesystem::create_directories(deep);
    std::string map = "V1\r\n";
    for (int i = 0; i < MAX_HOSTS + 1; ++i)
        map += "Hh" + std::to_string(i) + ",127.0.0.1,,,1,1,1,1,0\r\n";
    WriteWholeFile(deep + "/net.db", map);
    pid_t child = StartProgramIn(deep, {TARNMAP_BINARY, "--headless", "--cycles", "1", "net.db"},
                                 {"XDG_CONFIG_HOME=" + dir.path()});
    ASSERT_EQ(WaitForExit(child, 60), 0);
    EXPECT_EQ(OwnErrorLines(deep),
              "tarnmap: The map's settings and log are not kept: the path " + deep +
                  "/net.INI is longer than 255 characters.\n"
                  "tarnmap: 1 host and 0 line records of net.db were not loaded: a map holds at "
                  "most 200 hosts and 500 lines.\n");
}

TEST(Program, StartsOnTheExampleMapAndEndsCleanlyOnTermination) {
    TempDir dir;
    for (const char* name : {"office.db", "office.INI"})
        WriteWholeFile(dir.file(name),
                       ReadWholeFile(std::string(TARNMAP_SOURCE_DIR) + "/examples/" + name));
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        pid_t child = StartTarnmap(dir, {"office.db"});
        ASSERT_GT(child, 0);
        ASSERT_TRUE(WaitForText(dir.file("office.LOG"), "open of database office.db"))
            << ReadWholeFile(dir.file("err.txt"));
        kill(child, signal);
        EXPECT_EQ(WaitForExit(child, 20), 0);
        std::remove(dir.file("office.LOG").c_str());
    }
}

// The usage (--help) is the install test's, with the data directory it names.
TEST(Program, UsageAndErrorsAreClear) {
    TempDir dir;
    pid_t child = 0;
    for (std::vector<std::string> wrong : {std::vector<std::string>{"--bogus"},
                                           {"--headless", "--cycles", "0", "net.db"},
                                           {"--headless", "--metrics", "[::1]:9100", "net.db"},
                                           {"--cycles", "2", "net.db"}}) {
        SCOPED_TRACE(wrong[0]);
        child = StartTarnmap(dir, wrong);
        ASSERT_EQ(WaitForExit(child, 60), 2 << 8);
        EXPECT_TRUE(Holds(ReadWholeFile(dir.file("err.txt")), "tarnmap: "));
    }
    EXPECT_TRUE(Holds(ReadWholeFile(dir.file("err.txt")), "--cycles goes with --headless"));

    // Nothing but the program's own words, also from cron, which sets no XDG_RUNTIME_DIR.
    child =
        StartProgramIn(dir.path(), {TARNMAP_BINARY, "--headless", "--cycles", "1", "missing.db"},
                       {"XDG_CONFIG_HOME=" + dir.path(), "XDG_RUNTIME_DIR="});
    ASSERT_EQ(WaitForExit(child, 60), 1 << 8);
    EXPECT_EQ(ReadWholeFile(dir.file("err.txt")), "tarnmap: cannot open the map missing.db\n");
    EXPECT_EQ(ReadWholeFile(dir.file("out.txt")), "");
    // A map that is there but not read leaves nothing to monitor: an error, not a run.
    WriteWholeFile(dir.file("newer.db"), "V2\r\nHh,127.0.0.1,,,1,1,0,1,0\r\n");
    child = StartTarnmap(dir, {"--headless", "--cycles", "1", "newer.db"});
    ASSERT_EQ(WaitForExit(child, 60), 1 << 8);
    EXPECT_EQ(ReadWholeFile(dir.file("out.txt")), "");
    EXPECT_FALSE(std::filesystem::exists(dir.file("untitled.LOG"))) << "a map never monitored";
    // A map the system does not let us open is told with the reason.
    std::filesystem::create_symlink("loop.db", dir.file("loop.db"));
    child = StartTarnmap(dir, {"--headless", "--cycles", "1", "loop.db"});
    ASSERT_EQ(WaitForExit(child, 60), 1 << 8);
    EXPECT_TRUE(
        Holds(ReadWholeFile(dir.file("err.txt")), "loop.db cannot be read: Too many levels"));
    // So does a file without a host: another file named by mistake.
    WriteWholeFile(dir.file("notes.db"), "SOUND=1\r\n");
    child = StartTarnmap(dir, {"--headless", "--cycles", "1", "notes.db"});
    ASSERT_EQ(WaitForExit(child, 60), 1 << 8);
    EXPECT_TRUE(Holds(ReadWholeFile(dir.file("err.txt")), "notes.db holds no hosts"));

    // A map path longer than a map path can hold is refused with a message, not cut.
    child = StartTarnmap(dir, {std::string(200, 'm') + ".db"});
    EXPECT_TRUE(WaitForText(dir.file("err.txt"), "tarnmap: The map path is longer than " +
                                                     std::to_string(MAP_PATH_LENGTH) +
                                                     " characters and cannot be opened.\n"));
    kill(child, SIGTERM);
    WaitForExit(child, 20);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().filename().string().rfind("mmm", 0), 0u) << entry.path();
}

} // namespace
