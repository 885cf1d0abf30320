#include "common/fatal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

void fatal_check_failed(const char* file, int line, const char* function, const char* condition,
                        const char* reason)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s:%d: %s: Assertion `%s' failed.\n", program_invocation_short_name,
                 file, line, function, condition);
    for (const char* at = reason; at && *at;) {
        const char* end = std::strchr(at, '\n');
        const int len = static_cast<int>(end ? end - at : std::strlen(at));
        std::fprintf(stderr, "%s: %.*s\n", program_invocation_short_name, len, at);
        at += len + (end ? 1 : 0);
    }
    std::fflush(stderr);
    _exit(1);
}
