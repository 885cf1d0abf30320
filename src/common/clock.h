// Time: the monotonic clock, lengths of time as whole seconds and nanoseconds,
// and the waits for a deadline that a stop signal cuts short.
#pragma once

#include <csignal>
#include <cstdint>
#include <ctime>

inline constexpr long NSEC_PER_SEC = 1000000000;

// A length of time as whole seconds and remaining nanoseconds (0..999,999,999),
// two unsigned 64-bit counters: panelshow_timed's countdown, panelshow_sequence's
// settle and display times.
struct timespan {
    uint64_t sec;
    uint64_t nsec;
};

// A count of nanoseconds as its quotient and remainder by one second.
timespan timespan_from_ns(uint64_t ns);
timespec to_timespec(timespan t);

// CLOCK_MONOTONIC now, whole and in milliseconds, and t + d.
timespec monotonic_now();
int64_t now_ms();
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
