// paneldefect: a background with single defect pixels in two zones of each panel,
// whose colours the operator adjusts key by key.
#include "cli/paneldefect_args.h"
#include "colour/defect.h"
#include "common/backlight.h"
#include "common/console.h"
#include "display/display.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    install_sigint_handler();

    const paneldefect_args args = parse_paneldefect_args(argc, argv);
    if (args.help_first || args.outcome != args_outcome::run)
        print_paneldefect_help(stdout, argv[0]);
    if (args.outcome != args_outcome::run)
        return 0;

    display_handle display{};
    display_init(display, PANELDEFECT_DISPLAY);
    const display_fb fb = display_create_fb(display);

    defect_session session = start_defect_session(args.colours);
    bool first_pass = true;
    // A Ctrl-C during set-up ends here, before any frame or backlight change.
    while (!stop_requested) {
        key_result result = key_result::none;
        if (key_available())
            result = paneldefect_key(session, getc(stdin), argv[0], stdout);
        if (result == key_result::stop)
            stop_requested = 1;

        if (first_pass || result == key_result::redraw) {
            store_working_colour(session);
            print_defect_status(stdout, session.colours);
            defect_fill(static_cast<uint32_t*>(fb.map), fb.pitch, session.colours);
            display_flip(display, fb.fb_id);
            // Only once a frame is on the panels may they be lit.
            if (first_pass)
                backlight_set(1);
            load_working_colour(session);
        }

        usleep(1000);
        first_pass = false;
    }

    std::puts("exiting... Turning off backlight");
    backlight_set(0);
    return 0;
}
