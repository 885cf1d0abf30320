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

// Opens one file of the backlight device folder.
FILE* open_in(const char* dir, const char* name, const char* mode)
{
    const std::string path = std::string{dir} + "/" + name;
    return std::fopen(path.c_str(), mode);
}

// With the system's reason, as a failed write is reported.
void report_open_failure(const char* dir, int error)
{
    std::printf("Could not open brightness file %s/brightness: %s\n", dir, std::strerror(error));
}

// Both writers (stdio's for a level from the maximum, the descriptor's for a fixed
// level) end here when the level did not land.
void report_write_failure(int level, const char* dir, int error)
{
    std::printf("Could not write brightness %d to %s/brightness: %s\n", level, dir,
                std::strerror(error));
}

// Writes the level and closes the file. A level the driver refuses, or a short
// write, shows only here (mostly at the close, where stdio flushes): say so,
// since the panels may stay dark or lit.
void write_level(FILE* brightness, int level, const char* dir)
{
    const bool written = std::fprintf(brightness, "%d\n", level) >= 0;
    int err = errno;
    const bool closed = std::fclose(brightness) == 0;
    if (written && !closed)
        err = errno;
    if (!written || !closed)
        report_write_failure(level, dir, err);
}

// Reads the device maximum; -1 after any failure, with the failure's messages
// already printed. The caller still holds the brightness file and closes it
// without writing.
int read_max_brightness(const char* dir)
{
    FILE* max_file = open_in(dir, "max_brightness", "r");
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
    FILE* brightness = open_in(dir, "brightness", "w");
    if (brightness == nullptr) {
        report_open_failure(dir, errno);
        return;
    }
    if (how == level_from_max::off) {
        write_level(brightness, 0, dir);
        return;
    }
    const int max = read_max_brightness(dir);
    if (max < 0) {
        std::fclose(brightness);
        return;
    }
    const int level =
        how == level_from_max::whole ? max : static_cast<int>(static_cast<double>(percent) / 100.0 *
                                           static_cast<double>(max));
    write_level(brightness, level, dir);
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
    backlight_write w{.fd = -1, .open_error = 0, .level = on != 0 ? 193 : 0, .text = {}, .len = 0,
                      .cut = false, .dir = dir};
    w.len = static_cast<unsigned>(std::snprintf(w.text, sizeof w.text, "%d\n", w.level));
    // Not emptied on opening, unlike stdio's "w": a plain file standing in for
    // the device (the virtual panel's) keeps the level it shows until the new
    // one is due, and is cut to it then. sysfs needs no cut.
    const std::string path = std::string{dir} + "/brightness";
    w.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    w.open_error = w.fd < 0 ? errno : 0;
    struct statfs fs{};
    w.cut = w.fd >= 0 && fstatfs(w.fd, &fs) == 0 && fs.f_type != SYSFS_MAGIC;
    return w;
}

void backlight_finish(backlight_write& w)
{
    if (w.fd < 0) {
        report_open_failure(w.dir, w.open_error);
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
    if (err != 0)
        report_write_failure(w.level, w.dir, err);
}

void backlight_abandon(backlight_write& w)
{
    if (w.fd >= 0)
        close(w.fd);
    w.fd = -1;
}
