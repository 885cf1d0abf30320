#include "common/console.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <initializer_list>
#include <termios.h>
#include <unistd.h>

volatile sig_atomic_t stop_requested = 0;

void handle_sigint(int)
{
    stop_requested = 1;
}

namespace {

void install_stop_handler(int sig)
{
    // What signal() gives on glibc, spelled out: the handler stays installed and
    // interrupted system calls restart.
    struct sigaction action{};
    action.sa_handler = handle_sigint;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(sig, &action, nullptr);
}

// True when descriptor 0 is our controlling terminal and another process group
// has it in the foreground (we are a background job). Setting its attributes from
// here would stop us with SIGTTOU, reading it with SIGTTIN.
bool terminal_in_other_hands()
{
    const pid_t foreground = tcgetpgrp(0);
    return foreground >= 0 && foreground != getpgrp();
}

} // namespace

void install_stop_handlers()
{
    // A parent may have left them blocked; then no stop would ever arrive.
    sigset_t stops;
    sigemptyset(&stops);
    for (const int sig : STOP_SIGNALS) {
        install_stop_handler(sig);
        sigaddset(&stops, sig);
    }
    sigprocmask(SIG_UNBLOCK, &stops, nullptr);
}

bool key_available()
{
    return poll_key() == key_poll::key;
}

key_poll poll_key()
{
    // A background job runs without keys and leaves the terminal to the job in
    // the foreground; once it is brought to the foreground it takes them again.
    if (terminal_in_other_hands())
        return key_poll::none;
    // Raw only for the instant of the poll, so the terminal behaves as the
    // user's own between polls. Input modes, ISIG, VMIN and VTIME stay as they
    // are: Enter still arrives as 0x0A and Ctrl-C still raises SIGINT. On a
    // non-terminal the attribute calls fail and change nothing.
    termios saved{};
    // A terminal that hung up answers EIO here (anything else that is no
    // terminal answers ENOTTY).
    const bool hung_up = tcgetattr(0, &saved) != 0 && errno == EIO;
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tcsetattr(0, TCSANOW, &raw);
    const int flags = fcntl(0, F_GETFL, 0);
    fcntl(0, F_SETFL, flags | O_NONBLOCK);

    errno = 0;
    const int c = std::getc(stdin);
    // EIO from the read: the other side of the terminal has closed.
    const bool read_failed = c == EOF && std::ferror(stdin) && errno == EIO;

    // Put back only while the terminal is still ours: a job sent to the
    // background meanwhile (Ctrl-Z, then bg) must neither be stopped by the
    // restore nor change the terminal of the job now in front. SIGTTOU is held
    // so that a move to the background just after the check cannot stop us.
    sigset_t ttou;
    sigset_t before;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &before);
    if (!terminal_in_other_hands())
        tcsetattr(0, TCSANOW, &saved);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    fcntl(0, F_SETFL, flags);

    if (c == EOF)
        return hung_up || read_failed ? key_poll::hangup : key_poll::none;
    std::ungetc(c, stdin);
    return key_poll::key;
}
