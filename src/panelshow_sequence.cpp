// panelshow_sequence: shows every entry of a directory through the burstkit image
// program, with fixed timing around the backlight, then powers the displays down.
#include "cli/sequence_args.h"
#include "common/backlight.h"
#include "common/clock.h"
#include "common/standard_fds.h"
#include "launch/child.h"
#include "launch/install_paths.h"
#include "launch/outside.h"
#include "launch/sequence_timing.h"
#include "launch/stop_signals.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <optional>
#include <string>

namespace {

constexpr const char LAUNCHER[] = "panelshow_sequence";

enum class entry_end : bool { done, stopped };

struct entry_outcome {
    entry_end end;
    bool lit; // the backlight went on for it
};

// One entry: its image program started, settled, lit for the display time and
// killed; at most one child lives at a time. A stop signal ends any wait: the
// backlight goes off and the child is killed and reaped before this returns.
// Each wait ends at a deadline taken where its time begins: the settle time at
// the fork, the lit time when the "on" level has reached the device (its close).
// Each write is made ready before its deadline, so only write and close follow.
entry_outcome show_entry(const char* name, const std::string& path, const char* mode_text,
                         const entry_timing& timing, const sigset_t& stops)
{
    std::printf("found image %s\n", path.c_str());
    const char* const argv[] = {IMAGE_PROGRAM_PATH, path.c_str(), "-m", mode_text, nullptr};
    // One that cannot be started has ended before it was shown: it is handled as
    // one that ended by itself, dark for its full settle and display times.
    const outside_start child = start_outside({.path = IMAGE_PROGRAM_PATH, .argv = argv,
                                               .launcher = LAUNCHER,
                                               .failure_line = "execl failed",
                                               .capture_stdout = false});
    if (!child.forked)
        return {entry_end::done, false};
    std::printf("manage backlight for %s\n", name);

    backlight_write on = backlight_prepare_fixed(1);
    const timespec settled = later_by(child.started, to_timespec(timing.settle));
    // True while every wait so far has run its full time: no stop cut one short.
    bool ran_full_time = wait_until_unless_stopped(settled, stops);
    bool reaped = false;
    bool lit = false;
    int status = child.status;
    if (ran_full_time && (child.pid == 0 || child_has_ended(child.pid, status))) {
        reaped = true;
        backlight_abandon(on);
        // Not lit, as nothing is on the panels; the timing stays. A stop that came
        // with the child's end (Ctrl-C reaches both) is taken as a stop.
        ran_full_time = wait_unless_stopped({0, 0}, stops);
        if (ran_full_time)
            print_ended_early(name, status);
    } else if (ran_full_time) {
        backlight_finish(on);
        lit = true;
    } else {
        backlight_abandon(on);
    }
    const timespec lit_end = later_by(monotonic_now(), to_timespec(timing.lit));
    backlight_write off = backlight_prepare_fixed(0);
    if (ran_full_time)
        ran_full_time = wait_until_unless_stopped(lit_end, stops);
    backlight_finish(off);
    if (ran_full_time)
        std::printf("close %s\n", name);
    if (!reaped && !kill_and_reap(child.pid))
        std::printf("image program (pid %d) did not end after SIGKILL\n",
                    static_cast<int>(child.pid));
    if (ran_full_time)
        return {entry_end::done, lit};
    std::printf("stopped at %s\n", name);
    return {entry_end::stopped, lit};
}

// Negative counts would make the waits last for ages; refuse them up front.
bool refuse_negative(const delay_reading& r, const char* what, const char* text)
{
    if (r.outcome != delay_outcome::negative)
        return false;
    std::printf("%s must not be negative: %s\n", what, text);
    return true;
}

// The settle and display times from their words, with their lines; none when
// one is negative (refused).
std::optional<sequence_timing> read_timing(const sequence_args& args)
{
    const delay_reading settle = read_delay(args.settle_text);
    const delay_reading display = read_delay(args.display_text);
    if (refuse_negative(settle, "delay nsec before vsync enable", args.settle_text) ||
        refuse_negative(display, "image display time nsec", args.display_text))
        return std::nullopt;
    if (settle.outcome == delay_outcome::fallback)
        std::puts("failed to convert vsync delay");
    std::printf("setting delays %lu %lu %lu %lu\n", static_cast<unsigned long>(settle.delay.sec),
                static_cast<unsigned long>(settle.delay.nsec),
                static_cast<unsigned long>(display.delay.sec),
                static_cast<unsigned long>(display.delay.nsec));
    return sequence_timing{.settle = settle.delay, .display = display.delay};
}

// Every entry of the directory in turn, each followed by the pause, until the
// last or a stop.
void show_entries(DIR* dir, const sequence_args& args, sequence_timing timing,
                  const sigset_t& stops)
{
    char mode_text[4];
    std::snprintf(mode_text, sizeof mode_text, "%d", args.mode_sel);
    bool stopped = false;
    for (const dirent* entry = readdir(dir); entry != nullptr && !stopped; entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
            // The whole path, however long: a cut one would show some other file.
            const std::string path = std::string(args.directory) + "/" + name;
            const entry_outcome shown =
                show_entry(name, path, mode_text, next_entry_timing(timing), stops);
            entry_ended(timing, shown.lit);
            stopped = shown.end == entry_end::stopped;
        }
        // A stop during the pause ends the sequence before the next entry starts.
        if (!stopped && !wait_unless_stopped({0, ENTRY_PAUSE_USEC * 1000L}, stops)) {
            std::printf("stopped at %s\n", name);
            stopped = true;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    open_standard_descriptors();
    // Whole lines in order even into a pipe shared with the children, and nothing
    // left in the buffer that fork would copy or exec would drop.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const sigset_t stops = hold_launcher_signals();

    const sequence_args args = parse_sequence_args(argc, argv);
    if (args.outcome != args_outcome::run) {
        print_sequence_usage(argv[0]);
        return args.outcome == args_outcome::usage_ok ? 0 : 1;
    }
    std::printf("%s %s %s\n", argv[1], argv[2], argv[3]);

    DIR* dir = opendir(args.directory);
    if (dir == nullptr) {
        std::puts("could not open directory for images");
        return 1;
    }
    std::printf("opened directory %s\n", args.directory);
    const std::optional<sequence_timing> timing = read_timing(args);
    if (!timing) {
        closedir(dir);
        return 1;
    }

    enter_precise_waits();
    show_entries(dir, args, *timing, stops);
    std::puts("reached end of images");
    closedir(dir);
    leave_precise_waits();
    exec_outside(LAUNCHER, LIGHTSOUT_PATH);
    return 1; // the displays stay on
}
