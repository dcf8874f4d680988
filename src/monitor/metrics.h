// The monitor's state for Prometheus: a row of series for every monitored host checked
// since its map was opened, and one for the poll cycles, handed to the platform's metrics
// endpoint after each evaluation. METRICS in [OPTS] (TARNMAP.INI, or the map's .INI with a
// loopback address only) or --metrics turns the endpoint on; it is off otherwise.
#pragma once

#include "model/hosts.h"

#include <cstdint>

constexpr unsigned METRICS_ENDPOINT_LENGTH = 21; // "255.255.255.255:65535"
constexpr unsigned CYCLE_BUCKETS = 12;           // bounds of the cycle duration histogram

// The series of one host as last published, with the counters that only this unit keeps.
// A host is known by its name, address and kind, the labels of its series: a changed one
// is a new host whose old series are gone.
struct HostMeter {
    char name[sizeof HostRecord::name];
    char address[sizeof HostRecord::address];
    std::uint32_t kind;
    bool checked;             // the cycle checks it (monitored, with an address)
    bool evaluated;           // a check of it was evaluated since the map was opened or it changed
    bool duplicate;           // an earlier host has the same labels; its series are that one's
    std::uint64_t checks;     // checks evaluated
    std::uint64_t failures;   // of them, misses
    std::uint64_t downEvents; // times it was declared down
};

/*** the metrics run ***/

struct MetricsState {
    char commandLine[METRICS_ENDPOINT_LENGTH + 1]; // --metrics, "" when not given
    char endpoint[METRICS_ENDPOINT_LENGTH + 1];    // "address:port" served; "" when none
    char mapName[MAP_PATH_LENGTH + 1];             // the map label: the file's name, no extension
    HostMeter hosts[MAX_HOSTS];                    // one per record of the host table
    int hostCount;                                 // records the meters were made for
    double cycleStart;                             // monotonic seconds; negative between cycles
    std::uint64_t cycles;                          // cycles ended
    std::uint64_t cycleBuckets[CYCLE_BUCKETS + 1]; // cycles at or below each bound, then all
    double cycleSeconds;                           // their durations added up
    double lastCycleEnd;                           // seconds since 1970 at the last cycle's end
};
extern MetricsState metricsState;

// Told why metrics cannot be served or a METRICS setting is refused: the desktop shows it
// in the status bar, the headless program on standard error. The map's log has it anyway.
extern void (*metricsReport)(const char* text);

// "ADDRESS:PORT", or a bare "PORT" meaning 127.0.0.1, with a dotted IPv4 address and a port
// from 1 to 65535; written as "a.b.c.d:port" into `endpoint` (METRICS_ENDPOINT_LENGTH + 1
// bytes), with `*loopback` telling whether the address is in 127.0.0.0/8. False otherwise.
bool ParseMetricsEndpoint(const char* text, char* endpoint, bool* loopback);

// --metrics: it goes before both settings files. False when `text` is no endpoint.
bool SetCommandLineMetrics(const char* text);

// Serves, moves or stops the endpoint as the command line and the settings of the map now
// opened ask, with the series of that map from nothing. The map opening's report calls it.
void ApplyMetricsSettings();
void StopMetrics();

// The evaluation's calls: at the start of a cycle, after each host's check was evaluated
// (`replied`, and whether that check declared it down), and at the end of the cycle.
void MeterCycleStart();
void MeterCheck(int index, bool replied, bool declaredDown);
void MeterCycleEnd();

// Publishes the hosts' series again when the host table changed since they were made (a
// host added, deleted, renamed or no longer monitored). Runs once a second as well.
void RefreshMetrics();
