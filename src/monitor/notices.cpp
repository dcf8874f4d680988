// Desktop notifications of the hosts a cycle declared down or back up: noted as the cycle
// evaluates them, sent at its end, one a host, or one for all when more than three changed,
// so that a switch going down with its network does not bury the desktop.
#include "monitor/notices.h"

#include "model/settings.h"
#include "monitor/alarms.h"
#include "platform/notify.h"
#include "resources/pictures.h"

#include <algorithm>
#include <cstdio>

using namespace platform;

/*** globals ***/

NoticeCycle noticeCycle;
NoticesOut noticesOut;
NoticeSettings noticeSettings = {false, nullptr};

// Room for a summing-up body: a line a host while they fit, then "and N more".
static constexpr unsigned NOTICE_BODY_LENGTH = 1500;
static constexpr unsigned NOTICE_LINE_LENGTH = 120;

bool DesktopNoticesWanted() {
    if (options.desktopNotices == NOTIFY_UNSET)
        return !noticeSettings.headless;
    return options.desktopNotices != 0;
}

void BeginCycleNotices() {
    noticeCycle.count = 0;
    if (DesktopNoticesWanted())
        PrepareDesktopNotices();
}

// Hosts deleted or of a map read since they were told down make room; at most every host
// of the table is told down.
static std::uint32_t* FindToldDown(std::uint32_t serial) {
    std::uint32_t* end = noticesOut.serials + noticesOut.count;
    std::uint32_t* found = std::find(noticesOut.serials, end, serial);
    return found != end ? found : nullptr;
}

static void RememberToldDown(std::uint32_t serial) {
    if (FindToldDown(serial) != nullptr)
        return; // told down again when what it sat behind came back
    if (noticesOut.count == MAX_HOSTS) {
        int kept = 0;
        for (int i = 0; i < noticesOut.count; ++i)
            if (FindHostBySerial(noticesOut.serials[i]) >= 0)
                noticesOut.serials[kept++] = noticesOut.serials[i];
        noticesOut.count = kept;
    }
    if (noticesOut.count < MAX_HOSTS)
        noticesOut.serials[noticesOut.count++] = serial;
}

static bool ForgetToldDown(std::uint32_t serial) {
    std::uint32_t* found = FindToldDown(serial);
    if (found == nullptr)
        return false;
    *found = noticesOut.serials[--noticesOut.count];
    return true;
}

void NoteHostChange(int index, NoticeKind kind) {
    if (index < 0 || index >= hostCount)
        return;
    const HostRecord& host = hostTable[index];
    if (kind == NoticeKind::Down)
        RememberToldDown(host.serial);
    else if (kind == NoticeKind::Up && !ForgetToldDown(host.serial))
        return;
    if (noticeCycle.count >= MAX_HOSTS)
        return;
    NoticeChange& change = noticeCycle.changes[noticeCycle.count++];
    change.kind = kind;
    CopyField(change.name, sizeof change.name, host.name);
    CopyField(change.address, sizeof change.address, host.resolvedAddr);
    change.status = host.status;
    change.pictureKind = host.kind;
    change.color =
        noticeSettings.hostColor != nullptr ? noticeSettings.hostColor(host) : RGB(255, 255, 255);
    GetLocalTime(&change.evaluated);
}

static void FormatStatus(char* text, unsigned size, std::uint32_t status) {
    const char* known = StatusText(status);
    if (known != nullptr)
        std::snprintf(text, size, "%s", known);
    else
        std::snprintf(text, size, "status %u", status);
}

static const char* KindText(NoticeKind kind) {
    switch (kind) {
    case NoticeKind::Down:
        return "is down";
    case NoticeKind::Up:
        return "is back up";
    case NoticeKind::Unreachable:
        return "is unreachable";
    }
    return "";
}

// "name is down", and "address, status text, at HH:MM:SS" under it, with the host's picture.
static void SendHostNotice(const NoticeChange& change) {
    char summary[sizeof change.name + 16];
    std::snprintf(summary, sizeof summary, "%s %s", change.name, KindText(change.kind));
    char status[32];
    FormatStatus(status, sizeof status, change.status);
    char body[NOTICE_LINE_LENGTH];
    std::snprintf(body, sizeof body, "%s, %s, at %02u:%02u:%02u", change.address, status,
                  change.evaluated.hour, change.evaluated.minute, change.evaluated.second);
    const char* const* picture = change.pictureKind < HOST_KIND_COUNT
                                     ? FindPictureResource(hostKindPictures[change.pictureKind])
                                     : nullptr;
    ShowDesktopNotice({summary, body, picture, change.color, change.kind == NoticeKind::Down});
}

// "5 hosts changed: 2 down, 3 back up", then a line a host, in the order evaluated. Only
// the changes of the kinds `included` allows are told.
static void SendSummingUpNotice(bool (*included)(NoticeKind kind)) {
    int counts[3] = {0, 0, 0}, total = 0;
    for (int i = 0; i < noticeCycle.count; ++i)
        if (included(noticeCycle.changes[i].kind)) {
            ++counts[static_cast<int>(noticeCycle.changes[i].kind)];
            ++total;
        }
    if (total == 0)
        return;
    static const char* const countTexts[3] = {"down", "back up", "unreachable"};
    char summary[96];
    int used = std::snprintf(summary, sizeof summary, "%d hosts changed:", total);
    const char* separator = " ";
    for (int kind = 0; kind < 3; ++kind) {
        if (counts[kind] == 0 || used < 0 || static_cast<unsigned>(used) >= sizeof summary)
            continue;
        used += std::snprintf(summary + used, sizeof summary - used, "%s%d %s", separator,
                              counts[kind], countTexts[kind]);
        separator = ", ";
    }
    char body[NOTICE_BODY_LENGTH];
    unsigned length = 0;
    int told = 0;
    const NoticeChange* last = nullptr;
    for (int i = 0; i < noticeCycle.count; ++i) {
        const NoticeChange& change = noticeCycle.changes[i];
        if (!included(change.kind))
            continue;
        last = &change;
        char status[32] = "";
        if (change.kind == NoticeKind::Down)
            FormatStatus(status, sizeof status, change.status);
        char line[NOTICE_LINE_LENGTH];
        int size =
            std::snprintf(line, sizeof line, "%s %s: %s%s%s\n", change.name, KindText(change.kind),
                          change.address, status[0] ? ", " : "", status);
        // Room is kept for the last line, "and N more".
        if (size < 0 || length + static_cast<unsigned>(size) + 40 >= sizeof body)
            break;
        std::snprintf(body + length, sizeof body - length, "%s", line);
        length += static_cast<unsigned>(size);
        ++told;
    }
    if (told < total)
        std::snprintf(body + length, sizeof body - length, "and %d more", total - told);
    else if (last != nullptr)
        std::snprintf(body + length, sizeof body - length, "at %02u:%02u:%02u",
                      last->evaluated.hour, last->evaluated.minute, last->evaluated.second);
    bool urgent = counts[static_cast<int>(NoticeKind::Down)] > 0 ||
                  counts[static_cast<int>(NoticeKind::Unreachable)] > 0;
    ShowDesktopNotice({summary, body, nullptr, 0, urgent});
}

static bool AnyKind(NoticeKind) {
    return true;
}

static bool UnreachableKind(NoticeKind kind) {
    return kind == NoticeKind::Unreachable;
}

void SendCycleNotices() {
    if (noticeCycle.count == 0 || !DesktopNoticesWanted()) {
        noticeCycle.count = 0;
        return;
    }
    if (noticeCycle.count > NOTICES_EACH_MAX) {
        SendSummingUpNotice(AnyKind);
    } else {
        for (int i = 0; i < noticeCycle.count; ++i)
            if (noticeCycle.changes[i].kind != NoticeKind::Unreachable)
                SendHostNotice(noticeCycle.changes[i]);
        SendSummingUpNotice(UnreachableKind);
    }
    noticeCycle.count = 0;
}
