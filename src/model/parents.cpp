// Host parents: read from the map's settings file at load, checked for loops, written back
// when the user sets one or renames a host that others sit behind.
#include "model/parents.h"

#include "model/settings.h"
#include "platform/profile.h"

#include <cstdio>
#include <cstring>

using namespace platform;

static const char* const PARENT_KEY = "PARENT";

static void Report(void (*report)(const char*), const char* text) {
    if (report != nullptr)
        report(text);
}

static int FirstHostNamed(const char* name) {
    for (int i = 0; i < hostCount; ++i)
        if (std::strcmp(hostTable[i].name, name) == 0)
            return i;
    return -1;
}

int HostParent(const HostRecord& host) {
    return host.parent != 0 ? FindHostBySerial(host.parent) : -1;
}

// "child -> parent -> ... -> child": the chain from `parent` up reaches `child`. At most
// one walk of the table: parents already set form no loop of their own.
bool ParentAllowed(int child, int parent, char* loop, unsigned size) {
    if (parent < 0)
        return true;
    int at = parent;
    for (int steps = 0; at >= 0 && at != child && steps < hostCount; ++steps)
        at = HostParent(hostTable[at]);
    if (at != child)
        return true;
    int length = std::snprintf(loop, size, "%s", hostTable[child].name);
    at = parent;
    for (int steps = 0; steps <= hostCount && length >= 0 && static_cast<unsigned>(length) < size;
         ++steps) {
        length += std::snprintf(loop + length, size - static_cast<unsigned>(length), " -> %s",
                                hostTable[at].name);
        if (at == child)
            break;
        at = HostParent(hostTable[at]);
    }
    return false;
}

void ReadHostParents(void (*report)(const char* text)) {
    for (int i = 0; i < hostCount; ++i)
        hostTable[i].parent = 0;
    for (int i = 0; i < hostCount; ++i) {
        HostRecord& host = hostTable[i];
        char name[64]; // longer than any host's name: a longer value names none
        ReadHostText(i, PARENT_KEY, "", name, sizeof name);
        if (name[0] == '\0')
            continue;
        char text[PARENT_TEXT_LENGTH + 128];
        int parent = FirstHostNamed(name);
        char loop[PARENT_TEXT_LENGTH + 1];
        if (parent < 0) {
            std::snprintf(text, sizeof text, "%.16s: PARENT=%s names no host, ignored", host.name,
                          name);
            Report(report, text);
        } else if (!ParentAllowed(i, parent, loop, sizeof loop)) {
            std::snprintf(text, sizeof text, "%.16s: PARENT=%s makes a loop (%.*s), ignored",
                          host.name, name, static_cast<int>(PARENT_TEXT_LENGTH), loop);
            Report(report, text);
        } else {
            host.parent = hostTable[parent].serial;
        }
    }
}

bool SetHostParent(int child, int parent) {
    if (child < 0 || child >= hostCount || parent >= hostCount)
        return false;
    HostRecord& host = hostTable[child];
    if (!HostNameHasSection(host.name))
        return false; // it would not be read back
    host.parent = parent >= 0 ? hostTable[parent].serial : 0;
    return WritePrivateProfileString(host.name, PARENT_KEY,
                                     parent >= 0 ? hostTable[parent].name : nullptr,
                                     settingsFiles.mapSettings);
}

bool RenameParentKeys(int renamed) {
    if (renamed < 0 || renamed >= hostCount)
        return false;
    bool written = true;
    for (int i = 0; i < hostCount; ++i)
        if (HostParent(hostTable[i]) == renamed)
            written &= WritePrivateProfileString(
                hostTable[i].name, PARENT_KEY, hostTable[renamed].name, settingsFiles.mapSettings);
    return written;
}
