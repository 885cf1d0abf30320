// The launchers' stop signals: SIGINT, SIGTERM, SIGHUP and SIGQUIT each end a
// showing as Ctrl-C does, by setting stop_requested (common/console.h).
#pragma once

#include <csignal>

// Installs the stop handler for the four signals (interrupted calls restart),
// ignores SIGPIPE, so a reader that goes away never cuts a backlight cycle short,
// and keeps children waitable (launch/child.h), whatever the parent left.
void install_launcher_signals();

// As install_launcher_signals, then blocks the four signals for good: they are
// taken only inside the waits (common/clock.h), so a stop can never slip in just
// before a wait. Returns the set of the four, to wait with.
sigset_t hold_launcher_signals();
