#include "launch/stop_signals.h"

#include "common/console.h"
#include "launch/child.h"

#include <cerrno>
#include <sched.h>
#include <sys/prctl.h>

namespace {

constexpr long NSEC_PER_SEC = 1000000000;

// The kernel wakes a sleeper some 50 to 300 microseconds after its timer fires
// (more in a virtual machine, or when the core had gone idle). A wait for a
// deadline sleeps until this much before it and spends the rest watching the
// clock, so it ends within a microsecond or two of the deadline.
constexpr long FINAL_SPIN_NSEC = 500000;

// Above any ordinary process, below the kernel's interrupt threads (50).
constexpr int WAIT_PRIORITY = 10;

} // namespace

timespec monotonic_now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

namespace {

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

// Sleeps until deadline unless a stop comes first: true when the deadline has
// passed and no stop was requested.
bool sleep_until(timespec deadline, const sigset_t& stops)
{
    for (;;) {
        // sigtimedwait's timeout carries the task's timer slack and nothing more
        // (a poll timeout would add 0.1 % of its length); the time left is taken
        // afresh on every pass, so the deadline stays where it was.
        const timespec left = left_until(deadline, monotonic_now());
        if (sigtimedwait(&stops, nullptr, &left) > 0) {
            stop_requested = 1;
            return false;
        }
        if (stop_requested)
            return false;
        if (errno != EINTR) // time up, or no way to wait
            return true;
    }
}

} // namespace

void install_launcher_signals()
{
    install_stop_handlers();
    signal(SIGPIPE, SIG_IGN);
    keep_children_waitable();
}

sigset_t hold_launcher_signals()
{
    install_launcher_signals();
    sigset_t stops;
    sigemptyset(&stops);
    for (const int sig : STOP_SIGNALS)
        sigaddset(&stops, sig);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    return stops;
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
        if (sigtimedwait(&stops, nullptr, &no_wait) > 0) {
            stop_requested = 1;
            return false;
        }
        if (stop_requested)
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
