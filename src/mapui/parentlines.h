// Parents from Lines: for each host without a parent, the neighbour on a drawn line that is
// nearer (by lines) to a root host the user chooses, shown as a list the user accepts or
// edits; only what is accepted is written.
#pragma once

#include "model/hosts.h"
#include "platform/types.h"

// For every host: the neighbour proposed as its parent, or -1 (it has a parent, is the
// root, or no line leads from it to the root). Returns how many were proposed.
int ProposeParents(int root, int proposed[MAX_HOSTS]);

// The dialog, on the map's hosts; 1 when proposals were accepted.
int ShowParentsFromLines(platform::HWND owner);
