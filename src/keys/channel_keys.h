// The keys panelcolor and paneldefect share. The four rows of channel keys: one row
// per operation (set full, step up, step down, set off), one key per channel group
// (W, R, G, B); the help text prints the same rows, so keys and help cannot drift.
// Then Enter and Escape, which stop both, ?, and the answer to a key neither knows.
#pragma once

#include "common/key_result.h"
#include "colour/colour.h"

#include <array>
#include <cstdint>
#include <cstdio>

enum class channel_op : uint8_t { set, inc, dec };

struct channel_key_row {
    channel_op op;
    uint8_t value; // the level for set, the step for inc and dec
    std::array<char, 4> keys; // W, R, G, B
};

// The rows of both programs; only the step differs.
constexpr std::array<channel_key_row, 4> channel_key_rows(uint8_t step)
{
    return {{{channel_op::set, COLOR_FULL, {'1', '2', '3', '4'}},
             {channel_op::inc, step, {'q', 'w', 'e', 'r'}},
             {channel_op::dec, step, {'a', 's', 'd', 'f'}},
             {channel_op::set, COLOR_OFF, {'z', 'x', 'c', 'v'}}}};
}

struct channel_key {
    bool found;
    channel_op op;
    uint8_t value;
    uint8_t selector;
};

// The row and column of key, or found = false.
channel_key find_channel_key(const std::array<channel_key_row, 4>& rows, int key);

// Applies the key's operation within the record's change mask.
void apply_channel_key(col_color& c, const channel_key& k);

// The help lines of the rows: "  <label> %3d:<gap>1  2  3  4" per row, where gap is
// the spaces between the colon and the first key.
void print_channel_key_rows(FILE* out, const std::array<channel_key_row, 4>& rows,
                            const char* gap);

// For a key the program's own map does not take: Enter and Escape stop, ? prints the
// help text, and any other byte is named ("Unrecognized character 0x%02x") before it.
key_result shared_key(int key, FILE* out, void (*print_help)(FILE*, const char*),
                      const char* program);
