// The poll cycle on the real main window: maps of hosts in network namespaces polled
// through each engine, with the log lines, colours and alarm program that follow; the
// table order of the evaluations, Stop Check and edits while checks are in flight; and
// the countdown that starts the cycles.
#include "mapui/editor.h"
#include "mapui/render.h"
#include "mapui/statusbar.h"
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/mapwnd.h"
#include "monitor/poll.h"
#include "monitor/probe.h"
#include "monitor/programs.h"
#include "platform/commctl.h"
#include "platform/dialog.h"
#include "platform/testing.h"
#include "platform/winsock.h"
#include "resources/commands.h"
#include "shell/mainwnd.h"
#include "support/map_window.h"
#include "support/netns.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <regex>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace platform;

namespace {

constexpr char SERVER[] = "10.224.1.2"; // the silent-and-back host, in its own namespace
constexpr char CLIENT[] = "10.224.1.1"; // where the program runs

// What differs between the engines, as TARNMAP.INI chooses them.
enum EngineKind { RAW_SOCKET, ICMP_LIBRARY, TCP_CONNECT };
struct Engine {
    EngineKind kind;
    const char* name;
    const char* options;
    const char* label;     // in the message pane while a host is probed
    unsigned silentStatus; // a silent host's status
    const char* downText;  // ... as the down line gives it
    bool pingSockets;      // the library's group may open ping sockets, else it uses raw ones
};
const Engine RAW{RAW_SOCKET, "raw", "PING=1\r\nMSICMP=1\r\n", "rs_icmp", 15, "net down"};
const Engine LIBRARY{ICMP_LIBRARY, "library", "PING=0\r\nMSICMP=1\r\n", "ms_icmp", 11010,
                     "Timed out",  true};
const Engine LIBRARY_RAW{ICMP_LIBRARY, "library_raw", "PING=0\r\nMSICMP=1\r\n",
                         "ms_icmp",    11010,         "Timed out"};
const Engine TCP{TCP_CONNECT, "tcp", "PING=0\r\nMSICMP=0\r\nPORT=230\r\n",
                 "tcp",       10004, "Timed out"};

std::string EngineName(const testing::TestParamInfo<Engine>& parameter) {
    return parameter.param.name;
}

// Every text put into the message pane, and the window title at each.
std::vector<std::string> paneTexts, paneTitles;
void ClearPanes() {
    paneTexts.clear();
    paneTitles.clear();
}

// How many log lines carry exactly `message` ("MM/DD/YY HH:MM:SS message").
int CountLines(const std::string& text, const std::string& message) {
    std::string escaped =
        std::regex_replace(message, std::regex(R"([\\^$.|?*+()\[\]{}])"), R"(\$&)");
    std::regex line(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d )" + escaped + "\r\n");
    return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), line),
                                          std::sregex_iterator()));
}

// The sanitizers' runtime opens descriptors of its own while the program runs (a pipe, to
// tell whether memory can be read), so under them a table without free descriptors gives
// false reports: the cycles short of descriptors run in the normal build only.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool DESCRIPTORS_MAY_RUN_OUT = false;
#else
constexpr bool DESCRIPTORS_MAY_RUN_OUT = true;
#endif

// Every descriptor a limit of 1024 allows but `spare`, held, under that limit, until it ends.
struct DescriptorsTaken {
    explicit DescriptorsTaken(int spare) {
        getrlimit(RLIMIT_NOFILE, &limit);
        rlimit lowered{1024, limit.rlim_max}; // far more than the test has open
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int descriptor; (descriptor = open("/dev/null", O_RDONLY)) >= 0;)
            taken.push_back(descriptor);
        for (int freed = 0; freed < spare; ++freed, taken.pop_back())
            close(taken.back());
    }
    ~DescriptorsTaken() {
        for (int descriptor : taken)
            close(descriptor);
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    rlimit limit{};
    std::vector<int> taken;
};

// The real main window on net.db, written by the test beside TARNMAP.INI.
class PollTest : public MainWindowTest {
  protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        ClearPanes();
        rawIcmpUsed = 0;
        WatchStatusBarText([](int part, const char* text) {
            if (part == 0) {
                paneTexts.push_back(text);
                paneTitles.push_back(Title());
            }
        });
    }
    void TearDown() override {
        WatchStatusBarText(nullptr);
        rawIcmpUsed = 0;
        MainWindowTest::TearDown();
    }

    // Writes net.db with `hosts` ("name,address,flags" each), TARNMAP.INI with `options`,
    // and net.INI with `mapOptions` in [OPTS] and the host sections `hostSettings`, and
    // opens the main window on them.
    void Open(const std::vector<std::string>& hosts, const std::string& options,
              const std::string& hostSettings = "",
              const std::string& mapOptions = "TIMER=5\r\nNOCHECK=0\r\nSOUND=0\r\n") {
        std::string map = "T" + dir_.file("net.db") + " 126/12/06 09:00\r\nBpoll test\r\nV1\r\n";
        int column = 1;
        for (const std::string& host : hosts) {
            std::size_t flags = host.rfind(',');
            map += "H" + host.substr(0, flags) + ",,," + std::to_string(column) + ",3," +
                   host.substr(flags + 1) + ",1,1\r\n";
            column += 3;
        }
        WriteWholeFile(dir_.file("TARNMAP.INI"), "[OPTS]\r\nSHOW=1\r\n" + options);
        OpenMap("net", map, "[OPTS]\r\nICONS=0\r\n" + mapOptions + hostSettings);
    }

    // One cycle by the "check" command, run to its end; the pane texts are those of
    // this cycle.
    void Check() {
        ClearPanes();
        SendMessage(mainWindow, WM_COMMAND, CMD_CHECK, 0);
        ASSERT_TRUE(RunCycleToEnd());
    }

    std::string Log() const { return ReadWholeFile(dir_.file("net.LOG")); }
};

// The program's namespace and the server's, joined directly; the program's thread is in
// its own for the test's life.
struct TwoHostNetwork {
    bool Build(const Engine& engine) {
        if (!client.ok() || !server.ok() ||
            !ConnectNamespaces(client, "c0", std::string(CLIENT) + "/24", server, "s0",
                               std::string(SERVER) + "/24"))
            return false;
        // The library engine uses a ping socket where the group may open one, else a raw one.
        if (engine.kind == ICMP_LIBRARY && !client.AllowPingSockets(engine.pingSockets))
            return false;
        inside = std::make_unique<EnteredNamespace>(client);
        return inside->ok();
    }

    // ICMP engines: the server ignores echo requests. TCP: its answers to the program are
    // thrown away, so a connection attempt hears nothing, not even a reset.
    bool Silence(const Engine& engine, bool silent) const {
        if (engine.kind != TCP_CONNECT)
            return server.SetSysctl("net.ipv4.icmp_echo_ignore_all", silent ? "1" : "0");
        return server.Ip(
            {"route", silent ? "add" : "del", "blackhole", std::string(CLIENT) + "/32"});
    }

    NetworkNamespace client{"pollc"}, server{"polls"};
    std::unique_ptr<EnteredNamespace> inside;
};

class PollEngineTest : public PollTest, public testing::WithParamInterface<Engine> {};

TEST_P(PollEngineTest, HostFallsSilentGoesDownAndComesBack) {
    SKIP_WITHOUT_NAMESPACES();
    const Engine engine = GetParam();
    TwoHostNetwork network;
    ASSERT_TRUE(network.Build(engine));

    Open({"self,127.0.0.1,0", std::string("target,") + SERVER + ",0", "named,localhost,0",
          std::string("skipped,") + SERVER + ",1", "badaddr,fe80::1,0", "ghost,ghost.invalid,0"},
         engine.options + std::string("WAIT=1000\r\n"),
         "[target]\r\nEXTERNAL=true" // the exec test runs real programs
         "\r\nBEEP_NUMBER=555\r\nBEEP_CODE=7\r\nBEEP_PRIORITY=1\r\nBEEP_COUNT=5\r\n");
    ASSERT_EQ(hostCount, 6);
    HostRecord& self = hostTable[0];
    HostRecord& target = hostTable[1];
    HostRecord& named = hostTable[2];
    HostRecord& skipped = hostTable[3];
    skipped.status = 4242; // a value no check would leave

    // Cycle 1: everyone who can answers. The pane names the host the cycle waits on.
    Check();
    ASSERT_GE(paneTexts.size(), 2u);
    EXPECT_EQ(paneTexts.front(), " check in progress");
    EXPECT_EQ(paneTexts.back(), defaultStatusText);
    const std::regex waiting(
        std::string(R"( check in progress - [0-4] of 5 - \w+ \[[\w.:]+\] \(()") + engine.label +
        "|resolving)\\)");
    for (std::size_t i = 1; i + 1 < paneTexts.size(); ++i)
        EXPECT_TRUE(std::regex_match(paneTexts[i], waiting)) << paneTexts[i];
    EXPECT_EQ(self.status, 0u);
    EXPECT_EQ(self.missed, 0u);
    EXPECT_EQ(target.status, 0u) << "a reply, or for TCP a reset from the closed port";
    EXPECT_EQ(target.missed, 0u);
    EXPECT_EQ(std::string(named.resolvedAddr), "127.0.0.1");
    EXPECT_EQ(std::string(named.address), "localhost");
    EXPECT_EQ(named.status, 0u);
    EXPECT_EQ(hostTable[4].status, 25u);
    EXPECT_EQ(hostTable[4].missed, 3u);
    EXPECT_EQ(hostTable[5].status, 11001u);
    EXPECT_EQ(std::string(hostTable[5].resolvedAddr), "ghost.invalid");
    EXPECT_EQ(rawIcmpUsed, engine.kind == RAW_SOCKET ? 1 : 0);
    if (engine.kind == TCP_CONNECT) {
        EXPECT_EQ(self.rtt, 0u);
        EXPECT_EQ(options.useRawIcmp, 0u);
    }
    EXPECT_EQ(HostColorSlot(target), SLOT_OK);

    // The target falls silent for eight cycles. The address localhost had (the target's)
    // is not its own any more: the name is looked up again.
    ASSERT_TRUE(network.Silence(engine, true));
    CopyField(named.resolvedAddr, sizeof named.resolvedAddr, SERVER);
    const ColorSlot bands[8] = {SLOT_ONE,  SLOT_TWO,  SLOT_THREE, SLOT_FOUR,
                                SLOT_FOUR, SLOT_FOUR, SLOT_FOUR,  SLOT_EIGHT};
    for (int cycle = 0; cycle < 8; ++cycle) {
        SCOPED_TRACE("silent cycle " + std::to_string(cycle));
        Check();
        EXPECT_EQ(target.status, engine.silentStatus);
        EXPECT_EQ(target.missed, static_cast<unsigned>(cycle + 1));
        // The raw engine's time-out is a receive failure, which shows the worst colour.
        EXPECT_EQ(HostColorSlot(target), engine.kind == RAW_SOCKET ? SLOT_EIGHT : bands[cycle]);
        EXPECT_EQ(self.missed, 0u);
        EXPECT_EQ(Log().find("up, missed"), std::string::npos);
    }
    EXPECT_EQ(target.lost, 8u);
    EXPECT_EQ(skipped.status, 4242u) << "a host that is not monitored is never touched";
    EXPECT_EQ(skipped.missed, 2u);
    EXPECT_EQ(skipped.lost, 0u);
    EXPECT_EQ(HostColorSlot(skipped), SLOT_INACTIVE);

    // Down at its fifth failed check, the program at its sixth (BEEP_COUNT 5).
    std::string log = Log();
    EXPECT_EQ(CountLines(log, std::string("target [") + SERVER + "] down, " + engine.downText), 1)
        << log;
    EXPECT_EQ(CountLines(log, "badaddr [fe80::1] down, invalid ipaddr"), 1) << log;
    EXPECT_EQ(CountLines(log, "ghost [ghost.invalid] down, Name not resolved"), 1) << log;
    EXPECT_EQ(CountLines(log, std::string("true DN 555 7 ") + SERVER), 1) << log;

    // It answers again.
    ASSERT_TRUE(network.Silence(engine, false));
    Check();
    EXPECT_EQ(target.status, 0u);
    EXPECT_EQ(target.missed, 0u);
    EXPECT_EQ(HostColorSlot(target), SLOT_OK);
    log = Log();
    EXPECT_EQ(CountLines(log, std::string("target ") + SERVER + " up, missed 8"), 1) << log;
    EXPECT_EQ(CountLines(log, std::string("true UP 555 7 ") + SERVER), 1) << log;
    EXPECT_EQ(std::string(named.resolvedAddr), "127.0.0.1");
    SavePicture(mapWindow, ("poll_" + std::string(engine.name) + ".png").c_str());
}

INSTANTIATE_TEST_SUITE_P(Engines, PollEngineTest, testing::Values(RAW, LIBRARY, LIBRARY_RAW, TCP),
                         EngineName);

// Ten hosts on loopback but the fourth, which is the silent server. Stop Check comes as
// the cycle waits on it, when the hosts after it have long answered.
class PollAbortTest : public PollEngineTest {};

TEST_P(PollAbortTest, StopCheckCountsTheAwaitedHostOnceAndEndsTheCycleAtOnce) {
    SKIP_WITHOUT_NAMESPACES();
    const Engine engine = GetParam();
    TwoHostNetwork network;
    ASSERT_TRUE(network.Build(engine));
    ASSERT_TRUE(network.Silence(engine, true));
    std::vector<std::string> hosts;
    for (int i = 0; i < 10; ++i)
        hosts.push_back("h" + std::to_string(i) + "," +
                        (i == 3 ? std::string(SERVER) : "127.0.0." + std::to_string(i + 1)) + ",0");
    // A wait far longer than the test: only Stop Check can end the wait on h3.
    Open(hosts, engine.options + std::string("WAIT=60000\r\n"), "",
         "TIMER=5\r\nNOCHECK=0\r\nSOUND=1\r\n");
    EnableJournal(true);
    ClearJournal();

    std::chrono::steady_clock::time_point abortPosted;
    bool posted = false;
    WatchStatusBarText([&](int part, const char* text) {
        if (part == 0)
            paneTexts.push_back(text);
        if (!posted &&
            std::string(text).find(std::string("h3 [") + SERVER + "]") != std::string::npos) {
            PostMessage(mainWindow, WM_COMMAND, CMD_ABORT, 0);
            abortPosted = std::chrono::steady_clock::now();
            posted = true;
        }
    });
    Check();
    auto afterAbort = std::chrono::steady_clock::now() - abortPosted;
    ASSERT_TRUE(posted);
    EXPECT_LT(afterAbort, std::chrono::seconds(1)) << "at once, goal well under 100 ms";
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE("h" + std::to_string(i));
        // h0-h2 answered, h3 failed once, the answers of the rest were dropped.
        EXPECT_EQ(hostTable[i].missed, i < 3 ? 0u : i == 3 ? 3u : 2u);
        EXPECT_EQ(hostTable[i].lost, i == 3 ? 1u : 0u);
        EXPECT_TRUE(i >= 3 || hostTable[i].status == 0u);
    }
    EXPECT_EQ(hostTable[3].status, engine.silentStatus);
    EXPECT_EQ(pollState.hostsChecked, 4);
    EXPECT_EQ(paneTexts.back(), defaultStatusText);
    // The end-of-cycle actions ran: an aborted cycle ends with the up sound.
    bool upSound = false;
    for (const std::string& entry : JournalEntries())
        upSound = upSound || entry.rfind("sound: up.wav", 0) == 0;
    EXPECT_TRUE(upSound);
    EXPECT_EQ(pollState.inProgress, 0);
    EXPECT_TRUE(IsWindowEnabled(checkButton) || !IsWindow(checkButton));
    EXPECT_EQ(cursorState, 0);

    // The next cycle runs through again.
    posted = true;
    ASSERT_TRUE(network.Silence(engine, false));
    Check();
    EXPECT_EQ(hostTable[3].missed, 0u);
    EXPECT_EQ(hostTable[9].missed, 0u);
}

INSTANTIATE_TEST_SUITE_P(Engines, PollAbortTest, testing::Values(RAW, LIBRARY, LIBRARY_RAW, TCP),
                         EngineName);

// The silent server first, then three hosts on loopback that answer a whole WAIT before
// it: each is evaluated after it, in table order, and the log says so whether the checks
// run together or one at a time, line for line as one at a time always wrote it.
TEST_P(PollEngineTest, LaterHostsThatAnswerFirstAreEvaluatedInTableOrder) {
    SKIP_WITHOUT_NAMESPACES();
    const Engine engine = GetParam();
    TwoHostNetwork network;
    ASSERT_TRUE(network.Build(engine));
    ASSERT_TRUE(network.Silence(engine, true));
    const std::string golden = std::string("first [") + SERVER + "] down, " + engine.downText +
                               "\r\nsecond 127.0.0.2 up, missed 5\r\n"
                               "third 127.0.0.3 up, missed 5\r\n"
                               "fourth 127.0.0.4 up, missed 5\r\n";
    Open({std::string("first,") + SERVER + ",0", "second,127.0.0.2,0", "third,127.0.0.3,0",
          "fourth,127.0.0.4,0"},
         engine.options + std::string("WAIT=1000\r\nPARALLEL=1\r\n"));
    ASSERT_EQ(options.parallelChecks, 1u);
    for (unsigned parallel : {1u, 0u, 2u}) {
        SCOPED_TRACE("PARALLEL=" + std::to_string(parallel));
        options.parallelChecks = parallel;
        WriteWholeFile(dir_.file("net.LOG"), "");
        hostTable[0].missed = DOWN_THRESHOLD;
        for (int i = 1; i < 4; ++i)
            hostTable[i].missed = 5;
        Check();
        // The log without its time stamps ("MM/DD/YY HH:MM:SS ").
        std::string log =
            std::regex_replace(Log(), std::regex(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d )"), "");
        EXPECT_EQ(log, golden);
    }
}

// Two hundred silent hosts cost one WAIT, not two hundred.
TEST_P(PollEngineTest, TwoHundredSilentHostsTakeAboutOneWait) {
    SKIP_WITHOUT_NAMESPACES();
    const Engine engine = GetParam();
    TwoHostNetwork network;
    ASSERT_TRUE(network.Build(engine));
    ASSERT_TRUE(network.Silence(engine, true));
    Open(std::vector<std::string>(MAX_HOSTS, std::string("silent,") + SERVER + ",0"),
         engine.options + std::string("WAIT=1000\r\n"));
    ASSERT_EQ(hostCount, MAX_HOSTS);
    // Raw engine: another program's echo replies flood the cycle's socket while it waits.
    bool flooded = engine.kind != RAW_SOCKET;
    ASSERT_TRUE(flooded || network.client.AllowPingSockets(true)); // for the flood
    WatchStatusBarText([&flooded](int, const char* text) {
        if (flooded || std::strstr(text, " of 200 ") == nullptr)
            return;
        flooded = true;
        int flood = ::socket(AF_INET, ::SOCK_DGRAM, ::IPPROTO_ICMP);
        unsigned char request[1400] = {8};
        ::sockaddr_in loopback{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        for (int sent = 0; sent < 4000; ++sent)
            ::sendto(flood, request, sizeof request, 0, reinterpret_cast<::sockaddr*>(&loopback),
                     sizeof loopback);
        ::close(flood);
    });
    auto start = std::chrono::steady_clock::now();
    Check();
    auto elapsed = std::chrono::steady_clock::now() - start;
    std::printf("[ figures  ] 200 silent hosts at WAIT 1000, %s engine: %lld ms\n", engine.name,
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()));
    EXPECT_LT(elapsed, std::chrono::seconds(10)) << "goal about 1.2 s";
    EXPECT_EQ(pollState.hostsChecked, MAX_HOSTS);
    for (int i = 0; i < MAX_HOSTS; ++i)
        ASSERT_EQ(hostTable[i].status, engine.silentStatus) << i;
    EXPECT_EQ(std::regex_search(Log(), std::regex(R"(echo socket full: \d+ datagrams dropped)")),
              engine.kind == RAW_SOCKET);
    if (engine.kind != TCP_CONNECT || !DESCRIPTORS_MAY_RUN_OUT)
        return;

    // Short of descriptors: two silent hosts hold the connects there is room for, and the
    // others, on this machine (the first by its name, which cannot be looked up meanwhile),
    // wait for them instead of failing; with room for none, no host is checked, and none is
    // counted missing for it.
    for (int i = 2; i < MAX_HOSTS; ++i)
        CopyField(hostTable[i].address, sizeof hostTable[i].address,
                  i == 2 ? "localhost" : "127.0.0.1");
    CopyField(hostTable[2].resolvedAddr, sizeof hostTable[2].resolvedAddr, "localhost");
    for (int spare : {3, 1}) { // one goes to the watch over the connects
        {
            DescriptorsTaken held(spare);
            Check();
        }
        EXPECT_EQ(pollState.hostsChecked, spare > 1 ? MAX_HOSTS : 0) << spare;
        EXPECT_EQ(hostTable[1].missed, 4u) << spare;
        EXPECT_TRUE(std::all_of(hostTable + 2, hostTable + MAX_HOSTS, [](const HostRecord& host) {
            return host.status == 0 && host.missed == 0;
        })) << spare;
    }
    EXPECT_EQ(CountLines(Log(), "200 hosts not checked, no file descriptors available"), 1);
}

// A router between the program and three hosts, each host in a namespace of its own
// behind it; the program's thread is in its namespace for the test's life.
struct RoutedNetwork {
    bool Build(const Engine& engine) {
        if (!client.ok() || !router.ok() ||
            !ConnectNamespaces(client, "c0", "10.225.1.1/24", router, "r0", "10.225.1.2/24") ||
            !client.Ip({"route", "add", "10.225.0.0/16", "via", "10.225.1.2"}) ||
            !router.SetSysctl("net.ipv4.ip_forward", "1") ||
            !client.AllowPingSockets(engine.pingSockets))
            return false;
        for (int i = 0; i < 3; ++i) {
            std::string net = "10.225." + std::to_string(i + 2);
            if (!hosts[i].ok() ||
                !ConnectNamespaces(router, "r" + std::to_string(i + 1), net + ".1/24", hosts[i],
                                   "h0", net + ".2/24") ||
                !hosts[i].Ip({"route", "add", "default", "via", net + ".1"}))
                return false;
        }
        inside = std::make_unique<EnteredNamespace>(client);
        return inside->ok();
    }
    // Back, the program's namespace forgets that the router did not answer for its address,
    // so that the next check asks again at once.
    bool CutRouter(bool cut) const {
        return router.Ip({"link", "set", "r0", cut ? "down" : "up"}) &&
               (cut || client.Ip({"neigh", "flush", "dev", "c0"}));
    }

    NetworkNamespace client{"parc"}, router{"parr"};
    NetworkNamespace hosts[3] = {NetworkNamespace{"par1"}, NetworkNamespace{"par2"},
                                 NetworkNamespace{"par3"}};
    std::unique_ptr<EnteredNamespace> inside;
};

class PollParentsTest : public PollEngineTest {};

// The router fails: it alone is declared down with its alarm; the hosts behind it are told
// unreachable once and start nothing. The router no longer checked: the hosts behind it are
// judged on their own, lan3 now behind lan2. The router checked and back while one host
// stays silent: that host is declared down at once with its own alarm. Every host back: the
// up lines.
TEST_P(PollParentsTest, HostsBehindADownRouterAreUnreachableNotDown) {
    SKIP_WITHOUT_NAMESPACES();
    const Engine engine = GetParam();
    RoutedNetwork network;
    ASSERT_TRUE(network.Build(engine));
    const std::string calls = dir_.file("calls.txt");
    const std::string script = dir_.file("record");
    WriteWholeFile(script, "#!/bin/sh\necho \"$*\" >> " + calls + "\n");
    ASSERT_TRUE(RunProgram({"chmod", "+x", script}));
    auto section = [&](const std::string& name, int code, const std::string& parent) {
        return "[" + name + "]\r\nBEEP_COUNT=5\r\nBEEP_EACH=1\r\nBEEP_NUMBER=555\r\nBEEP_CODE=" +
               std::to_string(code) + "\r\nEXTERNAL=" + script + "\r\n" +
               (parent.empty() ? "" : "PARENT=" + parent + "\r\n");
    };
    // Hosts before their router in the table: the cycle waits for the router.
    Open({"lan1,10.225.2.2,0", "router,10.225.1.2,0", "lan2,10.225.3.2,0", "lan3,10.225.4.2,0",
          "self,127.0.0.1,0"},
         engine.options + std::string("WAIT=1000\r\n"),
         section("lan1", 2, "router") + section("router", 1, "") + section("lan2", 3, "router") +
             section("lan3", 4, "lan2") + "[self]\r\nPARENT=nowhere\r\n");
    auto previousQuestion = mapCommandAllowed;
    mapCommandAllowed = nullptr;
    HostRecord* lan[3] = {&hostTable[0], &hostTable[2], &hostTable[3]};
    const HostRecord& router = hostTable[1];
    Check();
    for (const HostRecord* host : lan)
        EXPECT_EQ(host->missed, 0u) << host->name;

    ASSERT_TRUE(network.CutRouter(true));
    for (int cycle = 0; cycle < 6; ++cycle)
        Check();
    std::string log = Log();
    EXPECT_EQ(CountLines(log, "self: PARENT=nowhere names no host, ignored"), 1) << log;
    // Down lines whatever the error the cut gives.
    auto downLines = [&](const std::string& host) {
        std::regex down(R"(\d )" + host + R"( \[[0-9.]+\] down, )");
        return std::distance(std::sregex_iterator(log.begin(), log.end(), down),
                             std::sregex_iterator());
    };
    EXPECT_EQ(downLines("router"), 1) << log;
    EXPECT_EQ(CountLines(log, "lan1 [10.225.2.2] unreachable behind router"), 1) << log;
    EXPECT_EQ(CountLines(log, "lan2 [10.225.3.2] unreachable behind router"), 1) << log;
    EXPECT_EQ(CountLines(log, "lan3 [10.225.4.2] unreachable behind router"), 1) << log;
    EXPECT_EQ(downLines("lan1"), 0) << log;
    for (const HostRecord* host : lan) {
        EXPECT_EQ(host->missed, 6u) << host->name;
        EXPECT_EQ(host->lost, 6u) << host->name;
        EXPECT_EQ(HostColorSlot(*host), SLOT_UNREACH) << host->name;
    }
    EXPECT_NE(HostColorSlot(router), SLOT_UNREACH);
    UpdateWindow(mapWindow);
    EXPECT_EQ(
        WindowPixel(mapWindow, HeldPixel(CellLeft(lan[0]->col)), HeldPixel(CellTop(lan[0]->row))),
        RGB(128, 128, 255))
        << "palette index 14 by default";
    EXPECT_EQ(
        WindowPixel(mapWindow, HeldPixel(CellLeft(router.col)), HeldPixel(CellTop(router.row))),
        PaletteColor(colorTable[HostColorSlot(router)]));
    SavePicture(mapWindow, ("poll_parents_" + std::string(engine.name) + ".png").c_str());
    char detail[DETAIL_LINES][DETAIL_LINE_LENGTH];
    int lines = ComposeHostDetail(*lan[2], detail);
    EXPECT_STREQ(detail[lines - 1], "Behind: router (down)") << "the host in the way";
    if (HWND shown = ShowHostDetail(mainWindow, 3); shown != 0) {
        UpdateWindow(shown);
        SavePicture(shown, ("host_detail_behind_" + std::string(engine.name) + ".png").c_str());
        SendMessage(shown, WM_LBUTTONUP, 0, 0);
    }

    // Its Monitor box cleared, the router's old standing no longer hides lan1 and lan2.
    hostTable[1].flags |= HOST_NOT_MONITORED;
    Check();
    log = Log();
    EXPECT_EQ(downLines("lan1"), 1) << log;
    EXPECT_EQ(downLines("lan2"), 1) << log;
    lines = ComposeHostDetail(*lan[2], detail);
    EXPECT_STREQ(detail[lines - 1], "Behind: lan2 (down)");
    hostTable[1].flags = 0;

    // The router is back; lan3 stays silent.
    ASSERT_TRUE(network.hosts[2].SetSysctl("net.ipv4.icmp_echo_ignore_all", "1"));
    ASSERT_TRUE(network.CutRouter(false));
    Check();
    EXPECT_EQ(router.missed, 0u);
    log = Log();
    EXPECT_EQ(CountLines(log, "router 10.225.1.2 up, missed 6"), 1) << log;
    EXPECT_EQ(CountLines(log, "lan1 10.225.2.2 up, missed 7"), 1) << log;
    EXPECT_EQ(CountLines(log, "lan3 [10.225.4.2] down, " + std::string(engine.downText)), 1) << log;
    EXPECT_EQ(HostColorSlot(*lan[2]), SLOT_EIGHT) << "its missed band again";

    ASSERT_TRUE(network.hosts[2].SetSysctl("net.ipv4.icmp_echo_ignore_all", "0"));
    Check();
    log = Log();
    EXPECT_EQ(CountLines(log, "lan3 10.225.4.2 up, missed 8"), 1) << log;
    mapCommandAllowed = previousQuestion;

    // Each host's own alarms ran, none for a host that sat behind another, each program to
    // its end.
    const std::vector<std::string> expected = {
        "DN 555 1 10.225.1.2", "DN 555 2 10.225.2.2", "DN 555 3 10.225.3.2", "DN 555 4 10.225.4.2",
        "UP 555 1 10.225.1.2", "UP 555 2 10.225.2.2", "UP 555 3 10.225.3.2", "UP 555 4 10.225.4.2"};
    std::vector<std::string> recorded;
    for (auto start = std::chrono::steady_clock::now();
         std::chrono::steady_clock::now() - start < std::chrono::seconds(10);) {
        std::istringstream text(ReadWholeFile(calls));
        recorded.clear();
        for (std::string line; std::getline(text, line);)
            recorded.push_back(line);
        if (recorded.size() >= expected.size())
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::sort(recorded.begin(), recorded.end());
    EXPECT_EQ(recorded, expected) << "each a short script, goal well under 1 s";
}

INSTANTIATE_TEST_SUITE_P(Engines, PollParentsTest, testing::Values(LIBRARY, LIBRARY_RAW),
                         EngineName);

// The first name server of the system, when it is an IPv4 address outside loopback.
std::string SystemNameServer() {
    std::smatch match;
    std::string text = ReadWholeFile("/etc/resolv.conf");
    static const std::regex line(R"((^|\n)nameserver\s+(\d+\.\d+\.\d+\.\d+))");
    if (!std::regex_search(text, match, line) || match[2].str().rfind("127.", 0) == 0)
        return "";
    return match[2];
}

// A map of both families in one cycle: IPv4, IPv6 (entered long, shown short), IPv4-mapped
// (checked over IPv4), a link-local address without a zone and an IPv6 prefix this host
// has no route to, each through the engine's socket of its family, with the log's lines.
TEST_F(PollTest, IPv4AndIPv6HostsAreCheckedInOneCycle) {
    SKIP_WITHOUT_NAMESPACES();
    NetworkNamespace client{"dualc"}, server{"duals"};
    ASSERT_TRUE(client.ok() && server.ok());
    ASSERT_TRUE(client.SetSysctl("net.ipv6.conf.default.accept_dad", "0") &&
                server.SetSysctl("net.ipv6.conf.default.accept_dad", "0"));
    ASSERT_TRUE(ConnectNamespaces(client, "c0", "10.225.1.1/24", server, "s0", "10.225.1.2/24"));
    ASSERT_TRUE(client.Ip({"-6", "addr", "add", "fd35:1::1/64", "dev", "c0", "nodad"}) &&
                server.Ip({"-6", "addr", "add", "fd35:1::2/64", "dev", "s0", "nodad"}) &&
                client.Ip({"-6", "route", "add", "unreachable", "fd35:9::/64"}) &&
                client.SetSysctl("net.ipv4.ping_group_range", "0 2147483647"));
    EnteredNamespace inside(client);
    ASSERT_TRUE(inside.ok());

    Open({"four,10.225.1.2,0", "six,FD35:1:0:0:0:0:0:2,0", "mapped,::ffff:10.225.1.2,0",
          "nozone,fe80::1,0", "gone,fd35:9::1,0"},
         LIBRARY.options + std::string("WAIT=1000\r\n"));
    ASSERT_EQ(hostCount, 5);
    for (int cycle = 0; cycle < 3; ++cycle) // the failed ones go down at their third failure
        Check();
    const struct {
        const char* resolved;
        unsigned status;
    } expected[] = {{"10.225.1.2", 0},
                    {"fd35:1::2", 0},
                    {"::ffff:10.225.1.2", 0},
                    {"fe80::1", STATUS_INVALID_ADDRESS},
                    {"fd35:9::1", 11003}}; // this host has no route: the kernel says so
    for (int i = 0; i < hostCount; ++i) {
        SCOPED_TRACE(hostTable[i].name);
        EXPECT_STREQ(hostTable[i].resolvedAddr, expected[i].resolved);
        EXPECT_EQ(hostTable[i].status, expected[i].status);
    }
    EXPECT_EQ(hostTable[1].rttTaken, 1u) << "a reply over ICMPv6 has its round trip";
    std::string log = Log();
    EXPECT_EQ(CountLines(log, "nozone [fe80::1] down, invalid ipaddr"), 1) << log;
    EXPECT_EQ(CountLines(log, "gone [fd35:9::1] down, Host unreachable"), 1) << log;
    EXPECT_EQ(log.find("four"), std::string::npos) << log;
    EXPECT_EQ(log.find("six"), std::string::npos) << log;
    char lines[DETAIL_LINES][DETAIL_LINE_LENGTH];
    ComposeHostDetail(hostTable[1], lines);
    EXPECT_STREQ(lines[1], "Addr: fd35:1::2");
}

// Two names whose name server never answers, between hosts that do: the names count as
// not resolved after one WAIT, far before the resolver gives up, and the cycle is no
// longer for them.
TEST_F(PollTest, NamesWhoseServerNeverAnswersDoNotHoldTheCycle) {
    SKIP_WITHOUT_NAMESPACES();
    const std::string nameServer = SystemNameServer();
    if (nameServer.empty())
        GTEST_SKIP() << "no name server outside loopback to silence";
    TwoHostNetwork network;
    ASSERT_TRUE(network.Build(TCP));
    // Its queries go to the server's namespace, which drops them.
    ASSERT_TRUE(network.client.Ip({"route", "add", nameServer + "/32", "via", SERVER}));
    Open({"one,127.0.0.1,0", "slow,slow1.example,0", "two,127.0.0.2,0", "slower,slow2.example,0",
          "three,127.0.0.3,0"},
         TCP.options + std::string("WAIT=1000\r\n"));
    // Where "three" was when its name last resolved: it is checked there meanwhile.
    CopyField(hostTable[4].address, sizeof hostTable[4].address, "slow3.example");
    auto start = std::chrono::steady_clock::now();
    Check();
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(10)) << "goal one WAIT; the resolver waits 5 s a try";
    for (int i : {0, 2, 4})
        EXPECT_EQ(hostTable[i].missed, 0u) << i;
    EXPECT_EQ(std::string(hostTable[4].resolvedAddr), "127.0.0.3");
    for (int i : {1, 3}) {
        EXPECT_EQ(hostTable[i].status, 11001u) << i;
        EXPECT_EQ(hostTable[i].missed, 3u) << i;
    }
    EXPECT_EQ(std::string(hostTable[1].resolvedAddr), "slow1.example");
    // Not when FAMILY no longer takes the family of that address.
    options.addressFamily = ADDRESS_FAMILY_IPV6;
    Check();
    EXPECT_EQ(hostTable[4].status, 11001u);
    options.addressFamily = ADDRESS_FAMILY_ANY;
}

// Edits while a check waits on the silent first host: the host deleted and the host
// given another address are said nothing of, and the hosts that moved up get their own
// outcomes; a new map ends the cycle.
TEST_F(PollTest, EditsDuringACycleGiveNoHostAnotherHostsOutcome) {
    SKIP_WITHOUT_NAMESPACES();
    TwoHostNetwork network;
    ASSERT_TRUE(network.Build(TCP));
    ASSERT_TRUE(network.Silence(TCP, true));
    Open({std::string("gone,") + SERVER + ",0", "stays,127.0.0.1,0", "moved,127.0.0.2,0"},
         TCP.options + std::string("WAIT=1000\r\n"));
    bool edited = false;
    onTestTimer = [&](UINT_PTR) {
        if (edited || !pollState.inProgress)
            return;
        DeleteHost(0); // as the editor does
        CopyField(hostTable[1].address, sizeof hostTable[1].address, SERVER);
        CopyField(hostTable[1].resolvedAddr, sizeof hostTable[1].resolvedAddr, SERVER);
        edited = true;
    };
    hostTable[2].status = 4242; // a value no check would leave
    ASSERT_NE(SetTimer(testWindow_, 7, 100, nullptr), 0u);
    Check();
    KillTimer(testWindow_, 7);
    ASSERT_TRUE(edited);
    ASSERT_EQ(hostCount, 2);
    EXPECT_EQ(hostTable[0].missed, 0u) << "stays answered";
    EXPECT_EQ(hostTable[1].missed, 2u) << "moved: the answer of its old address is not its own";
    EXPECT_EQ(hostTable[1].status, 4242u);
    EXPECT_EQ(alarmCycle.failed, 0u);
    EXPECT_EQ(Log().find("down"), std::string::npos);

    // A new map while the cycle waits on the silent host ends the cycle at once, and the
    // cycle's end acts on its own map.
    options.waitTimeout = 60000;
    bool renewed = false;
    static int hostsAtCycleEnd = -1;
    onTestTimer = [&](UINT_PTR) {
        if (renewed || !pollState.inProgress)
            return;
        pollState.atCycleEnd = [] { hostsAtCycleEnd = hostCount; };
        QueueMessageBoxAnswer(IDNO); // the edits are not saved
        SendMessage(mainWindow, WM_COMMAND, CMD_NEW, 0);
        renewed = true;
    };
    ASSERT_NE(SetTimer(testWindow_, 7, 100, nullptr), 0u);
    auto start = std::chrono::steady_clock::now();
    Check();
    KillTimer(testWindow_, 7);
    ASSERT_TRUE(renewed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(hostCount, 0);
    EXPECT_EQ(hostsAtCycleEnd, 2);
    EXPECT_EQ(alarmCycle.failed, 0u);
}

TEST_F(PollTest, EmptyMapAndCommandsAndTicksDuringACycle) {
    Open({}, TCP.options);
    ASSERT_EQ(hostCount, 0);
    Check();
    EXPECT_EQ(paneTexts, (std::vector<std::string>{" check in progress", defaultStatusText}));
    EXPECT_EQ(pollState.inProgress, 0);

    // During a cycle: the check button is off, the cursor busy, "check" refused; leaving
    // edit mode starts the countdown again and its tick stops the timer, nothing else.
    AppendHost(1, 1);
    AppendHost(5, 1);
    CopyField(hostTable[0].address, sizeof hostTable[0].address, "127.0.0.1");
    CopyField(hostTable[1].address, sizeof hostTable[1].address, "127.0.0.2");
    CopyField(hostTable[0].resolvedAddr, sizeof hostTable[0].resolvedAddr, "127.0.0.1");
    CopyField(hostTable[1].resolvedAddr, sizeof hostTable[1].resolvedAddr, "127.0.0.2");
    hostTable[1].status = 4242;
    AppendHost(9, 1);        // a new host whose dialog was cancelled: no address, never checked
    pollState.countdown = 0; // "check" pressed when the countdown had run out
    bool served = false;
    onTestMessage = [&] {
        served = true;
        EXPECT_EQ(pollState.inProgress, 1);
        EXPECT_FALSE(IsWindowEnabled(checkButton));
        EXPECT_EQ(cursorState, 1);
        EXPECT_EQ(PaneText(2), "POLL");
        SendMessage(mainWindow, WM_COMMAND, CMD_CHECK, 0);
        StartPollTimer();
        ASSERT_EQ(pollState.timerActive, 1);
        SendMessage(mainWindow, WM_TIMER, POLL_TIMER_ID, 0);
        EXPECT_EQ(pollState.timerActive, 0);
        EXPECT_EQ(pollState.countdown, -1);
        EXPECT_EQ(Title(), "net* (polling)") << "hosts added, not saved";
    };
    PostMessage(testWindow_, WM_USER, 0, 0);
    Check();
    ASSERT_TRUE(served);
    EXPECT_EQ(std::count(paneTexts.begin(), paneTexts.end(), " check in progress"), 1)
        << "no cycle inside a cycle";
    EXPECT_EQ(hostTable[1].status, 0u) << "the cycle went on to the end";
    EXPECT_EQ((std::vector<unsigned>{unsigned(pollState.hostsChecked), hostTable[2].status,
                                     hostTable[2].missed}),
              (std::vector<unsigned>{2, 0, 0}));
    EXPECT_TRUE(IsWindowEnabled(checkButton));
    EXPECT_EQ(PaneText(2), "IDLE");
    EXPECT_EQ(pollState.timerActive, 1) << "the command that started the cycle restarts the timer";
    EXPECT_EQ(pollState.countdown, 5);
}

// Stop Check while the host at the cursor waits for a descriptor: its check never started,
// so it is not counted as a miss, as it would not be when the wait is given up.
TEST_F(PollTest, StopCheckWhileAHostWaitsForADescriptorCountsNoMiss) {
    if (!DESCRIPTORS_MAY_RUN_OUT)
        GTEST_SKIP() << "the sanitizers' runtime needs descriptors of its own";
    Open({"one,127.0.0.1,0"}, TCP.options + std::string("WAIT=1000\r\n"));
    bool posted = false;
    WatchStatusBarText([&posted](int, const char* text) {
        if (!posted && std::strstr(text, " - 0 of 1 - one ") != nullptr)
            posted = PostMessage(mainWindow, WM_COMMAND, CMD_ABORT, 0);
    });
    {
        DescriptorsTaken held(1); // all but the watch over the connects'
        Check();
    }
    ASSERT_TRUE(posted);
    EXPECT_EQ(hostTable[0].missed, 2u);
    EXPECT_EQ(hostTable[0].lost, 0u);
    EXPECT_EQ(pollState.hostsChecked, 0);
}

TEST_F(PollTest, CountdownRunsDownThenPollsOnTheNextTick) {
    Open({"one,127.0.0.1,0"}, TCP.options);
    ASSERT_EQ(pollState.timerActive, 1);
    ASSERT_EQ(pollState.countdown, 10);
    ClearPanes();
    // The first cycle comes 11 ticks after the window was made.
    for (int tick = 1; tick <= 10; ++tick) {
        SendMessage(mainWindow, WM_TIMER, POLL_TIMER_ID, 0);
        char pane[8];
        std::snprintf(pane, sizeof pane, "%03d", 10 - tick);
        EXPECT_EQ(PaneText(1), pane);
    }
    EXPECT_TRUE(paneTexts.empty()) << "no cycle before the eleventh tick";
    EXPECT_EQ(Title(), "net 1");
    SendMessage(mainWindow, WM_TIMER, POLL_TIMER_ID, 0);
    EXPECT_EQ(PaneText(1), "005") << "while the cycle runs";
    ASSERT_TRUE(RunCycleToEnd());
    ASSERT_FALSE(paneTexts.empty());
    EXPECT_EQ(paneTexts.front(), " check in progress");
    EXPECT_EQ(paneTitles.front(), "net (polling)");
    EXPECT_EQ(hostTable[0].missed, 0u);
    EXPECT_EQ(pollState.countdown, 5);
    EXPECT_EQ(pollState.timerActive, 1);
    EXPECT_EQ(Title(), "net");

    // TIMER 5: 004 ... 000, then the cycle on the next tick; the title follows until 1.
    const char* const panes[] = {"004", "003", "002", "001", "000"};
    const char* const titles[] = {"net 4", "net 3", "net 2", "net 1", "net 1"};
    for (int tick = 0; tick < 5; ++tick) {
        ClearPanes();
        OnPollTick(mainWindow);
        EXPECT_EQ(PaneText(1), panes[tick]);
        EXPECT_EQ(Title(), titles[tick]);
        EXPECT_TRUE(paneTexts.empty()) << "no cycle at " << panes[tick];
    }
    hostTable[0].missed = 7;
    OnPollTick(mainWindow);
    ASSERT_TRUE(RunCycleToEnd());
    EXPECT_EQ(hostTable[0].missed, 0u) << "the sixth tick polls";
    EXPECT_EQ(PaneText(1), "005");
}

// Where the system allows no ICMP, the probe writes the notice (its text and the log line
// are checked by the headless permission test); the end of its cycle shows it once, in the
// status bar and in a box that stays until it is read. NOCHECK starts no countdown, not
// even on leaving edit mode; "check" still polls.
TEST_F(PollTest, ThePermissionNoticeShowsOnceAtTheEndOfItsCycleAndNoCheckStartsNoTimer) {
    Open({"one,127.0.0.1,0"}, TCP.options, "", "TIMER=5\r\nNOCHECK=1\r\nSOUND=0\r\n");
    EXPECT_EQ(pollState.timerActive, 0);
    EXPECT_EQ(PaneText(1), "inactive");
    SendMessage(mainWindow, WM_COMMAND, CMD_EDIT_MODE, 0);
    SendMessage(mainWindow, WM_COMMAND, CMD_EDIT_MODE, 0);
    EXPECT_EQ(pollState.timerActive, 0) << "leaving edit mode";
    EnableJournal(true);
    const std::string notice = "ICMP echo not permitted, checking by TCP port 230. As root, "
                               "allow it: sysctl -w net.ipv4.ping_group_range=\"0 2147483647\" "
                               "or setcap cap_net_raw+p /usr/bin/tarnmap";
    CopyField(icmpNotice.text, sizeof icmpNotice.text, notice.c_str());
    icmpNotice.unshown = 1;
    QueueMessageBoxAnswer(IDOK);
    SaveNextBoxImage((std::string(getenv("TARNMAP_TEST_OUTPUT")) + "/icmp_notice.png").c_str());
    Check();
    EXPECT_EQ(PaneText(0), notice);
    EXPECT_EQ(hostTable[0].missed, 0u);
    EXPECT_EQ(pollState.timerActive, 0);
    Check();
    EXPECT_EQ(PaneText(0), defaultStatusText);
    EXPECT_EQ(JournalEntries(), std::vector<std::string>{"messagebox: Tarnmap: " + notice});
    icmpNotice.text[0] = '\0';
}

} // namespace
