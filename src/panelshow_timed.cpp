// panelshow_timed: shows one image through panelshow for a set time at a set
// backlight level, then takes it down and, when asked, powers the displays down.
#include "cli/timed_args.h"
#include "common/backlight.h"
#include "common/clock.h"
#include "common/console.h"
#include "common/standard_fds.h"
#include "launch/child.h"
#include "launch/countdown.h"
#include "launch/install_paths.h"
#include "launch/outside.h"
#include "launch/stop_signals.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace {

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

// panelshow with the image, in a process group of its own. One that cannot be
// started is reported here, then handled as one that ended before it was shown.
outside_start start_panelshow(const timed_args& args)
{
    char mode_text[4];
    std::snprintf(mode_text, sizeof mode_text, "%d", args.mode_sel);
    const char* const child_argv[] = {PANELSHOW_PATH, args.image_path, "-m", mode_text, nullptr};
    const std::string failure_line = std::string("failed to display image ") + args.image_path;
    return start_outside({.path = PANELSHOW_PATH, .argv = child_argv, .launcher = "panelshow_timed",
                          .failure_line = failure_line.c_str(), .capture_stdout = false});
}

// How the showing ended.
struct showing_end {
    bool reaped;      // panelshow ended by itself and is reaped; status is its wait status
    bool ended_early; // ... and not by a stop: it could not show its image
    int status;
};

// Ticks until the time is up (when timed), a stop comes, or panelshow ends.
showing_end show_until_done(const outside_start& child, bool timed, timespan left,
                            timed_args& args)
{
    const timespec tick{.tv_sec = 0, .tv_nsec = static_cast<long>(TICK_NSEC)};
    showing_end end{.reaped = false, .ended_early = false, .status = child.status};
    for (;;) {
        // A panelshow that could not show its image (or not even start) has
        // ended by itself: the panels must not stay lit with nothing on them,
        // however short the time. A stop signal that reached it too (Ctrl-C) is
        // handled as a stop.
        if (child.pid == 0 || child_has_ended(child.pid, end.status)) {
            end.reaped = true;
            end.ended_early = !stop_requested;
            return end;
        }
        if (timed && !countdown_tick(left))
            return end;
        if (stop_requested)
            return end;
        nanosleep(&tick, nullptr);
        if (key_available())
            take_key(args);
    }
}

// Backlight off, panelshow gone, then lightsout when the power-down was asked
// for. The exit status.
int take_down(const timed_args& args, const outside_start& child, const showing_end& end)
{
    backlight_set_percent(0);
    if (end.ended_early)
        print_ended_early(args.image_path, end.status);
    else if (!end.reaped && !kill_and_reap(child.pid))
        std::printf("panelshow (pid %d) did not end after SIGKILL\n", static_cast<int>(child.pid));

    if (args.power_down == 1) {
        exec_outside("panelshow_timed", LIGHTSOUT_PATH);
        return 1; // the displays stay on
    }
    return end.ended_early ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    open_standard_descriptors();
    install_launcher_signals();
    // Whole lines in order even into a pipe, and nothing left in the buffer that
    // fork would copy or exec would drop.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    timed_args args = parse_timed_args(argc, argv, stdout);
    if (args.outcome != args_outcome::run) {
        print_timed_usage(argv[0]);
        return args.outcome == args_outcome::usage_ok ? 0 : 1;
    }

    const bool timed = args.display_ns != 0;
    const timespan left = timespan_from_ns(args.display_ns);
    if (timed)
        std::printf("display %s for %lu sec %lu nsec\n", args.image_path,
                    static_cast<unsigned long>(left.sec), static_cast<unsigned long>(left.nsec));

    const outside_start child = start_panelshow(args);
    if (!child.forked)
        return 1;
    // Not lit for a panelshow known not to run: nothing would be on the panels.
    if (child.pid > 0)
        backlight_set_percent(args.brightness);
    // The "0" line tells a reader of the log that the backlight is set and the countdown starts.
    std::printf("%d\n", 0);

    const showing_end end = show_until_done(child, timed, left, args);
    return take_down(args, child, end);
}
