// panelshow_timed's command line and its 10 ms countdown.
#pragma once

#include "cli/panelshow_args.h"

#include <cstdint>
#include <cstdio>

struct timed_args {
    args_outcome outcome;
    const char* image_path;
    uint64_t display_ns; // the signed decimal taken as unsigned: -1 is the longest time
    int32_t power_down;  // 1: run lightsout at the end
    int32_t brightness;  // percent, capped at 100, no lower bound
    uint8_t mode_sel;    // decimal, kept modulo 256
};

// Scans <image> <time> <power down> then option/value pairs (-b, -m, -i). The
// capping notice of each -b above 100 goes to notices while scanning, so it
// comes before a usage error found later.
timed_args parse_timed_args(int argc, const char* const* argv, FILE* notices);
void print_timed_usage(const char* program);

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

// How many 10 ms sleeps a countdown runs before it is up.
uint64_t countdown_sleeps(countdown c);
