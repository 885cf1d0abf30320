#include "launch/stop_signals.h"

#include "common/console.h"
#include "launch/child.h"

void install_launcher_signals()
{
    install_stop_handlers();
    signal(SIGPIPE, SIG_IGN);
    keep_children_waitable();
}

sigset_t hold_launcher_signals()
{
    install_launcher_signals();
    sigset_t stops;
    sigemptyset(&stops);
    for (const int sig : STOP_SIGNALS)
        sigaddset(&stops, sig);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    return stops;
}
