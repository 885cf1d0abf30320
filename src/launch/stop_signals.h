// The launchers' stop signals: SIGINT, SIGTERM, SIGHUP and SIGQUIT each end a
// showing as Ctrl-C does, by setting stop_requested (common/console.h).
#pragma once

#include <csignal>
#include <ctime>

// Installs the stop handler for the four signals (interrupted calls restart) and
// ignores SIGPIPE, so a reader that goes away never cuts a backlight cycle short.
void install_launcher_signals();

// As install_launcher_signals, then blocks the four signals: they are taken only
// inside wait_unless_stopped, so a stop can never slip in just before a wait.
// Returns the mask to wait with (the one before, without the four).
sigset_t hold_launcher_signals();

// Waits for duration, or less when a stop signal arrives (taken with the mask
// waking). True when the whole time has passed and no stop was requested. Looks
// for a pending stop even when duration is 0.
bool wait_unless_stopped(timespec duration, const sigset_t& waking);
