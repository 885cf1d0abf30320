#include "common/backlight.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <string>
#include <unistd.h>

namespace {

void set_level(backlight_write& w, int level)
{
    w.level = level;
    w.len = static_cast<unsigned>(std::snprintf(w.text, sizeof w.text, "%d\n", level));
}

// The one way the brightness file is written: opened here, then backlight_finish.
// emptied: emptied on opening, as stdio's "w" does (sysfs ignores it).
backlight_write open_brightness(int level, const char* dir, bool emptied)
{
    backlight_write w{.fd = -1, .open_error = 0, .level = 0, .text = {}, .len = 0, .cut = false,
                      .dir = dir};
    set_level(w, level);
    // A prepared write leaves the file whole: a plain file standing in for the
    // device (the virtual panel's) keeps the level it shows until the new one is
    // due, and is cut to it then. sysfs needs no cut.
    const std::string path = std::string{dir} + "/brightness";
    w.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (emptied ? O_TRUNC : 0), 0666);
    w.open_error = w.fd < 0 ? errno : 0;
    struct statfs fs{};
    w.cut = w.fd >= 0 && fstatfs(w.fd, &fs) == 0 && fs.f_type != SYSFS_MAGIC;
    return w;
}

// Reads the device maximum; -1 after any failure, with the failure's messages
// already printed. The caller still holds the brightness file and leaves it
// without writing.
int read_max_brightness(const char* dir)
{
    FILE* max_file = std::fopen((std::string{dir} + "/max_brightness").c_str(), "r");
    if (max_file == nullptr) {
        std::puts("Could not open max brightness file");
        std::puts("error reading max brightness");
        return -1;
    }
    // The whole file, so that a number too large for a level, or one followed by
    // more than white space, is not taken for another.
    char text[64] = {};
    const size_t len = std::fread(text, 1, sizeof text - 1, max_file);
    std::fclose(max_file);
    char* end = text;
    const long long max = std::strtoll(text, &end, 10);
    if (end == text) {
        std::puts("Error reading number from file!");
        std::puts("error reading max brightness");
        return -1;
    }
    while (std::isspace(static_cast<unsigned char>(*end)))
        ++end;
    const bool level = max <= INT_MAX && *end == '\0' && len < sizeof text - 1;
    if (max < 0 || !level) {
        if (max >= 0)
            std::printf("max brightness is not a whole number from 0 to %d: "
                        "backlight left as it was\n", INT_MAX);
        std::puts("error reading max brightness");
        return -1;
    }
    return static_cast<int>(max);
}

// The level of the two operations whose "on" level comes from the device maximum.
enum class level_from_max : unsigned char {
    off,     // 0, max_brightness never read
    whole,   // the maximum
    percent, // percent / 100.0 of it, truncated
};

void set_relative(level_from_max how, int percent, const char* dir)
{
    backlight_write w = open_brightness(0, dir, true);
    if (w.fd >= 0 && how != level_from_max::off) {
        const int max = read_max_brightness(dir);
        if (max < 0) {
            backlight_abandon(w);
            return;
        }
        set_level(w, how == level_from_max::whole
                         ? max
                         : static_cast<int>(static_cast<double>(percent) / 100.0 *
                                            static_cast<double>(max)));
    }
    backlight_finish(w);
}

} // namespace

void backlight_set(int on, const char* dir)
{
    set_relative(on == 0 ? level_from_max::off : level_from_max::whole, 0, dir);
}

void backlight_set_percent(int percent, const char* dir)
{
    set_relative(percent <= 0 ? level_from_max::off : level_from_max::percent, percent, dir);
}

void backlight_set_fixed(int on, const char* dir)
{
    backlight_write w = backlight_prepare_fixed(on, dir);
    backlight_finish(w);
}

backlight_write backlight_prepare_fixed(int on, const char* dir)
{
    return open_brightness(on != 0 ? 193 : 0, dir, false);
}

void backlight_finish(backlight_write& w)
{
    if (w.fd < 0) {
        std::printf("Could not open brightness file %s/brightness: %s\n", w.dir,
                    std::strerror(w.open_error));
        return;
    }
    // sysfs takes the level at the write; a refused one fails there.
    int err = 0;
    for (unsigned done = 0; done < w.len && err == 0;) {
        const ssize_t n = write(w.fd, w.text + done, w.len - done);
        if (n > 0)
            done += static_cast<unsigned>(n);
        else if (n == 0)
            err = EIO;
        else if (errno != EINTR)
            err = errno;
    }
    if (err == 0 && w.cut)
        (void)!ftruncate(w.fd, w.len); // a FIFO or a device cannot be cut: nothing to do
    if (close(w.fd) != 0 && err == 0)
        err = errno;
    w.fd = -1;
    // A level the driver refuses, or a short write, shows only here: say so,
    // since the panels may stay dark or lit.
    if (err != 0)
        std::printf("Could not write brightness %d to %s/brightness: %s\n", w.level, w.dir,
                    std::strerror(err));
}

void backlight_abandon(backlight_write& w)
{
    if (w.fd >= 0)
        close(w.fd);
    w.fd = -1;
}
