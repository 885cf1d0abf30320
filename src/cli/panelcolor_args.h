// panelcolor's command line, usage text, status lines and key map.
//
//   panelcolor [-m <mode_sel>]... [values]
// "-m" pairs come first (the last wins); from the first other argument on, every
// argument is a value, "-m" included. 0, 1, 2, 3, 4, 6 or 8 values select a form.
#pragma once

#include "cli/channel_keys.h"   // key_result
#include "cli/panelshow_args.h" // args_outcome
#include "colour/colour.h"

#include <cstdint>
#include <cstdio>

struct panelcolor_args {
    args_outcome outcome; // run, or usage_ok: usage text and status 0, nothing opened
    bool usage_first;     // no values: the usage text is printed, then the program runs
    uint8_t mode_sel;     // decimal, kept modulo 256
    pattern_state pattern;
};

panelcolor_args parse_panelcolor_args(int argc, const char* const* argv);

void print_panelcolor_usage(FILE* out, const char* program);

// "Even Cols: R: 0x10 ( 16) (locked)  G: ..." for one column colour.
void print_cols(FILE* out, const char* label, const col_color& c);
// The two colour lines and the "Left display: ..., Right display: ..." line.
void print_panelcolor_status(FILE* out, const pattern_state& s);

// Acts on one key byte. Help and unrecognised-key messages go to out.
key_result panelcolor_key(pattern_state& s, int key, const char* program, FILE* out);
