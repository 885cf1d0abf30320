#include "keys/paneldefect_keys.h"
#include "keys/channel_keys.h"

#include <cstdlib>

namespace {

constexpr auto KEY_ROWS = channel_key_rows(DEFECT_STEP);

rgb8& target_colour(defect_colours& c, defect_target t)
{
    switch (t) {
    case defect_target::zone_b:
        return c.zone_b;
    case defect_target::background:
        return c.background;
    case defect_target::zone_a:
        break;
    }
    return c.zone_a;
}

void print_colour_line(FILE* out, const rgb8& c)
{
    const char* filler = "        ";
    std::fprintf(out, "R: %3d %s  G: %3d %s  B: %3d %s\n", c.r, filler, c.g, filler, c.b, filler);
}

void select_target(defect_session& s, defect_target t, const char* message, FILE* out)
{
    std::fprintf(out, "%s\n", message);
    s.selected = t;
    load_working_colour(s);
}

void apply_preset(defect_session& s, const defect_colours& preset)
{
    s.colours = preset;
    load_working_colour(s);
}

} // namespace

// The help text; its key rows come from KEY_ROWS, and the switch in
// paneldefect_key below (? in shared_key) handles exactly the keys it names (plus
// 5, b, g and t, which repaint without a change).
void print_paneldefect_help(FILE* out, const char* program)
{
    std::fputs("\n"
               "Adjust the defects in both zone A and zone B and report to Brix what you think "
               "the max value should be for both Zone A and Zone B defects.\n",
               out);
    std::fprintf(out,
                 "usage: %s (Sets background to black and sets the defects in zone A and B to "
                 "their pass limit)\n",
                 program);
    std::fputs("\n"
               "interactive:\n"
               "  adjust defect in A zone:                    8\n"
               "  adjust defect in B zone:                    9\n"
               "  adjust background value on entire panel:    0\n"
               "\n"
               "set defect and panel to specified limit\n"
               "  bright defect                                n\n"
               "  dark defect                                  m\n"
               "\n"
               "                  W  R  G  B\n",
               out);
    print_channel_key_rows(out, KEY_ROWS, "     ");
    std::fputs("\n"
               "  print this help: ?\n"
               "\n",
               out);
}

key_result paneldefect_key(defect_session& s, int key, const char* program, FILE* out)
{
    std::fputs("\n", out);
    if (const channel_key k = find_channel_key(KEY_ROWS, key); k.found) {
        apply_channel_key(s.working, k);
        return key_result::redraw;
    }
    switch (key) {
    case '8':
        select_target(s, defect_target::zone_a, "Adjusting zone A defect pixel", out);
        return key_result::none;
    case '9':
        select_target(s, defect_target::zone_b, "Adjusting zone B defect pixel", out);
        return key_result::none;
    case '0':
        select_target(s, defect_target::background, "Adjusting background pixel values", out);
        return key_result::none;
    case 'n':
        apply_preset(s, PRESET_BRIGHT_DEFECT);
        return key_result::redraw;
    case 'm':
        apply_preset(s, PRESET_DARK_DEFECT);
        return key_result::redraw;
    case '5':
    case 'b':
    case 'g':
    case 't':
        return key_result::redraw;
    default:
        return shared_key(key, out, print_paneldefect_help, program);
    }
}

defect_session start_defect_session(const defect_colours& colours)
{
    defect_session s{.colours = colours, .selected = defect_target::zone_a, .working = {}};
    load_working_colour(s);
    return s;
}

void store_working_colour(defect_session& s)
{
    rgb8& c = target_colour(s.colours, s.selected);
    c = {s.working.r, s.working.g, s.working.b};
}

void load_working_colour(defect_session& s)
{
    const rgb8& c = target_colour(s.colours, s.selected);
    s.working = {c.r, c.g, c.b, CHANNEL_ALL};
}

void print_defect_status(FILE* out, const defect_colours& c)
{
    std::fputs("Zone A Defect:\n", out);
    print_colour_line(out, c.zone_a);
    std::fputs("Zone B defect:\n", out);
    print_colour_line(out, c.zone_b);
    std::fputs("Background:\n", out);
    print_colour_line(out, c.background);
}
