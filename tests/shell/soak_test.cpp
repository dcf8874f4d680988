// Soak: the real tarnmap run headless for 1000 back-to-back cycles over a full map of 200
// loopback hosts, in a network namespace of its own, with the last host flapping on a fixed
// schedule. Checks the log line by line, every cycle line, and that descriptors, threads
// and resident memory stay flat; prints what it measured.
//
// The kernel of the namespace answers no echo; a responder thread here answers every
// request itself, with an echo reply or, for the flapping host's scheduled misses, with a
// "host unreachable" error. The flapping host's k-th request is always the one of cycle k,
// so the schedule is exact and a miss costs no time-out. While the responder holds back
// the answer of a sampling cycle, the program waits in its probe and is measured there.
#include "support/netns.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr int HOSTS = 200;
constexpr unsigned CYCLES = 1000;
const char* const FLAPPING_NAME = "flapper";
const char* const FLAPPING_ADDRESS = "127.1.1.100"; // the last host of the table
constexpr unsigned ALARM_COUNT = 6;                 // the flapping host's BEEP_COUNT

// Cycles at which the program is measured: after a warm-up that has seen the host go down
// several times, run its alarm program, come up and play the sounds, and in which the
// sanitizer's quarantine has filled; in the middle of the rest; in the last cycle.
constexpr unsigned SAMPLE_START = 300;
constexpr unsigned SAMPLE_MIDDLE = 650;
constexpr unsigned SAMPLE_END = CYCLES;

// Resident memory may settle a little after the warm-up (allocator arenas, the toolkit's
// caches); a leak of a few dozen bytes per probe exceeds this over 700 cycles.
constexpr long RSS_GROWTH_LIMIT_KB = 3 * 1024;
// A descriptor leaked per cycle, per probe or per alarm would add hundreds.
constexpr int FD_GROWTH_LIMIT = 2;
// The sanitizer's quarantine keeps freed blocks until it holds this much; with the default
// (256 MB) resident memory would grow through the whole run.
const char* const ASAN_QUARANTINE = "quarantine_size_mb=8";

/*** the flapping schedule ***/

// Whether the flapping host answers in each cycle: misses from the map load on until it
// is down (the third after a load), then runs of 1 to 40 misses with one to three answers
// between them, and answers only in the last 30 cycles, so that no alarm program can still
// be running when the program is measured at the end.
std::vector<bool> FlappingSchedule() {
    std::vector<bool> answers;
    auto add = [&answers](unsigned misses, unsigned replies) {
        answers.insert(answers.end(), misses, false);
        answers.insert(answers.end(), replies, true);
    };
    add(3, 2);
    const unsigned misses[] = {1, 2, 3, 4, 5, 6, 7, 8, 13, 40, 4, 1};
    for (unsigned round = 0; answers.size() < CYCLES - 30; ++round)
        add(misses[round % std::size(misses)], 1 + round % 3);
    answers.resize(CYCLES - 30);
    answers.insert(answers.end(), 30, true);
    return answers;
}

// What the map's log and each cycle line must say about the schedule: a host is down at
// its fifth miss in a row, the third after the load (it starts with two); an answer after
// three or more misses is logged with their count; once the host is down, the alarm
// program runs at the miss that finds ALARM_COUNT already counted, and when the host
// answers after more.
struct Expectation {
    std::vector<std::string> log;    // messages after "open of database"
    std::vector<std::string> cycles; // each cycle line after its time stamp
    unsigned programs = 0;
};

Expectation Expect(const std::vector<bool>& answers) {
    Expectation expected;
    const std::string address = FLAPPING_ADDRESS;
    const std::string name = FLAPPING_NAME;
    const std::string program = " 555 7 " + address;
    unsigned missed = 2;
    bool down = false;
    for (unsigned cycle = 1; cycle <= answers.size(); ++cycle) {
        std::string change;
        if (!answers[cycle - 1]) {
            if (missed == 4) {
                expected.log.push_back(name + " [" + address + "] down, Host unreachable");
                change = "; went down: " + name + " [" + address + "]";
                down = true;
            } else if (down && missed == ALARM_COUNT) {
                expected.log.push_back("true DN" + program);
                ++expected.programs;
            }
            ++missed;
        } else {
            if (missed >= 3)
                expected.log.push_back(name + " " + address + " up, missed " +
                                       std::to_string(missed));
            if (down && missed > ALARM_COUNT) {
                expected.log.push_back("true UP" + program);
                ++expected.programs;
            }
            if (missed > 4)
                change = "; came up: " + name + " [" + address + "]";
            missed = 0;
            down = false;
        }
        unsigned missing = missed >= 1 && missed <= 4 ? 1 : 0;
        unsigned isDown = missed > 4 ? 1 : 0;
        expected.cycles.push_back("cycle " + std::to_string(cycle) + ": " + std::to_string(HOSTS) +
                                  " checked, " + std::to_string(HOSTS - missing - isDown) +
                                  " answering, " + std::to_string(missing) + " missing, " +
                                  std::to_string(isDown) + " down, 0 not monitored" + change);
    }
    return expected;
}

/*** the map ***/

std::string HostAddress(int index) {
    if (index == HOSTS - 1)
        return FLAPPING_ADDRESS;
    return "127.1." + std::to_string(index / 100) + "." + std::to_string(index % 100 + 1);
}

// 200 hosts through the ICMP library, sounds on, and an alarm program for the flapping
// host. The long wait is never reached: every request is answered at once, except while
// the program is being measured.
void WriteSoakMap(const TempDir& dir) {
    std::string map = "Bsoak map\r\nV1\r\n";
    for (int i = 0; i < HOSTS; ++i) {
        std::string name = i == HOSTS - 1 ? FLAPPING_NAME : "host" + std::to_string(i);
        map += "H" + name + "," + HostAddress(i) + ",,," + std::to_string(i % 36) + "," +
               std::to_string(i / 36 * 3) + ",0,1,0\r\n";
    }
    WriteWholeFile(dir.file("net.db"), map);
    WriteWholeFile(dir.file("net.INI"),
                   "[OPTS]\r\nWAIT=30000\r\nNOCHECK=1\r\nTIMER=60\r\n[" +
                       std::string(FLAPPING_NAME) +
                       "]\r\nSOUND=2\r\nEXTERNAL=true\r\nBEEP_NUMBER=555\r\nBEEP_CODE=7\r\n"
                       "BEEP_PRIORITY=1\r\nBEEP_COUNT=" +
                       std::to_string(ALARM_COUNT) + "\r\n");
    WriteWholeFile(dir.file("TARNMAP.INI"), "[OPTS]\r\nPING=0\r\nMSICMP=1\r\nSOUND=1\r\n");
}

/*** the responder ***/

constexpr std::size_t IP_HEADER = 20;
constexpr std::size_t ICMP_HEADER = 8;
constexpr std::size_t QUOTED_MAXIMUM = 548; // an error datagram stays within 576 bytes

std::uint16_t Checksum(const unsigned char* bytes, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (length % 2 != 0)
        sum += static_cast<std::uint32_t>(bytes[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

// Answers echo requests on a raw socket of the namespace (IP_HDRINCL, so each answer can
// come from the address asked). `onFlappingRequest` runs with the cycle number before the
// flapping host's request is answered.
class EchoResponder {
  public:
    EchoResponder(int rawSocket, std::vector<bool> answers,
                  std::function<void(unsigned)> onFlappingRequest)
        : socket_(rawSocket), answers_(std::move(answers)),
          onFlappingRequest_(std::move(onFlappingRequest)) {
        inet_pton(AF_INET, FLAPPING_ADDRESS, &flapping_);
        thread_ = std::thread([this] { Run(); });
    }
    ~EchoResponder() {
        stop_ = true;
        thread_.join();
    }
    EchoResponder(const EchoResponder&) = delete;
    EchoResponder& operator=(const EchoResponder&) = delete;

    unsigned flappingRequests() const { return flappingRequests_; }
    unsigned otherRequests() const { return otherRequests_; }
    unsigned failedSends() const { return failedSends_; }

  private:
    void Run() {
        unsigned char request[65536];
        while (!stop_) {
            pollfd waiting{socket_, POLLIN, 0};
            if (poll(&waiting, 1, 100) <= 0)
                continue;
            ssize_t received = recv(socket_, request, sizeof request, MSG_DONTWAIT);
            if (received < 0)
                continue;
            std::size_t length = static_cast<std::size_t>(received);
            std::size_t header = static_cast<std::size_t>(request[0] & 0x0f) * 4;
            if (length < IP_HEADER || header < IP_HEADER || length < header + ICMP_HEADER ||
                request[9] != IPPROTO_ICMP || request[header] != ICMP_ECHO)
                continue;
            in_addr destination;
            std::memcpy(&destination, request + 16, sizeof destination);
            bool answer = true;
            if (destination.s_addr == flapping_.s_addr) {
                unsigned cycle = ++flappingRequests_;
                onFlappingRequest_(cycle);
                answer = cycle > answers_.size() || answers_[cycle - 1];
            } else {
                ++otherRequests_;
            }
            if (!(answer ? SendReply(request, header, length) : SendUnreachable(request, length)))
                ++failedSends_;
        }
    }

    // Sends `icmp` (its checksum filled in here) from `from` to `to`.
    bool Send(const unsigned char* from, const unsigned char* to, unsigned char* icmp,
              std::size_t icmpLength) {
        unsigned char datagram[IP_HEADER + 65536];
        if (icmpLength > sizeof datagram - IP_HEADER)
            return false;
        icmp[2] = icmp[3] = 0;
        std::uint16_t sum = Checksum(icmp, icmpLength);
        icmp[2] = static_cast<unsigned char>(sum >> 8);
        icmp[3] = static_cast<unsigned char>(sum & 0xff);
        std::memset(datagram, 0, IP_HEADER);
        datagram[0] = 0x45; // the kernel fills in length, identification and checksum
        datagram[8] = 64;
        datagram[9] = IPPROTO_ICMP;
        std::memcpy(datagram + 12, from, 4);
        std::memcpy(datagram + 16, to, 4);
        std::memcpy(datagram + IP_HEADER, icmp, icmpLength);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        std::memcpy(&target.sin_addr, to, 4);
        return sendto(socket_, datagram, IP_HEADER + icmpLength, 0,
                      reinterpret_cast<const sockaddr*>(&target),
                      sizeof target) == static_cast<ssize_t>(IP_HEADER + icmpLength);
    }

    bool SendReply(unsigned char* request, std::size_t header, std::size_t length) {
        unsigned char* icmp = request + header;
        icmp[0] = ICMP_ECHOREPLY;
        return Send(request + 16, request + 12, icmp, length - header);
    }

    // A "host unreachable" error quoting the request, as the last router would send it.
    bool SendUnreachable(const unsigned char* request, std::size_t length) {
        unsigned char icmp[ICMP_HEADER + QUOTED_MAXIMUM] = {ICMP_DEST_UNREACH, ICMP_HOST_UNREACH};
        std::size_t quoted = length < QUOTED_MAXIMUM ? length : QUOTED_MAXIMUM;
        std::memcpy(icmp + ICMP_HEADER, request, quoted);
        return Send(request + 16, request + 12, icmp, ICMP_HEADER + quoted);
    }

    int socket_;
    std::vector<bool> answers_;
    std::function<void(unsigned)> onFlappingRequest_;
    in_addr flapping_{};
    std::atomic<bool> stop_{false};
    std::atomic<unsigned> flappingRequests_{0};
    std::atomic<unsigned> otherRequests_{0};
    std::atomic<unsigned> failedSends_{0};
    std::thread thread_;
};

// A raw ICMP socket of the namespace that receives only echo requests and sends whole
// datagrams; -1 on failure.
int OpenResponderSocket(const NetworkNamespace& network) {
    EnteredNamespace inside(network);
    if (!inside.ok())
        return -1;
    int raw = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (raw < 0)
        return -1;
    icmp_filter onlyRequests{~(1u << ICMP_ECHO)};
    int on = 1;
    if (setsockopt(raw, SOL_RAW, ICMP_FILTER, &onlyRequests, sizeof onlyRequests) != 0 ||
        setsockopt(raw, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) != 0) {
        close(raw);
        return -1;
    }
    return raw;
}

/*** the program and its measurements ***/

struct Sample {
    unsigned cycle = 0;
    int descriptors = -1;
    long residentKb = -1;
    long threads = -1;
    int zombies = -1; // finished alarm programs not yet reaped
};

long StatusField(pid_t process, const char* field) {
    std::string status = ReadWholeFile("/proc/" + std::to_string(process) + "/status");
    std::size_t at = status.find(std::string("\n") + field + ":");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + std::strlen(field) + 2);
}

int CountDescriptors(pid_t process) {
    DIR* directory = opendir(("/proc/" + std::to_string(process) + "/fd").c_str());
    if (directory == nullptr)
        return -1;
    int count = 0;
    while (dirent* entry = readdir(directory))
        if (entry->d_name[0] != '.')
            ++count;
    closedir(directory);
    return count;
}

int CountZombieChildren(pid_t parent) {
    DIR* directory = opendir("/proc");
    if (directory == nullptr)
        return -1;
    int zombies = 0;
    while (dirent* entry = readdir(directory)) {
        if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
            continue;
        std::string stat = ReadWholeFile(std::string("/proc/") + entry->d_name + "/stat");
        std::size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 4 > stat.size())
            continue;
        char state = stat[close + 2];
        if (state == 'Z' && std::atol(stat.c_str() + close + 4) == parent)
            ++zombies;
    }
    closedir(directory);
    return zombies;
}

Sample Measure(pid_t process, unsigned cycle) {
    Sample sample;
    sample.cycle = cycle;
    sample.descriptors = CountDescriptors(process);
    sample.residentKb = StatusField(process, "VmRSS");
    sample.threads = StatusField(process, "Threads");
    sample.zombies = CountZombieChildren(process);
    return sample;
}

// Starts tarnmap headless on dir/net.db in `dir` (current directory and XDG_CONFIG_HOME),
// output into dir/out.txt and dir/err.txt. The child joins the calling thread's network
// namespace.
pid_t StartSoakRun(const TempDir& dir) {
    std::vector<std::string> words{TARNMAP_BINARY, "--headless", "--cycles", std::to_string(CYCLES),
                                   "net.db"};
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    std::vector<std::string> variables;
    std::string sanitizer = ASAN_QUARANTINE;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        std::string text = *variable;
        if (text.rfind("ASAN_OPTIONS=", 0) == 0)
            sanitizer = text.substr(13) + ":" + ASAN_QUARANTINE;
        else if (text.rfind("XDG_CONFIG_HOME=", 0) != 0)
            variables.push_back(text);
    }
    variables.push_back("XDG_CONFIG_HOME=" + dir.path());
    variables.push_back("ASAN_OPTIONS=" + sanitizer);
    std::vector<char*> envp;
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
    posix_spawn_file_actions_addopen(&actions, 1, dir.file("out.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, dir.file("err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = -1;
    int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? child : -1;
}

// The child's wait status; a child still running after `seconds` is killed (-1).
int WaitForExit(pid_t child, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child)
            return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ADD_FAILURE() << "tarnmap still runs after " << seconds << " s";
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
}

std::vector<std::string> SplitLines(const std::string& text, const std::string& end) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t found; (found = text.find(end, start)) != std::string::npos;
         start = found + end.size())
        lines.push_back(text.substr(start, found - start));
    return lines;
}

// Lines that begin with a time stamp "MM/DD/YY HH:MM:SS ", without it; a line without one
// is kept whole, so that it shows in the comparison.
std::vector<std::string> WithoutStamps(const std::vector<std::string>& lines) {
    static const std::regex stamp(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d )");
    std::vector<std::string> messages;
    for (const std::string& line : lines) {
        bool stamped = line.size() > 18 && std::regex_match(line.substr(0, 18), stamp);
        messages.push_back(stamped ? line.substr(18) : line);
    }
    return messages;
}

// The first place where two line lists differ, for a readable failure.
std::string FirstDifference(const std::vector<std::string>& expected,
                            const std::vector<std::string>& actual) {
    std::size_t i = 0;
    while (i < expected.size() && i < actual.size() && expected[i] == actual[i])
        ++i;
    if (i == expected.size() && i == actual.size())
        return "";
    return "line " + std::to_string(i + 1) + ": expected \"" +
           (i < expected.size() ? expected[i] : "(nothing)") + "\", got \"" +
           (i < actual.size() ? actual[i] : "(nothing)") + "\" (" +
           std::to_string(expected.size()) + " lines expected, " + std::to_string(actual.size()) +
           " written)";
}

TEST(Soak, AThousandCyclesOfTwoHundredHostsKeepTheLogExactAndTheResourcesFlat) {
    std::string why;
    if (!NetworkNamespacesAvailable(&why))
        GTEST_SKIP() << why;
    NetworkNamespace network("soak");
    ASSERT_TRUE(network.ok());
    // The kernel answers no echo here; the responder answers all of them.
    ASSERT_TRUE(network.SetSysctl("net.ipv4.icmp_echo_ignore_all", "1"));
    ASSERT_TRUE(network.SetSysctl("net.ipv4.ping_group_range", "0 2147483647"));
    int raw = OpenResponderSocket(network);
    ASSERT_GE(raw, 0) << std::strerror(errno);

    TempDir dir;
    WriteSoakMap(dir);
    std::vector<bool> schedule = FlappingSchedule();
    ASSERT_EQ(schedule.size(), CYCLES);
    Expectation expected = Expect(schedule);

    std::atomic<pid_t> child{-1};
    std::vector<Sample> samples; // written by the responder thread, read after it stopped
    auto measure = [&child, &samples](unsigned cycle) {
        if (cycle % 50 != 0 || child.load() <= 0)
            return;
        Sample sample = Measure(child.load(), cycle);
        // The program's signal handler reaps an alarm program that has just ended, also
        // while it waits for an answer; a slow machine gets time for that.
        for (int i = 0; sample.zombies != 0 && i < 50; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            sample.zombies = CountZombieChildren(child.load());
        }
        samples.push_back(sample);
    };
    auto started = std::chrono::steady_clock::now();
    int status = -1;
    unsigned flappingRequests = 0, otherRequests = 0, failedSends = 0;
    {
        EchoResponder responder(raw, schedule, measure);
        {
            EnteredNamespace inside(network);
            ASSERT_TRUE(inside.ok());
            child = StartSoakRun(dir);
        }
        ASSERT_GT(child.load(), 0);
        status = WaitForExit(child.load(), 900);
        flappingRequests = responder.flappingRequests();
        otherRequests = responder.otherRequests();
        failedSends = responder.failedSends();
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    close(raw);
    std::printf("soak: %u cycles of %d hosts in %.1f s (%.1f cycles/s); %u alarm programs\n",
                CYCLES, HOSTS, seconds, CYCLES / seconds, expected.programs);
    std::printf("soak: cycle  fds  threads  RSS kB  zombies\n");
    for (const Sample& sample : samples)
        std::printf("soak: %5u %4d %8ld %7ld %8d\n", sample.cycle, sample.descriptors,
                    sample.threads, sample.residentKb, sample.zombies);

    std::string errors = ReadWholeFile(dir.file("err.txt"));
    ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << errors;
    EXPECT_EQ(WEXITSTATUS(status), 0) << errors;
    EXPECT_EQ(flappingRequests, CYCLES);
    EXPECT_EQ(otherRequests, CYCLES * (HOSTS - 1));
    EXPECT_EQ(failedSends, 0u);

    std::vector<std::string> cycleLines =
        WithoutStamps(SplitLines(ReadWholeFile(dir.file("out.txt")), "\n"));
    EXPECT_EQ(cycleLines, expected.cycles) << FirstDifference(expected.cycles, cycleLines);

    std::vector<std::string> log =
        WithoutStamps(SplitLines(ReadWholeFile(dir.file("net.LOG")), "\r\n"));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "open of database net.db");
    log.erase(log.begin());
    EXPECT_EQ(log, expected.log) << FirstDifference(expected.log, log);
    EXPECT_GT(expected.programs, 10u) << "the schedule exercises the alarm program";

    auto at = [&samples](unsigned cycle) {
        for (const Sample& sample : samples)
            if (sample.cycle == cycle)
                return sample;
        return Sample{};
    };
    const Sample start = at(SAMPLE_START), middle = at(SAMPLE_MIDDLE), end = at(SAMPLE_END);
    ASSERT_EQ(samples.size(), CYCLES / 50);
    for (const Sample& sample : {start, middle, end}) {
        ASSERT_GT(sample.descriptors, 0) << "cycle " << sample.cycle;
        ASSERT_GT(sample.residentKb, 0) << "cycle " << sample.cycle;
    }
    EXPECT_LE(middle.descriptors, start.descriptors + FD_GROWTH_LIMIT);
    EXPECT_LE(end.descriptors, start.descriptors + FD_GROWTH_LIMIT);
    EXPECT_LE(end.threads, start.threads + 2);
    EXPECT_LE(middle.residentKb, start.residentKb + RSS_GROWTH_LIMIT_KB);
    EXPECT_LE(end.residentKb, start.residentKb + RSS_GROWTH_LIMIT_KB);
    for (const Sample& sample : samples)
        EXPECT_EQ(sample.zombies, 0)
            << "an ended alarm program is still unreaped in cycle " << sample.cycle;
}

} // namespace
