// What a command line and a key ask of a program's main and loop.
#pragma once

#include <cstdint>

enum class args_outcome : uint8_t {
    run,
    usage_ok,    // usage line, status 0
    usage_error, // usage line, status 1
};

enum class key_result : uint8_t {
    none,   // nothing to draw
    redraw, // fill and commit a frame
    stop,   // Enter or Escape
};
