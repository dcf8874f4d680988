// The timer that cuts off a probe's blocking wait: an engine arms it on the window that
// waits, and that window's procedure cancels the blocking call when it fires.
#pragma once

constexpr unsigned WAIT_TIMER_ID = 10;
