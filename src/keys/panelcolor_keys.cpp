#include "keys/panelcolor_keys.h"
#include "keys/channel_keys.h"

#include <utility>

namespace {

constexpr auto KEY_ROWS = channel_key_rows(COLOR_STEP);
constexpr int KEY_TAB = 0x09;

} // namespace

// The usage text doubles as the key help; its key rows come from KEY_ROWS and the
// switch in panelcolor_key below (? in shared_key) handles exactly the keys it names.
void print_panelcolor_usage(FILE* out, const char* p)
{
    // "w=127" is what operators have always read here, though no values means 255.
    std::fprintf(out, "usage: %s [-m <mode_sel>] (no args: Set w=127)\n", p);
    std::fprintf(out, "       %s [-m <mode_sel>] <w>\n", p);
    std::fprintf(out, "       %s [-m <mode_sel>] <wEven> <wOdd>\n", p);
    std::fprintf(out, "       %s [-m <mode_sel>] <r> <g> <b>\n", p);
    std::fprintf(out,
                 "       %s [-m <mode_sel>] <wEven> <wOdd> <rgbChangeMaskEven> "
                 "<rgbChangeMaskOdd>\n",
                 p);
    std::fprintf(out, "       %s [-m <mode_sel>] <rOdd> <gOdd> <bOdd> <rEven> <gEven> <bEven>\n",
                 p);
    std::fprintf(out,
                 "       %s [-m <mode_sel>] <rOdd> <gOdd> <bOdd> <rEven> <gEven> <bEven> "
                 "<rgbChangeMaskEven> <rgbChangeMaskOdd>\n",
                 p);
    std::fputs("       w (R, G, & B), r, g, b: 0-255\n"
               "       even / odd columns; both cols if not specified\n"
               "       rgbChangeMask: 0x7 = enable changes to R, G, & B\n"
               "\n"
               "interactive:\n"
               "  subpixel:    W  R  G  B\n",
               out);
    print_channel_key_rows(out, KEY_ROWS, "  ");
    std::fputs("  swap even/odd col settings: [SPACE]\n"
               "  enable L & R display:       5\n"
               "  toggle L display enable:    t\n"
               "  toggle R display enable:    g\n"
               "  disable L & R display:      b\n"
               "  swap L & R display enables: [TAB]\n"
               "  print this help: ?\n"
               "\n",
               out);
}

key_result panelcolor_key(pattern_state& s, int key, const char* program, FILE* out)
{
    if (const channel_key k = find_channel_key(KEY_ROWS, key); k.found) {
        apply_channel_key(s.even, k);
        apply_channel_key(s.odd, k);
        return key_result::redraw;
    }
    switch (key) {
    case ' ':
        std::swap(s.even, s.odd);
        return key_result::redraw;
    case '5':
        s.left_enabled = s.right_enabled = true;
        return key_result::redraw;
    case 't':
        s.left_enabled = !s.left_enabled;
        return key_result::redraw;
    case 'g':
        s.right_enabled = !s.right_enabled;
        return key_result::redraw;
    case 'b':
        s.left_enabled = s.right_enabled = false;
        return key_result::redraw;
    case KEY_TAB:
        std::swap(s.left_enabled, s.right_enabled);
        return key_result::redraw;
    default:
        return shared_key(key, out, print_panelcolor_usage, program);
    }
}

void print_cols(FILE* out, const char* label, const col_color& c)
{
    auto lock = [&](uint8_t channel) { return (c.change_mask & channel) ? "        " : "(locked)"; };
    std::fprintf(out, "%s Cols: R: 0x%02x (%3d) %s  G: 0x%02x (%3d) %s  B: 0x%02x (%3d) %s\n",
                 label, c.r, c.r, lock(CHANNEL_RED), c.g, c.g, lock(CHANNEL_GREEN), c.b, c.b,
                 lock(CHANNEL_BLUE));
}

void print_panelcolor_status(FILE* out, const pattern_state& s)
{
    print_cols(out, "Even", s.even);
    print_cols(out, " Odd", s.odd);
    std::fprintf(out, "Left display: %s, Right display: %s\n",
                 s.left_enabled ? "Enabled" : "Disabled", s.right_enabled ? "Enabled" : "Disabled");
}
