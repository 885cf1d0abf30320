// panelcolor: even and odd pixel columns in two colours that the operator changes
// key by key, with per-channel locks and a blank switch for each panel.
#include "cli/panelcolor_args.h"
#include "colour/colour.h"
#include "common/backlight.h"
#include "common/console.h"
#include "display/display.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    install_sigint_handler();

    const panelcolor_args args = parse_panelcolor_args(argc, argv);
    if (args.usage_first || args.outcome != args_outcome::run)
        print_panelcolor_usage(stdout, argv[0]);
    if (args.outcome != args_outcome::run)
        return 0;

    display_handle display{};
    display_init(display, PANELCOLOR_DISPLAY, args.mode_sel);
    const display_fb fb = display_create_fb(display);

    pattern_state pattern = args.pattern;
    bool first_pass = true;
    // A Ctrl-C during set-up ends here, before any frame or backlight change.
    while (!stop_requested) {
        key_result result = key_result::none;
        if (key_available())
            result = panelcolor_key(pattern, getc(stdin), argv[0], stdout);
        if (result == key_result::stop)
            stop_requested = 1;

        if (first_pass || result == key_result::redraw) {
            print_panelcolor_status(stdout, pattern);
            fill_pattern(static_cast<uint32_t*>(fb.map), fb.pitch, MODE_WIDTH, MODE_HEIGHT,
                         pattern);
            std::puts("updating display");
            display_flip(display, fb.fb_id);
            // Only once a frame is on the panels may they be lit.
            if (first_pass)
                backlight_set(1);
        }

        usleep(1000);
        first_pass = false;
    }

    std::puts("exiting... Turning off backlight");
    backlight_set(0);
    return 0;
}
