// Checks shared by the tests that run panelcolor and paneldefect on the fake DRM
// device (start_on_panel): keys on a pseudo-terminal, the shown frame, the
// backlight's levels in order.
#pragma once

#include "program_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

// The shown frame against an expectation, pixel by pixel; names the first pixel
// that differs and how many do.
template <typename Expected>
void expect_frame(const std::string& path, int width, int height, Expected expected,
                  const std::string& what)
{
    const std::string frame = read_file(path);
    ASSERT_EQ(frame.size(), size_t(width) * height * 4) << what << ": frame size";
    size_t differing = 0;
    std::string first;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint32_t got;
            std::memcpy(&got, frame.data() + (size_t(y) * width + x) * 4, 4);
            const uint32_t want = expected(x, y);
            if (got == want)
                continue;
            if (differing++ == 0) {
                char text[96];
                std::snprintf(text, sizeof text, "pixel (%d, %d) is %08x, expected %08x", x, y,
                              got, want);
                first = text;
            }
        }
    EXPECT_EQ(differing, 0u) << what << ": " << first << " (" << differing << " pixels differ)";
}

// Types keys and compares the frame shown once the program has committed
// `commits` frames in all. A frame that never comes is fatal: wrap the call in
// ASSERT_NO_FATAL_FAILURE.
template <typename Expected>
void expect_frame_after(const running_program& p, const fake_panel& panel, const std::string& keys,
                        int commits, int width, int height, Expected expected,
                        const std::string& what)
{
    send_input(p, keys);
    ASSERT_TRUE(panel.wait_commits(commits))
        << what << ": " << panel.commits() << " frames committed, expected " << commits;
    expect_frame(panel.frame_path(), width, height, expected, what);
}

// Enter, which ends the program, then the finished run.
inline finished_run enter_and_finish(running_program& p)
{
    send_input(p, "\r");
    return finish(p);
}

// A command line that only prints `out` and ends with status 0, before the
// device or the backlight is touched.
inline void expect_text_only(const std::string& program, const std::vector<std::string>& args,
                             const std::string& fake, const std::string& out)
{
    const std::string what = program + " " + testing::PrintToString(args);
    fake_panel panel;
    running_program p = start_on_panel(program, args, panel, {fake});
    const finished_run r = finish(p);
    EXPECT_EQ(r.status, 0) << what;
    EXPECT_EQ(r.out, out) << what;
    EXPECT_EQ(r.err, "") << what;
    EXPECT_EQ(read_file(panel.log_path()), "") << what << ": the device was opened";
    EXPECT_EQ(panel.backlight(), "") << what << ": the backlight was touched";
}

// Keys that stop the program once its first frame is up: status 0, the output
// ending with `ending`, no frame after the first and the backlight on, then off.
// As a background job, the first frame comes while the job is behind its shell.
inline void expect_stop_after_first_frame(const std::string& program, const std::string& fake,
                                          const std::string& keys, const std::string& ending,
                                          bool background_job = false)
{
    const std::string what = program + " stopped by " + testing::PrintToString(keys);
    fake_panel panel;
    running_program p =
        start_on_panel(program, {}, panel, {.fake = fake, .background_job = background_job});
    ASSERT_TRUE(panel.wait_commits(1) && panel.wait_lit()) << what << ": no first frame";
    send_input(p, keys);
    const finished_run r = finish(p);
    EXPECT_EQ(r.status, 0) << what;
    EXPECT_TRUE(r.out.ends_with(ending)) << what << ":\n" << r.out;
    EXPECT_EQ(r.err, "") << what;
    EXPECT_EQ(panel.commits(), 1) << what << ": nothing after the stopping key is handled";
    EXPECT_EQ(panel.backlight(), "255\n0\n") << what;
}

// The XR24 word as the frame holds it: bytes blue, green, red, 0xFF.
constexpr uint32_t xr24(uint8_t r, uint8_t g, uint8_t b)
{
    return 0xFF000000u | uint32_t{r} << 16 | uint32_t{g} << 8 | b;
}

// A terminal's attributes and the file status flags of an open file description
// on it (the program's standard input), to compare before and after a run.
struct terminal_state {
    termios attributes;
    int status_flags;
};

inline terminal_state terminal_now(int fd)
{
    terminal_state s{};
    tcgetattr(fd, &s.attributes);
    s.status_flags = fcntl(fd, F_GETFL);
    return s;
}

inline void expect_terminal_as_before(const terminal_state& before, int fd,
                                      const std::string& what)
{
    const terminal_state after = terminal_now(fd);
    const termios& a = after.attributes;
    const termios& b = before.attributes;
    EXPECT_TRUE(a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
                a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0)
        << what << ": terminal attributes changed: lflag " << std::hex << b.c_lflag << " -> "
        << a.c_lflag;
    EXPECT_EQ(after.status_flags, before.status_flags)
        << what << ": standard input's status flags changed (O_NONBLOCK is " << std::hex
        << O_NONBLOCK << ")";
}

struct setup_interrupt {
    finished_run run;
    std::string log; // the device requests made
};

// SIGINT while the program sets the display up. The device's log is a FIFO that
// nobody reads yet, so the program waits at its first device request until the
// interrupt has arrived; it is sent once the handler is installed, with kill: a
// Ctrl-C typed on the terminal reaches the program only when the terminal's
// queue is worked, which may be after the FIFO has been opened. The
// program must leave its terminal as it was and write nothing to standard error.
inline setup_interrupt interrupt_during_setup(const std::string& program,
                                              const std::vector<std::string>& args,
                                              fake_panel& panel, const std::string& fake)
{
    mkfifo(panel.log_path().c_str(), 0644);
    run_options opt{fake};
    openpty(&opt.terminal.master, &opt.terminal.slave, nullptr, nullptr, nullptr);
    const terminal_state before = terminal_now(opt.terminal.slave);
    running_program p = start_on_panel(program, args, panel, opt);
    bool handler_installed = false;
    for (int i = 0; i < 2000 && !handler_installed; ++i) {
        const std::string st = read_file("/proc/" + std::to_string(p.pid) + "/status");
        const size_t at = st.find("SigCgt:\t");
        handler_installed =
            at != std::string::npos && (std::stoull(st.substr(at + 8, 16), nullptr, 16) & 2);
        usleep(1000);
    }
    EXPECT_TRUE(handler_installed) << "no SIGINT handler seen";
    kill(p.pid, SIGINT);
    const int log_fd = open(panel.log_path().c_str(), O_RDONLY | O_NONBLOCK);
    setup_interrupt r{finish(p), ""};
    char buf[4096];
    ssize_t n;
    while ((n = read(log_fd, buf, sizeof buf)) > 0)
        r.log.append(buf, static_cast<size_t>(n));
    close(log_fd);
    EXPECT_EQ(r.run.err, "") << program;
    expect_terminal_as_before(before, opt.terminal.slave, program);
    close(opt.terminal.master);
    close(opt.terminal.slave);
    return r;
}
