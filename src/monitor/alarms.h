// What a check means for a host: the count of consecutive misses, the down and up lines
// in the log, and the alarm actions (sound, page, external program). Actions that must
// run once per cycle are collected while the cycle runs and carried out at its end; so
// are the starts of BEEP_EACH programs, which are logged as their host is evaluated.
#pragma once

#include "model/hosts.h"
#include "model/settings.h"

constexpr unsigned SOUND_LEVELS = 4;
extern const char* const alarmSounds[SOUND_LEVELS]; // up.wav, down1.wav ... down3.wav

constexpr unsigned PAGE_MESSAGE_LENGTH = 15;
constexpr unsigned ALARM_ARGUMENTS = 4; // DN or UP, the number, the code, the address
constexpr unsigned ALARM_ARGUMENT_LENGTH = ADDRESS_TEXT_LENGTH; // the longest, the address
// EXTERNAL and its fields, each after a blank.
constexpr unsigned PENDING_COMMAND_LENGTH =
    EXTERNAL_LENGTH + ALARM_ARGUMENTS * (1 + ALARM_ARGUMENT_LENGTH);

// An external alarm program: EXTERNAL's words, then the four fields, each one argument
// whatever it holds.
struct AlarmCommand {
    char line[PENDING_COMMAND_LENGTH + 1]; // the whole command line, as the log shows it
    char external[EXTERNAL_LENGTH + 1];    // EXTERNAL as the settings hold it
    char arguments[ALARM_ARGUMENTS][ALARM_ARGUMENT_LENGTH + 1];
};

// Host status codes other than the network stack's and the ICMP library's.
enum HostStatus : unsigned {
    STATUS_REPLY = 0,
    STATUS_SHORT_PACKET = 10,
    STATUS_NOT_ECHO = 11,
    STATUS_NOT_OURS = 12,
    STATUS_RECEIVE_FAILED = 15,
    STATUS_INVALID_ADDRESS = 25,
    STATUS_TIMED_OUT = 10004,
    STATUS_NAME_NOT_RESOLVED = 11001,
};

/*** globals ***/

// What the alarms gather while a poll cycle runs and act on at its end: the sound to play,
// the page and the program to start, each the one of the highest priority. The down sound
// and its level outlast the cycle until "quiet".
struct AlarmCycle {
    unsigned failed;                           // failed checks in this cycle
    bool cameUp;                               // a host replied after one or more misses
    bool wentDown;                             // a host with a sound was declared down
    unsigned soundLevel;                       // down sound to play, 1 to 3
    bool downSinceQuiet;                       // a down sound was raised since the last "quiet"
    bool pagePending;                          // a page is queued
    unsigned pagePriority;                     // of the queued page
    char pageMessage[PAGE_MESSAGE_LENGTH + 1]; // the queued page's code
    AlarmCommand command;     // the program to start; its line empty when none is queued
    unsigned commandPriority; // of the queued program
};
extern AlarmCycle alarmCycle;

// The text of a status code, or null when it has none (callers format the number).
const char* StatusText(unsigned code);

void BeginAlarmCycle();
void RecordFailure(int index);
void RecordReply(int index);
void FinishAlarmCycle();

// Logs the down line of host `index`, arms its alarm actions and notes it down; returns its
// sound level.
unsigned AnnounceDown(int index);

// Down fires at BEEP_COUNT missed checks, Up after more than that; DownLate (a host declared
// down once what it sat behind is back) at BEEP_COUNT or past it.
enum class AlarmDirection { Down, Up, DownLate };
void CheckAlarmAction(int index, unsigned missedBefore, AlarmDirection direction);

// The nearest checked host above host `index` that is down, else the nearest unreachable
// one: what its failures are put down to. -1 when every checked host above it stands well.
int HostInTheWay(int index);

// The "quiet" command: every host quiet, the sound stopped, no down sound pending.
void QuietAlarms();
