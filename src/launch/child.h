// Ending the outside program that a launcher started, with everything it started.
#pragma once

#include <sys/types.h>

// Longest wait for a killed child to be gone. SIGKILL cannot be caught, so only a
// process stuck in the kernel (a driver call) takes longer.
inline constexpr int KILLED_CHILD_WAIT_MS = 2000;

// Dispositions a parent of ours may have changed and that our waits rely on:
// SIGCHLD at its default (ignored, the kernel would reap our children unseen, and
// no failed start or exit status could be told). We also become the reaper of
// what our children leave behind, so that the end of a child's process group can
// be waited for.
void keep_children_waitable();

// Sends SIGKILL to child's process group (started by start_outside, the child
// leads it) and reaps its members, polling every millisecond for at most
// wait_ms. The group must be gone before the next program starts: until then
// any of them can still hold the display, and unreaped children pile up
// against the process limit. True when nothing of the group is left to reap.
// A pid of 0 or less (no child) does nothing: kill would take it as our own group.
bool kill_and_reap(pid_t child, int wait_ms = KILLED_CHILD_WAIT_MS);

// True when child has already ended by itself; status then holds its wait
// status, and what is left of its process group has been ended and reaped.
bool child_has_ended(pid_t child, int& status);

// Waits up to wait_ms for child to end by itself (polling every 10 ms), then
// kills its group. It is reaped either way. True when it ended by itself; status
// then holds its wait status.
bool reap_within(pid_t child, int wait_ms, int& status);

// "image program for <what> ended with status <N> before it was shown", or
// "... ended by signal <N> ..." for a child that a signal ended.
void print_ended_early(const char* what, int status);
