// paneldefect: a background with single defect pixels in two zones of each panel,
// whose colours the operator adjusts key by key.
#include "cli/paneldefect_args.h"
#include "keys/paneldefect_keys.h"
#include "colour/defect.h"
#include "common/interactive_loop.h"
#include "common/standard_fds.h"
#include "display/display.h"

#include <cstdio>

// The mode paneldefect looks for is the frame its pattern is laid out on.
static_assert(PANELDEFECT_DISPLAY.search_width == DEFECT_MODE_WIDTH &&
              PANELDEFECT_DISPLAY.search_height == DEFECT_MODE_HEIGHT);

int main(int argc, char** argv)
{
    open_standard_descriptors();
    prepare_interactive_program();

    const paneldefect_args args = parse_paneldefect_args(argc, argv);
    if (args.help_first || args.outcome != args_outcome::run)
        print_paneldefect_help(stdout, argv[0]);
    if (args.outcome != args_outcome::run)
        return 0;

    display_handle display{};
    display_init(display, PANELDEFECT_DISPLAY);
    const display_fb fb = display_create_fb(display);

    defect_session session = start_defect_session(args.colours);
    return run_interactive({
        .on_key = [&](int key) { return paneldefect_key(session, key, argv[0], stdout); },
        .draw =
            [&] {
                store_working_colour(session);
                print_defect_status(stdout, session.colours);
                defect_fill(static_cast<uint32_t*>(fb.map), fb.pitch, session.colours);
                display_flip(display, fb.fb_id);
                // The next key steps from the colour now on the panels, read back from it.
                load_working_colour(session);
            },
    });
}
