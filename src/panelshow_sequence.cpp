// panelshow_sequence: shows every entry of a directory through the burstkit image
// program, with fixed timing around the backlight, then powers the displays down.
#include "cli/sequence_args.h"
#include "common/backlight.h"
#include "common/standard_fds.h"
#include "launch/child.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <string>
#include <unistd.h>

namespace {

constexpr const char IMAGE_PROGRAM_PATH[] = "/usr/lib/kestrin-display-tools/burstkit/panelshow";
constexpr const char LIGHTSOUT_PATH[] = "/usr/bin/lightsout";

void sleep_for(sequence_delay d)
{
    const timespec t = to_timespec(d);
    nanosleep(&t, nullptr);
}

// Negative counts would make the waits last for ages; refuse them up front.
bool refuse_negative(const delay_reading& r, const char* what, const char* text)
{
    if (r.outcome != delay_outcome::negative)
        return false;
    std::printf("%s must not be negative: %s\n", what, text);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    open_standard_descriptors();
    // Whole lines in order even into a pipe shared with the children, and nothing
    // left in the buffer that fork would copy or exec would drop.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

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

    const delay_reading settle = read_delay(args.settle_text);
    const delay_reading display = read_delay(args.display_text);
    if (refuse_negative(settle, "delay nsec before vsync enable", args.settle_text) ||
        refuse_negative(display, "image display time nsec", args.display_text)) {
        closedir(dir);
        return 1;
    }
    if (settle.outcome == delay_outcome::fallback)
        std::puts("failed to convert vsync delay");
    std::printf("setting delays %lu %lu %lu %lu\n", static_cast<unsigned long>(settle.delay.sec),
                static_cast<unsigned long>(settle.delay.nsec),
                static_cast<unsigned long>(display.delay.sec),
                static_cast<unsigned long>(display.delay.nsec));
    char mode_text[4];
    std::snprintf(mode_text, sizeof mode_text, "%d", args.mode_sel);

    bool first_image = true;
    for (const dirent* entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        const char* name = entry->d_name;
        // The whole path, however long: a cut one would show some other file.
        const std::string path = std::string(args.directory) + "/" + name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
            std::printf("found image %s\n", path.c_str());
            std::fflush(stdout);
            const pid_t child = fork();
            if (child == 0) {
                execl(IMAGE_PROGRAM_PATH, IMAGE_PROGRAM_PATH, path.c_str(), "-m", mode_text,
                      static_cast<char*>(nullptr));
                std::puts("execl failed");
                std::fflush(stdout);
                _exit(0);
            }
            if (child < 0) {
                std::puts("fork failed");
            } else {
                std::printf("manage backlight for %s\n", name);
                sleep_for(first_image ? FIRST_SETTLE : settle.delay);
                backlight_set_fixed(1);
                sleep_for(lit_time(display.delay, first_image ? FIRST_EXTRA_NSEC
                                                              : LATER_EXTRA_NSEC));
                backlight_set_fixed(0);
                std::printf("close %s\n", name);
                if (!kill_and_reap(child))
                    std::printf("image program (pid %d) did not end after SIGKILL\n",
                                static_cast<int>(child));
                first_image = false;
            }
        }
        usleep(ENTRY_PAUSE_USEC);
    }

    std::puts("reached end of images");
    closedir(dir);
    std::fflush(stdout);
    execl(LIGHTSOUT_PATH, LIGHTSOUT_PATH, static_cast<char*>(nullptr));
    return 0;
}
