// The monitor's metrics: which endpoint the settings ask for, the meters of the hosts
// (matched to the host table by their labels, so an edit never hands one host's counters
// to another), and the rows published to the endpoint: row i for host i, the last row for
// the cycles. Nothing is kept or counted while no endpoint is served.
#include "monitor/metrics.h"

#include "icmp/sockerr.h"
#include "model/settings.h"
#include "monitor/log.h"
#include "platform/metrics.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "platform/winsock.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace platform;

/*** globals ***/

MetricsState metricsState = {};
void (*metricsReport)(const char* text) = nullptr;

// The families in the order they are served; each row fills those that are its own. A
// new host series is an entry here and a value in FillHostRow.
enum MetricFamilyIndex : unsigned {
    HOST_UP,
    HOST_MISSED,
    HOST_DOWN,
    HOST_UNREACHABLE,
    HOST_RTT,
    HOST_STATUS,
    HOST_CHECKS,
    HOST_FAILURES,
    HOST_DOWN_EVENTS,
    CYCLE_DURATION,
    CYCLES,
    LAST_CYCLE,
    METRIC_FAMILY_COUNT
};

static const MetricFamilyInfo metricFamilies[METRIC_FAMILY_COUNT] = {
    {"tarnmap_host_up", "1 when the host answered its last check, 0 when it missed it.",
     MetricType::Gauge},
    {"tarnmap_host_missed", "Checks the host has missed in a row.", MetricType::Gauge},
    {"tarnmap_host_down", "1 while the host is declared down.", MetricType::Gauge},
    {"tarnmap_host_unreachable", "1 while the host fails behind a host that is down.",
     MetricType::Gauge},
    {"tarnmap_host_rtt_seconds", "Round-trip time of the host's last echo reply.",
     MetricType::Gauge},
    {"tarnmap_host_status_code", "Status code of the host's last check; 0 is a reply.",
     MetricType::Gauge},
    {"tarnmap_host_checks_total", "Checks of the host since its map was opened.",
     MetricType::Counter},
    {"tarnmap_host_failures_total", "Checks the host missed since its map was opened.",
     MetricType::Counter},
    {"tarnmap_host_down_events_total", "Times the host was declared down.", MetricType::Counter},
    {"tarnmap_cycle_duration_seconds", "Time a poll cycle takes to check every host.",
     MetricType::Histogram},
    {"tarnmap_cycles_total", "Poll cycles ended since the map was opened.", MetricType::Counter},
    {"tarnmap_last_cycle_timestamp_seconds", "When the last poll cycle ended, in Unix time.",
     MetricType::Gauge},
};

static const double cycleBounds[CYCLE_BUCKETS] = {0.05, 0.1, 0.25, 0.5, 1,   2.5,
                                                  5,    10,  30,   60,  120, 300};

enum MetricLabelIndex : unsigned { LABEL_MAP, LABEL_HOST, LABEL_ADDRESS, LABEL_KIND };

static const unsigned CYCLE_ROW = MAX_HOSTS;

static const MetricsLayout metricsLayout = {
    metricFamilies, METRIC_FAMILY_COUNT, {"map", "host", "address", "kind"},
    cycleBounds,    CYCLE_BUCKETS,       CYCLE_ROW + 1};

/*** the endpoint ***/

// One dotted part: 1 to 3 digits, at most 255.
static const char* ParseAddressPart(const char* text, unsigned* part) {
    unsigned value = 0;
    int digits = 0;
    while (text[digits] >= '0' && text[digits] <= '9' && digits < 4)
        value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
    if (digits == 0 || digits > 3 || value > 255)
        return nullptr;
    *part = value;
    return text + digits;
}

// 1 to 65535 in at most five digits, and nothing after it.
static bool ParsePort(const char* text, unsigned* port) {
    unsigned value = 0;
    int digits = 0;
    while (text[digits] >= '0' && text[digits] <= '9' && digits < 6)
        value = value * 10 + static_cast<unsigned>(text[digits++] - '0');
    if (digits == 0 || digits > 5 || text[digits] != '\0' || value == 0 || value > 65535)
        return false;
    *port = value;
    return true;
}

bool ParseMetricsEndpoint(const char* text, char* endpoint, bool* loopback) {
    unsigned parts[4] = {127, 0, 0, 1};
    unsigned port = 0;
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr) {
        if (!ParsePort(text, &port))
            return false;
    } else {
        const char* cursor = text;
        for (unsigned i = 0; i < 4; ++i) {
            cursor = ParseAddressPart(cursor, &parts[i]);
            if (cursor == nullptr || *cursor != (i < 3 ? '.' : ':'))
                return false;
            ++cursor;
        }
        if (!ParsePort(cursor, &port))
            return false;
    }
    std::snprintf(endpoint, METRICS_ENDPOINT_LENGTH + 1, "%u.%u.%u.%u:%u", parts[0], parts[1],
                  parts[2], parts[3], port);
    *loopback = parts[0] == 127;
    return true;
}

bool SetCommandLineMetrics(const char* text) {
    bool loopback = false;
    return ParseMetricsEndpoint(text, metricsState.commandLine, &loopback);
}

// In the log, and in the status bar or on standard error.
static void TellMetrics(const char* text) {
    LogLine(text);
    if (metricsReport != nullptr) {
        char shown[LOG_MESSAGE_LENGTH + 2];
        std::snprintf(shown, sizeof shown, " %s", text);
        metricsReport(shown);
    }
}

// METRICS of `file` into `endpoint` when it is set there and allowed; `endpoint` stays
// as it was otherwise. A map's settings may only name a loopback address: a map received
// from elsewhere must not open a port to the network.
static void ReadEndpointSetting(const char* file, bool loopbackOnly, char* endpoint) {
    if (file[0] == '\0')
        return;
    char value[64];
    GetPrivateProfileString(OPTIONS_SECTION, "METRICS", "", value, sizeof value, file);
    if (value[0] == '\0')
        return;
    char parsed[METRICS_ENDPOINT_LENGTH + 1];
    bool loopback = false;
    char text[LOG_MESSAGE_LENGTH + 1];
    if (!ParseMetricsEndpoint(value, parsed, &loopback)) {
        std::snprintf(text, sizeof text,
                      "METRICS=%s in %s is not ADDRESS:PORT or PORT (a dotted IPv4 address and "
                      "a port from 1 to 65535); it is ignored.",
                      value, file);
        TellMetrics(text);
        return;
    }
    if (loopbackOnly && !loopback) {
        std::snprintf(text, sizeof text,
                      "METRICS=%s in the map's settings %s is refused: a map may serve metrics "
                      "only on a loopback address (127.x.x.x).",
                      value, file);
        TellMetrics(text);
        return;
    }
    std::snprintf(endpoint, METRICS_ENDPOINT_LENGTH + 1, "%s", parsed);
}

static const char* BindFailureText(int error) {
    switch (error) {
    case WSAEADDRINUSE:
        return "the port is in use";
    case WSAEADDRNOTAVAIL:
        return "the address is not one of this machine's";
    case WSAEACCES:
        return "permission denied";
    default:
        return SocketErrorText(static_cast<unsigned>(error));
    }
}

// The map label: the map file's name without its directory and extension, as the title
// shows it.
static void SettleMapName() {
    const char* name = std::strrchr(mapPath, '/');
    name = name != nullptr ? name + 1 : mapPath;
    const char* dot = std::strrchr(name, '.');
    int length = static_cast<int>(dot != nullptr ? dot - name : std::strlen(name));
    std::snprintf(metricsState.mapName, sizeof metricsState.mapName, "%.*s", length, name);
}

static void PublishHostRow(int index);
static void PublishCycleRow();

static bool Serving() {
    return metricsState.endpoint[0] != '\0';
}

// No meter, no cycle: the series of a map just opened.
static void ResetMeters() {
    metricsState.hostCount = 0;
    metricsState.cycleStart = -1;
    metricsState.cycles = 0;
    std::memset(metricsState.cycleBuckets, 0, sizeof metricsState.cycleBuckets);
    metricsState.cycleSeconds = 0;
    metricsState.lastCycleEnd = 0;
}

static void StartEndpoint(const char* endpoint) {
    char address[METRICS_ENDPOINT_LENGTH + 1];
    std::snprintf(address, sizeof address, "%s", endpoint);
    char* colon = std::strchr(address, ':');
    unsigned port = static_cast<unsigned>(std::strtoul(colon + 1, nullptr, 10));
    *colon = '\0';
    int error = StartMetricsServer(address, port, metricsLayout, RefreshMetrics);
    char text[LOG_MESSAGE_LENGTH + 1];
    if (error != 0) {
        std::snprintf(text, sizeof text,
                      "Metrics cannot be served on %s: %s. Monitoring goes on without them.",
                      endpoint, BindFailureText(error));
        TellMetrics(text);
        return;
    }
    std::snprintf(metricsState.endpoint, sizeof metricsState.endpoint, "%s", endpoint);
    LogPrintf("metrics served at http://%s/metrics", endpoint);
}

void ApplyMetricsSettings() {
    char wanted[METRICS_ENDPOINT_LENGTH + 1] = "";
    ReadEndpointSetting(settingsFiles.global, false, wanted);
    // A map whose settings file is TARNMAP.INI itself has no settings of its own.
    if (!SameFile(settingsFiles.mapSettings, settingsFiles.global))
        ReadEndpointSetting(settingsFiles.mapSettings, true, wanted);
    if (metricsState.commandLine[0] != '\0')
        std::snprintf(wanted, sizeof wanted, "%s", metricsState.commandLine);

    SettleMapName();
    ResetMeters();
    if (std::strcmp(wanted, metricsState.endpoint) != 0) {
        StopMetrics();
        if (wanted[0] != '\0')
            StartEndpoint(wanted);
    }
    if (!Serving())
        return;
    for (int i = 0; i < MAX_HOSTS; ++i)
        PublishHostRow(i); // the rows of the map before, if the endpoint stayed
    RefreshMetrics();
    PublishCycleRow();
}

void StopMetrics() {
    StopMetricsServer();
    metricsState.endpoint[0] = '\0';
}

/*** the rows ***/

static void KindText(std::uint32_t kind, char* text, unsigned size) {
    if (kind < HOST_KIND_COUNT) {
        std::snprintf(text, size, "%s", hostKindNames[kind]);
        for (char* c = text; *c != '\0'; ++c)
            if (*c >= 'A' && *c <= 'Z')
                *c = static_cast<char>(*c - 'A' + 'a');
    } else {
        std::snprintf(text, size, "%u", kind);
    }
}

static void FillHostRow(const HostRecord& host, const HostMeter& meter, MetricsRow* row) {
    std::snprintf(row->labels[LABEL_MAP], sizeof row->labels[0], "%s", metricsState.mapName);
    std::snprintf(row->labels[LABEL_HOST], sizeof row->labels[0], "%s", host.name);
    std::snprintf(row->labels[LABEL_ADDRESS], sizeof row->labels[0], "%s", host.address);
    KindText(host.kind, row->labels[LABEL_KIND], sizeof row->labels[0]);
    row->values[HOST_UP] = host.missed == 0 ? 1 : 0;
    row->values[HOST_MISSED] = host.missed;
    bool down = host.reach == REACH_DOWN ||
                (host.missed > DOWN_THRESHOLD && host.reach != REACH_UNREACHABLE);
    row->values[HOST_DOWN] = down ? 1 : 0;
    row->values[HOST_UNREACHABLE] = host.reach == REACH_UNREACHABLE ? 1 : 0;
    // Whole milliseconds, 0 for under one; unknown when the last check took none.
    if (host.rttTaken != 0)
        row->values[HOST_RTT] = host.rtt / 1000.0;
    row->values[HOST_STATUS] = host.status;
    row->values[HOST_CHECKS] = static_cast<double>(meter.checks);
    row->values[HOST_FAILURES] = static_cast<double>(meter.failures);
    row->values[HOST_DOWN_EVENTS] = static_cast<double>(meter.downEvents);
}

// A host has series once it was checked (a host no longer monitored has a fresh meter).
static void PublishHostRow(int index) {
    MetricsRow row;
    ClearMetricsRow(&row);
    if (index < metricsState.hostCount) {
        const HostMeter& meter = metricsState.hosts[index];
        if (meter.evaluated && !meter.duplicate)
            FillHostRow(hostTable[index], meter, &row);
    }
    PublishMetricsRow(static_cast<unsigned>(index), row);
}

static void PublishCycleRow() {
    MetricsRow row;
    ClearMetricsRow(&row);
    std::snprintf(row.labels[LABEL_MAP], sizeof row.labels[0], "%s", metricsState.mapName);
    row.values[CYCLES] = static_cast<double>(metricsState.cycles);
    row.values[CYCLE_DURATION] = metricsState.cycleSeconds;
    std::memcpy(row.buckets, metricsState.cycleBuckets, sizeof metricsState.cycleBuckets);
    if (metricsState.cycles != 0)
        row.values[LAST_CYCLE] = metricsState.lastCycleEnd;
    PublishMetricsRow(CYCLE_ROW, row);
}

/*** the meters ***/

static bool SameLabels(const HostMeter& meter, const HostRecord& host) {
    return meter.kind == host.kind && std::strcmp(meter.name, host.name) == 0 &&
           std::strcmp(meter.address, host.address) == 0;
}

static bool SameLabels(const HostMeter& a, const HostMeter& b) {
    return a.kind == b.kind && std::strcmp(a.name, b.name) == 0 &&
           std::strcmp(a.address, b.address) == 0;
}

// Whether meter `index` was made for host `index` as it is now.
static bool MeterFits(int index) {
    if (index >= metricsState.hostCount)
        return false;
    const HostMeter& meter = metricsState.hosts[index];
    return SameLabels(meter, hostTable[index]) && meter.checked == HostIsChecked(hostTable[index]);
}

static void FreshMeter(const HostRecord& host, HostMeter* meter) {
    *meter = HostMeter{};
    CopyField(meter->name, sizeof meter->name, host.name);
    CopyField(meter->address, sizeof meter->address, host.address);
    meter->kind = host.kind;
}

// Makes the meters again for the host table as it is: a host keeps its meter when one had
// its labels, and a host that is not monitored starts afresh.
static void RemakeMeters() {
    static HostMeter previous[MAX_HOSTS];
    int previousCount = metricsState.hostCount;
    std::memcpy(previous, metricsState.hosts, sizeof previous);
    bool taken[MAX_HOSTS] = {};
    for (int i = 0; i < hostCount; ++i) {
        const HostRecord& host = hostTable[i];
        HostMeter& meter = metricsState.hosts[i];
        FreshMeter(host, &meter);
        meter.checked = HostIsChecked(host);
        for (int j = 0; j < previousCount && meter.checked; ++j) {
            if (!taken[j] && previous[j].checked && SameLabels(previous[j], host)) {
                meter = previous[j];
                taken[j] = true;
                break;
            }
        }
        meter.duplicate = false;
        for (int k = 0; k < i && !meter.duplicate; ++k)
            meter.duplicate = SameLabels(metricsState.hosts[k], meter);
    }
    metricsState.hostCount = hostCount;
    int rows = hostCount > previousCount ? hostCount : previousCount;
    for (int i = 0; i < rows; ++i)
        PublishHostRow(i);
}

void RefreshMetrics() {
    if (!Serving())
        return;
    bool fits = metricsState.hostCount == hostCount;
    for (int i = 0; i < hostCount && fits; ++i)
        fits = MeterFits(i);
    if (!fits)
        RemakeMeters();
}

void MeterCycleStart() {
    metricsState.cycleStart = Serving() ? GetMonotonicSeconds() : -1;
}

void MeterCheck(int index, bool replied, bool declaredDown) {
    if (!Serving() || index < 0 || index >= hostCount)
        return;
    if (metricsState.hostCount != hostCount || !MeterFits(index))
        RemakeMeters();
    HostMeter& meter = metricsState.hosts[index];
    if (!meter.checked || meter.duplicate)
        return;
    meter.evaluated = true;
    ++meter.checks;
    if (!replied) {
        ++meter.failures;
        if (declaredDown)
            ++meter.downEvents;
    }
    PublishHostRow(index);
}

void MeterCycleEnd() {
    if (!Serving() || metricsState.cycleStart < 0)
        return;
    double seconds = GetMonotonicSeconds() - metricsState.cycleStart;
    metricsState.cycleStart = -1;
    for (unsigned i = 0; i < CYCLE_BUCKETS; ++i)
        if (seconds <= cycleBounds[i])
            ++metricsState.cycleBuckets[i];
    ++metricsState.cycleBuckets[CYCLE_BUCKETS];
    metricsState.cycleSeconds += seconds;
    ++metricsState.cycles;
    metricsState.lastCycleEnd = GetUnixTimeSeconds();
    RefreshMetrics();
    PublishCycleRow();
}
