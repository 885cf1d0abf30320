// key_terminal: runs a program on a pseudo-terminal in the guest, the way an
// operator runs it from a shell, for the real-kernel tests.
//
//   key_terminal KEYS OUT PROGRAM [ARGS...]
//
// The terminal is the program's standard input and output (its controlling
// terminal, so Ctrl-C raises SIGINT). Bytes written to the FIFO KEYS are typed
// on the terminal; everything the program writes there is appended to OUT as it
// comes (line by line, since the program's output is a terminal). Echo and the
// newline translation are off so that OUT holds exactly the program's bytes.
// Exits with the program's status (128 + signal when a signal ended it).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: key_terminal KEYS OUT PROGRAM [ARGS...]\n");
        return 2;
    }
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 2;
    }
    termios t{};
    tcgetattr(slave, &t);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    t.c_oflag &= ~static_cast<tcflag_t>(ONLCR);
    tcsetattr(slave, TCSANOW, &t);

    const int out = open(argv[2], O_WRONLY | O_CREAT | O_APPEND, 0644);
    // Held open for writing too, so the FIFO never reports end of input.
    const int keys = open(argv[1], O_RDWR | O_NONBLOCK);
    if (out < 0 || keys < 0) {
        std::perror("key_terminal: open");
        return 2;
    }

    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        dup2(slave, 0);
        dup2(slave, 1);
        close(slave);
        close(master);
        close(out);
        close(keys);
        execvp(argv[3], argv + 3);
        std::perror("key_terminal: exec");
        _exit(127);
    }
    close(slave);

    char buf[4096];
    for (;;) {
        pollfd fds[2] = {{master, POLLIN, 0}, {keys, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            break;
        if (fds[1].revents & POLLIN) {
            const ssize_t n = read(keys, buf, sizeof buf);
            if (n > 0)
                (void)!write(master, buf, static_cast<size_t>(n));
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0)
                break; // EIO: the program's side of the terminal is closed
            (void)!write(out, buf, static_cast<size_t>(n));
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
