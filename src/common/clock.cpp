#include "common/clock.h"

#include "common/console.h"

#include <cerrno>
#include <sched.h>
#include <sys/prctl.h>

namespace {

// The kernel wakes a sleeper some 50 to 300 microseconds after its timer fires
// (more in a virtual machine, or when the core had gone idle). A wait for a
// deadline sleeps until this much before it and spends the rest watching the
// clock, so it ends within a microsecond or two of the deadline.
constexpr long FINAL_SPIN_NSEC = 500000;

// Above any ordinary process, below the kernel's interrupt threads (50).
constexpr int WAIT_PRIORITY = 10;

// deadline - from, or 0 when the deadline has passed.
timespec left_until(timespec deadline, timespec from)
{
    timespec t{deadline.tv_sec - from.tv_sec, deadline.tv_nsec - from.tv_nsec};
    if (t.tv_nsec < 0) {
        t.tv_sec -= 1;
        t.tv_nsec += NSEC_PER_SEC;
    }
    return t.tv_sec < 0 ? timespec{0, 0} : t;
}

bool is_before(timespec a, timespec b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

timespec earlier_by(timespec t, long nsec)
{
    t.tv_nsec -= nsec;
    while (t.tv_nsec < 0) {
        t.tv_sec -= 1;
        t.tv_nsec += NSEC_PER_SEC;
    }
    return t;
}

// Takes one of stops, waiting up to timeout for it. True when a stop has come,
// now (stop_requested is then set) or before; otherwise errno tells why the wait
// ended (EAGAIN: time up).
bool stop_came(const sigset_t& stops, const timespec& timeout)
{
    if (sigtimedwait(&stops, nullptr, &timeout) > 0)
        stop_requested = 1;
    return stop_requested != 0;
}

// Sleeps until deadline unless a stop comes first: true when the deadline has
// passed and no stop was requested.
bool sleep_until(timespec deadline, const sigset_t& stops)
{
    for (;;) {
        // sigtimedwait's timeout carries the task's timer slack and nothing more
        // (a poll timeout would add 0.1 % of its length); the time left is taken
        // afresh on every pass, so the deadline stays where it was.
        if (stop_came(stops, left_until(deadline, monotonic_now())))
            return false;
        if (errno != EINTR) // time up, or no way to wait
            return true;
    }
}

} // namespace

timespan timespan_from_ns(uint64_t ns)
{
    return {ns / NSEC_PER_SEC, ns % NSEC_PER_SEC};
}

timespec to_timespec(timespan t)
{
    return {.tv_sec = static_cast<time_t>(t.sec), .tv_nsec = static_cast<long>(t.nsec)};
}

timespec monotonic_now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

int64_t now_ms()
{
    const timespec t = monotonic_now();
    return int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
}

timespec later_by(timespec t, timespec d)
{
    // Some 35,000 years is as long as any wait needs; the sum cannot overflow.
    if (d.tv_sec > (static_cast<time_t>(1) << 40))
        d.tv_sec = static_cast<time_t>(1) << 40;
    timespec sum{t.tv_sec + d.tv_sec, t.tv_nsec + d.tv_nsec};
    if (sum.tv_nsec >= NSEC_PER_SEC) {
        sum.tv_sec += 1;
        sum.tv_nsec -= NSEC_PER_SEC;
    }
    return sum;
}

bool wait_until_unless_stopped(timespec deadline, const sigset_t& stops)
{
    if (!sleep_until(earlier_by(deadline, FINAL_SPIN_NSEC), stops))
        return false;
    const timespec no_wait{0, 0};
    for (;;) {
        if (stop_came(stops, no_wait))
            return false;
        if (!is_before(monotonic_now(), deadline))
            return true;
    }
}

bool wait_unless_stopped(timespec duration, const sigset_t& stops)
{
    return sleep_until(later_by(monotonic_now(), duration), stops);
}

void enter_precise_waits()
{
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const sched_param param{.sched_priority = WAIT_PRIORITY};
    sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param);
}

void leave_precise_waits()
{
    const sched_param param{.sched_priority = 0};
    sched_setscheduler(0, SCHED_OTHER, &param);
    prctl(PR_SET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL); // back to the default
}
