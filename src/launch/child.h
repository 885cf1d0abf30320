// Ending the image program that a launcher started.
#pragma once

#include <sys/types.h>

// Longest wait for a killed child to be gone. SIGKILL cannot be caught, so only a
// process stuck in the kernel (a driver call) takes longer.
inline constexpr int KILLED_CHILD_WAIT_MS = 2000;

// Sends SIGKILL to child and reaps it, polling every millisecond for at most
// wait_ms. The child must be gone before the next one starts: until then it can
// still hold the display, and unreaped children pile up against the process
// limit. True when the child has been reaped (or was no child of ours). A pid
// of 0 or less (no child) does nothing: kill would take it as a process group.
bool kill_and_reap(pid_t child, int wait_ms = KILLED_CHILD_WAIT_MS);

// True when child has already ended by itself; it is then reaped and status
// holds its wait status.
bool child_has_ended(pid_t child, int& status);

// Waits up to wait_ms for child to end by itself (polling every 10 ms), then
// kills it. It is reaped either way. True when it ended by itself; status then
// holds its wait status.
bool reap_within(pid_t child, int wait_ms, int& status);

// "image program for <what> ended with status <N> before it was shown", or
// "... ended by signal <N> ..." for a child that a signal ended.
void print_ended_early(const char* what, int status);
