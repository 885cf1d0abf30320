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
