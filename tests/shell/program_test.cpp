// The real tarnmap program run as a child process: with its windows on the example map and
// headless, its cycle lines, its log, its exit status, its end on a signal, and its answers
// to wrong command lines.
#include "model/hosts.h"
#include "support/netns.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
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

// The lines of `path` (each ended by `end`) without their "MM/DD/YY HH:MM:SS " stamps,
// which are checked.
std::vector<std::string> StampedLines(const std::string& path, const std::string& end) {
    std::string text = ReadWholeFile(path);
    std::vector<std::string> lines;
    for (std::size_t start = 0, found; (found = text.find(end, start)) != std::string::npos;
         start = found + end.size()) {
        std::string line = text.substr(start, found - start);
        EXPECT_TRUE(std::regex_search(line, std::regex(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d )")))
            << line;
        lines.push_back(line.size() > 18 ? line.substr(18) : line);
    }
    return lines;
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
// probes through the ICMP library and a one-second wait.
void WriteMap(const TempDir& dir, const std::vector<std::pair<std::string, int>>& hosts,
              unsigned timer) {
    std::string map = "Bheadless test map\r\nV1\r\n";
    int column = 1;
    for (const auto& [host, flags] : hosts) {
        map += "H" + host + ",,," + std::to_string(column) + ",1," + std::to_string(flags) +
               ",1,1\r\n";
        column += 3;
    }
    WriteWholeFile(dir.file("net.db"), map);
    WriteWholeFile(dir.file("net.INI"), "[OPTS]\r\nWAIT=1000\r\nNOCHECK=1\r\nSOUND=1\r\nTIMER=" +
                                            std::to_string(timer) + "\r\n");
    WriteWholeFile(dir.file("TARNMAP.INI"), "[OPTS]\r\nPING=0\r\nMSICMP=1\r\n");
}

TEST(Headless, ATerminationSignalEndsTheCycleAfterTheCurrentHost) {
    SKIP_WITHOUT_NAMESPACES();
    NetworkNamespace network("silent"); // whose loopback answers no echo
    ASSERT_TRUE(network.SetSysctl("net.ipv4.icmp_echo_ignore_all", "1") &&
                network.SetSysctl("net.ipv4.ping_group_range", "0 2147483647"));
    TempDir dir;
    std::vector<std::pair<std::string, int>> hosts;
    for (int i = 0; i < 8; ++i)
        hosts.push_back({"silent" + std::to_string(i) + ",127.0.0.1", 0});
    WriteMap(dir, hosts, 3600);
    pid_t child;
    {
        EnteredNamespace inside(network);
        ASSERT_TRUE(inside.ok());
        child = StartTarnmap(dir, {"--headless", "net.db"});
    }
    ASSERT_GT(child, 0);
    // The map is open once its log says so; the cycle of eight one-second checks follows
    // at once, and the signal comes during its first checks.
    ASSERT_TRUE(WaitForText(dir.file("net.LOG"), "open of database"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    kill(child, SIGTERM);
    EXPECT_EQ(WaitForExit(child, 60), 0) << ReadWholeFile(dir.file("err.txt"));
    std::vector<std::string> lines = StampedLines(dir.file("out.txt"), "\n");
    ASSERT_EQ(lines.size(), 1u) << ReadWholeFile(dir.file("out.txt"));
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(lines[0], parts,
                                 std::regex("cycle 1: (\\d) checked, 0 answering, 8 missing, 0 "
                                            "down, 0 not monitored; stopped")))
        << lines[0];
    EXPECT_GE(std::stoi(parts[1]), 1);
    EXPECT_LT(std::stoi(parts[1]), 8) << "the cycle ends after the host being checked";
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

TEST(Program, UsageAndErrorsAreClear) {
    TempDir dir;
    pid_t child = StartTarnmap(dir, {"--help"});
    ASSERT_EQ(WaitForExit(child, 60), 0);
    std::string usage = ReadWholeFile(dir.file("out.txt"));
    EXPECT_EQ(usage.rfind("Usage: tarnmap", 0), 0u) << usage;
    EXPECT_NE(usage.find("tarnmap --headless [--cycles N] [MAP]"), std::string::npos) << usage;

    for (std::vector<std::string> wrong : {std::vector<std::string>{"--bogus"},
                                           {"--headless", "--cycles", "0", "net.db"},
                                           {"--cycles", "2", "net.db"}}) {
        SCOPED_TRACE(wrong[0]);
        child = StartTarnmap(dir, wrong);
        ASSERT_EQ(WaitForExit(child, 60), 2 << 8);
        EXPECT_NE(ReadWholeFile(dir.file("err.txt")).find("tarnmap: "), std::string::npos);
    }
    EXPECT_NE(ReadWholeFile(dir.file("err.txt")).find("--cycles goes with --headless"),
              std::string::npos);

    child = StartTarnmap(dir, {"--headless", "--cycles", "1", "missing.db"});
    ASSERT_EQ(WaitForExit(child, 60), 1 << 8);
    EXPECT_NE(ReadWholeFile(dir.file("err.txt")).find("cannot open the map missing.db"),
              std::string::npos)
        << ReadWholeFile(dir.file("err.txt"));
    EXPECT_EQ(ReadWholeFile(dir.file("out.txt")), "");

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
