// Starting the outside programs: as a child (image programs, panelquery) or in
// place of this process (lightsout).
#pragma once

#include <ctime>
#include <sys/types.h>

struct outside_program {
    const char* path;
    const char* const* argv; // argv[0] first, nullptr last
    // Our own name for the line on stderr when the program cannot be run, and the
    // line for stdout then; a null launcher prints nothing, the caller reports.
    const char* launcher;
    const char* failure_line;
    bool capture_stdout; // the child's stdout becomes a pipe to us
};

struct outside_start {
    pid_t pid;  // > 0: the program runs (exec succeeded); 0: it did not start
    bool forked;
    int error;  // errno of the failed fork or exec
    int status; // wait status of a forked child that could not run the program
    int out_fd; // read end of the child's stdout when captured, else -1
    timespec started; // CLOCK_MONOTONIC just before the fork
};

// fork, then exec in the child, which leads a process group of its own (its pid)
// and starts with every signal at its default action and none blocked. A pipe closed on exec tells us whether the exec
// worked, so a program that cannot be started is told apart from one that ends
// at once; a failed child is reaped here (its wait status in status). On
// failure, with a launcher: "fork failed", or failure_line on stdout and
// "<launcher>: cannot run <path>: <reason>" on stderr.
outside_start start_outside(const outside_program& program);

// Replaces this process with path (no arguments). Returns only when that fails,
// after "<launcher>: cannot run <path>: <reason>" on stderr.
void exec_outside(const char* launcher, const char* path);
