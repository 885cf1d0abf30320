// panelshow_timed's 10 ms countdown of the display time.
#pragma once

#include "common/clock.h"

#include <cstdint>

inline constexpr uint64_t TICK_NSEC = 10000000;
// After a second is taken the nanoseconds restart here, not at 990,000,000 plus
// what was left: a second is 99 ticks.
inline constexpr uint64_t TICK_SECOND_RESTART_NSEC = 989999999;

// The counting step of one tick pass on the time left. False: the time is up,
// leave before sleeping.
bool countdown_tick(timespan& c);
