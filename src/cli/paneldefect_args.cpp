#include "cli/paneldefect_args.h"

#include "common/decimal.h"

paneldefect_args parse_paneldefect_args(int argc, const char* const* argv)
{
    paneldefect_args args{.outcome = args_outcome::run,
                          .help_first = false,
                          .colours = PRESET_BRIGHT_DEFECT};
    if (argc == 1) {
        args.help_first = true;
    } else if (argc == 4) {
        args.colours.zone_a = {colour_value(argv[1]), colour_value(argv[2]),
                               colour_value(argv[3])};
    } else {
        args.outcome = args_outcome::usage_ok;
    }
    return args;
}
