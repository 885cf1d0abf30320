// panelinfo: the panels' identification from panelquery's line of numbers.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::size_t PANEL_NUMBERS = 80;   // 40 per panel, left then right
inline constexpr std::size_t PANEL_BLOCK = 40;
inline constexpr std::size_t PANEL_SELECTOR_POS = 27; // first used position of a block

using panel_numbers = std::array<int32_t, PANEL_NUMBERS>;
// panelquery's first line without its newline; none when it gave none.
using panel_line = std::optional<std::string>;

// Texts keep one more byte than they can hold so that they always end in 0.
struct panel_info {
    int32_t selector; // 1: layout 1; anything else: layout 2
    char text1[8];    // layout 1: 2 characters; layout 2: 7 single characters
    char text2[7];    // layout 1: 3 characters; layout 2: up to 6 characters
    int32_t digit;    // layout 1 only
    char text3[4];    // layout 1 only
    int32_t numbers[3]; // layout 1 only
};

// How much of panelquery's first line is read: 80 numbers need well under 1 KiB.
// A longer line is cut here, as if it ended; the rest is never read.
inline constexpr std::size_t PANEL_LINE_MAX = 64 * 1024;

// Adds the next bytes of panelquery's output to the first line read so far (none
// before the first byte). True once the line is complete: its newline has come
// (the newline and what follows are not kept), or it holds PANEL_LINE_MAX bytes
// (what is beyond is not kept). A stream that ends first leaves the line as it is.
bool panel_line_add(panel_line& line, std::string_view bytes);

// Tokens split on space and newline (a tab joins tokens), at most 80 of them. Each
// token that starts with a decimal number (after white space, with a sign) sets a
// running value, as one "%d" conversion would; a token without one repeats the
// running value (0 at first). Slots not reached stay 0. Values beyond int range
// keep their low 32 bits (see decimal_i32). numbers_read, when given, receives
// how many tokens held a number: none means the line carries no data.
panel_numbers parse_panel_numbers(std::string_view line, std::size_t* numbers_read = nullptr);

// Fills info from one 40-number block; info.selector must already be set.
void panel_info_decode(panel_info& info, std::span<const int32_t, PANEL_BLOCK> block);

// The panel's line: "<label>:  " and the fields in the record's layout.
void panel_info_print(const panel_info& info, const char* label, FILE* out = stdout);
