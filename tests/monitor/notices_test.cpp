// Desktop notifications of the hosts a cycle declared down or back up, sent over a private
// session bus to a notification service of the test's own; and a desktop without a bus.
#include "mapui/render.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/notices.h"
#include "monitor/poll.h"
#include "platform/notify.h"
#include "platform/testing.h"
#include "resources/commands.h"
#include "shell/mainwnd.h"
#include "shell/startup.h"
#include "support/map_window.h"
#include "support/netns.h"
#include "support/ui_fixture.h"

#include <chrono>
#include <csignal>
#include <memory>
#include <regex>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace platform;

namespace {

constexpr char CLIENT[] = "10.225.1.1";
constexpr char SERVER[] = "10.225.1.2"; // the server's own address, always there
constexpr char DBUS_DAEMON[] = "/usr/bin/dbus-daemon";

// A session bus of the test's own on a socket in its directory, named in the environment.
class PrivateSessionBus {
  public:
    explicit PrivateSessionBus(const std::string& directory) {
        std::string socket = directory + "/bus";
        daemon_ = StartProgramIn(directory, {DBUS_DAEMON, "--session", "--nofork",
                                             "--print-address", "--address=unix:path=" + socket});
        // It prints its address once it listens: milliseconds.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (daemon_ > 0 &&
               ReadWholeFile(directory + "/out.txt").find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline)
            usleep(10000);
        ok_ = daemon_ > 0 && ReadWholeFile(directory + "/out.txt").find('\n') != std::string::npos;
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + socket).c_str(), 1);
    }
    ~PrivateSessionBus() {
        unsetenv("DBUS_SESSION_BUS_ADDRESS");
        if (daemon_ > 0) {
            kill(daemon_, SIGTERM);
            WaitForExit(daemon_, 10);
        }
    }
    bool ok() const { return ok_; }

  private:
    pid_t daemon_ = -1;
    bool ok_ = false;
};

class NoticesTest : public MainWindowTest {
  protected:
    void TearDown() override {
        StopNoticeRecorder();
        noticeSettings.headless = false;
        MainWindowTest::TearDown();
    }

    // Opens net.db with `hosts` ("name,address" each).
    void Open(const std::vector<std::string>& hosts, const std::string& programOptions) {
        std::string map = "T" + dir_.file("net.db") + " 126/12/06 09:00\r\nBnotices\r\nV1\r\n";
        int column = 1;
        for (const std::string& host : hosts) {
            map += "H" + host + ",,," + std::to_string(column) + ",3,0,1,0\r\n";
            column += 3;
        }
        WriteWholeFile(dir_.file("TARNMAP.INI"), "[OPTS]\r\n" + programOptions);
        OpenMap("net", map, "[OPTS]\r\nTIMER=5\r\nNOCHECK=1\r\nSOUND=0\r\n");
    }

    // A cycle; its silent hosts take WAIT=1000, and its notifications never wait for the
    // service, which answers only as this thread runs its messages.
    void Check() {
        auto start = std::chrono::steady_clock::now();
        SendMessage(mainWindow, WM_COMMAND, CMD_CHECK, 0);
        ASSERT_TRUE(RunCycleToEnd());
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    }

    // The notifications recorded since the last call: a marker is sent after them on the
    // same connection, and the bus delivers in order, so once it is there they all are.
    std::vector<RecordedNotice> Recorded() {
        std::string marker = "marker " + std::to_string(++markers_);
        EXPECT_TRUE(ShowDesktopNotice({marker.c_str(), "", nullptr, 0, false}));
        // Delivery takes milliseconds.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        constexpr UINT_PTR POLL_TIMER = 0x7fe0;
        SetTimer(testWindow_, POLL_TIMER, 10, nullptr);
        std::vector<RecordedNotice> all;
        for (;;) {
            all = RecordedNotices();
            if ((!all.empty() && all.back().summary == marker) ||
                std::chrono::steady_clock::now() > deadline)
                break;
            MSG message;
            if (GetMessage(&message, 0, 0, 0) <= 0)
                break;
            DispatchMessage(&message);
        }
        KillTimer(testWindow_, POLL_TIMER);
        EXPECT_TRUE(!all.empty() && all.back().summary == marker) << "the marker never came";
        std::vector<RecordedNotice> fresh(all.begin() + static_cast<long>(taken_),
                                          all.end() - (all.empty() ? 0 : 1));
        taken_ = all.size();
        return fresh;
    }

    int markers_ = 0;
    std::size_t taken_ = 0;
};

// The program's namespace and the server's; each host an address of its own on the server,
// taken away to silence it.
struct HostsNetwork {
    bool Build() {
        if (!client.ok() || !server.ok() ||
            !ConnectNamespaces(client, "c0", std::string(CLIENT) + "/24", server, "s0",
                               std::string(SERVER) + "/24"))
            return false;
        for (int i = 3; i <= 8; ++i)
            if (!Answer(i, true))
                return false;
        inside = std::make_unique<EnteredNamespace>(client);
        return inside->ok();
    }
    bool Answer(int last, bool answering) const {
        return server.Ip({"addr", answering ? "add" : "del",
                          "10.225.1." + std::to_string(last) + "/32", "dev", "s0"});
    }
    NetworkNamespace client{"notec"}, server{"notes"};
    std::unique_ptr<EnteredNamespace> inside;
};

TEST_F(NoticesTest, HostsDownAndBackUpAreNotifiedOneEachOrSummedUpPastThree) {
    SKIP_WITHOUT_NAMESPACES();
    if (access(DBUS_DAEMON, X_OK) != 0)
        GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus-daemon)";
    PrivateSessionBus bus(dir_.path());
    ASSERT_TRUE(bus.ok());
    ASSERT_TRUE(StartNoticeRecorder());
    HostsNetwork network;
    ASSERT_TRUE(network.Build());
    // solo is .3, m1 to m5 are .4 to .8.
    std::vector<std::string> hosts = {"solo,10.225.1.3"};
    for (int i = 1; i <= 5; ++i)
        hosts.push_back("m" + std::to_string(i) + ",10.225.1." + std::to_string(i + 3));
    hosts[5] = "m5<&\xe9,10.225.1.8"; // markup, and a Latin-1 name from a Windows map
    Open(hosts, "PING=0\r\nMSICMP=1\r\nWAIT=1000\r\n");
    ASSERT_EQ(options.desktopNotices, NOTIFY_UNSET) << "the desktop notifies by default";
    // Each silenced host is one failed check from being declared down.
    auto silence = [&](int first, int last) {
        for (int i = first; i <= last; ++i) {
            ASSERT_TRUE(network.Answer(i + 3, false));
            hostTable[i].missed = DOWN_THRESHOLD;
        }
    };
    auto answer = [&](int first, int last) {
        for (int i = first; i <= last; ++i)
            ASSERT_TRUE(network.Answer(i + 3, true));
    };

    // Hosts answering after the map's load were never down.
    Check();
    EXPECT_TRUE(Recorded().empty());

    silence(0, 0);
    Check();
    std::vector<RecordedNotice> notices = Recorded();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].summary, "solo is down");
    EXPECT_TRUE(std::regex_match(notices[0].body,
                                 std::regex(R"(10\.225\.1\.3, Timed out, at \d\d:\d\d:\d\d)")))
        << notices[0].body;
    EXPECT_EQ(notices[0].appName, "Tarnmap");
    EXPECT_EQ(notices[0].urgency, 2);
    // The workstation picture, doubled, inside in the map's colour of a host down.
    EXPECT_EQ(notices[0].imageWidth, 78);
    EXPECT_EQ(notices[0].imageHeight, 78);
    EXPECT_EQ(notices[0].imageColour, HostMapColor(hostTable[0]));
    const long long downColour = notices[0].imageColour;
    Check();
    EXPECT_TRUE(Recorded().empty()) << "told once, not every cycle it stays down";

    answer(0, 0);
    Check();
    notices = Recorded();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].summary, "solo is back up");
    EXPECT_TRUE(std::regex_match(notices[0].body,
                                 std::regex(R"(10\.225\.1\.3, reachable, at \d\d:\d\d:\d\d)")))
        << notices[0].body;
    EXPECT_EQ(notices[0].urgency, 1);
    EXPECT_EQ(notices[0].imageColour, HostMapColor(hostTable[0]));
    EXPECT_NE(notices[0].imageColour, downColour);

    // Three at once are three notifications, in table order.
    silence(1, 3);
    Check();
    notices = Recorded();
    ASSERT_EQ(notices.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(notices[i].summary, "m" + std::to_string(i + 1) + " is down");

    // Five are one.
    answer(1, 3);
    silence(4, 5);
    Check();
    notices = Recorded();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].summary, "5 hosts changed: 2 down, 3 back up");
    EXPECT_TRUE(std::regex_match(
        notices[0].body, std::regex("m1 is back up: 10\\.225\\.1\\.4\n"
                                    "m2 is back up: 10\\.225\\.1\\.5\n"
                                    "m3 is back up: 10\\.225\\.1\\.6\n"
                                    "m4 is down: 10\\.225\\.1\\.7, Timed out\n"
                                    "m5&lt;&amp;\u00e9 is down: 10\\.225\\.1\\.8, Timed out\n"
                                    "at \\d\\d:\\d\\d:\\d\\d")))
        << notices[0].body;
    EXPECT_EQ(notices[0].imageWidth, 0) << "the program's icon";
    EXPECT_EQ(notices[0].urgency, 2);

    // Off by NOTIFY=0, and by default in the headless program.
    options.desktopNotices = 0;
    answer(4, 4);
    Check();
    EXPECT_TRUE(Recorded().empty());
    options.desktopNotices = NOTIFY_UNSET;
    noticeSettings.headless = true;
    answer(5, 5);
    Check();
    EXPECT_TRUE(Recorded().empty());
    EXPECT_EQ(hostTable[5].missed, 0u);
}

// Without a session bus the cycles go on as ever, and the missing bus is told once. A bus
// that takes the connection and never answers holds no cycle either, and is given up.
TEST_F(NoticesTest, WithoutSessionBusNothingBreaksAndItIsToldOnce) {
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_.file("no-bus")).c_str(), 1);
    Open({"first,fe80::1", "second,fe80::2", "third,fe80::3"}, "NOTIFY=1\r\n");
    testing::internal::CaptureStderr();
    for (int i = 0; i < 2; ++i) {
        hostTable[i].missed = DOWN_THRESHOLD;
        Check();
        EXPECT_EQ(hostTable[i].missed, DOWN_THRESHOLD + 1);
    }
    std::string told = testing::internal::GetCapturedStderr();
    std::regex line("desktop notifications are not shown: no session bus at");
    EXPECT_EQ(
        std::distance(std::sregex_iterator(told.begin(), told.end(), line), std::sregex_iterator()),
        1)
        << told;
    EXPECT_NE(ReadWholeFile(dir_.file("net.LOG")).find("second [fe80::2] down, invalid ipaddr"),
              std::string::npos);

    sockaddr_un deaf = {AF_UNIX, {}};
    std::snprintf(deaf.sun_path, sizeof deaf.sun_path, "%s", dir_.file("deaf-bus").c_str());
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&deaf), sizeof deaf), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir_.file("deaf-bus")).c_str(), 1);
    hostTable[2].missed = DOWN_THRESHOLD;
    Check();
    // Given up within its two seconds, with the messages flowing.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ShowDesktopNotice({"after", "", nullptr, 0, false}) &&
           std::chrono::steady_clock::now() < deadline) {
        PumpPendingMessages();
        usleep(10000);
    }
    EXPECT_LT(std::chrono::steady_clock::now(), deadline) << "the silent bus is never given up";
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    close(listener);
}

} // namespace
