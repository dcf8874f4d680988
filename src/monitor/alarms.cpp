// Status evaluation: misses counted per host, hosts declared down at DOWN_THRESHOLD and up
// again on their first reply, and the alarm actions chosen by priority once per cycle.
#include "monitor/alarms.h"

#include "model/hosts.h"
#include "model/parents.h"
#include "monitor/log.h"
#include "monitor/metrics.h"
#include "monitor/notices.h"
#include "monitor/pager.h"
#include "monitor/poll.h"
#include "monitor/programs.h"
#include "platform/sound.h"
#include "platform/window.h"

#include <cstdio>

using namespace platform;

/*** globals ***/

const char* const alarmSounds[SOUND_LEVELS] = {"up.wav", "down1.wav", "down2.wav", "down3.wav"};

AlarmCycle alarmCycle = {0, false, false, 1, false, false, 0, "", {}, 0};

// The programs of BEEP_EACH hosts, announced as their hosts are evaluated and started at
// the end of the cycle, so that a question about a map's command never opens inside an
// evaluation. One a host and cycle at most.
struct EachPrograms {
    AlarmCommand commands[MAX_HOSTS];
    int count;
};
static EachPrograms eachPrograms;

struct StatusTextEntry {
    unsigned code;
    const char* text;
};

static const StatusTextEntry statusTexts[] = {
    {0, "reachable"},
    {11, "not echo"},
    {15, "net down"},
    {25, "invalid ipaddr"},
    {10004, "Timed out"},
    {10050, "net down"},
    {10051, "Net unreachable"},
    {10065, "Host unreachable"},
    {10091, "NetSys not ready"},
    {11001, "Name not resolved"},
    {11002, "Net unreachable"},
    {11003, "Host unreachable"},
    {11010, "Timed out"},
    {11013, "Too many hops"},
    {11014, "Too many hops"},
    {11016, "Source quench"},
};

const char* StatusText(unsigned code) {
    for (const StatusTextEntry& entry : statusTexts)
        if (entry.code == code)
            return entry.text;
    return nullptr;
}

static bool IsHostIndex(int index) {
    return index >= 0 && index < hostCount;
}

static unsigned ReadAlarmSetting(int index, const char* key) {
    return ReadHostSetting(index, key, HostSettingsReader::Alarms);
}

void BeginAlarmCycle() {
    alarmCycle.failed = 0;
    alarmCycle.cameUp = false;
    alarmCycle.wentDown = false;
    if (!alarmCycle.downSinceQuiet)
        alarmCycle.soundLevel = 1;
    alarmCycle.pagePending = false;
    alarmCycle.pagePriority = 0;
    alarmCycle.command.line[0] = '\0';
    alarmCycle.commandPriority = 0;
    eachPrograms.count = 0;
    BeginCycleNotices();
    MeterCycleStart();
}

unsigned AnnounceDown(int index) {
    if (!IsHostIndex(index))
        return 0;
    HostRecord& host = hostTable[index];
    char line[LOG_MESSAGE_LENGTH + 1];
    const char* text = StatusText(host.status);
    if (text != nullptr)
        std::snprintf(line, sizeof line, "%s [%s] down, %s", host.name, host.resolvedAddr, text);
    else
        std::snprintf(line, sizeof line, "%s [%s] down, status %u", host.name, host.resolvedAddr,
                      host.status);
    if (ReadAlarmSetting(index, "LOG") == 1)
        LogLine(line);
    host.quiet = 0;
    host.reach = REACH_DOWN;
    return ReadAlarmSetting(index, "SOUND");
}

// The command is logged as a whole; the address is handed over only when it is a plain
// one, as it would otherwise be taken for an option or split into more words. False when
// it is not to be started.
static bool AnnounceAlarmProgram(const AlarmCommand& command) {
    LogLine(command.line);
    const char* number = command.arguments[1];
    const char* address = command.arguments[ALARM_ARGUMENTS - 1];
    char reason[ALARM_ARGUMENT_LENGTH + 64];
    if (!IsPlainArgument(address))
        std::snprintf(reason, sizeof reason, "\"%s\" is no plain host name or address", address);
    else if (number[0] == '-') // blanks are fine in a number, an option is not
        std::snprintf(reason, sizeof reason, "\"%s\" is no pager number", number);
    else
        return true;
    TellProgramNotStarted(command.external, reason);
    return false;
}

// May ask the user first (a command the map's settings name).
static void LaunchAlarmProgram(const AlarmCommand& command) {
    const char* arguments[ALARM_ARGUMENTS];
    for (unsigned i = 0; i < ALARM_ARGUMENTS; ++i)
        arguments[i] = command.arguments[i];
    StartProgram(
        {command.external, arguments, ALARM_ARGUMENTS, command.external, SW_SHOWMINNOACTIVE});
}

static void ComposeAlarmCommand(const HostSettings& settings, const HostRecord& host, bool down,
                                AlarmCommand* command) {
    CopyField(command->external, sizeof command->external, settings.external);
    char(*arguments)[ALARM_ARGUMENT_LENGTH + 1] = command->arguments;
    CopyField(arguments[0], sizeof arguments[0], down ? "DN" : "UP");
    CopyField(arguments[1], sizeof arguments[1], settings.beepNumber);
    std::snprintf(arguments[2], sizeof arguments[2], "%u", settings.beepCode);
    CopyField(arguments[3], sizeof arguments[3], host.resolvedAddr);
    std::snprintf(command->line, sizeof command->line, "%s %s %s %s %s", settings.external,
                  arguments[0], arguments[1], arguments[2], arguments[3]);
}

void CheckAlarmAction(int index, unsigned missedBefore, AlarmDirection direction) {
    if (!IsHostIndex(index))
        return;
    const HostRecord& host = hostTable[index];
    if (host.quiet != 0)
        return;
    HostSettings settings;
    ReadHostSettings(index, HostSettingsReader::Alarms, &settings);
    bool down = direction != AlarmDirection::Up;
    if (direction == AlarmDirection::Down ? missedBefore != settings.beepCount
        : direction == AlarmDirection::Up ? missedBefore <= settings.beepCount
                                          : missedBefore < settings.beepCount)
        return;

    if (settings.beeper == 1) {
        if (settings.beepPriority <= alarmCycle.pagePriority || settings.beepNumber[0] == '\0')
            return;
        alarmCycle.pagePriority = settings.beepPriority;
        CopyField(options.pageNumber, sizeof options.pageNumber, settings.beepNumber);
        std::snprintf(alarmCycle.pageMessage, sizeof alarmCycle.pageMessage, "%s%u",
                      down ? "000" : "999", settings.beepCode);
        alarmCycle.pagePending = true;
        return;
    }
    if (settings.external[0] == '\0')
        return;
    AlarmCommand command;
    ComposeAlarmCommand(settings, host, down, &command);
    if (settings.beepEach == 1) {
        if (!AnnounceAlarmProgram(command))
            return;
        if (eachPrograms.count < MAX_HOSTS)
            eachPrograms.commands[eachPrograms.count++] = command;
        else
            LaunchAlarmProgram(command);
    } else if (settings.beepPriority > alarmCycle.commandPriority) {
        alarmCycle.command = command;
        alarmCycle.commandPriority = settings.beepPriority;
    }
}

// Logs the down line and arms the host's sound.
static void DeclareDown(int index) {
    unsigned level = AnnounceDown(index);
    if (level > 0) {
        alarmCycle.downSinceQuiet = true;
        alarmCycle.wentDown = true;
    }
    // The sound table has four entries; a larger setting means the most urgent one.
    if (level >= SOUND_LEVELS)
        level = SOUND_LEVELS - 1;
    if (alarmCycle.soundLevel < level)
        alarmCycle.soundLevel = level;
}

// At most one walk of the table, whatever the parents. A parent that is no longer checked
// keeps the standing of its last check for good, so it is walked past, never in the way.
int HostInTheWay(int index) {
    if (!IsHostIndex(index))
        return -1;
    int unreachable = -1;
    int at = HostParent(hostTable[index]);
    for (int steps = 0; at >= 0 && steps < hostCount; ++steps) {
        const HostRecord& above = hostTable[at];
        if (HostIsChecked(above) && above.reach == REACH_DOWN)
            return at;
        if (HostIsChecked(above) && unreachable < 0 && above.reach == REACH_UNREACHABLE)
            unreachable = at;
        at = HostParent(above);
    }
    return unreachable;
}

// A failure behind a host that is out announces nothing; the log says so once, when the
// host would have been declared down. A host whose down action has not gone out by then
// is made quiet, so that its return starts no up action for a down nobody was told of; a
// failure once what was in the way is back declares it down and ends the quiet.
static void RecordUnreachable(int index, int inTheWay, unsigned missedBefore) {
    HostRecord& host = hostTable[index];
    host.reach = REACH_UNREACHABLE;
    if (missedBefore <= ReadHostSetting(index, "BEEP_COUNT", HostSettingsReader::Alarms))
        host.quiet = 1;
    if (missedBefore == DOWN_THRESHOLD && ReadAlarmSetting(index, "LOG") == 1)
        LogPrintf("%s [%s] unreachable behind %s", host.name, host.resolvedAddr,
                  hostTable[inTheWay].name);
}

void RecordFailure(int index) {
    if (!IsHostIndex(index))
        return;
    HostRecord& host = hostTable[index];
    unsigned missedBefore = host.missed;
    std::uint32_t reachBefore = host.reach;
    int inTheWay = HostInTheWay(index);
    if (inTheWay >= 0) {
        RecordUnreachable(index, inTheWay, missedBefore);
    } else if (reachBefore == REACH_UNREACHABLE) {
        // What it sat behind is back and it still fails: its own fault, told at once. Its
        // down action is owed only when one was swallowed behind (the host was made quiet);
        // one that went out before what it sat behind failed is not repeated.
        bool actionOwed = host.quiet != 0;
        DeclareDown(index);
        if (actionOwed)
            CheckAlarmAction(index, missedBefore, AlarmDirection::DownLate);
    } else if (missedBefore == DOWN_THRESHOLD) {
        DeclareDown(index);
    } else {
        CheckAlarmAction(index, missedBefore, AlarmDirection::Down);
    }
    if (host.missed < MISSED_LIMIT)
        ++host.missed;
    ++host.lost;
    ++alarmCycle.failed;
    bool declaredDown = reachBefore != REACH_DOWN && host.reach == REACH_DOWN;
    if (declaredDown)
        NoteHostChange(index, NoticeKind::Down); // as it is drawn now
    else if (reachBefore != REACH_UNREACHABLE && host.reach == REACH_UNREACHABLE)
        NoteHostChange(index, NoticeKind::Unreachable);
    MeterCheck(index, false, declaredDown);
}

void RecordReply(int index) {
    if (!IsHostIndex(index))
        return;
    HostRecord& host = hostTable[index];
    unsigned missedBefore = host.missed;
    if (missedBefore != 0) {
        if (missedBefore > 2 && ReadAlarmSetting(index, "LOG") == 1) {
            LogPrintf("%s %s up, missed %u", host.name, host.resolvedAddr, missedBefore);
            CheckAlarmAction(index, missedBefore, AlarmDirection::Up);
        }
        alarmCycle.cameUp = true;
    }
    host.missed = 0;
    host.quiet = 1;
    if (missedBefore > DOWN_THRESHOLD) // told only if it was told down
        NoteHostChange(index, NoticeKind::Up);
    host.reach = REACH_COUNTING;
    MeterCheck(index, true, false);
}

void FinishAlarmCycle() {
    MeterCycleEnd(); // the checks' time, not the page's or a program's question
    if (options.soundEnabled == 1) {
        if (pollState.closeRequested || pollState.abortRequested ||
            (alarmCycle.failed == 0 && alarmCycle.cameUp))
            sndPlaySound(alarmSounds[0], SND_ASYNC | SND_NODEFAULT);
        else if (alarmCycle.wentDown)
            sndPlaySound(alarmSounds[alarmCycle.soundLevel], SND_ASYNC | SND_NODEFAULT | SND_LOOP);
    }
    SendCycleNotices();
    if (alarmCycle.pagePending)
        SendPage(options.pageNumber, alarmCycle.pageMessage);
    for (int i = 0; i < eachPrograms.count; ++i) // a start never waits for the user
        LaunchAlarmProgram(eachPrograms.commands[i]);
    eachPrograms.count = 0;
    if (alarmCycle.commandPriority > 0 && alarmCycle.command.line[0] != '\0') {
        AlarmCommand command = alarmCycle.command;
        if (AnnounceAlarmProgram(command))
            LaunchAlarmProgram(command);
    }
}

void QuietAlarms() {
    for (int i = 0; i < hostCount; ++i)
        hostTable[i].quiet = 1;
    // Whatever SOUND says now: it may have been turned off, or another map opened, while
    // a down sound rang, and nothing else would stop that one.
    sndPlaySound(nullptr, 0);
    alarmCycle.downSinceQuiet = false;
}
