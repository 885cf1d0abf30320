#include "info/panel_info.h"

#include "common/decimal.h"

#include <algorithm>
#include <cstring>

namespace {

char character(int32_t value)
{
    return static_cast<char>(static_cast<unsigned char>(value & 0xFF));
}

// count characters from block[first], stored in text (which has room for the 0).
void copy_text(char* text, std::span<const int32_t, PANEL_BLOCK> block, std::size_t first,
               std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        text[i] = character(block[first + i]);
    text[count] = '\0';
}

} // namespace

bool panel_line_add(panel_line& line, std::string_view bytes)
{
    if (bytes.empty())
        return false;
    if (!line)
        line.emplace();
    const std::size_t room = PANEL_LINE_MAX - std::min(line->size(), PANEL_LINE_MAX);
    const std::size_t newline = bytes.find('\n');
    line->append(bytes.substr(0, std::min(newline, room)));
    return newline <= room || line->size() >= PANEL_LINE_MAX;
}

panel_numbers parse_panel_numbers(std::string_view line, std::size_t* numbers_read)
{
    std::string text(line);
    panel_numbers numbers{};
    int64_t running = 0;
    char* save = nullptr;
    std::size_t count = 0;
    std::size_t read = 0; // tokens that held a number
    for (char* token = strtok_r(text.data(), " \n", &save);
         token != nullptr && count < PANEL_NUMBERS; token = strtok_r(nullptr, " \n", &save)) {
        read += read_decimal(token, running) ? 1 : 0;
        numbers[count++] = static_cast<int32_t>(static_cast<uint32_t>(running));
    }
    if (numbers_read != nullptr)
        *numbers_read = read;
    return numbers;
}

void panel_info_decode(panel_info& info, std::span<const int32_t, PANEL_BLOCK> block)
{
    const std::size_t s = PANEL_SELECTOR_POS;
    if (info.selector == 1) {
        copy_text(info.text1, block, s + 1, 2);
        copy_text(info.text2, block, s + 3, 3);
        info.digit = block[s + 6];
        copy_text(info.text3, block, s + 7, 3);
        for (std::size_t i = 0; i < 3; ++i)
            info.numbers[i] = block[s + 10 + i];
    } else {
        copy_text(info.text1, block, s, 7);
        copy_text(info.text2, block, s + 7, 6);
    }
}

void panel_info_print(const panel_info& info, const char* label, FILE* out)
{
    if (info.selector == 1) {
        std::fprintf(out, "%s:  %d%s%s%01X%s%d%02d%d\n", label, info.selector, info.text1,
                     info.text2, static_cast<unsigned>(info.digit), info.text3, info.numbers[0],
                     info.numbers[1], info.numbers[2]);
    } else {
        const char* t = info.text1;
        std::fprintf(out, "%s:  %c%c%c%c%c%c%c%s\n", label, t[0], t[1], t[2], t[3], t[4], t[5],
                     t[6], info.text2);
    }
}
