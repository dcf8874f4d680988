// Soak: the real tarnmap run headless for 1000 cycles over 200 loopback hosts in a network
// namespace of its own, the last host flapping on a fixed schedule. The log and every cycle
// line must be exact, and descriptors, threads and resident memory stay flat.
//
// The kernel of the namespace answers no echo: a responder thread answers every request,
// with a reply or, for the flapping host's scheduled misses, "host unreachable", so a miss
// costs no time-out. The flapping host's k-th request is that of cycle k; while the
// responder holds back its answer, the program waits in its probe and is measured there.
#include "platform/icmplib.h"
#include "platform/testing_sys.h"
#include "support/netns.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int HOSTS = 200;
constexpr unsigned CYCLES = 1000;
constexpr unsigned ALARM_COUNT = 6;         // the flapping host's BEEP_COUNT
const std::string FLAPPING = "127.1.1.100"; // the last host of the table, "flapper"

// Whether the flapping host answers in each cycle: misses from the load until it is down,
// then runs of 1 to 40 misses with one to three answers between them, and answers only in
// the last 30 cycles, so that no alarm program still runs at the last measurement.
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

// The log after its first line and the cycle lines, without stamps, as the schedule gives
// them: down at the fifth miss in a row, the third after the load (which starts at two); an
// answer after three or more misses logged with their count; once down, the alarm program
// at the miss that finds ALARM_COUNT counted, and at the answer after more.
struct Expectation {
    std::string log, cycles;
    unsigned programs = 0;
};

Expectation Expect(const std::vector<bool>& answers) {
    Expectation expected;
    const std::string host = "flapper [" + FLAPPING + "]", program = " 555 7 " + FLAPPING + "\n";
    unsigned missed = 2;
    bool down = false;
    for (unsigned cycle = 1; cycle <= answers.size(); ++cycle) {
        std::string change;
        if (!answers[cycle - 1]) {
            if (missed == 4) {
                expected.log += host + " down, Host unreachable\n";
                change = "; went down: " + host;
                down = true;
            } else if (down && missed == ALARM_COUNT) {
                expected.log += "true DN" + program;
                ++expected.programs;
            }
            ++missed;
        } else {
            if (missed >= 3)
                expected.log +=
                    "flapper " + FLAPPING + " up, missed " + std::to_string(missed) + "\n";
            if (down && missed > ALARM_COUNT) {
                expected.log += "true UP" + program;
                ++expected.programs;
            }
            if (missed > 4)
                change = "; came up: " + host;
            missed = 0;
            down = false;
        }
        int missing = missed >= 1 && missed <= 4, isDown = missed > 4;
        expected.cycles += "cycle " + std::to_string(cycle) + ": 200 checked, " +
                           std::to_string(HOSTS - missing - isDown) + " answering, " +
                           std::to_string(missing) + " missing, " + std::to_string(isDown) +
                           " down, 0 not monitored" + change + "\n";
    }
    return expected;
}

// 200 hosts through the ICMP library, sounds on, an alarm program for the flapping host.
// The long wait is never reached: every request is answered at once but while measured.
void WriteSoakMap(const TempDir& dir) {
    std::string map = "Bsoak map\r\nV1\r\n";
    for (int i = 0; i < HOSTS; ++i)
        map += "H" +
               (i == HOSTS - 1 ? "flapper," + FLAPPING
                               : "host" + std::to_string(i) + ",127.1." + std::to_string(i / 100) +
                                     "." + std::to_string(i % 100 + 1)) +
               ",,," + std::to_string(i % 36) + "," + std::to_string(i / 36 * 3) + ",0,1,0\r\n";
    WriteWholeFile(dir.file("net.db"), map);
    WriteWholeFile(dir.file("net.INI"),
                   "[OPTS]\r\nWAIT=30000\r\nNOCHECK=1\r\nTIMER=60\r\n[flapper]\r\nSOUND=2\r\n"
                   "EXTERNAL=true\r\nBEEP_NUMBER=555\r\nBEEP_CODE=7\r\nBEEP_PRIORITY=1\r\n"
                   "BEEP_COUNT=" +
                       std::to_string(ALARM_COUNT) + "\r\n");
    WriteWholeFile(dir.file("TARNMAP.INI"), "[OPTS]\r\nPING=0\r\nMSICMP=1\r\nSOUND=1\r\n");
}

// Answers echo requests on a raw socket of the namespace that sends whole datagrams, so
// that each answer comes from the address asked. `onFlapping` runs with the cycle number
// before the flapping host's request is answered.
struct Responder {
    int raw;
    std::vector<bool> answers;
    std::function<void(unsigned)> onFlapping;
    std::atomic<bool> stop{false};
    std::atomic<unsigned> flapping{0}, others{0}, failedSends{0};

    void Run() {
        static unsigned char request[65536];
        in_addr flapper{};
        inet_pton(AF_INET, FLAPPING.c_str(), &flapper);
        while (!stop) {
            pollfd waiting{raw, POLLIN, 0};
            ssize_t length = poll(&waiting, 1, 100) > 0 ? recv(raw, request, sizeof request, 0) : 0;
            std::size_t header = length >= 28 ? (request[0] & 0x0fu) * 4 : 0;
            if (header < 20 || static_cast<std::size_t>(length) < header + 8 ||
                request[9] != IPPROTO_ICMP || request[header] != ICMP_ECHO)
                continue;
            bool answer = true;
            if (std::memcmp(request + 16, &flapper, 4) == 0) {
                unsigned cycle = ++flapping;
                onFlapping(cycle);
                answer = cycle > answers.size() || answers[cycle - 1];
            } else {
                ++others;
            }
            if (!Answer(request, header, static_cast<std::size_t>(length), answer))
                ++failedSends;
        }
    }

    // The echo reply, or a "host unreachable" error quoting the request (an error datagram
    // stays within 576 bytes), from the request's destination to its source.
    bool Answer(const unsigned char* request, std::size_t header, std::size_t length, bool reply) {
        static unsigned char datagram[20 + 8 + 65536];
        std::size_t icmpLength = reply ? length - header : 8 + std::min<std::size_t>(length, 548);
        std::memset(datagram, 0, 28);
        datagram[0] = 0x45; // the kernel fills in length, identification and checksum
        datagram[8] = 64;
        datagram[9] = IPPROTO_ICMP;
        std::memcpy(datagram + 12, request + 16, 4);
        std::memcpy(datagram + 16, request + 12, 4);
        unsigned char* icmp = datagram + 20;
        if (reply) {
            std::memcpy(icmp, request + header, icmpLength);
            icmp[0] = ICMP_ECHOREPLY;
            icmp[2] = icmp[3] = 0;
        } else {
            icmp[0] = ICMP_DEST_UNREACH;
            icmp[1] = ICMP_HOST_UNREACH;
            std::memcpy(icmp + 8, request, icmpLength - 8);
        }
        std::uint16_t sum = platform::InternetChecksum(icmp, icmpLength);
        icmp[2] = static_cast<unsigned char>(sum >> 8);
        icmp[3] = static_cast<unsigned char>(sum & 0xff);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        std::memcpy(&to.sin_addr, request + 12, 4);
        return sendto(raw, datagram, 20 + icmpLength, 0, reinterpret_cast<const sockaddr*>(&to),
                      sizeof to) == static_cast<ssize_t>(20 + icmpLength);
    }
};

// A raw ICMP socket of the namespace that receives only echo requests; -1 on failure.
int OpenResponderSocket(const NetworkNamespace& network) {
    EnteredNamespace inside(network);
    int raw = inside.ok() ? socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP) : -1;
    icmp_filter onlyRequests{~(1u << ICMP_ECHO)};
    int on = 1;
    if (raw >= 0 &&
        (setsockopt(raw, SOL_RAW, ICMP_FILTER, &onlyRequests, sizeof onlyRequests) != 0 ||
         setsockopt(raw, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) != 0)) {
        close(raw);
        return -1;
    }
    return raw;
}

struct Sample {
    unsigned cycle;
    long descriptors, residentKb, threads, zombies; // zombies: ended alarm programs unreaped
};

long StatusField(const std::string& status, const char* field) {
    std::size_t at = status.find(std::string("\n") + field + ":");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + std::strlen(field) + 2);
}

Sample Measure(pid_t process, unsigned cycle) {
    std::string proc = "/proc/" + std::to_string(process);
    std::error_code ignored;
    std::string status = ReadWholeFile(proc + "/status");
    return {cycle,
            std::distance(std::filesystem::directory_iterator(proc + "/fd", ignored),
                          std::filesystem::directory_iterator()),
            StatusField(status, "VmRSS"), StatusField(status, "Threads"),
            CountZombieChildren(process)};
}

// The text with "MM/DD/YY HH:MM:SS " taken from the start of each line and CR LF as LF; a
// line without a stamp stays whole, so that it shows in the comparison.
std::string WithoutStamps(const std::string& text) {
    std::string lines = "\n" + std::regex_replace(text, std::regex("\r\n"), "\n");
    return std::regex_replace(lines, std::regex(R"(\n\d\d/\d\d/\d\d \d\d:\d\d:\d\d )"), "\n")
        .substr(1);
}

TEST(Soak, AThousandCyclesOfTwoHundredHostsKeepTheLogExactAndTheResourcesFlat) {
    SKIP_WITHOUT_NAMESPACES();
    NetworkNamespace network("soak");
    ASSERT_TRUE(network.ok());
    ASSERT_TRUE(network.SetSysctl("net.ipv4.icmp_echo_ignore_all", "1"));
    ASSERT_TRUE(network.SetSysctl("net.ipv4.ping_group_range", "0 2147483647"));
    int raw = OpenResponderSocket(network);
    ASSERT_GE(raw, 0) << std::strerror(errno);
    TempDir dir;
    WriteSoakMap(dir);
    std::vector<bool> schedule = FlappingSchedule();
    Expectation expected = Expect(schedule);

    std::atomic<pid_t> child{-1};
    std::vector<Sample> samples; // written by the responder thread, read after it stopped
    Responder responder{raw, schedule, [&child, &samples](unsigned cycle) {
                            if (cycle % 50 != 0 || child <= 0)
                                return;
                            Sample sample = Measure(child, cycle);
                            // The program reaps an ended alarm program in its signal handler,
                            // also while it waits for an answer; a slow machine gets time.
                            for (int i = 0; sample.zombies != 0 && i < 50; ++i) {
                                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                                sample.zombies = CountZombieChildren(child);
                            }
                            samples.push_back(sample);
                        }};
    std::thread responding([&responder] { responder.Run(); });
    {
        EnteredNamespace inside(network);
        EXPECT_TRUE(inside.ok());
        // The sanitizer's quarantine keeps freed blocks until it holds this much; with its
        // default (256 MB) resident memory would grow through the whole run, and a cycle
        // frees its probes' blocks in bursts, so more than a little leaves room for jumps.
        const char* asan = std::getenv("ASAN_OPTIONS");
        child = StartProgramIn(
            dir.path(), {TARNMAP_BINARY, "--headless", "--cycles", "1000", "net.db"},
            {"XDG_CONFIG_HOME=" + dir.path(),
             "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":quarantine_size_mb=1"});
    }
    int status = child > 0 ? WaitForExit(child, 900) : -1;
    responder.stop = true;
    responding.join();
    close(raw);
    std::printf("soak: cycle  fds  threads  RSS kB  zombies\n");
    for (const Sample& s : samples)
        std::printf("soak: %5u %4ld %8ld %7ld %8ld\n", s.cycle, s.descriptors, s.threads,
                    s.residentKb, s.zombies);

    std::string errors = ReadWholeFile(dir.file("err.txt"));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << "\n" << errors;
    EXPECT_EQ(responder.flapping.load(), CYCLES);
    EXPECT_EQ(responder.others.load(), CYCLES * (HOSTS - 1));
    EXPECT_EQ(responder.failedSends.load(), 0u);
    EXPECT_EQ(WithoutStamps(ReadWholeFile(dir.file("out.txt"))), expected.cycles);
    EXPECT_EQ(WithoutStamps(ReadWholeFile(dir.file("net.LOG"))),
              "open of database net.db\n" + expected.log);
    EXPECT_GT(expected.programs, 10u) << "the schedule exercises the alarm program";

    // Measured after a warm-up that has seen the host go down, run its alarm program, come
    // up and play the sounds, and filled the sanitizer's quarantine; then in the middle of
    // the rest and in the last cycle. A descriptor leaked per cycle, probe or alarm would
    // add hundreds; a leak of a few dozen bytes per probe exceeds the allowance.
    ASSERT_EQ(samples.size(), CYCLES / 50);
    const Sample start = samples[300 / 50 - 1];
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's allocator takes memory in steps of its own (up to about 2 MB in a
    // run); a leaked block also carries its red zones, so the same leak grows more.
    constexpr long kGrowthKb = 6 * 1024;
#else
    constexpr long kGrowthKb = 3 * 1024;
#endif
    for (const Sample& sample : samples) {
        SCOPED_TRACE(sample.cycle);
        EXPECT_GT(sample.descriptors, 0);
        EXPECT_EQ(sample.zombies, 0) << "an ended alarm program is still unreaped";
        if (sample.cycle == 650 || sample.cycle == CYCLES) {
            EXPECT_LE(sample.descriptors, start.descriptors + 2);
            EXPECT_LE(sample.threads, start.threads + 2);
            EXPECT_LE(sample.residentKb, start.residentKb + kGrowthKb);
        }
    }
}

} // namespace
