// panelinfo: reading panelquery's line, the number rule, and both line layouts.
#include "info/panel_info.h"
#include "support/printed.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

std::string print_line(const panel_info& info, const char* label = "Left Panel")
{
    return printed([&](FILE* out) { panel_info_print(info, label, out); });
}

// The left panel's line for a block whose positions 27.. hold from_27.
std::string left_panel(const std::vector<int32_t>& from_27)
{
    std::array<int32_t, PANEL_BLOCK> block{};
    for (size_t i = 0; i < from_27.size(); ++i)
        block[PANEL_SELECTOR_POS + i] = from_27[i];
    panel_info info{};
    info.selector = block[PANEL_SELECTOR_POS];
    panel_info_decode(info, block);
    return print_line(info);
}

// The first line as panelinfo takes it from input arriving in pieces of `piece`
// bytes; nothing more is read once the line is complete.
std::string first_line_of(const std::string& input, size_t piece = 4096)
{
    panel_line line;
    for (size_t at = 0; at < input.size(); at += piece)
        if (panel_line_add(line, std::string_view(input).substr(at, piece)))
            break;
    return line.value_or("<no line>");
}

void expect_numbers(const panel_numbers& n, const std::vector<int32_t>& first)
{
    for (size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(n[i], first[i]) << "number " << i;
    for (size_t i = first.size(); i < n.size(); ++i)
        EXPECT_EQ(n[i], 0) << "number " << i << " should not be supplied";
}

TEST(PanelLineReading, TakesFirstLineWithoutNewline)
{
    EXPECT_EQ(first_line_of("1 2 3\n4 5 6\n"), "1 2 3");
    EXPECT_EQ(first_line_of("7 8"), "7 8");
    EXPECT_EQ(first_line_of("\n1 2\n"), "");
    EXPECT_EQ(first_line_of(""), "<no line>");
}

TEST(PanelLineReading, TakesTheWholeLineHoweverLong)
{
    const std::string long_line = std::string(250, ' ') + "1234567890";
    EXPECT_EQ(first_line_of(long_line + "\n2\n"), long_line);
    EXPECT_EQ(first_line_of(long_line + "\n2\n", 1), long_line);
}

TEST(PanelLineReading, LineLongerThan64KiBIsCutThereAndItsNumbersRead)
{
    // 300 MB without a newline cost no more: the line ends at the cap, and a
    // number split by the cut is read from its first part.
    const std::string head = std::string(PANEL_LINE_MAX - 2, ' ') + "12";
    EXPECT_EQ(first_line_of(head + "34 5\n", 1000), head);
    EXPECT_EQ(first_line_of(head + "\n"), head) << "a newline right at the cap";
    const std::string split = "7 " + std::string(PANEL_LINE_MAX - 4, ' ') + "1234 5";
    expect_numbers(parse_panel_numbers(first_line_of(split)), {7, 12});
}

TEST(PanelNumbers, EmptyInputGivesAllZero)
{
    expect_numbers(parse_panel_numbers(""), {});
    expect_numbers(parse_panel_numbers("   \n  "), {});
}

TEST(PanelNumbers, SpaceAndNewlineSeparateTabsJoin)
{
    expect_numbers(parse_panel_numbers("1  -2 +3\n4"), {1, -2, 3, 4});
    // "5\t6" is one token; its number is 5.
    expect_numbers(parse_panel_numbers("5\t6 7"), {5, 7});
    expect_numbers(parse_panel_numbers("\t8 9"), {8, 9});
}

TEST(PanelNumbers, TokenWithoutNumberRepeatsTheRunningValue)
{
    expect_numbers(parse_panel_numbers("4 x 6 - y"), {4, 4, 6, 6, 6});
    expect_numbers(parse_panel_numbers("x 3"), {0, 3});
    expect_numbers(parse_panel_numbers("12ab 0x41"), {12, 0});
}

TEST(PanelNumbers, ValuesBeyondIntKeepTheirLow32Bits)
{
    expect_numbers(parse_panel_numbers("4294967297 2147483648 -2147483649"),
                   {1, INT32_MIN, INT32_MAX});
    // Beyond 64 bits the reading saturates first, as strtol does.
    expect_numbers(parse_panel_numbers("99999999999999999999999"), {-1});
}

TEST(PanelNumbers, AtMost80TokensAreTaken)
{
    std::string line;
    for (int i = 1; i <= 85; ++i)
        line += std::to_string(i % 10) + " ";
    const panel_numbers n = parse_panel_numbers(line);
    EXPECT_EQ(n[0], 1);
    EXPECT_EQ(n[79], 0) << "the 80th token is 80 % 10";
    EXPECT_EQ(n[78], 9);
}

TEST(PanelNumbers, EightyThreeDigitNumbersPastThe255thCharacterAreAllRead)
{
    std::string line;
    for (int i = 0; i < 80; ++i)
        line += std::to_string(100 + i) + " ";
    ASSERT_GT(line.size(), 300u);
    const panel_numbers n = parse_panel_numbers(line);
    EXPECT_EQ(n[63], 163);
    EXPECT_EQ(n[79], 179);
}

TEST(PanelInfoLayout1, WorkedExample)
{
    EXPECT_EQ(left_panel({1, 65, 66, 67, 68, 69, 10, 70, 71, 72, 3, 7, 2}),
              "Left Panel:  1ABCDEAFGH3072\n");
}

TEST(PanelInfoLayout1, DigitIsFullHexadecimal)
{
    EXPECT_EQ(left_panel({1, 65, 66, 67, 68, 69, 255, 70, 71, 72, 3, 7, 2}),
              "Left Panel:  1ABCDEFFFGH3072\n");
    EXPECT_EQ(left_panel({1, 65, 66, 67, 68, 69, -1, 70, 71, 72, 3, 7, 2}),
              "Left Panel:  1ABCDEFFFFFFFFFGH3072\n");
}

TEST(PanelInfoLayout1, MiddleNumberHasAtLeastTwoDigits)
{
    EXPECT_EQ(left_panel({1, 65, 66, 67, 68, 69, 10, 70, 71, 72, 3, 5, 2}),
              "Left Panel:  1ABCDEAFGH3052\n");
    EXPECT_EQ(left_panel({1, 65, 66, 67, 68, 69, 10, 70, 71, 72, 3, 123, 2}),
              "Left Panel:  1ABCDEAFGH31232\n");
    EXPECT_EQ(left_panel({1, 65, 66, 67, 68, 69, 10, 70, 71, 72, -4, 300, 1000}),
              "Left Panel:  1ABCDEAFGH-43001000\n");
}

TEST(PanelInfoLayout1, TextsEndAtZeroAndCharactersAreLow8Bits)
{
    EXPECT_EQ(left_panel({1, 65, 0, 67, 68, 69, 10, 70, 71, 72, 3, 7, 2}),
              "Left Panel:  1ACDEAFGH3072\n");
    EXPECT_EQ(left_panel({1, 321, 66, 0, 68, 69, 10, 70, 0, 72, 3, 7, 2}),
              "Left Panel:  1ABAF3072\n");
}

TEST(PanelInfoLayout2, WorkedExample)
{
    EXPECT_EQ(left_panel({80, 78, 49, 50, 51, 52, 53, 54, 55, 56, 57, 48, 65}),
              "Left Panel:  PN1234567890A\n");
}

TEST(PanelInfoLayout2, SelectorIsNotCutTo8Bits)
{
    // 257 has the low byte 1 but is not 1: layout 2, first character 0x01.
    EXPECT_EQ(left_panel({257, 78, 49, 50, 51, 52, 53, 54, 55, 56, 57, 48, 65}),
              "Left Panel:  \x01N1234567890A\n");
}

TEST(PanelInfoLayout2, SevenCharactersAlwaysPrintedTrailingTextEndsAtZero)
{
    EXPECT_EQ(left_panel({80, 0, 49, 50, 51, 52, 53, 54, 55, 0, 57, 48, 65}),
              "Left Panel:  P\0"s "12345" "67\n");
    EXPECT_EQ(left_panel({}), "Left Panel:  \0\0\0\0\0\0\0\n"s);
}

} // namespace
