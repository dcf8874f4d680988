// The metrics endpoint: prometheus-cpp's pull exposer answers GET /metrics over HTTP from
// server threads of its own. Those threads read only the rows the UI thread last
// published, under a lock; the program's tables never leave the UI thread.
#pragma once

#include <cstdint>

namespace platform {

enum class MetricType { Counter, Gauge, Histogram };

struct MetricFamilyInfo {
    const char* name; // "tarnmap_host_up"
    const char* help;
    MetricType type;
};

constexpr unsigned METRIC_LABELS = 4;         // label values of a row
constexpr unsigned METRIC_LABEL_LENGTH = 159; // characters of a label value
constexpr unsigned METRIC_FAMILIES = 16;      // families of a layout
constexpr unsigned METRIC_BUCKETS = 16;       // bounds of the histogram, +Inf not counted

// What the server shows, fixed while it runs: the families in the order they are served,
// the names of the labels every row carries, the upper bounds of the histogram families'
// buckets (ascending; the +Inf bucket is added) and the number of rows. Static data of the
// caller.
struct MetricsLayout {
    const MetricFamilyInfo* families;
    unsigned familyCount; // at most METRIC_FAMILIES
    const char* labelNames[METRIC_LABELS];
    const double* bucketBounds;
    unsigned bucketCount; // at most METRIC_BUCKETS
    unsigned rowCount;
};

// One set of label values with its sample of each family. A label whose value is empty is
// left out, which is how Prometheus reads an empty one anyway; a family whose value is NaN
// has no sample in the row. Values are the program's 8-bit text, UTF-8 when they are valid
// UTF-8 and Latin-1 otherwise, and are served as UTF-8.
struct MetricsRow {
    char labels[METRIC_LABELS][METRIC_LABEL_LENGTH + 1];
    double values[METRIC_FAMILIES]; // a histogram's: the sum of its observations
    // A histogram's observations at or below each bound, then all of them (the +Inf
    // bucket, which is also its count). A row holds one histogram at most.
    std::uint64_t buckets[METRIC_BUCKETS + 1];
};

// Empties `row`: no label, no sample.
void ClearMetricsRow(MetricsRow* row);

// Serves /metrics, and nothing else, on `address` (dotted IPv4) and `port` (0: a free one
// the system picks), every row empty, after stopping a server that runs. While it runs,
// `refresh` (when not null) is called on the UI thread once a second. Returns 0, or the
// socket error number that tells why the port cannot be served (WSAEADDRINUSE,
// WSAEADDRNOTAVAIL, WSAEACCES, ...; WSAEINVAL for a layout beyond the limits).
int StartMetricsServer(const char* address, unsigned port, const MetricsLayout& layout,
                       void (*refresh)());

// Stops the server, if one runs; a scrape under way is finished first.
void StopMetricsServer();

// The port served, 0 when no server runs.
unsigned MetricsServerPort();

// Row `index` (below the layout's rowCount) as every later scrape shows it.
void PublishMetricsRow(unsigned index, const MetricsRow& row);

// The clocks metrics are taken with: seconds of a clock that never goes back, and seconds
// since 1970-01-01 UTC.
double GetMonotonicSeconds();
double GetUnixTimeSeconds();

} // namespace platform
