#include "common/interactive_loop.h"

#include "common/backlight.h"
#include "common/console.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

void prepare_interactive_program()
{
    install_stop_handlers();
    // A write to a pipe without a reader fails with EPIPE instead; the ending
    // must still reach the backlight.
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

int run_interactive(const interactive_steps& steps)
{
    bool first_pass = true;
    while (!stop_requested) {
        key_result result = key_result::none;
        const key_poll poll = poll_key();
        if (poll == key_poll::key)
            result = steps.on_key(std::getc(stdin));

        if (first_pass || result == key_result::redraw) {
            steps.draw();
            // Only once a frame is on the panels may they be lit, and not once a
            // stop signal has come (during the commit, say): the ending would
            // only switch them off again.
            if (first_pass && !stop_requested)
                backlight_set(1);
        }
        // Nobody is left to press Enter on a terminal that hung up. A stopping
        // key in the first pass still shows the first frame lit.
        if (result == key_result::stop || poll == key_poll::hangup)
            stop_requested = 1;

        usleep(1000);
        first_pass = false;
    }

    std::puts("exiting... Turning off backlight");
    backlight_set(0);
    return 0;
}
