#include "colour/colour.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace {

uint8_t step_channel(uint8_t channel, int delta)
{
    return static_cast<uint8_t>(channel + delta); // 8-bit wrap, no clamping
}

// Applies f to each channel chosen by selector and not locked by the mask.
template <typename F>
void for_each_unlocked(col_color& c, uint8_t selector, F f)
{
    const uint8_t chosen = selector & c.change_mask;
    if (chosen & CHANNEL_RED) {
        c.r = f(c.r);
    }
    if (chosen & CHANNEL_GREEN) {
        c.g = f(c.g);
    }
    if (chosen & CHANNEL_BLUE) {
        c.b = f(c.b);
    }
}

// A row is written from a pre-built run of alternating words with memcpy, never
// word by word: the frame is memory-bound and memcpy's bulk path is as fast as
// memset. The run is long enough for that path and short enough for the stack.
// It is even, so consecutive copies keep the column parity.
constexpr size_t RUN_WORDS = 4096;
using run_buffer = std::array<uint32_t, RUN_WORDS + 1>; // +1: a run may start odd

void build_run(run_buffer& run, uint32_t even_word, uint32_t odd_word)
{
    for (size_t i = 0; i < run.size(); i += 2) {
        run[i] = even_word;
        if (i + 1 < run.size()) {
            run[i + 1] = odd_word;
        }
    }
}

// Columns [x0, x0 + count) of one row, coloured by the parity of the frame column.
void write_run(unsigned char* row, const run_buffer& run, size_t x0, size_t count)
{
    const unsigned char* src = reinterpret_cast<const unsigned char*>(run.data() + (x0 & 1));
    unsigned char* dst = row + x0 * sizeof(uint32_t);
    while (count > 0) {
        const size_t words = std::min(count, RUN_WORDS);
        std::memcpy(dst, src, words * sizeof(uint32_t));
        dst += words * sizeof(uint32_t);
        count -= words;
    }
}

uint32_t word_of(const col_color& c)
{
    return color_word(c.r, c.g, c.b);
}

} // namespace

void color_inc(col_color& c, uint8_t selector, uint8_t step)
{
    for_each_unlocked(c, selector, [step](uint8_t v) { return step_channel(v, step); });
}

void color_dec(col_color& c, uint8_t selector, uint8_t step)
{
    for_each_unlocked(c, selector, [step](uint8_t v) { return step_channel(v, -int{step}); });
}

void color_set(col_color& c, uint8_t value, uint8_t selector)
{
    for_each_unlocked(c, selector, [value](uint8_t) { return value; });
}

void fill_pattern(uint32_t* map, uint32_t pitch, uint16_t width, uint16_t height,
                  const pattern_state& state)
{
    if (width == 0 || height == 0) {
        return;
    }
    const size_t half = width / 2;

    run_buffer shown;
    run_buffer blank;
    build_run(shown, word_of(state.even), word_of(state.odd));
    build_run(blank, BLANK_WORD, BLANK_WORD);
    const run_buffer& left = state.left_enabled ? shown : blank;
    const run_buffer& right = state.right_enabled ? shown : blank;

    // Rows are pitch bytes apart: the kernel may pad them beyond width words.
    unsigned char* base = reinterpret_cast<unsigned char*>(map);
    for (size_t y = 0; y < height; ++y) {
        unsigned char* row = base + y * pitch;
        if (&left == &right) {
            write_run(row, left, 0, width); // one copy when both halves look alike
        } else {
            write_run(row, left, 0, half);
            write_run(row, right, half, width - half);
        }
    }
}
