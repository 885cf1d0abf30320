#include "launch/countdown.h"

bool countdown_tick(timespan& c)
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
