#include "launch/stop_signals.h"

#include "common/console.h"

#include <cerrno>
#include <poll.h>

namespace {

constexpr long NSEC_PER_SEC = 1000000000;

timespec now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

timespec later_of(timespec a, timespec b)
{
    timespec t{a.tv_sec + b.tv_sec, a.tv_nsec + b.tv_nsec};
    if (t.tv_nsec >= NSEC_PER_SEC) {
        t.tv_sec += 1;
        t.tv_nsec -= NSEC_PER_SEC;
    }
    return t;
}

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

} // namespace

void install_launcher_signals()
{
    install_stop_handlers();
    signal(SIGPIPE, SIG_IGN);
}

sigset_t hold_launcher_signals()
{
    install_launcher_signals();
    sigset_t stops;
    sigemptyset(&stops);
    for (const int sig : STOP_SIGNALS)
        sigaddset(&stops, sig);
    sigset_t before;
    sigprocmask(SIG_BLOCK, &stops, &before);
    for (const int sig : STOP_SIGNALS)
        sigdelset(&before, sig);
    return before;
}

bool wait_unless_stopped(timespec duration, const sigset_t& waking)
{
    // Some 35,000 years is as long as any wait needs; the deadline cannot overflow.
    if (duration.tv_sec > (static_cast<time_t>(1) << 40))
        duration.tv_sec = static_cast<time_t>(1) << 40;
    const timespec deadline = later_of(now(), duration);
    for (;;) {
        const timespec left = left_until(deadline, now());
        // ppoll unblocks the stop signals only while it waits, so one that came
        // in before is delivered here too.
        const int ret = ppoll(nullptr, 0, &left, &waking);
        if (stop_requested)
            return false;
        if (ret == 0 || errno != EINTR) // time up, or no way to wait
            return true;
    }
}
