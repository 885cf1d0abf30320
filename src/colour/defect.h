// Defect-visibility pattern: a background with single defect pixels in two zones
// of each panel of the 4320 x 2160 frame.
#pragma once

#include "colour/colour.h"

#include <cstdint>

inline constexpr uint8_t DEFECT_STEP = 4;

// The frame the pattern is laid out on: the mode paneldefect looks for.
inline constexpr uint16_t DEFECT_MODE_WIDTH = 4320;
inline constexpr uint16_t DEFECT_MODE_HEIGHT = 2160;

struct rgb8 {
    uint8_t r;
    uint8_t g;
    uint8_t b;
};

struct defect_colours {
    rgb8 background;
    rgb8 zone_a;
    rgb8 zone_b;
};

inline constexpr defect_colours PRESET_BRIGHT_DEFECT{{0, 0, 0}, {45, 45, 45}, {109, 109, 109}};
inline constexpr defect_colours PRESET_DARK_DEFECT{{255, 255, 255}, {195, 195, 195},
                                                   {185, 185, 185}};

struct pixel_pos {
    uint16_t x;
    uint16_t y;
};

// Frame coordinates of the defects of both panels.
inline constexpr pixel_pos ZONE_A_PIXELS[4] = {{1080, 1080}, {1080, 570}, {3240, 1080}, {3240, 570}};
inline constexpr pixel_pos ZONE_B_PIXELS[6] = {{540, 1080},  {1620, 1080}, {1080, 1620},
                                               {2700, 1080}, {3780, 1080}, {3240, 1620}};

// Paints one whole 4320 x 2160 frame whose rows are pitch bytes apart: background
// everywhere, then the zone pixels. Never reads the buffer.
void defect_fill(uint32_t* map, uint32_t pitch, const defect_colours& colours);
