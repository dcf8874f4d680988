// The metrics as a scrape of the real endpoint on loopback shows them, while the alarms
// evaluate checks as the poll cycle hands them over: the host series, their counters, the
// cycles, what edits of the table leave, and the endpoint the settings files choose.
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/metrics.h"
#include "monitor/poll.h"
#include "support/http_get.h"
#include "support/tempdir.h"
#include "support/ui_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr unsigned TIMED_OUT = 11010;

std::vector<std::string> told; // what metricsReport was given

// The values of the series of `family` whose labels hold `labels`, in the order served.
std::vector<double> Values(const std::string& exposition, const std::string& family,
                           const std::string& labels = "") {
    std::vector<double> values;
    std::istringstream lines(exposition);
    for (std::string line; std::getline(lines, line);) {
        std::size_t space = line.rfind(' ');
        if (line.rfind(family, 0) != 0 || space == std::string::npos ||
            (line[family.size()] != '{' && line[family.size()] != ' ') ||
            line.substr(0, space).find(labels) == std::string::npos)
            continue;
        values.push_back(std::stod(line.substr(space + 1)));
    }
    return values;
}

using Samples = std::vector<double>;

// A map "net" in a fresh directory whose TARNMAP.INI and net.INI hold `options` and
// `mapOptions` in [OPTS], opened with the metrics they ask for; no hosts yet.
class MetricsMap {
  public:
    MetricsMap(const std::string& programOptions, const std::string& mapOptions = "") : dir_(true) {
        WriteWholeFile(dir_.file("TARNMAP.INI"), "[OPTS]\r\nSOUND=0\r\n" + programOptions);
        WriteWholeFile(dir_.file("net.INI"), "[OPTS]\r\n" + mapOptions);
        told.clear();
        metricsReport = [](const char* text) { told.push_back(text); };
        Open();
    }
    ~MetricsMap() {
        StopMetrics();
        metricsState.commandLine[0] = '\0';
        metricsReport = nullptr;
        ClearMap();
    }

    void Open() {
        ClearMap();
        CopyField(mapPath, sizeof mapPath, dir_.file("net.db").c_str());
        SelectMapFiles(mapPath);
        ApplyMetricsSettings();
    }

    int AddHost(const char* name, const char* address) {
        HostRecord& host = hostTable[hostCount];
        host = HostRecord{};
        std::snprintf(host.name, sizeof host.name, "%s", name);
        std::snprintf(host.address, sizeof host.address, "%s", address);
        ResetLoadedHost(host);
        host.kind = KIND_ROUTER;
        return hostCount++;
    }

    // One poll cycle over every monitored host: those in `failing` time out.
    void Cycle(const std::vector<int>& failing) {
        BeginAlarmCycle();
        for (int i = 0; i < hostCount; ++i) {
            if (!HostIsChecked(hostTable[i]))
                continue;
            bool fails = std::find(failing.begin(), failing.end(), i) != failing.end();
            hostTable[i].status = fails ? TIMED_OUT : 0;
            fails ? RecordFailure(i) : RecordReply(i);
        }
        FinishAlarmCycle();
    }

    std::string Scrape(unsigned port) const {
        HttpAnswer answer = HttpGet("127.0.0.1", port, "/metrics");
        EXPECT_EQ(answer.status, 200);
        return answer.body;
    }

    std::string Log() const { return ReadWholeFile(dir_.file("net.LOG")); }
    const TempDir& dir() const { return dir_; }

  private:
    TempDir dir_;
};

TEST(Metrics, HostSeriesFollowTheChecksAndTheCycles) {
    unsigned port = FreePort();
    MetricsMap map("METRICS=" + std::to_string(port) + "\r\n");
    int gateway = map.AddHost("gateway", "127.0.0.1");
    int silent = map.AddHost("silent", "10.0.0.9");
    int spare = map.AddHost("spare", "127.0.0.3");
    hostTable[spare].flags = HOST_NOT_MONITORED;
    map.AddHost("B\xfcro", "printer.example");     // Latin-1, as maps written on Windows hold it
    map.AddHost("B\xc3\xbcro", "printer.example"); // the same labels once served
    int behind = map.AddHost("behind", "10.0.1.9");
    hostTable[behind].parent = hostTable[silent].serial;
    std::string scrape = map.Scrape(port);
    EXPECT_EQ(Values(scrape, "tarnmap_host_up"), Samples{}) << "no host was checked yet";
    EXPECT_EQ(Values(scrape, "tarnmap_cycles_total", "map=\"net\""), Samples{0});
    EXPECT_EQ(Values(scrape, "tarnmap_last_cycle_timestamp_seconds"), Samples{});

    double start = static_cast<double>(std::time(nullptr));
    hostTable[gateway].rtt = 3;
    hostTable[gateway].rttTaken = 1;
    for (unsigned cycle = 0; cycle <= DOWN_THRESHOLD; ++cycle)
        map.Cycle({silent, behind});
    scrape = map.Scrape(port);
    const std::string silentLabels =
        "{map=\"net\",host=\"silent\",address=\"10.0.0.9\",kind=\"router\"}";
    for (const auto& [family, value] : std::vector<std::pair<std::string, double>>{
             {"tarnmap_host_up", 0},
             {"tarnmap_host_missed", 7}, // 2 as loaded, then 5 misses
             {"tarnmap_host_down", 1},
             {"tarnmap_host_unreachable", 0},
             {"tarnmap_host_status_code", TIMED_OUT},
             {"tarnmap_host_checks_total", 5},
             {"tarnmap_host_failures_total", 5},
             {"tarnmap_host_down_events_total", 1}})
        EXPECT_EQ(Values(scrape, family, silentLabels), Samples{value}) << family;
    for (const auto& [family, value] :
         std::vector<std::pair<std::string, double>>{{"tarnmap_host_unreachable", 1},
                                                     {"tarnmap_host_down", 0},
                                                     {"tarnmap_host_down_events_total", 0},
                                                     {"tarnmap_host_failures_total", 5}})
        EXPECT_EQ(Values(scrape, family, "behind"), Samples{value}) << family << " behind it";
    EXPECT_EQ(Values(scrape, "tarnmap_host_rtt_seconds", "silent"), Samples{}) << "unknown";
    EXPECT_EQ(Values(scrape, "tarnmap_host_rtt_seconds", "gateway"), Samples{0.003});
    EXPECT_EQ(Values(scrape, "tarnmap_host_up", "gateway"), Samples{1});
    EXPECT_EQ(Values(scrape, "tarnmap_host_failures_total", "gateway"), Samples{0});
    EXPECT_EQ(Values(scrape, "tarnmap_host_up", "spare"), Samples{}) << "not monitored";
    EXPECT_EQ(Values(scrape, "tarnmap_host_up", "host=\"B\xc3\xbcro\""), Samples{1})
        << "the name served as UTF-8, and one series of those labels";
    EXPECT_EQ(Values(scrape, "tarnmap_cycles_total"), Samples{5});
    EXPECT_EQ(Values(scrape, "tarnmap_cycle_duration_seconds_count"), Samples{5});
    EXPECT_EQ(Values(scrape, "tarnmap_cycle_duration_seconds_bucket", "le=\"+Inf\""), Samples{5});
    std::vector<double> ended = Values(scrape, "tarnmap_last_cycle_timestamp_seconds");
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_GE(ended[0], start - 1);
    EXPECT_LE(ended[0], static_cast<double>(std::time(nullptr)) + 1);

    // Up again: no longer down, the down event stays counted.
    map.Cycle({});
    scrape = map.Scrape(port);
    EXPECT_EQ(Values(scrape, "tarnmap_host_down", "silent"), Samples{0});
    EXPECT_EQ(Values(scrape, "tarnmap_host_up", "silent"), Samples{1});
    EXPECT_EQ(Values(scrape, "tarnmap_host_down_events_total", "silent"), Samples{1});
    EXPECT_EQ(Values(scrape, "tarnmap_host_unreachable", "behind"), Samples{0});
}

// Counters belong to a host, not to a place in the table; a host deleted, renamed or no
// longer monitored leaves no series behind, and two hosts with the same labels make one.
TEST(Metrics, EditsOfTheTableLeaveNoStaleSeries) {
    unsigned port = FreePort();
    MetricsMap map("METRICS=" + std::to_string(port) + "\r\n");
    map.AddHost("first", "127.0.0.1");
    int second = map.AddHost("second", "127.0.0.2");
    map.AddHost("third", "127.0.0.3");
    map.Cycle({second});

    DeleteHost(0);
    BeginAlarmCycle();
    RecordReply(1); // "third", now in the second place
    std::string scrape = map.Scrape(port);
    EXPECT_EQ(Values(scrape, "tarnmap_host_up", "first"), Samples{});
    EXPECT_EQ(Values(scrape, "tarnmap_host_failures_total", "second"), Samples{1});
    EXPECT_EQ(Values(scrape, "tarnmap_host_checks_total", "second"), Samples{1});
    EXPECT_EQ(Values(scrape, "tarnmap_host_checks_total", "third"), Samples{2});

    // Between cycles the series follow the table within a second (tested as ten).
    CopyField(hostTable[0].name, sizeof hostTable[0].name, "renamed");
    hostTable[1].flags = HOST_NOT_MONITORED;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Values(map.Scrape(port), "tarnmap_host_up").empty() &&
           std::chrono::steady_clock::now() < deadline) {
        PumpPendingMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(Values(map.Scrape(port), "tarnmap_host_up"), Samples{})
        << "neither the old name, nor the new one before a check, nor a host not monitored";

    hostTable[1].flags = 0;
    hostTable[hostCount++] = hostTable[1];
    map.Cycle({});
    scrape = map.Scrape(port);
    EXPECT_EQ(Values(scrape, "tarnmap_host_up", "third"), Samples{1}) << "one series, not two";
    EXPECT_EQ(Values(scrape, "tarnmap_host_checks_total", "renamed"), Samples{1});
}

// TARNMAP.INI may name any address, a map's settings only a loopback one; --metrics
// goes first; only /metrics is served; a port that cannot be served is told.
TEST(Metrics, TheSettingsChooseTheEndpoint) {
    unsigned port = FreePort();
    unsigned mapPort = FreePort("127.0.0.2");
    MetricsMap map("METRICS=" + std::to_string(port) + "\r\n",
                   "METRICS=0.0.0.0:" + std::to_string(mapPort) + "\r\n");
    const std::string refused = "METRICS=0.0.0.0:" + std::to_string(mapPort) +
                                " in the map's settings " + map.dir().file("net.INI") +
                                " is refused: a map may serve metrics only on a loopback "
                                "address (127.x.x.x).";
    EXPECT_EQ(told, std::vector<std::string>{" " + refused});
    EXPECT_TRUE(Holds(map.Log(), refused + "\r\n"));
    EXPECT_TRUE(Holds(map.Log(), "metrics served at http://127.0.0.1:" + std::to_string(port) +
                                     "/metrics\r\n"));
    EXPECT_EQ(HttpGet("127.0.0.1", port, "/metrics").status, 200);
    EXPECT_EQ(HttpGet("0.0.0.0", mapPort, "/metrics").status, 0);
    for (const char* other : {"/", "/metrics/", "/metrics/x", "/index.html"})
        EXPECT_EQ(HttpGet("127.0.0.1", port, other).status, 404) << other;

    WriteWholeFile(map.dir().file("net.INI"),
                   "[OPTS]\r\nMETRICS=127.0.0.2:" + std::to_string(mapPort) + "\r\n");
    map.Open();
    EXPECT_EQ(HttpGet("127.0.0.2", mapPort, "/metrics").status, 200) << "a loopback address";
    EXPECT_EQ(HttpGet("127.0.0.1", port, "/metrics").status, 0) << "moved, not doubled";

    ASSERT_TRUE(SetCommandLineMetrics(std::to_string(port).c_str()));
    WriteWholeFile(map.dir().file("TARNMAP.INI"), "[OPTS]\r\nMETRICS=[::1]:9100\r\n");
    told.clear();
    map.Open();
    EXPECT_EQ(HttpGet("127.0.0.1", port, "/metrics").status, 200) << "the command line first";
    EXPECT_EQ(told,
              std::vector<std::string>{" METRICS=[::1]:9100 in " + map.dir().file("TARNMAP.INI") +
                                       " is not ADDRESS:PORT or PORT (a dotted IPv4 "
                                       "address and a port from 1 to 65535); it is "
                                       "ignored."});
    metricsState.commandLine[0] = '\0';

    // An address that is not this machine's; the port in use is the headless test's.
    WriteWholeFile(map.dir().file("TARNMAP.INI"), "[OPTS]\r\nMETRICS=192.0.2.1:9100\r\n");
    WriteWholeFile(map.dir().file("net.INI"), "[OPTS]\r\n");
    told.clear();
    map.Open();
    EXPECT_EQ(told, std::vector<std::string>{" Metrics cannot be served on 192.0.2.1:9100: the "
                                             "address is not one of this machine's. "
                                             "Monitoring goes on without them."});
    EXPECT_EQ(HttpGet("127.0.0.2", mapPort, "/metrics").status, 0);
}

} // namespace
