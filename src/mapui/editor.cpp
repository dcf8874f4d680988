// The editor's state.
#include "mapui/editor.h"

/*** globals ***/

int editMode = 0;
