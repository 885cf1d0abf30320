#include "common/console.h"

#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

volatile sig_atomic_t stop_requested = 0;

void handle_sigint(int)
{
    stop_requested = 1;
}

void install_sigint_handler()
{
    // What signal() gives on glibc, spelled out: the handler stays installed and
    // interrupted system calls restart.
    struct sigaction action{};
    action.sa_handler = handle_sigint;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
}

bool key_available()
{
    // Raw only for the instant of the poll, so the terminal behaves as the
    // user's own between polls. Input modes, ISIG, VMIN and VTIME stay as they
    // are: Enter still arrives as 0x0A and Ctrl-C still raises SIGINT. On a
    // non-terminal the attribute calls fail and change nothing.
    termios saved{};
    tcgetattr(0, &saved);
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tcsetattr(0, TCSANOW, &raw);
    const int flags = fcntl(0, F_GETFL, 0);
    fcntl(0, F_SETFL, flags | O_NONBLOCK);

    const int c = std::getc(stdin);

    tcsetattr(0, TCSANOW, &saved);
    fcntl(0, F_SETFL, flags);

    if (c == EOF) {
        return false;
    }
    std::ungetc(c, stdin);
    return true;
}
