// panelshow_timed's command line.
#pragma once

#include "cli/outcomes.h"

#include <cstdint>
#include <cstdio>

struct timed_args {
    args_outcome outcome;
    const char* image_path;
    uint64_t display_ns; // the signed decimal taken as unsigned: -1 is the longest time
    int32_t power_down;  // 1: run lightsout at the end
    int32_t brightness;  // percent, capped at 100; below the int range the lowest int
    uint8_t mode_sel;    // decimal, kept modulo 256
};

// Scans <image> <time> <power down> then option/value pairs (-b, -m, -i). The
// capping notice of each -b above 100 goes to notices while scanning, so it
// comes before a usage error found later.
timed_args parse_timed_args(int argc, const char* const* argv, FILE* notices);
void print_timed_usage(const char* program);
