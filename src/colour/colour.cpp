#include "colour/colour.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstring>

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

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

static_assert(std::endian::native == std::endian::little, "pair words put the even column first");

// Two neighbouring columns as one 64-bit word, the even column at the lower address.
uint64_t pair_of(uint32_t even_word, uint32_t odd_word)
{
    return uint64_t{odd_word} << 32 | even_word;
}

// count copies of pair from dst on. The frame is memory-bound, so what counts is
// storing as memset does: no per-pixel tests, long runs of wide stores.
void store_pairs(unsigned char* dst, uint64_t pair, size_t count)
{
#if defined(__x86_64__)
    // x86 only: an x86 core reads every line it stores to unless told not to, while
    // Arm cores switch to write streaming by themselves on runs of whole-line stores.
    // Non-temporal stores, as memset uses for a frame this size: the lines go
    // to memory without being read first, whatever the length of the run, so a
    // row split into two spans costs no more than one. fill_pattern fences them.
    while (count > 0 && reinterpret_cast<uintptr_t>(dst) % 16 != 0) {
        std::memcpy(dst, &pair, sizeof pair);
        dst += sizeof pair;
        --count;
    }
    const __m128i v = _mm_set1_epi64x(static_cast<long long>(pair));
    for (; count >= 8; count -= 8, dst += 64) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst), v);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 16), v);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 32), v);
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 48), v);
    }
    for (; count >= 2; count -= 2, dst += 16) {
        _mm_stream_si128(reinterpret_cast<__m128i*>(dst), v);
    }
    if (count == 1) {
        std::memcpy(dst, &pair, sizeof pair);
    }
#else
    // 64-byte blocks, which the compiler turns into its widest stores.
    std::array<uint64_t, 8> block;
    block.fill(pair);
    for (; count >= block.size(); count -= block.size(), dst += sizeof block) {
        std::memcpy(dst, block.data(), sizeof block);
    }
    for (; count > 0; --count, dst += sizeof pair) {
        std::memcpy(dst, &pair, sizeof pair);
    }
#endif
}

// Columns [x0, x0 + count) of one row: even frame columns get even_word, odd
// ones odd_word. Parity counts from column 0 of the frame, not of the span.
void write_span(unsigned char* row, size_t x0, size_t count, uint32_t even_word,
                uint32_t odd_word)
{
    unsigned char* dst = row + x0 * sizeof(uint32_t);
    if (count > 0 && x0 % 2 == 1) {
        std::memcpy(dst, &odd_word, sizeof odd_word);
        dst += sizeof odd_word;
        --count;
    }
    store_pairs(dst, pair_of(even_word, odd_word), count / 2);
    if (count % 2 == 1) {
        std::memcpy(dst + (count - 1) * sizeof(uint32_t), &even_word, sizeof even_word);
    }
}

// Makes the non-temporal stores visible before the frame is committed.
void store_fence()
{
#if defined(__x86_64__)
    _mm_sfence();
#endif
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
    const size_t half = width / 2u;
    const uint32_t even = word_of(state.even);
    const uint32_t odd = word_of(state.odd);
    const uint32_t left_even = state.left_enabled ? even : BLANK_WORD;
    const uint32_t left_odd = state.left_enabled ? odd : BLANK_WORD;
    const uint32_t right_even = state.right_enabled ? even : BLANK_WORD;
    const uint32_t right_odd = state.right_enabled ? odd : BLANK_WORD;
    // Halves that look alike are one span: one long run of stores per row.
    const bool halves_alike = state.left_enabled == state.right_enabled;

    unsigned char* const base = reinterpret_cast<unsigned char*>(map);
    if (halves_alike && pitch == width * sizeof(uint32_t) && width % 2 == 0) {
        // Unpadded rows of even width continue each other's column parity: the
        // whole frame is one span, as memset would write it. Every run start
        // costs about as much as a few hundred stores.
        write_span(base, 0, size_t{width} * height, left_even, left_odd);
        store_fence();
        return;
    }
    // Rows are pitch bytes apart: the kernel may pad them beyond width words.
    for (size_t y = 0; y < height; ++y) {
        unsigned char* const row = base + y * pitch;
        if (halves_alike) {
            write_span(row, 0, width, left_even, left_odd);
        } else {
            write_span(row, 0, half, left_even, left_odd);
            write_span(row, half, width - half, right_even, right_odd);
        }
    }
    store_fence();
}
