// panelcolor: even and odd pixel columns in two colours that the operator changes
// key by key, with per-channel locks and a blank switch for each panel.
#include "cli/panelcolor_args.h"
#include "keys/panelcolor_keys.h"
#include "colour/colour.h"
#include "common/interactive_loop.h"
#include "common/standard_fds.h"
#include "display/display.h"

#include <cstdio>

int main(int argc, char** argv)
{
    open_standard_descriptors();
    prepare_interactive_program();

    const panelcolor_args args = parse_panelcolor_args(argc, argv);
    if (args.usage_first || args.outcome != args_outcome::run)
        print_panelcolor_usage(stdout, argv[0]);
    if (args.outcome != args_outcome::run)
        return 0;

    display_handle display{};
    display_init(display, PANELCOLOR_DISPLAY, args.mode_sel);
    const display_fb fb = display_create_fb(display);

    pattern_state pattern = args.pattern;
    return run_interactive({
        .on_key = [&](int key) { return panelcolor_key(pattern, key, argv[0], stdout); },
        .draw =
            [&] {
                print_panelcolor_status(stdout, pattern);
                fill_pattern(static_cast<uint32_t*>(fb.map), fb.pitch, MODE_WIDTH, MODE_HEIGHT,
                             pattern);
                std::puts("updating display");
                display_flip(display, fb.fb_id);
            },
    });
}
