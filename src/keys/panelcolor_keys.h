// panelcolor's usage text (also its key help), status lines and key map.
#pragma once

#include "common/key_result.h"
#include "colour/colour.h"

#include <cstdio>

void print_panelcolor_usage(FILE* out, const char* program);

// "Even Cols: R: 0x10 ( 16) (locked)  G: ..." for one column colour.
void print_cols(FILE* out, const char* label, const col_color& c);
// The two colour lines and the "Left display: ..., Right display: ..." line.
void print_panelcolor_status(FILE* out, const pattern_state& s);

// Acts on one key byte. Help and unrecognised-key messages go to out.
key_result panelcolor_key(pattern_state& s, int key, const char* program, FILE* out);
