// panelshow's command line: <image> [-v] [-m <mode_sel>], options in any order.
#pragma once

#include "cli/outcomes.h"

#include <cstdint>

struct panelshow_args {
    args_outcome outcome;
    const char* image_path;
    uint8_t mode_sel; // decimal, kept modulo 256
    bool verbose;
};

panelshow_args parse_panelshow_args(int argc, const char* const* argv);
void print_panelshow_usage(const char* program);
