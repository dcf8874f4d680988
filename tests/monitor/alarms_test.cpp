// The alarm state machine as the poll cycle drives it: misses counted, down and up lines in
// the map's log, the cycle's sound, and pages and programs chosen by priority, with the
// map's real settings file and log file.
#include "model/hosts.h"
#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/notices.h"
#include "monitor/poll.h"
#include "platform/sound.h"
#include "platform/testing_sys.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using platform::JournalEntries;

constexpr unsigned TIMED_OUT = 11010;

// A map whose settings file holds `sections`, opened in a fresh directory; no hosts yet.
class AlarmMap {
  public:
    explicit AlarmMap(const std::string& sections) : dir_(true) {
        WriteWholeFile(dir_.file("net.INI"), "[OPTS]\r\nSOUND=1\r\n" + sections);
        SelectMapFiles(dir_.file("net.db").c_str());
        ClearMap();
        alarmCycle.downSinceQuiet = false;
        alarmCycle.soundLevel = 1;
        options.beepEnable = 0;
        pollState.abortRequested = 0;
        pollState.closeRequested = 0;
        BeginAlarmCycle();
        platform::EnableJournal(true);
        platform::ClearJournal();
    }
    ~AlarmMap() {
        platform::sndPlaySound(nullptr, 0);
        platform::EnableJournal(false);
        ClearMap();
    }

    // Adds a host as the map reader leaves it (missed 2, not quiet) or, with `up`, as a
    // host that has been answering.
    int AddHost(const char* name, const char* address, bool up = true) {
        HostRecord& host = hostTable[hostCount];
        host = HostRecord{};
        std::snprintf(host.name, sizeof host.name, "%s", name);
        std::snprintf(host.address, sizeof host.address, "%s", address);
        ResetLoadedHost(host);
        if (up) {
            host.missed = 0;
            host.quiet = 1;
        }
        return hostCount++;
    }

    // One poll cycle: every host in `failing` fails with `status`, every other one replies.
    void Cycle(const std::vector<int>& failing, unsigned status = TIMED_OUT) {
        BeginAlarmCycle();
        for (int i = 0; i < hostCount; ++i) {
            if (hostTable[i].flags != 0)
                continue; // not probed: nothing of it changes
            bool fails = std::find(failing.begin(), failing.end(), i) != failing.end();
            hostTable[i].status = fails ? status : 0;
            if (fails)
                RecordFailure(i);
            else
                RecordReply(i);
        }
        FinishAlarmCycle();
    }

    // The log's messages without their date and time, the line of the map's opening left out.
    std::vector<std::string> LogMessages() const {
        std::vector<std::string> messages;
        for (const std::string& line : StampedLines(dir_.file("net.LOG")))
            if (line.rfind("open of database ", 0) != 0)
                messages.push_back(line);
        return messages;
    }

    // The journal's sound entries since the last call.
    std::vector<std::string> Sounds() {
        std::vector<std::string> sounds;
        for (const std::string& entry : JournalEntries())
            if (entry.rfind("sound: ", 0) == 0)
                sounds.push_back(entry.substr(7));
        platform::ClearJournal();
        return sounds;
    }

    const TempDir& dir() const { return dir_; }

  private:
    TempDir dir_;
};

using Lines = std::vector<std::string>;

// The thresholds of down and up lines over many cycles are checked by the soak test.
TEST(Alarms, DownAndUpLinesWithTheirSettingsAndLimits) {
    AlarmMap map("[gateway]\r\nSOUND=2\r\n[printer]\r\nSOUND=0\r\n[quietlog]\r\nLOG=0\r\n");
    int gateway = map.AddHost("gateway", "10.0.0.1");
    int printer = map.AddHost("printer", "10.0.0.9", false); // as loaded: missed 2
    int quietLog = map.AddHost("quietlog", "10.0.0.5");
    // A host that is not monitored is left out of the cycle altogether.
    hostTable[printer].flags = HOST_NOT_MONITORED;
    map.Cycle({gateway, quietLog, printer});
    EXPECT_EQ(hostTable[printer].missed, 2u);
    EXPECT_EQ(hostTable[printer].lost, 0u);
    hostTable[printer].flags = 0;
    for (int i : {gateway, quietLog, printer})
        hostTable[i].missed = DOWN_THRESHOLD;

    // A code without a text is shown by its number; LOG 0 writes no line but arms the
    // host all the same; SOUND 0 makes no down sound.
    map.Cycle({gateway, quietLog, printer}, 13);
    EXPECT_EQ(map.LogMessages(),
              (Lines{"gateway [10.0.0.1] down, status 13", "printer [10.0.0.9] down, status 13"}));
    EXPECT_EQ(map.Sounds(), Lines{"down2.wav (loop)"});
    EXPECT_EQ(hostTable[gateway].quiet, 0u) << "a down host's actions are armed";
    EXPECT_EQ(hostTable[quietLog].quiet, 0u);
    EXPECT_EQ(hostTable[printer].lost, 1u);

    // Every host answers: "up.wav" once, replacing the looping down sound.
    map.Cycle({});
    EXPECT_EQ(map.LogMessages().size(), 4u);
    EXPECT_EQ(map.Sounds(), Lines{"up.wav"});
    for (int i = 0; i < hostCount; ++i)
        EXPECT_EQ(hostTable[i].quiet, 1u);

    // The count stops at its limit; the total of lost checks goes on.
    hostTable[gateway].missed = MISSED_LIMIT;
    unsigned lost = hostTable[gateway].lost;
    map.Cycle({gateway});
    EXPECT_EQ(hostTable[gateway].missed, MISSED_LIMIT);
    EXPECT_EQ(hostTable[gateway].lost, lost + 1);
}

TEST(Alarms, TheCycleSoundFollowsTheLevelsUntilQuiet) {
    AlarmMap map("[low]\r\nSOUND=1\r\n[high]\r\nSOUND=3\r\n[loud]\r\nSOUND=4\r\n"
                 "[late]\r\nSOUND=1\r\n[louder]\r\nSOUND=7\r\n");
    int low = map.AddHost("low", "10.0.0.1");
    int high = map.AddHost("high", "10.0.0.2");
    int loud = map.AddHost("loud", "10.0.0.3");
    int late = map.AddHost("late", "10.0.0.4");
    int louder = map.AddHost("louder", "10.0.0.5");

    // Two hosts down in one cycle, levels 1 and 3: the higher one plays.
    hostTable[low].missed = DOWN_THRESHOLD;
    hostTable[high].missed = DOWN_THRESHOLD;
    map.Cycle({low, high});
    EXPECT_EQ(map.Sounds(), Lines{"down3.wav (loop)"});
    EXPECT_TRUE(alarmCycle.downSinceQuiet);

    // Without "quiet" the level stays: a level-1 host down in a later cycle still plays 3.
    hostTable[late].missed = DOWN_THRESHOLD;
    map.Cycle({low, high, late});
    EXPECT_EQ(map.Sounds(), Lines{"down3.wav (loop)"});
    // A cycle in which nobody goes down plays nothing; the loop goes on.
    map.Cycle({low, high, late});
    EXPECT_EQ(map.Sounds(), Lines{});

    QuietAlarms();
    EXPECT_EQ(map.Sounds(), Lines{"stop"});
    EXPECT_FALSE(alarmCycle.downSinceQuiet);
    for (int i = 0; i < hostCount; ++i)
        EXPECT_EQ(hostTable[i].quiet, 1u);
    hostTable[late].missed = DOWN_THRESHOLD;
    map.Cycle({low, high, late});
    EXPECT_EQ(map.Sounds(), Lines{"down1.wav (loop)"});

    // A level past the table's last entry, the first one past it too, is its most urgent
    // sound.
    for (int host : {loud, louder}) {
        SCOPED_TRACE(hostTable[host].name);
        QuietAlarms();
        (void)map.Sounds();
        hostTable[host].missed = DOWN_THRESHOLD;
        map.Cycle({low, high, late, host});
        EXPECT_EQ(map.Sounds(), Lines{"down3.wav (loop)"});
        EXPECT_EQ(alarmCycle.soundLevel, 3u);
    }

    // A host back while another still fails: no up sound.
    map.Cycle({low, high, late});
    EXPECT_EQ(map.Sounds(), Lines{});

    // With the map's SOUND switched off nothing is played; "quiet" still stops the loop
    // that rang before (the option was turned off, or a map without sounds opened).
    options.soundEnabled = 0;
    hostTable[low].missed = DOWN_THRESHOLD;
    map.Cycle({low});
    map.Cycle({});
    EXPECT_EQ(map.Sounds(), Lines{});
    QuietAlarms();
    EXPECT_EQ(map.Sounds(), Lines{"stop"});
    options.soundEnabled = 1;
}

TEST(Alarms, PagesAndProgramsAreQueuedByPriorityFirstHostWinningTies) {
    // BEEP_COUNT 6: the down action fires at the failure that finds missed = 6, two checks
    // after the host was declared down.
    AlarmMap map("[p5]\r\nBEEPER=1\r\nBEEP_COUNT=6\r\nBEEP_PRIORITY=5\r\nBEEP_CODE=55\r\n"
                 "BEEP_NUMBER=111\r\n"
                 "[p9]\r\nBEEPER=1\r\nBEEP_COUNT=6\r\nBEEP_PRIORITY=9\r\nBEEP_CODE=99\r\n"
                 "BEEP_NUMBER=222\r\n"
                 "[p9late]\r\nBEEPER=1\r\nBEEP_COUNT=6\r\nBEEP_PRIORITY=9\r\nBEEP_CODE=98\r\n"
                 "BEEP_NUMBER=333\r\n"
                 "[nonumber]\r\nBEEPER=1\r\nBEEP_COUNT=6\r\nBEEP_PRIORITY=50\r\n"
                 "[zero]\r\nBEEPER=1\r\nBEEP_COUNT=6\r\nBEEP_PRIORITY=0\r\nBEEP_NUMBER=444\r\n"
                 "[four]\r\nBEEPER=1\r\nBEEP_COUNT=4\r\nBEEP_PRIORITY=60\r\nBEEP_NUMBER=555\r\n"
                 "[lan]\r\nBEEPER=1\r\nBEEP_COUNT=5\r\nBEEP_PRIORITY=70\r\nBEEP_NUMBER=777\r\n");
    int p5 = map.AddHost("p5", "10.0.0.5");
    int p9 = map.AddHost("p9", "10.0.0.9");
    int p9late = map.AddHost("p9late", "10.0.0.10");
    int noNumber = map.AddHost("nonumber", "10.0.0.11");
    int zero = map.AddHost("zero", "10.0.0.12");
    int four = map.AddHost("four", "10.0.0.13");
    std::vector<int> all{p5, p9, p9late, noNumber, zero, four};
    for (int i : all)
        hostTable[i].missed = DOWN_THRESHOLD;

    map.Cycle(all); // declared down: 4 -> 5
    EXPECT_FALSE(alarmCycle.pagePending);
    map.Cycle(all); // 5 -> 6
    EXPECT_FALSE(alarmCycle.pagePending);
    // 6 -> 7: every host reaches its count; the first of the two 9s is paged. With paging
    // switched off the page is only logged.
    BeginAlarmCycle();
    for (int i : all) {
        hostTable[i].status = TIMED_OUT;
        RecordFailure(i);
    }
    EXPECT_TRUE(alarmCycle.pagePending);
    EXPECT_EQ(alarmCycle.pagePriority, 9u);
    EXPECT_STREQ(options.pageNumber, "222");
    EXPECT_STREQ(alarmCycle.pageMessage, "00099");
    FinishAlarmCycle();
    Lines log = map.LogMessages();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Beeper disabled on 00099 to 222");
    std::size_t pages = log.size();

    // The count is passed once: no second page in later cycles.
    map.Cycle(all);
    map.Cycle(all);
    EXPECT_EQ(map.LogMessages().size(), pages);

    // Back up: past the count the up action pages "999" and the code; "four" (count 4,
    // never fired down) pages up as well, with the highest priority.
    BeginAlarmCycle();
    for (int i : all)
        RecordReply(i);
    // (BEEP_CODE of "four" is absent: its index in the table, 5.)
    EXPECT_STREQ(alarmCycle.pageMessage, "9995");
    EXPECT_EQ(alarmCycle.pagePriority, 60u);
    EXPECT_STREQ(options.pageNumber, "555");
    FinishAlarmCycle();
    EXPECT_EQ(map.LogMessages().back(), "Beeper disabled on 9995 to 555");

    // "quiet" while down suppresses the down action and the up action.
    auto pagesLogged = [&map] {
        int count = 0;
        for (const std::string& line : map.LogMessages())
            count += line.rfind("Beeper disabled", 0) == 0 ? 1 : 0;
        return count;
    };
    int pagesBefore = pagesLogged();
    for (int i : all)
        hostTable[i].missed = DOWN_THRESHOLD;
    map.Cycle(all);
    QuietAlarms();
    map.Cycle(all);
    map.Cycle(all);
    map.Cycle(all);
    map.Cycle({});
    EXPECT_EQ(pagesLogged(), pagesBefore);

    // Behind p5: "lan" failed there only, since the map was read, and was never paged or
    // told down, so its return pages and tells nothing; "told" was told down before p5
    // failed, and is told back up. p5's up page is the cycle's page.
    int told = map.AddHost("told", "10.0.0.15");
    hostTable[told].missed = DOWN_THRESHOLD;
    map.Cycle({told});
    int lan = map.AddHost("lan", "10.0.0.14", false);
    hostTable[lan].parent = hostTable[told].parent = hostTable[p5].serial;
    hostTable[p5].missed = DOWN_THRESHOLD;
    for (int cycle = 0; cycle < 6; ++cycle)
        map.Cycle({p5, told, lan});
    EXPECT_EQ(hostTable[lan].reach, REACH_UNREACHABLE);
    EXPECT_EQ(hostTable[told].reach, REACH_UNREACHABLE);
    BeginAlarmCycle();
    for (int i = 0; i < hostCount; ++i)
        RecordReply(i);
    ASSERT_EQ(noticeCycle.count, 2);
    EXPECT_STREQ(noticeCycle.changes[0].name, "p5");
    EXPECT_STREQ(noticeCycle.changes[1].name, "told");
    FinishAlarmCycle();
    EXPECT_EQ(map.LogMessages().back(), "Beeper disabled on 99955 to 111");
}

// "host" is declared down and paged, fails behind "switch" for a cycle, and still fails
// once the switch is back: declared down again, but one outage, paged down once and up once
// at its end. Later it fails only behind the switch, is never told down, and its return
// tells nothing.
TEST(Alarms, AHostDownBeforeItsParentFailedIsPagedAndToldOnceForTheOutage) {
    AlarmMap map("[host]\r\nBEEPER=1\r\nBEEP_COUNT=5\r\nBEEP_PRIORITY=1\r\nBEEP_NUMBER=111\r\n");
    int parent = map.AddHost("switch", "10.0.0.1");
    int host = map.AddHost("host", "10.0.0.2");
    hostTable[host].parent = hostTable[parent].serial;
    hostTable[host].missed = DOWN_THRESHOLD;
    for (int cycle = 0; cycle < 3; ++cycle)
        map.Cycle({host});
    hostTable[parent].missed = DOWN_THRESHOLD;
    map.Cycle({parent, host});
    ASSERT_EQ(hostTable[host].reach, REACH_UNREACHABLE);
    map.Cycle({host});
    map.Cycle({});
    Lines pages;
    for (const std::string& line : map.LogMessages())
        if (line.rfind("Beeper disabled", 0) == 0)
            pages.push_back(line);
    EXPECT_EQ(pages, (Lines{"Beeper disabled on 0001 to 111", "Beeper disabled on 9991 to 111"}))
        << "paged down once";
    hostTable[parent].missed = DOWN_THRESHOLD;
    for (int cycle = 0; cycle < 6; ++cycle)
        map.Cycle({parent, host});
    ASSERT_EQ(hostTable[host].reach, REACH_UNREACHABLE);
    BeginAlarmCycle();
    RecordReply(host);
    EXPECT_EQ(noticeCycle.count, 0) << "told back up, never told down since its last return";
}

TEST(Alarms, ExternalProgramsRunAtOnceOrOnceByPriority) {
    // Each host's program is `true` with its name; the poll test runs real ones.
    AlarmMap map("");
    auto section = [](const char* name, const char* fields) {
        return "[" + std::string(name) + "]\r\nBEEP_COUNT=5\r\n" + fields + "EXTERNAL=true " +
               name + "\r\n";
    };
    WriteWholeFile(map.dir().file("net.INI"),
                   "[OPTS]\r\nSOUND=1\r\n" +
                       section("low", "BEEP_PRIORITY=1\r\nBEEP_CODE=3\r\nBEEP_NUMBER=111\r\n") +
                       section("high", "BEEP_PRIORITY=2\r\nBEEP_CODE=7\r\nBEEP_NUMBER=555\r\n") +
                       section("tie", "BEEP_PRIORITY=2\r\nBEEP_CODE=8\r\nBEEP_NUMBER=666\r\n") +
                       section("each", "BEEP_PRIORITY=0\r\nBEEP_EACH=1\r\nBEEP_CODE=4\r\n") +
                       "[none]\r\nBEEP_COUNT=5\r\nBEEP_PRIORITY=9\r\n");
    int low = map.AddHost("low", "10.1.2.1");
    int high = map.AddHost("high", "10.1.2.3");
    int tie = map.AddHost("tie", "10.1.2.4");
    int each = map.AddHost("each", "10.1.2.5");
    int none = map.AddHost("none", "10.1.2.6");
    std::vector<int> all{low, high, tie, each, none};
    for (int i : all)
        hostTable[i].missed = DOWN_THRESHOLD;
    map.Cycle(all); // declared down
    (void)map.Sounds();

    // The failure that finds missed = 5: BEEP_EACH logs its program at once, even with
    // priority 0, and starts it at the end of the cycle, first; the others queue, the
    // first host of the highest priority winning.
    BeginAlarmCycle();
    for (int i : all) {
        hostTable[i].status = TIMED_OUT;
        RecordFailure(i);
    }
    std::string eachCommand = "true each DN  4 10.1.2.5";
    std::string queuedCommand = "true high DN 555 7 10.1.2.3";
    EXPECT_EQ(JournalEntries(), Lines{});
    EXPECT_EQ(map.LogMessages().back(), eachCommand);
    EXPECT_STREQ(alarmCycle.command.line, queuedCommand.c_str());
    EXPECT_EQ(alarmCycle.commandPriority, 2u);
    FinishAlarmCycle();
    // Nobody went down in this cycle: the down sound of the last one goes on unchanged.
    EXPECT_EQ(JournalEntries(), (Lines{"exec: " + eachCommand, "exec: " + queuedCommand}));
    EXPECT_EQ(map.LogMessages().back(), queuedCommand);

    // A command as long as EXTERNAL allows is queued whole with its fields.
    std::string longProgram = "/" + std::string(EXTERNAL_LENGTH - 1, 'x');
    WriteWholeFile(map.dir().file("net.INI"),
                   "[OPTS]\r\nSOUND=1\r\n[high]\r\nBEEP_COUNT=6\r\nBEEP_PRIORITY=2\r\n"
                   "BEEP_CODE=2147483647\r\nBEEP_NUMBER=1234567890123456789\r\nEXTERNAL=" +
                       longProgram + "\r\n");
    std::snprintf(hostTable[high].resolvedAddr, sizeof hostTable[high].resolvedAddr, "%s",
                  std::string(sizeof hostTable[high].resolvedAddr - 1, '9').c_str());
    BeginAlarmCycle();
    RecordFailure(high);
    std::string expected = longProgram + " DN 1234567890123456789 2147483647 " +
                           std::string(sizeof hostTable[high].resolvedAddr - 1, '9');
    EXPECT_EQ(std::string(alarmCycle.command.line), expected);
    alarmCycle.command.line[0] = '\0'; // the made-up program is not to be started
    FinishAlarmCycle();
}

TEST(Alarms, EachFieldIsOneArgumentAndAddressesOrNumbersThatLookLikeOptionsAreNotPassed) {
    AlarmMap map("");
    std::string script = map.dir().file("alarm.sh");
    WriteWholeFile(script,
                   "#!/bin/sh\nfor a in \"$@\"; do printf '<%s>' \"$a\"; done > \"$0.out\"\n");
    chmod(script.c_str(), 0755);
    WriteWholeFile(map.dir().file("net.INI"),
                   "[OPTS]\r\nSOUND=0\r\n[plain]\r\nBEEP_COUNT=5\r\nBEEP_EACH=1\r\nBEEP_CODE=7\r\n"
                   "BEEP_NUMBER=55 \"5 -x\r\nEXTERNAL=" +
                       script +
                       " \"first word\"\r\n[odd]\r\nBEEP_COUNT=5\r\nBEEP_EACH=1\r\n"
                       "EXTERNAL=" +
                       script +
                       "\r\n[dashed]\r\nBEEP_COUNT=5\r\nBEEP_EACH=1\r\n"
                       "BEEP_NUMBER=-oEvil\r\nEXTERNAL=" +
                       script + "\r\n");
    int plain = map.AddHost("plain", "10.0.0.1");
    int odd = map.AddHost("odd", "1 --evil-option x");
    int dashed = map.AddHost("dashed", "10.0.0.3");
    for (int i : {plain, odd, dashed}) {
        hostTable[i].missed = 5; // down, and at its count
        hostTable[i].quiet = 0;
    }
    BeginAlarmCycle();
    RecordFailure(plain);
    RecordFailure(odd);
    RecordFailure(dashed);
    FinishAlarmCycle();
    std::string arguments;
    for (int i = 0; i < 500 && arguments.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        arguments = ReadWholeFile(script + ".out");
    }
    EXPECT_EQ(arguments, "<first word><DN><55 \"5 -x><7><10.0.0.1>");
    std::remove((script + ".out").c_str());
    EXPECT_EQ(map.LogMessages(),
              (Lines{script + " \"first word\" DN 55 \"5 -x 7 10.0.0.1",
                     script + " DN  1 1 --evil-option x",
                     "cannot start \"" + script +
                         "\": \"1 --evil-option x\" is no plain host name or address",
                     script + " DN -oEvil 2 10.0.0.3",
                     "cannot start \"" + script + "\": \"-oEvil\" is no pager number"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(ReadWholeFile(script + ".out"), "");
}

TEST(Alarms, SoundsBesideTheMapAreFoundBeforeTheInstalledOnes) {
    TempDir dir(true);
    ASSERT_EQ(mkdir(dir.file("maps").c_str(), 0755), 0);
    WriteWholeFile(dir.file("maps/down1.wav"), "RIFF");
    SelectMapFiles(dir.file("maps/net.db").c_str());
    char path[4096];
    ASSERT_TRUE(platform::FindSoundFile("down1.wav", path, sizeof path));
    EXPECT_EQ(std::string(path), dir.file("maps/down1.wav"));
    ASSERT_TRUE(platform::FindSoundFile("down2.wav", path, sizeof path));
    EXPECT_NE(std::string(path), dir.file("maps/down2.wav"));
    // Another map elsewhere: its own directory counts, not the last one's.
    SelectMapFiles(dir.file("other.db").c_str());
    ASSERT_TRUE(platform::FindSoundFile("down1.wav", path, sizeof path));
    EXPECT_NE(std::string(path), dir.file("maps/down1.wav"));
}

TEST(Alarms, StatusTextsAndOutOfRangeHosts) {
    EXPECT_STREQ(StatusText(0), "reachable");
    EXPECT_STREQ(StatusText(15), "net down");
    EXPECT_STREQ(StatusText(10050), "net down");
    EXPECT_STREQ(StatusText(11013), "Too many hops");
    EXPECT_STREQ(StatusText(11014), "Too many hops");
    EXPECT_STREQ(StatusText(11016), "Source quench");
    EXPECT_EQ(StatusText(13), nullptr);
    EXPECT_EQ(StatusText(11011), nullptr);

    AlarmMap map("");
    map.AddHost("only", "10.0.0.1");
    BeginAlarmCycle();
    RecordFailure(1); // past the table: nothing happens
    RecordReply(-1);
    EXPECT_EQ(alarmCycle.failed, 0u);
    EXPECT_EQ(hostTable[0].missed, 0u);
}

} // namespace
