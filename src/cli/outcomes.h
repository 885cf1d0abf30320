// What a command line asks of a program's main.
#pragma once

#include <cstdint>

enum class args_outcome : uint8_t {
    run,
    usage_ok,    // usage line, status 0
    usage_error, // usage line, status 1
};
