// The real program run headless as user nobody in a namespace of the test's own, on a map of
// one IPv4 and one IPv6 host: with neither ping sockets (net.ipv4.ping_group_range "1 0", a
// new namespace's default) nor CAP_NET_RAW it says once, in the log and on standard error,
// how to allow ICMP, and checks both by TCP meanwhile; with ping sockets allowed (the same
// setting governs ICMPv6 ones), or with the raw socket capability in the permitted set of
// a copy of the program file, or ambient as the service unit gives it, it checks both by ICMP
// and says nothing.
#include "support/netns.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::string NoticeFor(unsigned port, const std::string& program) {
    return "ICMP echo not permitted, checking by TCP port " + std::to_string(port) +
           ". As root, allow it: sysctl -w net.ipv4.ping_group_range=\"0 2147483647\" or "
           "setcap cap_net_raw+p " +
           program;
}

// A TCP listener on 127.0.0.1 and one on ::1, with the same port, inside a namespace; they
// count the probes that reached them.
struct Listener {
    int sockets_[2] = {-1, -1};
    unsigned port = 0;
    explicit Listener(const NetworkNamespace& space) {
        unsigned short first = ListenIn(space, "127.0.0.1", &sockets_[0], 0, SOCK_NONBLOCK);
        if (first != 0 && ListenIn(space, "::1", &sockets_[1], first, SOCK_NONBLOCK) == first)
            port = first;
    }
    ~Listener() {
        close(sockets_[0]);
        close(sockets_[1]);
    }
    // Connections made since the last call, of both families.
    int Accepted() {
        int count = 0;
        for (int listener : sockets_)
            for (int connection; (connection = accept(listener, nullptr, nullptr)) >= 0; ++count)
                close(connection);
        return count;
    }
};

// What one run of the program left behind.
struct Outcome {
    int status = -1;
    std::string out, err, log;
};

// Runs `program` --headless --cycles 2 in `dir` as user and group nobody inside `space`, with
// these [OPTS] of TARNMAP.INI and the capabilities setpriv gives from `privileges`, on a map of
// 127.0.0.1, ::1 and a host without a route, whose first failed check starts its alarm
// program: a script that writes the capability sets it was started with (TakeScriptOutput).
Outcome RunAsNobody(const TempDir& dir, const NetworkNamespace& space, const std::string& program,
                    const std::string& options, const std::vector<std::string>& privileges = {}) {
    std::filesystem::remove(dir.file("map.LOG"));
    WriteWholeFile(dir.file("map.db"),
                   "Bpermission test\r\nV1\r\nHloopback,127.0.0.1,,,1,1,0,1,1\r\n"
                   "Hloopback6,::1,,,1,1,0,1,1\r\nHgone,10.99.99.99,,,1,2,0,1,1\r\n");
    WriteWholeFile(dir.file("map.INI"),
                   "[OPTS]\r\nWAIT=2000\r\nSOUND=0\r\n[gone]\r\nEXTERNAL=" + dir.file("alarm.sh") +
                       "\r\nBEEP_COUNT=2\r\nBEEP_PRIORITY=1\r\nBEEP_EACH=1\r\n");
    WriteWholeFile(dir.file("alarm.sh"),
                   "#!/bin/sh\ngrep ^Cap /proc/$$/status > $0.tmp; mv $0.tmp $0.out\n");
    WriteWholeFile(dir.file("TARNMAP.INI"), "[OPTS]\r\n" + options);
    chmod(dir.path().c_str(), 0777);
    for (const char* name : {"map.db", "map.INI", "TARNMAP.INI", "alarm.sh"})
        chmod(dir.file(name).c_str(), 0777);
    // A program with file capabilities may not be traced, which the leak checker of a
    // sanitizer build needs.
    std::vector<std::string> command = {"/usr/bin/env",  "ip",           "netns",
                                        "exec",          space.name(),   "setpriv",
                                        "--reuid=65534", "--regid=65534"};
    command.insert(command.end(), privileges.begin(), privileges.end());
    command.insert(command.end(),
                   {"--clear-groups", program, "--headless", "--cycles", "2", "map.db"});
    pid_t child = StartProgramIn(dir.path(), command,
                                 {"HOME=" + dir.path(), "XDG_CONFIG_HOME=" + dir.path(),
                                  "XDG_RUNTIME_DIR=" + dir.path(), "ASAN_OPTIONS=detect_leaks=0"});
    Outcome run;
    run.status = child > 0 ? WaitForExit(child, 60) : -1;
    run.out = ReadWholeFile(dir.file("out.txt"));
    run.err = ReadWholeFile(dir.file("err.txt"));
    run.log = ReadWholeFile(dir.file("map.LOG"));
    return run;
}

// Both cycles found both loopback hosts answering.
void ExpectTwoAnsweringCycles(const Outcome& run) {
    ASSERT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status << "\n"
                                                                       << run.err << run.out;
    EXPECT_EQ(CountOf(run.out, ": 3 checked, 2 answering, 1 missing"), 2) << run.out;
}

TEST(IcmpPermission, WithoutPingOrRawSocketsTheProgramSaysHowToAllowThemAndEachRemedyWorks) {
    SKIP_WITHOUT_NAMESPACES();
    NetworkNamespace space("icmp");
    ASSERT_TRUE(space.ok());
    ASSERT_TRUE(space.SetSysctl("net.ipv4.ping_group_range", "1 0"));
    Listener listener(space);
    ASSERT_NE(listener.port, 0u);
    std::string port = "PORT=" + std::to_string(listener.port) + "\r\n";
    std::string notice =
        NoticeFor(listener.port, std::filesystem::canonical(TARNMAP_BINARY).string());
    TempDir dir;

    // Whichever ICMP engine the settings ask for, the system refuses it; asked for none,
    // there is nothing to say. Every check goes by TCP either way.
    struct Case {
        const char* options;
        bool notice;
    };
    for (Case setting :
         {Case{"PING=0\r\nMSICMP=1\r\n", true}, Case{"PING=1\r\nMSICMP=1\r\n", true},
          Case{"PING=1\r\nMSICMP=0\r\n", true}, Case{"PING=0\r\nMSICMP=0\r\n", false}}) {
        SCOPED_TRACE(setting.options);
        Outcome run = RunAsNobody(dir, space, TARNMAP_BINARY, setting.options + port);
        ExpectTwoAnsweringCycles(run);
        EXPECT_EQ(listener.Accepted(), 4) << "each cycle checks both hosts by TCP";
        int times = setting.notice ? 1 : 0;
        EXPECT_EQ(CountOf(run.err, "tarnmap: " + notice + "\n"), times) << run.err;
        EXPECT_EQ(CountOf(run.log, " " + notice + "\r\n"), times) << run.log;
        EXPECT_EQ(CountOf(run.log, "ICMP"), times) << run.log;
    }

    // The first remedy: ping sockets for every group. ICMP answers; TCP is not needed.
    ASSERT_TRUE(space.SetSysctl("net.ipv4.ping_group_range", "0 2147483647"));
    Outcome run = RunAsNobody(dir, space, TARNMAP_BINARY, "PING=0\r\nMSICMP=1\r\n" + port);
    ExpectTwoAnsweringCycles(run);
    EXPECT_EQ(listener.Accepted(), 0);
    EXPECT_EQ(CountOf(run.err + run.log, "ICMP"), 0) << run.err << run.log;

    // The second: the raw socket capability, where the system can give it to a file.
    if (!RunProgram({"getcap", "/bin/true"}, true))
        GTEST_SKIP() << "setcap and getcap (libcap2-bin) are not installed";
    std::filesystem::create_directory(dir.file("bin"));
    std::string program = dir.file("bin/tarnmap");
    std::filesystem::copy_file(TARNMAP_BINARY, program);
    chmod(dir.file("bin").c_str(), 0755);
    chmod(program.c_str(), 0755);
    if (!RunProgram({"setcap", "cap_net_raw+p", program}))
        GTEST_SKIP() << "setcap failed: the file system under " << dir.path()
                     << " keeps no capabilities";
    ASSERT_TRUE(space.SetSysctl("net.ipv4.ping_group_range", "1 0"));

    // The raw-socket engine, and the ICMP library, which falls back to a raw socket when
    // ping sockets are refused; the capability in the file's permitted set, or ambient (raised
    // from the start) as the service unit hands it over. An alarm program has none of it.
    const std::vector<std::string> ambient = {"--inh-caps=+net_raw", "--ambient-caps=+net_raw"};
    for (const char* options : {"PING=1\r\nMSICMP=0\r\n", "PING=0\r\nMSICMP=1\r\n"}) {
        for (bool fromFile : {true, false}) {
            SCOPED_TRACE(std::string(options) + (fromFile ? "file" : "ambient"));
            run = fromFile ? RunAsNobody(dir, space, program, options + port)
                           : RunAsNobody(dir, space, TARNMAP_BINARY, options + port, ambient);
            ExpectTwoAnsweringCycles(run);
            EXPECT_EQ(listener.Accepted(), 0) << "the checks went by ICMP";
            EXPECT_EQ(CountOf(run.err + run.log, "ICMP"), 0) << run.err << run.log;
            std::string capabilities = TakeScriptOutput(dir.file("alarm.sh"));
            for (const char* set : {"CapPrm", "CapEff", "CapAmb"})
                EXPECT_EQ(CountOf(capabilities, std::string(set) + ":\t0000000000000000\n"), 1)
                    << capabilities;
        }
    }
}

} // namespace
