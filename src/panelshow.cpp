// panelshow: puts one still image full-screen and holds it until killed.
#include "cli/panelshow_args.h"
#include "common/console.h"
#include "common/standard_fds.h"
#include "display/display.h"
#include "image/image_load.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

double seconds_between(const timespec& start, const timespec& end)
{
    return (end.tv_nsec - start.tv_nsec) / 1000000000.0 +
           static_cast<double>(end.tv_sec - start.tv_sec);
}

} // namespace

int main(int argc, char** argv)
{
    open_standard_descriptors();
    // Held until a signal ends it: one that a parent left ignored or blocked must
    // still do so.
    for (const int sig : STOP_SIGNALS)
        std::signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const panelshow_args args = parse_panelshow_args(argc, argv);
    if (args.outcome != args_outcome::run) {
        print_panelshow_usage(argv[0]);
        return args.outcome == args_outcome::usage_ok ? 0 : 1;
    }

    display_handle display{};
    display_init(display, PANELSHOW_DISPLAY, args.mode_sel);

    display_fb fb = display_map_fb(display);
    const uint32_t format = load_image(display, fb, args.image_path);
    display_register_fb(display, fb, format);

    display_flip(display, fb.fb_id);

    if (args.verbose) {
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        // The flip event can be late or never come, and the launcher's SIGKILL
        // would throw away what the buffer holds.
        std::fflush(stdout);
        if (display_wait_flip(display) == 0) {
            timespec end{};
            clock_gettime(CLOCK_MONOTONIC, &end);
            std::printf("Time from display_flip to image displayed: %.3f seconds\n",
                        seconds_between(start, end));
            std::puts("Image is now displayed");
            std::fflush(stdout);
        }
    }

    // Hold the image: the device stays open until a signal ends the process. Our
    // lines must not sit in a buffer that the killing signal throws away.
    std::fflush(stdout);
    for (;;)
        pause();
}
