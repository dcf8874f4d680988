// The poll cycle's flags and countdown.
#include "monitor/poll.h"

/*** globals ***/

int pollInProgress = 0;
int abortRequested = 0;
int closeRequested = 0;
int countdown = 10;
int pollTimerActive = 0;
