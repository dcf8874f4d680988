// Desktop notifications on Qt D-Bus: the Notify call of org.freedesktop.Notifications, sent
// asynchronously on a connection to the session bus of our own, with the host picture as
// the image-data hint. Also the notification service tests run on a private bus.
//
// The connection is made to the address the session gives (DBUS_SESSION_BUS_ADDRESS, else
// $XDG_RUNTIME_DIR/bus) and to nothing else: the toolkit's own session bus would try to
// launch a bus where there is none. An address that failed is not tried again, so a
// desktop without a bus costs one failed connect in the run.
//
// The toolkit's connect waits without limit for the bus to answer, so a bus that takes
// connections and never answers (a stopped daemon) would hold the program for good. The
// bus is asked first, with the messages flowing: a local socket gets the start of the
// authentication, and only an answer within BUS_ANSWER_MS lets the toolkit connect. The
// notices of that wait are sent once it answered.
#include "platform/notify.h"

#include "platform/testing.h"
#include "platform/window_internal.h"

#include <QByteArrayView>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusVirtualObject>
#include <QImage>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

// The image-data hint: raw pixels, rows of 8-bit RGBA.
struct NoticeImage {
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool hasAlpha = true;
    int bitsPerSample = 8;
    int channels = 4;
    QByteArray data;
};

} // namespace

Q_DECLARE_METATYPE(NoticeImage)

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const NoticeImage& image) {
    argument.beginStructure();
    argument << image.width << image.height << image.rowStride << image.hasAlpha
             << image.bitsPerSample << image.channels << image.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, NoticeImage& image) {
    argument.beginStructure();
    argument >> image.width >> image.height >> image.rowStride >> image.hasAlpha >>
        image.bitsPerSample >> image.channels >> image.data;
    argument.endStructure();
    return argument;
}

const char* const SERVICE = "org.freedesktop.Notifications";
const char* const PATH = "/org/freedesktop/Notifications";
const char* const INTERFACE = "org.freedesktop.Notifications";

constexpr int BUS_ANSWER_MS = 2000;     // a bus answers in milliseconds
constexpr std::size_t WAITING_MAX = 64; // notices kept while the bus is asked

enum class BusStage { None, Asking, Connected, Failed };

// The program's connection to the session bus.
struct NoticeBus {
    QString address;                   // of the last connection made or tried; empty for none
    QString name;                      // the toolkit's name of that connection
    BusStage stage;                    // Failed: `address` is not tried again
    unsigned made;                     // connections made in the run, to name each anew
    bool missingTold;                  // a missing bus was told on standard error
    bool serviceErrTold;               // an error answer of the service was told
    int askSocket;                     // the socket the bus is asked on, -1 none
    QSocketNotifier* askNotifier;      // tells the bus's answer on askSocket
    QTimer* askDeadline;               // gives the bus up BUS_ANSWER_MS after the question
    std::vector<QDBusMessage> waiting; // Notify calls made while the bus is asked
};
NoticeBus bus = {{}, {}, BusStage::None, 0, false, false, -1, nullptr, nullptr, {}};

QString SessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && address[0] != '\0')
        return QString::fromLocal8Bit(address);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] == '\0')
        return {};
    QByteArray path = QByteArray(runtime) + "/bus";
    struct stat status;
    if (stat(path.constData(), &status) != 0 || !S_ISSOCK(status.st_mode))
        return {};
    return "unix:path=" + QString::fromLocal8Bit(path);
}

void TellMissingBus(const QString& why) {
    if (bus.missingTold)
        return;
    bus.missingTold = true;
    std::fprintf(stderr, "tarnmap: desktop notifications are not shown: %s\n",
                 why.toLocal8Bit().constData());
}

// An error answer (no notification service on the bus, ...) is told once for the run.
void WatchAnswer(const QDBusPendingCall& call) {
    if (bus.serviceErrTold)
        return;
    auto* watcher = new QDBusPendingCallWatcher(call);
    QObject::connect(
        watcher, &QDBusPendingCallWatcher::finished, [](QDBusPendingCallWatcher* done) {
            if (done->isError() && !bus.serviceErrTold) {
                bus.serviceErrTold = true;
                std::fprintf(stderr, "tarnmap: desktop notifications are not shown: %s\n",
                             done->error().message().toLocal8Bit().constData());
            }
            done->deleteLater();
        });
}

// Called from the notifier's and the timer's own signals as well: they are stopped now
// and deleted once those returned.
void EndAsking() {
    if (bus.askNotifier != nullptr) {
        bus.askNotifier->setEnabled(false);
        bus.askNotifier->deleteLater();
    }
    bus.askNotifier = nullptr;
    if (bus.askDeadline != nullptr) {
        bus.askDeadline->stop();
        bus.askDeadline->deleteLater();
    }
    bus.askDeadline = nullptr;
    if (bus.askSocket >= 0)
        close(bus.askSocket);
    bus.askSocket = -1;
}

void FailBus(const QString& why) {
    EndAsking();
    bus.stage = BusStage::Failed;
    bus.waiting.clear();
    TellMissingBus("no session bus at " + bus.address + " (" + why + ")");
}

// The toolkit's connection, then the notices that waited for it.
void ConnectAnsweringBus() {
    EndAsking();
    bus.name = QString("tarnmap-notices-%1").arg(++bus.made);
    QDBusConnection connection = QDBusConnection::connectToBus(bus.address, bus.name);
    if (!connection.isConnected()) {
        FailBus(connection.lastError().message());
        return;
    }
    bus.stage = BusStage::Connected;
    for (const QDBusMessage& call : bus.waiting)
        WatchAnswer(connection.asyncCall(call));
    bus.waiting.clear();
}

// The socket of a "unix:path=" or "unix:abstract=" address (its first one); false for
// other kinds, which the toolkit is left to connect to.
bool LocalSocketOf(const QString& address, sockaddr_un* socketAddress, socklen_t* length) {
    const QString first = address.section(';', 0, 0);
    if (!first.startsWith("unix:"))
        return false;
    for (const QString& pair : first.mid(5).split(',')) {
        const bool abstract = pair.startsWith("abstract=");
        if (!abstract && !pair.startsWith("path="))
            continue;
        const QByteArray path = QByteArray::fromPercentEncoding(pair.section('=', 1).toUtf8());
        const std::size_t start = abstract ? 1 : 0;
        if (path.isEmpty() ||
            start + static_cast<std::size_t>(path.size()) >= sizeof socketAddress->sun_path)
            return false;
        std::memset(socketAddress, 0, sizeof *socketAddress);
        socketAddress->sun_family = AF_UNIX;
        std::memcpy(socketAddress->sun_path + start, path.constData(),
                    static_cast<std::size_t>(path.size()));
        *length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + start +
                                         static_cast<std::size_t>(path.size()));
        return true;
    }
    return false;
}

void TakeBusAnswer() {
    char answer[64];
    ssize_t got = recv(bus.askSocket, answer, sizeof answer, MSG_DONTWAIT);
    if (got > 0)
        ConnectAnsweringBus();
    else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
        FailBus("it closed the connection");
}

// Asks the bus at `address` whether it answers; the toolkit connects once it did.
void AskBus(const QString& address) {
    EndAsking();
    if (!bus.name.isEmpty())
        QDBusConnection::disconnectFromBus(bus.name);
    bus.name.clear();
    bus.address = address;
    bus.stage = BusStage::Asking;
    bus.waiting.clear();
    sockaddr_un socketAddress;
    socklen_t length = 0;
    if (!LocalSocketOf(address, &socketAddress, &length)) {
        ConnectAnsweringBus();
        return;
    }
    // A NUL, then an authentication command without a mechanism: every bus answers it
    // with the mechanisms it takes.
    static const char request[] = "\0AUTH\r\n";
    bus.askSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (bus.askSocket < 0 ||
        connect(bus.askSocket, reinterpret_cast<sockaddr*>(&socketAddress), length) != 0 ||
        send(bus.askSocket, request, sizeof request - 1, MSG_NOSIGNAL) !=
            static_cast<ssize_t>(sizeof request - 1)) {
        FailBus(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    bus.askNotifier = new QSocketNotifier(bus.askSocket, QSocketNotifier::Read);
    QObject::connect(bus.askNotifier, &QSocketNotifier::activated, [] { TakeBusAnswer(); });
    bus.askDeadline = new QTimer();
    bus.askDeadline->setSingleShot(true);
    QObject::connect(bus.askDeadline, &QTimer::timeout, [] {
        FailBus(QString("it does not answer within %1 seconds").arg(BUS_ANSWER_MS / 1000));
    });
    bus.askDeadline->start(BUS_ANSWER_MS);
}

// Where the bus stands for a notice now: a new address, or a connection lost, is asked
// again.
BusStage SessionBusStage() {
    QString address = SessionBusAddress();
    if (address.isEmpty()) {
        TellMissingBus("no session bus");
        return BusStage::Failed;
    }
    if (address != bus.address ||
        (bus.stage == BusStage::Connected && !QDBusConnection(bus.name).isConnected()))
        AskBus(address);
    return bus.stage;
}

bool IsWhite(const QImage& image, int x, int y) {
    return image.pixel(x, y) == qRgba(255, 255, 255, 255);
}

// The picture as the map draws a host: white parts connected to the edge are outside it
// (transparent here), the other white parts take the host colour, black stays. Doubled,
// pixel for pixel, as services show icons at 48 pixels and more.
QImage HostPicture(const char* const* xpm, platform::COLORREF color) {
    QImage picture(xpm);
    if (picture.isNull())
        return {};
    picture = picture.convertToFormat(QImage::Format_RGBA8888);
    const int width = picture.width(), height = picture.height();
    const QRgb outside = qRgba(0, 0, 0, 0);
    std::vector<QPoint> open;
    for (int x = 0; x < width; ++x)
        open.insert(open.end(), {QPoint(x, 0), QPoint(x, height - 1)});
    for (int y = 0; y < height; ++y)
        open.insert(open.end(), {QPoint(0, y), QPoint(width - 1, y)});
    while (!open.empty()) {
        QPoint at = open.back();
        open.pop_back();
        if (at.x() < 0 || at.y() < 0 || at.x() >= width || at.y() >= height ||
            !IsWhite(picture, at.x(), at.y()))
            continue;
        picture.setPixel(at, outside);
        open.insert(open.end(),
                    {at + QPoint(1, 0), at - QPoint(1, 0), at + QPoint(0, 1), at - QPoint(0, 1)});
    }
    const QRgb inside = qRgba(platform::GetRValue(color), platform::GetGValue(color),
                              platform::GetBValue(color), 255);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (IsWhite(picture, x, y))
                picture.setPixel(x, y, inside);
    return picture.scaled(width * 2, height * 2, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

NoticeImage ImageHint(const QImage& picture) {
    NoticeImage image;
    image.width = picture.width();
    image.height = picture.height();
    image.rowStride = static_cast<int>(picture.bytesPerLine());
    image.data = QByteArray(reinterpret_cast<const char*>(picture.constBits()),
                            static_cast<qsizetype>(picture.sizeInBytes()));
    return image;
}

// The body is read as markup by most services: a host name may hold '<' or '&'.
QString BodyText(const char* body) {
    return platform::TextToShow(body).toHtmlEscaped();
}

} // namespace

namespace platform {

bool ShowDesktopNotice(const DESKTOP_NOTICE& notice) {
    BusStage stage = SessionBusStage();
    if (stage == BusStage::Failed)
        return false;
    static const auto registered = qDBusRegisterMetaType<NoticeImage>();
    (void)registered;
    QVariantMap hints;
    hints["desktop-entry"] = QString("tarnmap");
    hints["urgency"] = QVariant::fromValue<uchar>(notice.urgent ? 2 : 1);
    if (notice.picture != nullptr) {
        QImage picture = HostPicture(notice.picture, notice.pictureColor);
        if (!picture.isNull())
            hints["image-data"] = QVariant::fromValue(ImageHint(picture));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(SERVICE, PATH, INTERFACE, "Notify");
    call << QString("Tarnmap") << 0u << QString("tarnmap") << TextToShow(notice.summary)
         << BodyText(notice.body) << QStringList() << hints << -1;
    if (stage == BusStage::Asking) {
        if (bus.waiting.size() < WAITING_MAX)
            bus.waiting.push_back(call);
    } else {
        WatchAnswer(QDBusConnection(bus.name).asyncCall(call));
    }
    return true;
}

void PrepareDesktopNotices() {
    SessionBusStage();
}

/*** a notification service for tests ***/

namespace {

// Takes Notify calls on its own connection and keeps what they asked to show.
class NoticeRecorder final : public QDBusVirtualObject {
  public:
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    std::mutex lock;
    std::vector<RecordedNotice> notices;
    unsigned nextId = 1;
};

NoticeRecorder* recorder = nullptr;
const char* const RECORDER_CONNECTION = "tarnmap-notice-recorder";

// The most common opaque colour of the image-data hint as a COLORREF; -1 without one.
long long MostCommonColour(const NoticeImage& image) {
    if (image.channels != 4 || image.bitsPerSample != 8 ||
        image.data.size() < static_cast<qsizetype>(image.rowStride) * image.height)
        return -1;
    std::vector<std::pair<QRgb, int>> counts;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const auto* pixel = reinterpret_cast<const uchar*>(image.data.constData()) +
                                y * image.rowStride + x * 4;
            if (pixel[3] == 0)
                continue;
            QRgb colour = RGB(pixel[0], pixel[1], pixel[2]);
            auto found = std::find_if(counts.begin(), counts.end(), [colour](const auto& entry) {
                return entry.first == colour;
            });
            if (found == counts.end())
                counts.emplace_back(colour, 1);
            else
                ++found->second;
        }
    auto most = std::max_element(counts.begin(), counts.end(),
                                 [](const auto& a, const auto& b) { return a.second < b.second; });
    return most == counts.end() ? -1 : static_cast<long long>(most->first);
}

bool NoticeRecorder::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    const QList<QVariant> arguments = message.arguments();
    if (message.member() != "Notify" || arguments.size() != 8)
        return false;
    RecordedNotice notice;
    notice.appName = arguments[0].toString().toStdString();
    notice.appIcon = arguments[2].toString().toStdString();
    notice.summary = arguments[3].toString().toStdString();
    notice.body = arguments[4].toString().toStdString();
    const QVariantMap hints = qdbus_cast<QVariantMap>(arguments[6]);
    notice.urgency = hints.contains("urgency") ? hints["urgency"].toInt() : -1;
    if (hints.contains("image-data")) {
        NoticeImage image;
        hints["image-data"].value<QDBusArgument>() >> image;
        notice.imageWidth = image.width;
        notice.imageHeight = image.height;
        notice.imageColour = MostCommonColour(image);
    }
    std::uint32_t id;
    {
        std::lock_guard<std::mutex> held(lock);
        id = nextId++;
        notices.push_back(notice);
    }
    connection.send(message.createReply(QVariant::fromValue<uint>(id)));
    return true;
}

} // namespace

bool StartNoticeRecorder() {
    QString address = SessionBusAddress();
    if (address.isEmpty() || recorder != nullptr)
        return false;
    QDBusConnection connection = QDBusConnection::connectToBus(address, RECORDER_CONNECTION);
    recorder = new NoticeRecorder();
    if (connection.isConnected() && connection.registerService(SERVICE) &&
        connection.registerVirtualObject(PATH, recorder))
        return true;
    StopNoticeRecorder();
    return false;
}

void StopNoticeRecorder() {
    QDBusConnection::disconnectFromBus(RECORDER_CONNECTION);
    delete recorder;
    recorder = nullptr;
}

std::vector<RecordedNotice> RecordedNotices() {
    if (recorder == nullptr)
        return {};
    std::lock_guard<std::mutex> held(recorder->lock);
    return recorder->notices;
}

} // namespace platform
