#include "launch/child.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

void keep_children_waitable()
{
    signal(SIGCHLD, SIG_DFL);
    prctl(PR_SET_CHILD_SUBREAPER, 1UL, 0UL, 0UL, 0UL);
}

bool kill_and_reap(pid_t child, int wait_ms)
{
    if (child <= 0)
        return true;
    // The leader is not reaped yet, so its pid still names this group and no other.
    // (A child that leads no group of its own is killed and reaped by its pid.)
    kill(-child, SIGKILL);
    kill(child, SIGKILL);
    for (int waited = 0;;) {
        // Members orphaned by the leader's end are ours to reap (the subreaper).
        pid_t ret = waitpid(-child, nullptr, WNOHANG);
        if (ret < 0 && errno == ECHILD)
            ret = waitpid(child, nullptr, WNOHANG);
        if (ret > 0 || (ret < 0 && errno == EINTR))
            continue;
        if (ret < 0) // ECHILD: nothing of the group is left
            return true;
        if (waited++ >= wait_ms)
            return false;
        usleep(1000);
    }
}

bool child_has_ended(pid_t child, int& status)
{
    if (child <= 0)
        return false;
    // Looked at without reaping: the group is ended while its leader's pid still
    // names it.
    siginfo_t info{};
    int ret;
    do
        ret = waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT);
    while (ret < 0 && errno == EINTR);
    if (ret < 0 || info.si_pid != child)
        return false;
    // The wait status waitpid would have given.
    status = info.si_code == CLD_EXITED ? (info.si_status & 0xff) << 8 : info.si_status & 0x7f;
    kill_and_reap(child);
    return true;
}

bool reap_within(pid_t child, int wait_ms, int& status)
{
    for (int waited = 0; waited < wait_ms; waited += 10) {
        if (child_has_ended(child, status))
            return true;
        usleep(10000);
    }
    if (child_has_ended(child, status))
        return true;
    kill_and_reap(child);
    return false;
}

void print_ended_early(const char* what, int status)
{
    if (WIFSIGNALED(status))
        std::printf("image program for %s ended by signal %d before it was shown\n", what,
                    WTERMSIG(status));
    else
        std::printf("image program for %s ended with status %d before it was shown\n", what,
                    WEXITSTATUS(status));
}
