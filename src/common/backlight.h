// The panels' shared sysfs backlight. Every call opens, writes and closes the
// files itself; failures are reported on stdout and the caller carries on.
#pragma once

inline constexpr const char BACKLIGHT_DIR[] = "/sys/class/backlight/ae94000.dsi.0";

// on == 0: "0\n"; otherwise the maximum as read from max_brightness.
void backlight_set(int on, const char* dir = BACKLIGHT_DIR);
// percent <= 0: "0\n"; otherwise percent / 100.0 * maximum, truncated.
void backlight_set_percent(int percent, const char* dir = BACKLIGHT_DIR);
// on == 0: "0\n"; otherwise the raw level "193\n".
void backlight_set_fixed(int on, const char* dir = BACKLIGHT_DIR);

// backlight_set_fixed in two steps, for a write that must land at a set moment:
// prepare opens the file and formats the level ahead of time, so finish has only
// the write and the close left. Messages come from finish, as backlight_set_fixed
// prints them; abandon closes the file without writing or printing.
struct backlight_write {
    int fd; // -1: the file could not be opened
    int open_error; // errno of that open
    int level;
    char text[12]; // any int level and its newline
    unsigned len;
    bool cut; // not sysfs: cut the file to the new level after writing it
    const char* dir;
};
backlight_write backlight_prepare_fixed(int on, const char* dir = BACKLIGHT_DIR);
void backlight_finish(backlight_write& w);
void backlight_abandon(backlight_write& w);
