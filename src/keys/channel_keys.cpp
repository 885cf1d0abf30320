#include "keys/channel_keys.h"

namespace {

// Selectors of the four key columns, in help-text order.
constexpr std::array<uint8_t, 4> KEY_COLUMN_CHANNELS{CHANNEL_ALL, CHANNEL_RED, CHANNEL_GREEN,
                                                     CHANNEL_BLUE};
constexpr int KEY_ENTER = 0x0A;
constexpr int KEY_ESCAPE = 0x1B;

} // namespace

channel_key find_channel_key(const std::array<channel_key_row, 4>& rows, int key)
{
    for (const channel_key_row& row : rows)
        for (size_t col = 0; col < row.keys.size(); ++col)
            if (row.keys[col] == key)
                return {true, row.op, row.value, KEY_COLUMN_CHANNELS[col]};
    return {false, channel_op::set, 0, 0};
}

void apply_channel_key(col_color& c, const channel_key& k)
{
    switch (k.op) {
    case channel_op::set:
        color_set(c, k.value, k.selector);
        break;
    case channel_op::inc:
        color_inc(c, k.selector, k.value);
        break;
    case channel_op::dec:
        color_dec(c, k.selector, k.value);
        break;
    }
}

void print_channel_key_rows(FILE* out, const std::array<channel_key_row, 4>& rows,
                            const char* gap)
{
    for (const channel_key_row& row : rows) {
        const char* label = row.op == channel_op::inc   ? "inc by"
                            : row.op == channel_op::dec ? "dec by"
                                                        : "set to";
        std::fprintf(out, "  %s %3d:%s%c  %c  %c  %c\n", label, row.value, gap, row.keys[0],
                     row.keys[1], row.keys[2], row.keys[3]);
    }
}

key_result shared_key(int key, FILE* out, void (*print_help)(FILE*, const char*),
                      const char* program)
{
    if (key == KEY_ENTER || key == KEY_ESCAPE)
        return key_result::stop;
    if (key != '?')
        std::fprintf(out, "Unrecognized character 0x%02x\n", static_cast<unsigned>(key));
    print_help(out, program);
    return key_result::none;
}
