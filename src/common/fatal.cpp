#include "common/fatal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

void fatal_check_failed(const char* file, int line, const char* function, const char* condition)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s:%d: %s: Assertion `%s' failed.\n", program_invocation_short_name,
                 file, line, function, condition);
    std::fflush(stderr);
    _exit(1);
}
