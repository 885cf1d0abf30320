// paneldefect's command line and display choice.
//
//   paneldefect            help text, then run with the bright-defect preset
//   paneldefect R G B      zone A starts at R, G, B; no help text
//   any other count        help text, status 0, display untouched
#pragma once

#include "cli/outcomes.h"
#include "colour/defect.h"
#include "display/display.h"

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
