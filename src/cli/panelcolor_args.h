// panelcolor's command line.
//
//   panelcolor [-m <mode_sel>]... [values]
// "-m" pairs come first (the last wins); from the first other argument on, every
// argument is a value, "-m" included. 0, 1, 2, 3, 4, 6 or 8 values select a form.
#pragma once

#include "cli/outcomes.h"
#include "colour/colour.h"

#include <cstdint>

struct panelcolor_args {
    args_outcome outcome; // run, or usage_ok: usage text and status 0, nothing opened
    bool usage_first;     // no values: the usage text is printed, then the program runs
    uint8_t mode_sel;     // decimal, kept modulo 256
    pattern_state pattern;
};

panelcolor_args parse_panelcolor_args(int argc, const char* const* argv);
