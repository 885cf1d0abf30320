// The launchers' stop signals: SIGINT, SIGTERM, SIGHUP and SIGQUIT each end a
// showing as Ctrl-C does, by setting stop_requested (common/console.h).
#pragma once

#include <csignal>
#include <ctime>

// Installs the stop handler for the four signals (interrupted calls restart),
// ignores SIGPIPE, so a reader that goes away never cuts a backlight cycle short,
// and keeps children waitable (launch/child.h), whatever the parent left.
void install_launcher_signals();

// As install_launcher_signals, then blocks the four signals for good: they are
// taken only inside the waits below, so a stop can never slip in just before a
// wait. Returns the set of the four, to wait with.
sigset_t hold_launcher_signals();

// CLOCK_MONOTONIC now, and t + d.
timespec monotonic_now();
timespec later_by(timespec t, timespec d);

// Waits until deadline (CLOCK_MONOTONIC), or less when one of stops (held
// blocked) arrives. It sleeps until just before the deadline and watches the
// clock for the rest, so it ends within a few microseconds of it unless the
// machine holds the process up. True when the deadline has passed and no stop
// was requested; a stop sets stop_requested. A pending stop is taken even when
// the deadline has passed.
bool wait_until_unless_stopped(timespec deadline, const sigset_t& stops);

// The same for duration from now, by sleeping alone (late by the wake-up
// latency): for waits whose end needs no precision.
bool wait_unless_stopped(timespec duration, const sigset_t& stops);

// Timer slack of 1 ns and, where the system allows it, real-time priority
// (SCHED_FIFO, not passed on to children); refused, the runner goes on as it
// is. leave_precise_waits goes back to the ordinary policy and slack, for a
// program that is to take over this process by exec.
void enter_precise_waits();
void leave_precise_waits();
