// Ending the image program that a launcher started.
#pragma once

#include <sys/types.h>

// Longest wait for a killed child to be gone. SIGKILL cannot be caught, so only a
// process stuck in the kernel (a driver call) takes longer.
inline constexpr int KILLED_CHILD_WAIT_MS = 2000;

// Sends SIGKILL to child and reaps it, polling every millisecond for at most
// wait_ms. The child must be gone before the next one starts: until then it can
// still hold the display, and unreaped children pile up against the process
// limit. True when the child has been reaped (or was no child of ours).
bool kill_and_reap(pid_t child, int wait_ms = KILLED_CHILD_WAIT_MS);
