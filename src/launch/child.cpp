#include "launch/child.h"

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

bool kill_and_reap(pid_t child, int wait_ms)
{
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
