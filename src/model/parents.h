// Host parents: the host each host sits behind (a router, a switch), named by PARENT=<name>
// in the host's section of the map's settings file and held in the host table by serial,
// so that edits which move records keep it. Parents form no loop: one that would is refused.
#pragma once

#include "model/hosts.h"

constexpr unsigned PARENT_TEXT_LENGTH = 191; // a report or a loop's description, cut

// At load: each host's PARENT names the first host of that name in the table. A name that
// names no host, or a parent that would close a loop, is ignored, each told once to
// `report` (null: told nobody).
void ReadHostParents(void (*report)(const char* text));

// The index of the host `host` sits behind, or -1 (none, or deleted since).
int HostParent(const HostRecord& host);

// Whether host `parent` may be given to host `child` (-1 parent: none is always allowed).
// When it would close a loop, `loop` gets its description, "a -> b -> a", and false is
// returned.
bool ParentAllowed(int child, int parent, char* loop, unsigned size);

// Gives host `child` its parent (-1: none) and writes PARENT to the host's section
// (deleted for none). False when the settings file could not be written.
bool SetHostParent(int child, int parent);

// Host `renamed` has a new name: the PARENT keys of the hosts behind it follow it. False
// when a key could not be written.
bool RenameParentKeys(int renamed);
