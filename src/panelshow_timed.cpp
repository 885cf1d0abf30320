// panelshow_timed: shows one image through panelshow for a set time at a set
// backlight level, then takes it down and, when asked, powers the displays down.
#include "cli/timed_args.h"
#include "common/backlight.h"
#include "common/console.h"
#include "common/standard_fds.h"
#include "launch/child.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>

namespace {

constexpr const char PANELSHOW_PATH[] = "/usr/lib/kestrin-display-tools/panelshow";
constexpr const char LIGHTSOUT_PATH[] = "/usr/bin/lightsout";

// Enter and 's' end the showing; 's' also asks for the power-down.
void take_key(timed_args& args)
{
    const int key = getc(stdin);
    if (key != '\n' && key != 's')
        return;
    if (key == 's')
        args.power_down = 1;
    stop_requested = 1;
    std::puts("got exit character");
}

} // namespace

int main(int argc, char** argv)
{
    open_standard_descriptors();
    install_sigint_handler();
    // Whole lines in order even into a pipe, and nothing left in the buffer that
    // fork would copy or exec would drop.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    timed_args args = parse_timed_args(argc, argv, stdout);
    if (args.outcome != args_outcome::run) {
        print_timed_usage(argv[0]);
        return args.outcome == args_outcome::usage_ok ? 0 : 1;
    }

    const bool timed = args.display_ns != 0;
    countdown left = countdown_from_ns(args.display_ns);
    if (timed)
        std::printf("display %s for %lu sec %lu nsec\n", args.image_path,
                    static_cast<unsigned long>(left.sec), static_cast<unsigned long>(left.nsec));

    char mode_text[4];
    std::snprintf(mode_text, sizeof mode_text, "%d", args.mode_sel);

    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        execl(PANELSHOW_PATH, PANELSHOW_PATH, args.image_path, "-m", mode_text,
              static_cast<char*>(nullptr));
        std::printf("failed to display image %s\n", args.image_path);
        std::fflush(stdout);
        _exit(1);
    }
    if (child < 0) {
        std::puts("fork failed");
        return 1;
    }

    backlight_set_percent(args.brightness);
    std::printf("%d\n", 0);

    const timespec tick{.tv_sec = 0, .tv_nsec = static_cast<long>(TICK_NSEC)};
    for (;;) {
        if (timed && !countdown_tick(left))
            break;
        if (stop_requested)
            break;
        nanosleep(&tick, nullptr);
        if (key_available())
            take_key(args);
    }

    backlight_set_percent(0);
    if (!kill_and_reap(child))
        std::printf("panelshow (pid %d) did not end after SIGKILL\n", static_cast<int>(child));

    if (args.power_down == 1) {
        std::fflush(stdout);
        execl(LIGHTSOUT_PATH, LIGHTSOUT_PATH, static_cast<char*>(nullptr));
    }
    return 0;
}
