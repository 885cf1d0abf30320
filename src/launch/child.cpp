#include "launch/child.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

bool kill_and_reap(pid_t child, int wait_ms)
{
    if (child <= 0)
        return true;
    kill(child, SIGKILL);
    for (int waited = 0;; ++waited) {
        const pid_t ret = waitpid(child, nullptr, WNOHANG);
        if (ret == child || (ret < 0 && errno != EINTR))
            return true;
        if (waited >= wait_ms)
            return false;
        usleep(1000);
    }
}

bool child_has_ended(pid_t child, int& status)
{
    if (child <= 0)
        return false;
    pid_t ret;
    do
        ret = waitpid(child, &status, WNOHANG);
    while (ret < 0 && errno == EINTR);
    return ret == child;
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
