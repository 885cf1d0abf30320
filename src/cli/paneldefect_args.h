// paneldefect's command line.
//
//   paneldefect            help text, then run with the bright-defect preset
//   paneldefect R G B      zone A starts at R, G, B; no help text
//   any other count        help text, status 0, display untouched
#pragma once

#include "cli/outcomes.h"
#include "colour/defect.h"

struct paneldefect_args {
    args_outcome outcome; // run, or usage_ok: help text and status 0
    bool help_first;      // no arguments: the help text comes before the run
    defect_colours colours;
};

paneldefect_args parse_paneldefect_args(int argc, const char* const* argv);
