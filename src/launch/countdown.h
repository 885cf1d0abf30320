// panelshow_timed's 10 ms countdown of the display time.
#pragma once

#include <cstdint>

inline constexpr uint64_t NSEC_PER_SEC = 1000000000;
inline constexpr uint64_t TICK_NSEC = 10000000;
// After a second is taken the nanoseconds restart here, not at 990,000,000 plus
// what was left: a second is 99 ticks.
inline constexpr uint64_t TICK_SECOND_RESTART_NSEC = 989999999;

struct countdown {
    uint64_t sec;
    uint64_t nsec;
};

countdown countdown_from_ns(uint64_t display_ns);

// The counting step of one tick pass. False: the time is up, leave before sleeping.
bool countdown_tick(countdown& c);
