// The metrics endpoint on prometheus-cpp's exposer (civetweb underneath). The UI thread
// copies rows into one table under a lock; a scrape copies the table out under the same
// lock and builds the families from the copy, so a slow client never holds the UI thread.
// Only the exact path /metrics is answered; the exposer alone would serve every path
// below it.
#include "platform/metrics.h"

#include "platform/winsock.h"

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>
#include <prometheus/metric_family.h>

#include <CivetServer.h>
#include <QByteArrayView>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace platform {

namespace {

// The rows the UI thread published, as every scrape reads them.
class PublishedRows final : public prometheus::Collectable {
  public:
    explicit PublishedRows(const MetricsLayout& layout);
    std::vector<prometheus::MetricFamily> Collect() const override;
    void Publish(unsigned index, const MetricsRow& row);

  private:
    const MetricsLayout layout_;
    mutable std::mutex mutex_;
    std::vector<MetricsRow> rows_;
};

struct MetricsServer {
    std::unique_ptr<prometheus::Exposer> exposer; // null when none runs
    std::shared_ptr<PublishedRows> rows;
    QTimer* refreshTimer = nullptr;
    char address[16] = ""; // dotted, as served
    unsigned port = 0;
};

MetricsServer server;

// A label value as UTF-8: the program's text is UTF-8 when valid, Latin-1 otherwise, and
// Prometheus refuses a whole scrape for one label that is not UTF-8.
std::string LabelText(const char* text) {
    if (QByteArrayView(text).isValidUtf8())
        return text;
    return QString::fromLatin1(text).toUtf8().toStdString();
}

std::vector<prometheus::ClientMetric::Label> RowLabels(const MetricsLayout& layout,
                                                       const MetricsRow& row) {
    std::vector<prometheus::ClientMetric::Label> labels;
    for (unsigned i = 0; i < METRIC_LABELS; ++i)
        if (layout.labelNames[i] != nullptr && row.labels[i][0] != '\0')
            labels.push_back({layout.labelNames[i], LabelText(row.labels[i])});
    return labels;
}

void FillHistogram(const MetricsLayout& layout, const MetricsRow& row, double sum,
                   prometheus::ClientMetric::Histogram* histogram) {
    histogram->sample_sum = sum;
    histogram->sample_count = row.buckets[layout.bucketCount];
    for (unsigned i = 0; i < layout.bucketCount; ++i)
        histogram->bucket.push_back({row.buckets[i], layout.bucketBounds[i]});
    histogram->bucket.push_back(
        {row.buckets[layout.bucketCount], std::numeric_limits<double>::infinity()});
}

// Anything but the exact path is not ours to answer.
int AnswerOnlyMetricsPath(mg_connection* connection) {
    const mg_request_info* request = mg_get_request_info(connection);
    if (request != nullptr && request->local_uri != nullptr &&
        std::strcmp(request->local_uri, "/metrics") == 0)
        return 0;
    mg_send_http_error(connection, 404, "%s", "Not found: only /metrics is served here.\n");
    return 404;
}

// Why `address`:`port` cannot be served: the exposer only throws, so the port is bound
// once more the way civetweb binds it. Bound fine now, it was taken then and freed since.
int BindError(const char* address, unsigned port) {
    int error = ListenBindError(address, port);
    return error != 0 ? error : WSAEADDRINUSE;
}

bool LayoutFits(const MetricsLayout& layout) {
    return layout.familyCount <= METRIC_FAMILIES && layout.bucketCount <= METRIC_BUCKETS &&
           (layout.bucketCount == 0 || layout.bucketBounds != nullptr) && layout.rowCount > 0;
}

} // namespace

PublishedRows::PublishedRows(const MetricsLayout& layout) : layout_(layout) {
    MetricsRow empty;
    ClearMetricsRow(&empty);
    rows_.assign(layout.rowCount, empty);
}

void PublishedRows::Publish(unsigned index, const MetricsRow& row) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (index < rows_.size())
        rows_[index] = row;
}

std::vector<prometheus::MetricFamily> PublishedRows::Collect() const {
    std::vector<MetricsRow> rows;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        rows = rows_;
    }
    std::vector<prometheus::MetricFamily> families(layout_.familyCount);
    for (unsigned f = 0; f < layout_.familyCount; ++f) {
        const MetricFamilyInfo& info = layout_.families[f];
        families[f].name = info.name;
        families[f].help = info.help;
        families[f].type = info.type == MetricType::Counter ? prometheus::MetricType::Counter
                           : info.type == MetricType::Gauge ? prometheus::MetricType::Gauge
                                                            : prometheus::MetricType::Histogram;
    }
    // Rows whose texts differ may still serve the same labels (a Latin-1 name and its UTF-8
    // twin); Prometheus takes one sample of a series in a scrape, so the first row has it.
    std::set<std::vector<prometheus::ClientMetric::Label>> served;
    for (const MetricsRow& row : rows) {
        std::vector<prometheus::ClientMetric::Label> labels;
        bool labelled = false;
        for (unsigned f = 0; f < layout_.familyCount; ++f) {
            double value = row.values[f];
            if (std::isnan(value))
                continue;
            if (!labelled) {
                labels = RowLabels(layout_, row);
                labelled = true;
                if (!served.insert(labels).second)
                    break;
            }
            prometheus::ClientMetric metric;
            metric.label = labels;
            switch (layout_.families[f].type) {
            case MetricType::Counter:
                metric.counter.value = value;
                break;
            case MetricType::Gauge:
                metric.gauge.value = value;
                break;
            case MetricType::Histogram:
                FillHistogram(layout_, row, value, &metric.histogram);
                break;
            }
            families[f].metric.push_back(std::move(metric));
        }
    }
    // A family without a sample says nothing.
    std::erase_if(families,
                  [](const prometheus::MetricFamily& family) { return family.metric.empty(); });
    return families;
}

void ClearMetricsRow(MetricsRow* row) {
    std::memset(row, 0, sizeof *row);
    for (double& value : row->values)
        value = std::numeric_limits<double>::quiet_NaN();
}

int StartMetricsServer(const char* address, unsigned port, const MetricsLayout& layout,
                       void (*refresh)()) {
    StopMetricsServer();
    if (!LayoutFits(layout) || port > 65535)
        return WSAEINVAL;
    char listening[64];
    std::snprintf(listening, sizeof listening, "%s:%u", address, port);
    static CivetCallbacks callbacks;
    callbacks.begin_request = AnswerOnlyMetricsPath;
    // The server threads are started with the termination signals blocked, so that those
    // always reach the UI thread's handler and never interrupt a scrape.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&blocked, signal);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    try {
        server.exposer = std::make_unique<prometheus::Exposer>(
            std::vector<std::string>{"listening_ports", listening, "num_threads", "2",
                                     "request_timeout_ms", "5000"},
            &callbacks);
    } catch (const std::exception&) {
        server.exposer.reset();
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (server.exposer == nullptr)
        return BindError(address, port);

    std::vector<int> ports = server.exposer->GetListeningPorts();
    server.port = ports.empty() ? port : static_cast<unsigned>(ports[0]);
    std::snprintf(server.address, sizeof server.address, "%s", address);
    server.rows = std::make_shared<PublishedRows>(layout);
    server.exposer->RegisterCollectable(server.rows);
    if (refresh != nullptr) {
        server.refreshTimer = new QTimer();
        QObject::connect(server.refreshTimer, &QTimer::timeout, [refresh] { refresh(); });
        server.refreshTimer->start(1000);
    }
    return 0;
}

// civetweb's listener looks at its stop flag only between waits of up to two seconds for
// a connection; connections made while the exposer stops end that wait at once.
void StopMetricsServer() {
    delete server.refreshTimer;
    server.refreshTimer = nullptr;
    if (server.exposer != nullptr) {
        std::atomic<bool> stopped{false};
        const char* address =
            std::strcmp(server.address, "0.0.0.0") == 0 ? "127.0.0.1" : server.address;
        std::thread waker([&stopped, address] {
            while (!stopped) {
                TouchListener(address, server.port);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
        server.exposer.reset();
        stopped = true;
        waker.join();
    }
    server.rows.reset();
    server.port = 0;
}

unsigned MetricsServerPort() {
    return server.port;
}

void PublishMetricsRow(unsigned index, const MetricsRow& row) {
    if (server.rows != nullptr)
        server.rows->Publish(index, row);
}

double GetMonotonicSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double GetUnixTimeSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace platform
