// panelcolor's command line, usage text, status lines and key map, without a device.
#include "cli/panelcolor_args.h"
#include "keys/panelcolor_keys.h"
#include "support/printed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

panelcolor_args parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "panelcolor");
    return parse_panelcolor_args(static_cast<int>(args.size()), args.data());
}

std::string describe(const col_color& c)
{
    char text[64];
    std::snprintf(text, sizeof text, "(%d, %d, %d mask %#x)", c.r, c.g, c.b, c.change_mask);
    return text;
}

void expect_colour(const col_color& got, col_color want, const std::string& what)
{
    EXPECT_EQ(describe(got), describe(want)) << what;
}

const std::string USAGE_TEXT =
    "usage: pc [-m <mode_sel>] (no args: Set w=127)\n"
    "       pc [-m <mode_sel>] <w>\n"
    "       pc [-m <mode_sel>] <wEven> <wOdd>\n"
    "       pc [-m <mode_sel>] <r> <g> <b>\n"
    "       pc [-m <mode_sel>] <wEven> <wOdd> <rgbChangeMaskEven> <rgbChangeMaskOdd>\n"
    "       pc [-m <mode_sel>] <rOdd> <gOdd> <bOdd> <rEven> <gEven> <bEven>\n"
    "       pc [-m <mode_sel>] <rOdd> <gOdd> <bOdd> <rEven> <gEven> <bEven> "
    "<rgbChangeMaskEven> <rgbChangeMaskOdd>\n"
    "       w (R, G, & B), r, g, b: 0-255\n"
    "       even / odd columns; both cols if not specified\n"
    "       rgbChangeMask: 0x7 = enable changes to R, G, & B\n"
    "\n"
    "interactive:\n"
    "  subpixel:    W  R  G  B\n"
    "  set to 255:  1  2  3  4\n"
    "  inc by  16:  q  w  e  r\n"
    "  dec by  16:  a  s  d  f\n"
    "  set to   0:  z  x  c  v\n"
    "  swap even/odd col settings: [SPACE]\n"
    "  enable L & R display:       5\n"
    "  toggle L display enable:    t\n"
    "  toggle R display enable:    g\n"
    "  disable L & R display:      b\n"
    "  swap L & R display enables: [TAB]\n"
    "  print this help: ?\n"
    "\n";

TEST(PanelcolorValues, EachCountSelectsItsForm)
{
    struct {
        std::vector<const char*> args;
        col_color even, odd;
    } cases[] = {
        {{}, {255, 255, 255, 7}, {255, 255, 255, 7}},
        {{"0x80"}, {128, 128, 128, 7}, {128, 128, 128, 7}},
        {{"255", "0"}, {255, 255, 255, 7}, {0, 0, 0, 7}},
        {{"1", "2", "3"}, {1, 2, 3, 7}, {1, 2, 3, 7}},
        {{"255", "255", "7", "0"}, {255, 255, 255, 7}, {255, 255, 255, 0}},
        {{"10", "20", "5", "3"}, {10, 10, 10, 5}, {20, 20, 20, 3}},
        {{"1", "2", "3", "4", "5", "6"}, {1, 2, 3, 7}, {4, 5, 6, 7}},
        {{"1", "2", "3", "4", "5", "6", "7", "0"}, {1, 2, 3, 7}, {4, 5, 6, 0}},
        {{"1", "2", "3", "4", "5", "6", "2", "4"}, {1, 2, 3, 2}, {4, 5, 6, 4}},
    };
    for (const auto& c : cases) {
        const std::string what = testing::PrintToString(c.args);
        const panelcolor_args a = parse(c.args);
        EXPECT_EQ(a.outcome, args_outcome::run) << what;
        EXPECT_EQ(a.usage_first, c.args.empty()) << what;
        EXPECT_EQ(a.mode_sel, 0) << what;
        expect_colour(a.pattern.even, c.even, what + " even");
        expect_colour(a.pattern.odd, c.odd, what + " odd");
        EXPECT_TRUE(a.pattern.left_enabled && a.pattern.right_enabled) << what;
    }
}

TEST(PanelcolorValues, OtherCountsAskForUsageAndStatusZero)
{
    for (size_t n : {5, 7, 9, 12}) {
        const std::vector<const char*> args(n, "1");
        const panelcolor_args a = parse(args);
        EXPECT_EQ(a.outcome, args_outcome::usage_ok) << n << " values";
    }
}

TEST(PanelcolorValues, NumbersAreCutToTheirBits)
{
    // Colours keep 8 bits, masks 3; base 0 reads hex and octal; text reads as 0.
    panelcolor_args a = parse({"300", "-1", "0x7", "8"});
    expect_colour(a.pattern.even, {44, 44, 44, 7}, "300 with mask 0x7");
    expect_colour(a.pattern.odd, {255, 255, 255, 0}, "-1 with mask 8");

    a = parse({"010", "abc", "0xFF0"});
    expect_colour(a.pattern.even, {8, 0, 0xF0, 7}, "octal, text, long hex");

    a = parse({"1", "2", "3", "4", "5", "6", "15", "-1"});
    EXPECT_EQ(a.pattern.even.change_mask, 7);
    EXPECT_EQ(a.pattern.odd.change_mask, 7);
}

TEST(PanelcolorModeOption, PairsComeFirstAndTheLastWins)
{
    panelcolor_args a = parse({"-m", "1"});
    EXPECT_EQ(a.outcome, args_outcome::run);
    EXPECT_TRUE(a.usage_first) << "-m alone still counts as no values";
    EXPECT_EQ(a.mode_sel, 1);
    expect_colour(a.pattern.even, {255, 255, 255, 7}, "-m 1");

    a = parse({"-m", "1", "-m", "2", "5"});
    EXPECT_EQ(a.mode_sel, 2);
    expect_colour(a.pattern.odd, {5, 5, 5, 7}, "-m 1 -m 2 5");

    a = parse({"-m", "300"});
    EXPECT_EQ(a.mode_sel, 44) << "the index keeps 8 bits";
    a = parse({"-m", "0x1"});
    EXPECT_EQ(a.mode_sel, 0) << "the index is decimal";
}

TEST(PanelcolorModeOption, MinusMAfterAValueIsAValue)
{
    const panelcolor_args a = parse({"10", "-m", "2"});
    EXPECT_EQ(a.outcome, args_outcome::run);
    EXPECT_EQ(a.mode_sel, 0);
    expect_colour(a.pattern.even, {10, 0, 2, 7}, "10 -m 2 is three values");
    expect_colour(a.pattern.odd, {10, 0, 2, 7}, "10 -m 2 is three values");

    const panelcolor_args b = parse({"5", "-m"});
    EXPECT_EQ(b.outcome, args_outcome::run) << "a trailing -m after a value is a value";
    expect_colour(b.pattern.odd, {0, 0, 0, 7}, "5 -m");
}

TEST(PanelcolorModeOption, DanglingMinusMAsksForUsage)
{
    EXPECT_EQ(parse({"-m"}).outcome, args_outcome::usage_ok);
    EXPECT_EQ(parse({"-m", "1", "-m"}).outcome, args_outcome::usage_ok);
}

TEST(PanelcolorText, UsageTextLineByLine)
{
    const std::string text = printed([](FILE* out) { print_panelcolor_usage(out, "pc"); });
    EXPECT_EQ(text, USAGE_TEXT);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 25);
}

TEST(PanelcolorText, StatusLinesShowValuesLocksAndHalves)
{
    const std::string text = printed([](FILE* out) {
        print_panelcolor_status(out, {.even = {16, 0, 255, 0x3},
                                      .odd = {1, 200, 7, 0x4},
                                      .left_enabled = false,
                                      .right_enabled = true});
    });
    EXPECT_EQ(text,
              "Even Cols: R: 0x10 ( 16) (locked)  G: 0x00 (  0)           B: 0xff (255)         \n"
              " Odd Cols: R: 0x01 (  1)           G: 0xc8 (200) (locked)  B: 0x07 (  7) (locked)\n"
              "Left display: Disabled, Right display: Enabled\n");
}

struct key_run {
    pattern_state state;
    key_result result;
    std::string out;
};

key_run press(pattern_state s, int key)
{
    key_result r{};
    const std::string out = printed([&](FILE* f) { r = panelcolor_key(s, key, "pc", f); });
    return {s, r, out};
}

const pattern_state MIXED{.even = {0x10, 0x20, 0x30, 0x7},
                          .odd = {0xF8, 0x05, 0x80, 0x5},
                          .left_enabled = true,
                          .right_enabled = false};

TEST(PanelcolorKeys, ChannelKeysActOnBothColumnsWithinTheirMasks)
{
    struct {
        char key;
        col_color even, odd;
    } cases[] = {
        {'1', {255, 255, 255, 7}, {255, 0x05, 255, 5}},
        {'2', {255, 0x20, 0x30, 7}, {255, 0x05, 0x80, 5}},
        {'3', {0x10, 255, 0x30, 7}, {0xF8, 0x05, 0x80, 5}},
        {'4', {0x10, 0x20, 255, 7}, {0xF8, 0x05, 255, 5}},
        {'q', {0x20, 0x30, 0x40, 7}, {0x08, 0x05, 0x90, 5}},
        {'w', {0x20, 0x20, 0x30, 7}, {0x08, 0x05, 0x80, 5}},
        {'e', {0x10, 0x30, 0x30, 7}, {0xF8, 0x05, 0x80, 5}},
        {'r', {0x10, 0x20, 0x40, 7}, {0xF8, 0x05, 0x90, 5}},
        {'a', {0x00, 0x10, 0x20, 7}, {0xE8, 0x05, 0x70, 5}},
        {'s', {0x00, 0x20, 0x30, 7}, {0xE8, 0x05, 0x80, 5}},
        {'d', {0x10, 0x10, 0x30, 7}, {0xF8, 0x05, 0x80, 5}},
        {'f', {0x10, 0x20, 0x20, 7}, {0xF8, 0x05, 0x70, 5}},
        {'z', {0, 0, 0, 7}, {0, 0x05, 0, 5}},
        {'x', {0, 0x20, 0x30, 7}, {0, 0x05, 0x80, 5}},
        {'c', {0x10, 0, 0x30, 7}, {0xF8, 0x05, 0x80, 5}},
        {'v', {0x10, 0x20, 0, 7}, {0xF8, 0x05, 0, 5}},
    };
    for (const auto& c : cases) {
        const key_run r = press(MIXED, c.key);
        const std::string what = std::string("key ") + c.key;
        EXPECT_EQ(r.result, key_result::redraw) << what;
        EXPECT_EQ(r.out, "") << what;
        expect_colour(r.state.even, c.even, what + " even");
        expect_colour(r.state.odd, c.odd, what + " odd");
        EXPECT_TRUE(r.state.left_enabled && !r.state.right_enabled) << what << " touched a half";
    }
}

TEST(PanelcolorKeys, SixteenStepsComeBackToTheStart)
{
    pattern_state s = parse({"255", "255", "7", "0"}).pattern;
    s.even = {0, 0, 0, 7};
    for (int i = 0; i < 16; ++i) {
        s = press(s, 'q').state;
        if (i == 0)
            expect_colour(s.even, {16, 16, 16, 7}, "after one q");
    }
    expect_colour(s.even, {0, 0, 0, 7}, "sixteen q from 0");
    expect_colour(s.odd, {255, 255, 255, 0}, "locked odd columns");
}

TEST(PanelcolorKeys, SpaceSwapsColoursWithTheirLocks)
{
    const key_run r = press(parse({"255", "0", "7", "0"}).pattern, ' ');
    EXPECT_EQ(r.result, key_result::redraw);
    expect_colour(r.state.even, {0, 0, 0, 0}, "even after space");
    expect_colour(r.state.odd, {255, 255, 255, 7}, "odd after space");
}

TEST(PanelcolorKeys, HalfKeysChangeOnlyTheEnables)
{
    struct {
        int key;
        bool left_before, right_before, left_after, right_after;
    } cases[] = {
        {'5', false, false, true, true}, {'5', true, false, true, true},
        {'b', true, true, false, false}, {'b', false, true, false, false},
        {'t', true, true, false, true},  {'t', false, false, true, false},
        {'g', true, true, true, false},  {'g', false, false, false, true},
        {'\t', true, false, false, true}, {'\t', false, true, true, false},
        {'\t', true, true, true, true},
    };
    for (const auto& c : cases) {
        pattern_state s = MIXED;
        s.left_enabled = c.left_before;
        s.right_enabled = c.right_before;
        const key_run r = press(s, c.key);
        const std::string what = "key " + std::to_string(c.key) + " from " +
                                 std::to_string(c.left_before) + std::to_string(c.right_before);
        EXPECT_EQ(r.result, key_result::redraw) << what;
        EXPECT_EQ(r.state.left_enabled, c.left_after) << what;
        EXPECT_EQ(r.state.right_enabled, c.right_after) << what;
        expect_colour(r.state.even, MIXED.even, what);
        expect_colour(r.state.odd, MIXED.odd, what);
    }
}

TEST(PanelcolorKeys, StopHelpAndUnknownKeysChangeNothing)
{
    EXPECT_EQ(press(MIXED, '\n').result, key_result::stop);
    EXPECT_EQ(press(MIXED, 0x1B).result, key_result::stop);
    EXPECT_EQ(press(MIXED, '\n').out, "");

    key_run r = press(MIXED, '?');
    EXPECT_EQ(r.result, key_result::none);
    EXPECT_EQ(r.out, USAGE_TEXT);

    r = press(MIXED, 'Q');
    EXPECT_EQ(r.result, key_result::none);
    EXPECT_EQ(r.out, "Unrecognized character 0x51\n" + USAGE_TEXT);
    expect_colour(r.state.even, MIXED.even, "after Q");
}

TEST(PanelcolorKeys, OnlyTheTableBytesAreKeys)
{
    const std::string keys = "1234qwerasdfzxcv 5tgb\t?\n\x1b";
    for (int byte = 0; byte < 256; ++byte) {
        if (keys.find(static_cast<char>(byte)) != std::string::npos)
            continue;
        char line[64];
        std::snprintf(line, sizeof line, "Unrecognized character 0x%02x\n", byte);
        const key_run r = press(MIXED, byte);
        EXPECT_EQ(r.result, key_result::none) << "byte " << byte;
        EXPECT_EQ(r.out, line + USAGE_TEXT) << "byte " << byte;
        expect_colour(r.state.even, MIXED.even, "byte " + std::to_string(byte));
        expect_colour(r.state.odd, MIXED.odd, "byte " + std::to_string(byte));
        if (r.state.left_enabled != MIXED.left_enabled || r.state.right_enabled != MIXED.right_enabled)
            ADD_FAILURE() << "byte " << byte << " changed a half";
    }
}

} // namespace
