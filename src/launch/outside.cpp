#include "launch/outside.h"

#include "common/clock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
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

// The pipes of one start: the child writes the errno of a failed exec into the
// first (closed on exec, so a successful one leaves it empty), and its stdout
// into the second when that is captured; an end not opened is -1.
struct start_pipes {
    int exec_report[2] = {-1, -1};
    int out[2] = {-1, -1};
};

void close_if_open(int fd)
{
    if (fd >= 0)
        close(fd);
}

// 0, or the errno of the pipe that could not be opened, with none left open.
int open_pipes(start_pipes& pipes, bool capture_stdout)
{
    if (pipe2(pipes.exec_report, O_CLOEXEC) != 0)
        return errno;
    if (capture_stdout && pipe2(pipes.out, O_CLOEXEC) != 0) {
        const int error = errno;
        close(pipes.exec_report[0]);
        close(pipes.exec_report[1]);
        return error;
    }
    return 0;
}

// Tells the parent why the child cannot run the program (errno), and ends the child.
[[noreturn]] void report_exec_error(int exec_report)
{
    const int error = errno;
    (void)!write(exec_report, &error, sizeof error);
    _exit(127);
}

// The child, from fork to exec. Only async-signal-safe calls: this is a copy of a
// process whose stdio state we must not touch. A process group of its own, so
// that ending it ends whatever it starts too (an image program may be a wrapper
// that forks); the exec report comes only after this.
[[noreturn]] void exec_in_child(const outside_program& program, const start_pipes& pipes)
{
    setpgid(0, 0);
    default_signals();
    if (program.capture_stdout && dup2(pipes.out[1], STDOUT_FILENO) < 0)
        report_exec_error(pipes.exec_report[1]);
    execv(program.path, const_cast<char* const*>(program.argv));
    report_exec_error(pipes.exec_report[1]);
}

// The errno the child reported, or none when the pipe closed empty: the exec worked.
std::optional<int> read_exec_report(int exec_report)
{
    int exec_error = 0;
    ssize_t got;
    do
        got = read(exec_report, &exec_error, sizeof exec_error);
    while (got < 0 && errno == EINTR);
    close(exec_report);
    if (got <= 0)
        return std::nullopt;
    return exec_error;
}

// The wait status of a child that has ended or is about to.
int reap(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// The record of a start that failed, after its lines when there is a launcher.
outside_start report_failed_start(const outside_program& program, bool forked, int error,
                                  int status = 0)
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
    start_pipes pipes;
    if (const int error = open_pipes(pipes, program.capture_stdout); error != 0)
        return report_failed_start(program, false, error);

    std::fflush(stdout);
    const timespec started = monotonic_now();
    const pid_t pid = fork();
    if (pid == 0)
        exec_in_child(program, pipes);
    const int fork_error = errno;
    close(pipes.exec_report[1]);
    close_if_open(pipes.out[1]);
    if (pid < 0) {
        close(pipes.exec_report[0]);
        close_if_open(pipes.out[0]);
        return report_failed_start(program, false, fork_error);
    }

    const std::optional<int> exec_error = read_exec_report(pipes.exec_report[0]);
    if (!exec_error) // the pipe closed on a successful exec
        return outside_start{.pid = pid, .forked = true, .error = 0, .status = 0,
                             .out_fd = pipes.out[0], .started = started};
    close_if_open(pipes.out[0]);
    const int status = reap(pid);
    outside_start start = report_failed_start(program, true, *exec_error, status);
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
