// paneldefect's help text, status block and key map, and the colours the keys change.
#pragma once

#include "common/key_result.h"
#include "colour/colour.h"
#include "colour/defect.h"

#include <cstdio>

void print_paneldefect_help(FILE* out, const char* program);

// "Zone A Defect:", its colour line, "Zone B defect:", ..., "Background:", ...
void print_defect_status(FILE* out, const defect_colours& c);

enum class defect_target : uint8_t { zone_a, zone_b, background };

// What the keys change: the three colours, which one is selected, and the working
// copy of the selected colour that the channel keys step.
struct defect_session {
    defect_colours colours;
    defect_target selected;
    col_color working; // change_mask always 0x7
};

defect_session start_defect_session(const defect_colours& colours);
// The working colour back into the selected colour (before painting).
void store_working_colour(defect_session& s);
// The working colour again from the selected colour (after painting, on selection).
void load_working_colour(defect_session& s);

// Answers the key with an empty line, then acts on it. redraw: paint a frame.
key_result paneldefect_key(defect_session& s, int key, const char* program, FILE* out);
