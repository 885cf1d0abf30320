// Two-colour column model shared by the interactive programs, and its fill.
#pragma once

#include <cstdint>

struct col_color {
    uint8_t r;
    uint8_t g;
    uint8_t b;
    uint8_t change_mask; // 0x4 red, 0x2 green, 0x1 blue
};

// Channel selectors, in the layout of change_mask.
inline constexpr uint8_t CHANNEL_ALL = 0x7;
inline constexpr uint8_t CHANNEL_RED = 0x4;
inline constexpr uint8_t CHANNEL_GREEN = 0x2;
inline constexpr uint8_t CHANNEL_BLUE = 0x1;

inline constexpr uint8_t COLOR_STEP = 16; // panelcolor
inline constexpr uint8_t COLOR_FULL = 255;
inline constexpr uint8_t COLOR_OFF = 0;

// Each acts on the channels in (selector & change_mask); 8-bit arithmetic wraps.
void color_inc(col_color& c, uint8_t selector, uint8_t step);
void color_dec(col_color& c, uint8_t selector, uint8_t step);
void color_set(col_color& c, uint8_t value, uint8_t selector);

// XR24 word of a colour: 0xFF000000 | r << 16 | g << 8 | b.
constexpr uint32_t color_word(uint8_t r, uint8_t g, uint8_t b)
{
    return 0xFF000000u | uint32_t{r} << 16 | uint32_t{g} << 8 | b;
}
inline constexpr uint32_t BLANK_WORD = 0xFF000000u;

struct pattern_state {
    col_color even; // columns 0, 2, 4, ... of the whole frame
    col_color odd;
    bool left_enabled;  // columns below width / 2
    bool right_enabled; // the rest
};

// Rewrites the whole width x height frame; rows are pitch bytes apart. Never reads
// the buffer (on the device it is write-combined memory).
void fill_pattern(uint32_t* map, uint32_t pitch, uint16_t width, uint16_t height,
                  const pattern_state& state);
