#include "launch/countdown.h"

countdown countdown_from_ns(uint64_t display_ns)
{
    return {display_ns / NSEC_PER_SEC, display_ns % NSEC_PER_SEC};
}

bool countdown_tick(countdown& c)
{
    if (c.nsec < TICK_NSEC) {
        if (c.sec == 0)
            return false;
        --c.sec;
        c.nsec = TICK_SECOND_RESTART_NSEC;
    } else {
        c.nsec -= TICK_NSEC;
    }
    return true;
}
