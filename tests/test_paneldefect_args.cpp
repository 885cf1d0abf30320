// paneldefect's command line, help text, status block and key map, without a device.
#include "cli/paneldefect_args.h"
#include "keys/paneldefect_keys.h"
#include "support/printed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

paneldefect_args parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "paneldefect");
    return parse_paneldefect_args(static_cast<int>(args.size()), args.data());
}

std::string describe(const rgb8& c)
{
    return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

std::string describe(const defect_colours& c)
{
    return "A " + describe(c.zone_a) + " B " + describe(c.zone_b) + " bg " + describe(c.background);
}

const std::string HELP_TEXT =
    "\n"
    "Adjust the defects in both zone A and zone B and report to Brix what you think the max "
    "value should be for both Zone A and Zone B defects.\n"
    "usage: pd (Sets background to black and sets the defects in zone A and B to their pass "
    "limit)\n"
    "\n"
    "interactive:\n"
    "  adjust defect in A zone:                    8\n"
    "  adjust defect in B zone:                    9\n"
    "  adjust background value on entire panel:    0\n"
    "\n"
    "set defect and panel to specified limit\n"
    "  bright defect                                n\n"
    "  dark defect                                  m\n"
    "\n"
    "                  W  R  G  B\n"
    "  set to 255:     1  2  3  4\n"
    "  inc by   4:     q  w  e  r\n"
    "  dec by   4:     a  s  d  f\n"
    "  set to   0:     z  x  c  v\n"
    "\n"
    "  print this help: ?\n"
    "\n";

TEST(PaneldefectCommandLine, FormsAndStatuses)
{
    paneldefect_args a = parse({});
    EXPECT_EQ(a.outcome, args_outcome::run);
    EXPECT_TRUE(a.help_first);
    EXPECT_EQ(describe(a.colours), "A (45, 45, 45) B (109, 109, 109) bg (0, 0, 0)");

    a = parse({"300", "0", "0"});
    EXPECT_EQ(a.outcome, args_outcome::run);
    EXPECT_FALSE(a.help_first);
    EXPECT_EQ(describe(a.colours), "A (44, 0, 0) B (109, 109, 109) bg (0, 0, 0)");

    a = parse({"0x10", "020", "16"});
    EXPECT_EQ(describe(a.colours.zone_a), "(16, 16, 16)");
    a = parse({"-1", "abc", "0x1ff"});
    EXPECT_EQ(describe(a.colours.zone_a), "(255, 0, 255)");

    for (size_t n : {1, 2, 4, 6})
        EXPECT_EQ(parse(std::vector<const char*>(n, "1")).outcome, args_outcome::usage_ok)
            << n << " arguments";
}

TEST(PaneldefectText, HelpTextItemByItem)
{
    const std::string text = printed([](FILE* out) { print_paneldefect_help(out, "pd"); });
    EXPECT_EQ(text, HELP_TEXT);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 21);
}

TEST(PaneldefectText, StatusBlockSixLines)
{
    const std::string text = printed([](FILE* out) {
        print_defect_status(out, {.background = {0, 1, 255}, .zone_a = {45, 46, 47},
                                  .zone_b = {109, 110, 111}});
    });
    EXPECT_EQ(text, "Zone A Defect:\n"
                    "R:  45           G:  46           B:  47         \n"
                    "Zone B defect:\n"
                    "R: 109           G: 110           B: 111         \n"
                    "Background:\n"
                    "R:   0           G:   1           B: 255         \n");
}

// One loop pass as paneldefect runs it: the key, then for a painting key the
// working colour stored, (painted), and loaded again.
struct pass_result {
    key_result result;
    std::string out;
};

pass_result press(defect_session& s, int key)
{
    key_result r{};
    const std::string out = printed([&](FILE* f) { r = paneldefect_key(s, key, "pd", f); });
    if (r == key_result::redraw) {
        store_working_colour(s);
        load_working_colour(s);
    }
    return {r, out};
}

TEST(PaneldefectKeys, SelectionThenStepChangesTheSelectedColour)
{
    defect_session s = start_defect_session(PRESET_BRIGHT_DEFECT);
    pass_result r = press(s, '9');
    EXPECT_EQ(r.result, key_result::none);
    EXPECT_EQ(r.out, "\nAdjusting zone B defect pixel\n");
    r = press(s, 'q');
    EXPECT_EQ(r.result, key_result::redraw);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(describe(s.colours), "A (45, 45, 45) B (113, 113, 113) bg (0, 0, 0)");

    r = press(s, '0');
    EXPECT_EQ(r.out, "\nAdjusting background pixel values\n");
    press(s, '1');
    EXPECT_EQ(describe(s.colours), "A (45, 45, 45) B (113, 113, 113) bg (255, 255, 255)");

    r = press(s, '8');
    EXPECT_EQ(r.out, "\nAdjusting zone A defect pixel\n");
    press(s, 'w');
    press(s, 'x');
    press(s, 'e');
    press(s, 'r');
    press(s, 'f');
    EXPECT_EQ(describe(s.colours), "A (0, 49, 45) B (113, 113, 113) bg (255, 255, 255)");
}

TEST(PaneldefectKeys, EveryChannelKeyOnTheWorkingColour)
{
    struct {
        char key;
        rgb8 zone_a;
    } cases[] = {
        {'1', {255, 255, 255}}, {'2', {255, 46, 2}}, {'3', {45, 255, 2}}, {'4', {45, 46, 255}},
        {'q', {49, 50, 6}},     {'w', {49, 46, 2}},  {'e', {45, 50, 2}},  {'r', {45, 46, 6}},
        {'a', {41, 42, 254}},   {'s', {41, 46, 2}},  {'d', {45, 42, 2}},  {'f', {45, 46, 254}},
        {'z', {0, 0, 0}},       {'x', {0, 46, 2}},   {'c', {45, 0, 2}},   {'v', {45, 46, 0}},
    };
    for (const auto& c : cases) {
        defect_session s = start_defect_session({{7, 7, 7}, {45, 46, 2}, {9, 9, 9}});
        EXPECT_EQ(press(s, c.key).result, key_result::redraw) << c.key;
        EXPECT_EQ(describe(s.colours.zone_a), describe(c.zone_a)) << "key " << c.key;
        EXPECT_EQ(describe(s.colours.background), "(7, 7, 7)") << "key " << c.key;
        EXPECT_EQ(describe(s.colours.zone_b), "(9, 9, 9)") << "key " << c.key;
    }
}

TEST(PaneldefectKeys, PresetsKeepTheSelection)
{
    defect_session s = start_defect_session({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
    press(s, '0');
    EXPECT_EQ(press(s, 'm').result, key_result::redraw);
    EXPECT_EQ(describe(s.colours), "A (195, 195, 195) B (185, 185, 185) bg (255, 255, 255)");
    EXPECT_EQ(press(s, 'n').result, key_result::redraw);
    EXPECT_EQ(describe(s.colours), "A (45, 45, 45) B (109, 109, 109) bg (0, 0, 0)");
    press(s, 'q');
    EXPECT_EQ(describe(s.colours), "A (45, 45, 45) B (109, 109, 109) bg (4, 4, 4)");
}

TEST(PaneldefectKeys, RepaintKeysChangeNothing)
{
    for (char key : {'5', 'b', 'g', 't'}) {
        defect_session s = start_defect_session(PRESET_DARK_DEFECT);
        const pass_result r = press(s, key);
        EXPECT_EQ(r.result, key_result::redraw) << key;
        EXPECT_EQ(r.out, "\n") << key;
        EXPECT_EQ(describe(s.colours), describe(PRESET_DARK_DEFECT)) << key;
    }
}

TEST(PaneldefectKeys, StopHelpAndUnknownKeys)
{
    defect_session s = start_defect_session(PRESET_BRIGHT_DEFECT);
    pass_result r = press(s, '\n');
    EXPECT_EQ(r.result, key_result::stop);
    EXPECT_EQ(r.out, "\n");
    EXPECT_EQ(press(s, 0x1B).result, key_result::stop);

    r = press(s, '?');
    EXPECT_EQ(r.result, key_result::none);
    EXPECT_EQ(r.out, "\n" + HELP_TEXT);

    const std::string keys = "\n\x1b" "890" "1234qwerasdfzxcv" "nm" "5bgt" "?";
    for (int byte = 0; byte < 256; ++byte) {
        if (keys.find(static_cast<char>(byte)) != std::string::npos)
            continue;
        char line[64];
        std::snprintf(line, sizeof line, "\nUnrecognized character 0x%02x\n", byte);
        r = press(s, byte);
        EXPECT_EQ(r.result, key_result::none) << "byte " << byte;
        EXPECT_EQ(r.out, line + HELP_TEXT) << "byte " << byte;
    }
    EXPECT_EQ(describe(s.colours), describe(PRESET_BRIGHT_DEFECT)) << "an unknown key changed a colour";
}

} // namespace
