#include "launch/outside.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void report_cannot_run(const char* launcher, const char* path, int error)
{
    std::fprintf(stderr, "%s: cannot run %s: %s\n", launcher, path, std::strerror(error));
}

// The launchers hold their stop signals blocked between waits; an outside
// program starts with none blocked.
void unblock_all_signals()
{
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
}

// What a program started from a shell gets: every signal at its default action
// and none blocked, whatever we ignore (SIGPIPE) or our own parent left ignored.
// Handlers are reset by exec itself; only ignored ones would carry over.
void default_signals()
{
    struct sigaction dfl{};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig)
        sigaction(sig, &dfl, nullptr); // SIGKILL, SIGSTOP and unused numbers refuse
    unblock_all_signals();
}

void close_pair(const int fds[2])
{
    close(fds[0]);
    close(fds[1]);
}

outside_start failed(const outside_program& program, bool forked, int error, int status = 0)
{
    if (program.launcher != nullptr) {
        std::fflush(stdout);
        if (!forked) {
            std::puts("fork failed");
        } else {
            if (program.failure_line != nullptr)
                std::puts(program.failure_line);
            std::fflush(stdout);
            report_cannot_run(program.launcher, program.path, error);
        }
    }
    return outside_start{.pid = 0, .forked = forked, .error = error, .status = status,
                         .out_fd = -1};
}

} // namespace

outside_start start_outside(const outside_program& program)
{
    int exec_report[2];
    if (pipe2(exec_report, O_CLOEXEC) != 0)
        return failed(program, false, errno);
    int out[2] = {-1, -1};
    if (program.capture_stdout && pipe2(out, O_CLOEXEC) != 0) {
        const int error = errno;
        close_pair(exec_report);
        return failed(program, false, error);
    }

    std::fflush(stdout);
    timespec started{};
    clock_gettime(CLOCK_MONOTONIC, &started);
    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here on: this is a copy of a process
        // whose stdio state we must not touch. A process group of its own, so
        // that ending it ends whatever it starts too (an image program may be a
        // wrapper that forks); the exec report below comes only after this.
        setpgid(0, 0);
        default_signals();
        if (program.capture_stdout && dup2(out[1], STDOUT_FILENO) < 0) {
            const int error = errno;
            (void)!write(exec_report[1], &error, sizeof error);
            _exit(127);
        }
        execv(program.path, const_cast<char* const*>(program.argv));
        const int error = errno;
        (void)!write(exec_report[1], &error, sizeof error);
        _exit(127);
    }
    const int fork_error = errno;
    close(exec_report[1]);
    if (program.capture_stdout)
        close(out[1]);
    if (pid < 0) {
        close(exec_report[0]);
        if (program.capture_stdout)
            close(out[0]);
        return failed(program, false, fork_error);
    }

    int exec_error = 0;
    ssize_t got;
    do
        got = read(exec_report[0], &exec_error, sizeof exec_error);
    while (got < 0 && errno == EINTR);
    close(exec_report[0]);
    if (got <= 0) // closed by a successful exec
        return outside_start{.pid = pid, .forked = true, .error = 0, .status = 0,
                             .out_fd = program.capture_stdout ? out[0] : -1,
                             .started = started};

    if (program.capture_stdout)
        close(out[0]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    outside_start start = failed(program, true, exec_error, status);
    start.started = started;
    return start;
}

void exec_outside(const char* launcher, const char* path)
{
    std::fflush(stdout);
    default_signals();
    execl(path, path, static_cast<char*>(nullptr));
    report_cannot_run(launcher, path, errno);
}
