#include "colour/defect.h"


#include <cstring>

namespace {

uint32_t word_of(const rgb8& c)
{
    return color_word(c.r, c.g, c.b);
}

// One defect: a single word at (x, y) of a frame whose rows are pitch bytes apart.
void put_pixel(uint32_t* map, uint32_t pitch, pixel_pos p, uint32_t word)
{
    unsigned char* at = reinterpret_cast<unsigned char*>(map) + size_t{p.y} * pitch +
                        size_t{p.x} * sizeof(uint32_t);
    std::memcpy(at, &word, sizeof word);
}

} // namespace

void defect_fill(uint32_t* map, uint32_t pitch, const defect_colours& colours)
{
    // The background is a column pattern whose two colours are the same.
    const col_color bg{.r = colours.background.r,
                       .g = colours.background.g,
                       .b = colours.background.b,
                       .change_mask = 0};
    const pattern_state background{
        .even = bg, .odd = bg, .left_enabled = true, .right_enabled = true};
    fill_pattern(map, pitch, DEFECT_MODE_WIDTH, DEFECT_MODE_HEIGHT, background);

    // After the background, so a defect equal to it is still written.
    for (const pixel_pos p : ZONE_A_PIXELS) {
        put_pixel(map, pitch, p, word_of(colours.zone_a));
    }
    for (const pixel_pos p : ZONE_B_PIXELS) {
        put_pixel(map, pitch, p, word_of(colours.zone_b));
    }
}
