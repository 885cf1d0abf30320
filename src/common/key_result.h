// What one key asks of the interactive loop.
#pragma once

#include <cstdint>

enum class key_result : uint8_t {
    none,   // nothing to draw
    redraw, // fill and commit a frame
    stop,   // Enter or Escape
};
