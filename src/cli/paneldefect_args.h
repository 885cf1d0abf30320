// paneldefect's command line, help text, status block and key map.
//
//   paneldefect            help text, then run with the bright-defect preset
//   paneldefect R G B      zone A starts at R, G, B; no help text
//   any other count        help text, status 0, display untouched
#pragma once

#include "cli/channel_keys.h"   // key_result
#include "cli/panelshow_args.h"  // args_outcome
#include "colour/colour.h"
#include "colour/defect.h"
#include "display/display.h"

#include <cstdio>

// The first DEFECT_MODE_WIDTH x DEFECT_MODE_HEIGHT mode over all connectors, no
// mode list or "Targeting" line, commits retried.
inline constexpr display_config PANELDEFECT_DISPLAY{mode_search::by_size, false, false, 11, "main",
                                                    DEFECT_MODE_WIDTH, DEFECT_MODE_HEIGHT};

struct paneldefect_args {
    args_outcome outcome; // run, or usage_ok: help text and status 0
    bool help_first;      // no arguments: the help text comes before the run
    defect_colours colours;
};

paneldefect_args parse_paneldefect_args(int argc, const char* const* argv);

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
