// The countdown, and the cycle: its hosts' checks are started at a steady pace, many in
// flight, and a cursor walks the table evaluating each host once its own outcome is known,
// so the log and the alarms see the hosts in table order. Probe-set messages and the
// pacing timer advance it; its end is a posted message.
#include "monitor/poll.h"

#include "icmp/sockerr.h"
#include "model/address.h"
#include "model/hosts.h"
#include "model/mapdb.h"
#include "model/parents.h"
#include "model/settings.h"
#include "monitor/alarms.h"
#include "monitor/log.h"
#include "monitor/mapwnd.h"
#include "monitor/probe.h"
#include "platform/profile.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "platform/window.h"
#include "platform/winsock.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using namespace platform;

/*** globals ***/

PollState pollState = {0, 0, 0, 10, 0, 0, 0, nullptr, 0, 0};
MonitorReports monitorReports = {nullptr, nullptr, nullptr};

static constexpr UINT PACE_INTERVAL_MS = 1; // between two requests, on average
// The pacing timer's period; each tick sends the requests due since the last. Timers tick
// every 10 ms at the most; every 20 ms halves the cycle's wake-ups (each a poll, a switch
// and the toolkit's dispatch), and its bursts of 20 stay under the 50 ICMP errors a Linux
// router sends at once (icmp_msgs_burst).
static constexpr UINT PACE_TIMER_MS = 20;

// Where a host of the cycle stands.
enum EntryStage {
    ENTRY_WAITING, // not started yet
    ENTRY_LOOKUP,  // its name is being looked up
    ENTRY_PROBE,   // its check is in the probe set, outcome known or not
    ENTRY_KNOWN,   // its outcome is here without a probe: `status`
    // Its check, or its name's look-up, could not be started for want of descriptors or
    // memory: it is started again once a check in flight gives its own back.
    ENTRY_DEFERRED,
    // It could not be checked at all this cycle (`status` says why): the host stays as it
    // was, neither answering nor missing.
    ENTRY_NOT_CHECKED,
};

// One host to check, found again by its serial when it is evaluated.
struct CycleEntry {
    std::uint32_t serial;
    EntryStage stage;
    char address[sizeof HostRecord::address];       // as the user entered it, when started
    char resolved[sizeof HostRecord::resolvedAddr]; // what was checked; "" for no address
    DWORD status;     // ENTRY_KNOWN's outcome; ENTRY_DEFERRED's and ENTRY_NOT_CHECKED's reason
    DWORD deferredAt; // tick count when it was first put off; 0 before
};

// The cycle under way. Outcomes stay in the probe set until the cursor evaluates their
// host; nothing of a host changes before then.
struct PollCycle {
    HWND window;        // gets the set's messages, the pacing timer and the done message
    HWND repaintWindow; // where the hosts' repaints go
    HANDLE probes;      // the cycle's probe set; INVALID_HANDLE_VALUE when none could be made
    CheckEngine engine;
    unsigned parallel; // checks in flight at most: started and not yet evaluated
    bool counted;      // the countdown and the title follow the cycle
    bool pacing;       // PACE_TIMER_ID runs
    DWORD pacedAt;     // tick count of the last paced request
    bool ended;        // the done message is posted
    HCURSOR previousCursor;
    CycleEntry entries[MAX_HOSTS];
    int count;    // hosts to check
    int started;  // entries started, from the first
    int cursor;   // the entry evaluated next
    int lookups;  // entries in ENTRY_LOOKUP
    int deferred; // entries in ENTRY_DEFERRED; no further entry starts while there is one
    // Entries that could not be checked, and why the last one could not (a Winsock number).
    int notChecked;
    DWORD notCheckedReason;
    // A check put off waited in vain: later checks short of resources are not made at all.
    bool resourcesGivenUp;
    // Every turn of the cycle reads the settings files in this group, so that they are
    // looked at once a cycle, not once a turn.
    unsigned readGroup;
};
static PollCycle cycle;

/*** the windows above ***/

void ReportStatus(const char* text) {
    if (monitorReports.statusText != nullptr)
        monitorReports.statusText(text);
}

static void ReportCountdown() {
    if (monitorReports.countdown != nullptr)
        monitorReports.countdown();
}

static bool MapBeingEdited() {
    return monitorReports.editing != nullptr && monitorReports.editing();
}

/*** the countdown ***/

void StartPollTimer() {
    if (!MapBeingEdited() && options.noAutomaticChecks == 0 && pollState.countdownHolds == 0)
        pollState.timerActive = SetTimer(mainWindow, POLL_TIMER_ID, 1000, nullptr) != 0 ? 1 : 0;
    else
        pollState.timerActive = 0;
}

void StopPollTimer() {
    if (pollState.timerActive && KillTimer(mainWindow, POLL_TIMER_ID))
        pollState.timerActive = 0;
}

void HoldCountdown() {
    ++pollState.countdownHolds;
    StopPollTimer();
}

void ReleaseCountdown() {
    if (pollState.countdownHolds > 0 && --pollState.countdownHolds == 0 && !pollState.inProgress)
        StartPollTimer();
}

void OnPollTick(HWND window) {
    int previous = pollState.countdown--;
    if (previous > 0) {
        if (options.showTimerInTitle == 1 && pollState.countdown != 0)
            SetMapTitle(static_cast<unsigned>(pollState.countdown), nullptr);
        ReportCountdown();
        return;
    }
    StopPollTimer();
    if (!pollState.inProgress) // what the countdown pane shows while the cycle runs
        pollState.countdown = options.pollInterval;
    RunCountedPollCycle(window);
}

/*** starting checks ***/

// The program is ending (a termination signal, or the window closing): the check under
// way was cut short, and no further one is counted.
static bool CycleCut() {
    return pollState.closeRequested != 0 || TerminationRequested();
}

static void Settle(CycleEntry& entry, DWORD status) {
    entry.stage = ENTRY_KNOWN;
    entry.status = status;
}

// A check that cannot be started for want of descriptors or memory says nothing about its
// host: it is put off until a check in flight ends and frees what it holds.
static bool ShortOfResources(DWORD error) {
    return error == static_cast<DWORD>(WSAEMFILE) || error == static_cast<DWORD>(WSAENOBUFS);
}

static void LeaveUnchecked(CycleEntry& entry, DWORD reason) {
    if (entry.stage == ENTRY_DEFERRED)
        --cycle.deferred;
    entry.stage = ENTRY_NOT_CHECKED;
    entry.status = reason;
    ++cycle.notChecked;
    cycle.notCheckedReason = reason;
}

// Puts off a check or look-up that failed for want of resources (false for any other
// failure); once they were waited for in vain this cycle, it is not made at all.
static bool PutOff(CycleEntry& entry, DWORD error) {
    if (!ShortOfResources(error))
        return false;
    if (cycle.resourcesGivenUp) {
        LeaveUnchecked(entry, error);
        return true;
    }
    if (entry.deferredAt == 0) // its wait runs from the first time, through every retry
        entry.deferredAt = GetTickCount();
    entry.stage = ENTRY_DEFERRED;
    entry.status = error;
    ++cycle.deferred;
    return true;
}

// Starts the check of an address of either family, shown as `address.text`; one that can
// never be checked counts as failed at once, one short of resources is put off.
static void StartCheck(CycleEntry& entry, const HostAddress& address) {
    CopyField(entry.resolved, sizeof entry.resolved, address.text);
    if (address.kind != ADDRESS_IPV4 && address.kind != ADDRESS_IPV6) {
        Settle(entry, STATUS_INVALID_ADDRESS);
        return;
    }
    if (StartCheckProbe(cycle.probes, cycle.engine, entry.serial, address.socketAddress,
                        address.socketAddressLength)) {
        entry.stage = ENTRY_PROBE;
        return;
    }
    DWORD error = GetLastError();
    if (!PutOff(entry, error))
        Settle(entry, error);
}

static void StartEntry(CycleEntry& entry);

// Starts the checks and look-ups put off, in table order, while descriptors can be had.
static void StartDeferredChecks() {
    for (int i = cycle.cursor; i < cycle.started && cycle.deferred > 0; ++i) {
        CycleEntry& entry = cycle.entries[i];
        if (entry.stage != ENTRY_DEFERRED)
            continue;
        --cycle.deferred; // `deferred` counts the entries in that stage
        entry.stage = ENTRY_WAITING;
        HostAddress address;
        if (entry.resolved[0] == '\0') { // its name's look-up
            StartEntry(entry);
        } else {
            ClassifyAddress(entry.resolved, &address);
            StartCheck(entry, address);
        }
        if (entry.stage == ENTRY_DEFERRED)
            return; // none to be had yet
    }
}

// Whether the check put off at the cursor has waited in vain: every check that was in flight
// when it was put off has ended by one WAIT after, and a second WAIT allows for a late
// deadline. Then no check short of resources is waited for again this cycle.
static bool DeferredInVain(const CycleEntry& entry) {
    if (GetTickCount() - entry.deferredAt < 2 * options.waitTimeout)
        return false;
    cycle.resourcesGivenUp = true;
    for (int i = cycle.cursor; i < cycle.started; ++i)
        if (cycle.entries[i].stage == ENTRY_DEFERRED)
            LeaveUnchecked(cycle.entries[i], cycle.entries[i].status);
    return true;
}

static int LookupFamily() {
    return options.addressFamily == ADDRESS_FAMILY_IPV4   ? PROBE_LOOKUP_IPV4
           : options.addressFamily == ADDRESS_FAMILY_IPV6 ? PROBE_LOOKUP_IPV6
                                                          : PROBE_LOOKUP_ANY;
}

// The address a name had when it last resolved, when the resolver could not answer now
// (no answer in time, a server failure, no look-up to be made): the host is checked there
// rather than counted down for its resolver's fault. A name the resolver says does not
// exist has none, nor does one whose last address is of a family FAMILY no longer takes.
static bool LastKnownAddress(const CycleEntry& entry, DWORD status, HostAddress* address) {
    if (status == 0 || status == static_cast<DWORD>(WSAHOST_NOT_FOUND) ||
        status == static_cast<DWORD>(WSANO_DATA))
        return false;
    int index = FindHostBySerial(entry.serial);
    if (index < 0 || std::strcmp(hostTable[index].address, entry.address) != 0)
        return false;
    AddressKind kind = ClassifyAddress(hostTable[index].resolvedAddr, address);
    return (kind == ADDRESS_IPV4 && options.addressFamily != ADDRESS_FAMILY_IPV6) ||
           (kind == ADDRESS_IPV6 && options.addressFamily != ADDRESS_FAMILY_IPV4);
}

// A name is looked up again every cycle: an address it had once may belong to another
// host by now, and a name that no longer resolves is not checked at its old address.
static void StartEntry(CycleEntry& entry) {
    int index = FindHostBySerial(entry.serial);
    if (index < 0) {
        Settle(entry, STATUS_NAME_NOT_RESOLVED); // deleted: evaluated as nothing
        return;
    }
    const HostRecord& host = hostTable[index];
    CopyField(entry.address, sizeof entry.address, host.address);
    HostAddress address;
    if (ClassifyAddress(host.address, &address) != ADDRESS_NAME) {
        StartCheck(entry, address);
        return;
    }
    if (StartLookupProbe(cycle.probes, entry.serial, host.address, LookupFamily(),
                         options.waitTimeout)) {
        entry.stage = ENTRY_LOOKUP;
        ++cycle.lookups;
        return;
    }
    DWORD error = GetLastError();
    if (LastKnownAddress(entry, error, &address)) {
        StartCheck(entry, address);
    } else if (!PutOff(entry, error)) {
        CopyField(entry.resolved, sizeof entry.resolved, entry.address);
        Settle(entry, STATUS_NAME_NOT_RESOLVED);
    }
}

// Starts the next host's check when fewer than PARALLEL are in flight.
static bool StartNextEntry() {
    if (cycle.started >= cycle.count || cycle.deferred > 0 ||
        static_cast<unsigned>(cycle.started - cycle.cursor) >= cycle.parallel)
        return false;
    StartEntry(cycle.entries[cycle.started++]);
    return true;
}

// The pacing timer runs while there is a host to start and room for it, or a check put off.
static void PaceRequests() {
    bool wanted = (cycle.started < cycle.count &&
                   static_cast<unsigned>(cycle.started - cycle.cursor) < cycle.parallel) ||
                  cycle.deferred > 0;
    if (wanted && !cycle.pacing) {
        cycle.pacing = SetTimer(cycle.window, PACE_TIMER_ID, PACE_TIMER_MS, nullptr) != 0;
        cycle.pacedAt = GetTickCount();
    } else if (!wanted && cycle.pacing)
        cycle.pacing = !KillTimer(cycle.window, PACE_TIMER_ID);
}

// Names whose look-up ended go on to their check, or fail as not resolved.
static void TakeLookups() {
    for (int i = cycle.cursor; i < cycle.started && cycle.lookups > 0; ++i) {
        CycleEntry& entry = cycle.entries[i];
        PROBE_OUTCOME outcome;
        if (entry.stage != ENTRY_LOOKUP || !TakeProbeOutcome(cycle.probes, entry.serial, &outcome))
            continue;
        --cycle.lookups;
        HostAddress address;
        if (outcome.status != 0 || (outcome.address == 0 && !outcome.ipv6)) {
            if (LastKnownAddress(entry, outcome.status, &address)) {
                StartCheck(entry, address);
            } else if (!PutOff(entry, outcome.status)) {
                CopyField(entry.resolved, sizeof entry.resolved, entry.address); // not resolved now
                Settle(entry, STATUS_NAME_NOT_RESOLVED);
            }
            continue;
        }
        char text[INET6_ADDRSTRLEN];
        if (outcome.ipv6)
            inet_ntop(AF_INET6, outcome.address6, text, sizeof text);
        else
            inet_ntop(AF_INET, &outcome.address, text, sizeof text);
        ClassifyAddress(text, &address);
        StartCheck(entry, address);
    }
}

/*** evaluating ***/

// The host an entry was started for, as it stands: -1 when it was deleted, is no longer
// checked, or has another address now, so that nothing is said of it.
static int PlaceEntry(const CycleEntry& entry) {
    int index = FindHostBySerial(entry.serial);
    if (index < 0 || !HostIsChecked(hostTable[index]) ||
        std::strcmp(hostTable[index].address, entry.address) != 0)
        return -1;
    return index;
}

// Hands one host's outcome to the alarms and repaints it when its colour may change.
static void EvaluateEntry(const CycleEntry& entry, const PROBE_OUTCOME& outcome) {
    if (entry.stage == ENTRY_NOT_CHECKED)
        return;
    ++pollState.hostsChecked;
    int index = PlaceEntry(entry);
    if (index < 0)
        return;
    HostRecord& host = hostTable[index];
    if (entry.resolved[0] != '\0')
        CopyField(host.resolvedAddr, sizeof host.resolvedAddr, entry.resolved);
    int failed = -1;
    if (entry.stage == ENTRY_PROBE) {
        failed = TakeCheckOutcome(cycle.engine, outcome, host);
    } else {
        host.status = entry.status;
        if (entry.status == STATUS_INVALID_ADDRESS)
            host.rttTaken = 0;
    }
    if (failed != 0) {
        RecordFailure(index);
        InvalidateHost(cycle.repaintWindow, host);
        return;
    }
    bool endedMisses = host.missed != 0;
    RecordReply(index);
    if (endedMisses)
        InvalidateHost(cycle.repaintWindow, host);
}

// " check in progress - 3 of 200 - name [address] (engine)": the host the cursor waits on.
static void ShowCursorHost() {
    if (monitorReports.statusText == nullptr)
        return; // no window shows it
    const CycleEntry& entry = cycle.entries[cycle.cursor];
    int index = FindHostBySerial(entry.serial);
    if (index < 0)
        return;
    const HostRecord& host = hostTable[index];
    char text[160];
    std::snprintf(text, sizeof text, " check in progress - %d of %d - %s [%s] (%s)", cycle.cursor,
                  cycle.count, host.name,
                  entry.resolved[0] != '\0' ? entry.resolved : host.resolvedAddr,
                  entry.stage == ENTRY_LOOKUP ? "resolving" : EngineLabel(cycle.engine));
    ReportStatus(text);
}

/*** the end ***/

// The cycle's probes stop, the windows show it idle, and the done message tells the rest.
static void CloseCycle() {
    if (cycle.ended)
        return;
    cycle.ended = true;
    pollState.endedEarly = cycle.cursor < cycle.count ? 1 : 0;
    if (cycle.pacing)
        KillTimer(cycle.window, PACE_TIMER_ID);
    cycle.pacing = false;
    DWORD dropped = 0;
    if (cycle.probes != INVALID_HANDLE_VALUE) {
        dropped = ProbeSetDroppedReplies(cycle.probes);
        CloseProbeSet(cycle.probes);
    }
    cycle.probes = INVALID_HANDLE_VALUE;
    // An answer the full socket dropped was counted as a miss: the log says it happened.
    if (dropped > 0)
        LogPrintf("echo socket full: %lu datagrams dropped, answers among them counted as missed",
                  static_cast<unsigned long>(dropped));
    if (cycle.notChecked > 0) { // once the set's descriptors are free for the log
        char reason[SOCKET_ERROR_TEXT_SIZE];
        LogPrintf("%d hosts not checked, %s", cycle.notChecked,
                  SocketErrorText(cycle.notCheckedReason, reason));
    }
    cursorState = 0;
    SetCursor(cycle.previousCursor);
    EnableWindow(checkButton, true);
    UpdateWindow(cycle.repaintWindow);
    if (!PostMessage(cycle.window, WM_POLLCYCLEDONE, 0, 0))
        OnPollCycleDone(cycle.window); // no queue left (the window is gone): end it here
}

void OnPollCycleDone(HWND window) {
    if (!pollState.inProgress || !cycle.ended)
        return;
    // Read first: a question of the alarms lets messages run, a new cycle among them.
    bool counted = cycle.counted;
    pollState.inProgress = 0;
    FinishAlarmCycle();
    // The ICMP notice is told once, at the end of the cycle that made it: in the message
    // pane, which the next text replaces, and where it stays until it is read.
    ReportStatus(icmpNotice.unshown ? icmpNotice.text : nullptr);
    if (icmpNotice.unshown != 0) {
        icmpNotice.unshown = 0;
        if (icmpNotice.report != nullptr)
            icmpNotice.report(icmpNotice.text);
    }
    if (void (*action)() = pollState.atCycleEnd; action != nullptr) {
        pollState.atCycleEnd = nullptr;
        action();
    }
    if (counted) {
        SetMapTitle(0, nullptr);
        UpdateWindow(window);
        pollState.countdown = options.pollInterval;
        StartPollTimer();
    }
    ReportCountdown(); // and the state, idle again
    ++pollState.cyclesDone;
}

void AbortPollCycle() {
    pollState.abortRequested = 1;
    if (!pollState.inProgress || cycle.ended)
        return;
    if (cycle.cursor < cycle.count && !CycleCut()) {
        CycleEntry& entry = cycle.entries[cycle.cursor];
        if (entry.stage == ENTRY_DEFERRED) { // never started: nothing is known of its host
            LeaveUnchecked(entry, entry.status);
        } else {
            if (entry.stage == ENTRY_PROBE)
                CancelProbe(cycle.probes, entry.serial);
            Settle(entry, entry.stage == ENTRY_LOOKUP ? STATUS_NAME_NOT_RESOLVED
                                                      : CutCheckStatus(cycle.engine));
            EvaluateEntry(entry, PROBE_OUTCOME{});
        }
    }
    CloseCycle();
}

// Ends the cycle before its map is replaced, and its end-of-cycle actions with it: a page,
// the settings held for the cycle's end, take the map they belong to, not the next one.
void EndPollCycle() {
    if (pollState.inProgress && !cycle.ended) {
        CloseCycle();
        OnPollCycleDone(cycle.window);
    }
}

/*** advancing ***/

// Evaluates every host whose outcome is known, in table order from the cursor, starting
// the next request at once for each; the cycle ends when the cursor passes the last host.
static void EvaluateKnownOutcomes() {
    TakeLookups();
    StartDeferredChecks();
    while (cycle.cursor < cycle.count) {
        if (CycleCut()) {
            CloseCycle();
            return;
        }
        CycleEntry& entry = cycle.entries[cycle.cursor];
        PROBE_OUTCOME outcome{};
        if (entry.stage == ENTRY_WAITING || entry.stage == ENTRY_LOOKUP ||
            (entry.stage == ENTRY_DEFERRED && !DeferredInVain(entry)))
            break;
        if (entry.stage == ENTRY_PROBE && !TakeProbeOutcome(cycle.probes, entry.serial, &outcome))
            break;
        EvaluateEntry(entry, outcome);
        ++cycle.cursor;
        StartDeferredChecks();
        StartNextEntry();
        TakeLookups();
    }
    if (cycle.cursor >= cycle.count) {
        CloseCycle();
        return;
    }
    PaceRequests();
    ShowCursorHost();
}

static void AdvanceCycle() {
    ResumeProfileReads(cycle.readGroup);
    EvaluateKnownOutcomes();
    EndProfileReads();
}

void OnPollProbes(HWND) {
    if (pollState.inProgress && !cycle.ended)
        AdvanceCycle();
}

void OnPollPace(HWND) {
    if (!pollState.inProgress || cycle.ended) {
        KillTimer(cycle.window, PACE_TIMER_ID);
        return;
    }
    DWORD now = GetTickCount();
    for (DWORD due = (now - cycle.pacedAt) / PACE_INTERVAL_MS; due > 0; --due)
        if (!StartNextEntry())
            break;
    cycle.pacedAt = now;
    AdvanceCycle();
}

/*** starting a cycle ***/

// The order of a cycle with parents: each entry's host, where each host's entry is, and
// which entries are placed.
struct ParentOrder {
    int hostOf[MAX_HOSTS];  // by entry
    int entryOf[MAX_HOSTS]; // by host; -1 for a host the cycle does not check
    bool placed[MAX_HOSTS]; // by entry
    CycleEntry ordered[MAX_HOSTS];
    int count; // entries placed
};
static ParentOrder parentOrder;

// Whether every host above entry `e` that the cycle checks is placed already.
static bool AncestorsPlaced(int e) {
    int at = HostParent(hostTable[parentOrder.hostOf[e]]);
    for (int steps = 0; at >= 0 && steps < hostCount; ++steps) {
        int above = parentOrder.entryOf[at];
        if (above >= 0 && !parentOrder.placed[above])
            return false;
        at = HostParent(hostTable[at]);
    }
    return true;
}

static void PlaceEntry(int e) {
    parentOrder.placed[e] = true;
    parentOrder.ordered[parentOrder.count++] = cycle.entries[e];
}

// Table order, except that a host waits for the hosts above it: it follows right after
// the last of them. The entries are started and evaluated in this order, so a failure is
// judged against what the hosts above it made of this cycle.
static void OrderByParents() {
    bool anyParent = false;
    for (int i = 0; i < hostCount; ++i) {
        parentOrder.entryOf[i] = -1;
        anyParent |= hostTable[i].parent != 0;
    }
    if (!anyParent)
        return;
    for (int e = 0; e < cycle.count; ++e) {
        parentOrder.hostOf[e] = FindHostBySerial(cycle.entries[e].serial);
        parentOrder.entryOf[parentOrder.hostOf[e]] = e;
        parentOrder.placed[e] = false;
    }
    parentOrder.count = 0;
    for (int e = 0; e < cycle.count; ++e) {
        if (!AncestorsPlaced(e))
            continue;
        PlaceEntry(e);
        // The entries before it that waited for it (or for one another), in table order.
        for (int w = 0; w < e; ++w)
            if (!parentOrder.placed[w] && AncestorsPlaced(w)) {
                PlaceEntry(w);
                w = -1;
            }
    }
    for (int e = 0; e < cycle.count; ++e) // none: the parents form no loop
        if (!parentOrder.placed[e])
            PlaceEntry(e);
    std::copy(parentOrder.ordered, parentOrder.ordered + parentOrder.count, cycle.entries);
}

static bool StartCycle(HWND window, bool counted) {
    if (pollState.inProgress)
        return false;
    pollState.inProgress = 1;
    pollState.abortRequested = 0;
    pollState.closeRequested = 0;
    pollState.hostsChecked = 0;
    cycle.window = window;
    cycle.repaintWindow = IsIconic(window) ? window : mapWindow;
    cycle.counted = counted;
    cycle.pacing = false;
    cycle.ended = false;
    cycle.count = 0;
    cycle.started = 0;
    cycle.cursor = 0;
    cycle.lookups = 0;
    cycle.deferred = 0;
    cycle.notChecked = 0;
    cycle.resourcesGivenUp = false;
    cycle.readGroup = NewProfileReadGroup();
    for (int i = 0; i < hostCount; ++i)
        if (HostIsChecked(hostTable[i]))
            cycle.entries[cycle.count++] =
                CycleEntry{hostTable[i].serial, ENTRY_WAITING, "", "", 0, 0};
    OrderByParents();
    cycle.parallel = options.parallelChecks != 0 ? options.parallelChecks : MAX_HOSTS;
    BeginAlarmCycle();
    ReportStatus(" check in progress");
    EnableWindow(checkButton, false);
    cycle.previousCursor = SetCursor(busyCursor);
    cursorState = 1;
    cycle.probes =
        OpenCheckProbes(window, WM_POLLPROBES, static_cast<unsigned>(cycle.count), &cycle.engine);
    StartNextEntry();
    AdvanceCycle();
    return true;
}

bool RunPollCycle(HWND window) {
    return StartCycle(window, false);
}

bool RunCountedPollCycle(HWND window) {
    if (pollState.inProgress)
        return false;
    StopPollTimer();
    SetMapTitle(0, "(polling)");
    return StartCycle(window, true);
}
