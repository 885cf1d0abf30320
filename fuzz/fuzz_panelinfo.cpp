// panelinfo from panelquery's output: the first line as it arrives, the
// numbers parsed from it, both panels decoded and printed.
//
// Besides crashes and sanitizer reports, it checks the number rule against the
// C library's own reading of it (strtok on " \n", one "%d" per token, a token
// without a number repeating the previous value), which the parser must match
// for every input while staying free of undefined behaviour.
#include "info/panel_info.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

panel_numbers reference_numbers(const char* line)
{
    std::string copy(line);
    char* text = copy.data();
    panel_numbers numbers{};
    int running = 0;
    std::size_t count = 0;
    for (char* token = std::strtok(text, " \n"); token != nullptr && count < PANEL_NUMBERS;
         token = std::strtok(nullptr, " \n")) {
        std::sscanf(token, "%d", &running);
        numbers[count++] = running;
    }
    return numbers;
}

void print_panel(std::span<const int32_t, PANEL_BLOCK> block, const char* label)
{
    panel_info info{};
    info.selector = block[PANEL_SELECTOR_POS];
    panel_info_decode(info, block);

    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    panel_info_print(info, label, out);
    std::fclose(out);
    const std::string_view line(text, size);
    // One line, label first: a layout can put a newline character in a field,
    // but never drop the label or the final newline.
    if (line.substr(0, std::strlen(label)) != label || line.empty() || line.back() != '\n')
        std::abort();
    std::free(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    // In pieces as a pipe might give them: the first byte chooses their size.
    const std::size_t piece = size > 0 ? data[0] % 64 + 1 : 1;
    panel_line line;
    for (std::size_t at = 0; at < size; at += piece)
        if (panel_line_add(line, std::string_view(input).substr(at, piece)))
            break;
    // The first line and nothing after it: no newline, every byte before it, cut
    // at the cap only.
    if (line && (line->find('\n') != std::string::npos || line->size() > PANEL_LINE_MAX ||
                 input.compare(0, line->size(), *line) != 0 ||
                 (line->size() < PANEL_LINE_MAX && line->size() < size &&
                  input[line->size()] != '\n')))
        std::abort();

    const char* text = line ? line->c_str() : "";
    const panel_numbers numbers = parse_panel_numbers(text);
    if (numbers != reference_numbers(text)) {
        std::fprintf(stderr, "numbers differ from one %%d per token for: %s\n", text);
        std::abort();
    }
    // The whole input as one view, zero bytes and all.
    parse_panel_numbers(std::string_view(input));

    const std::span<const int32_t, PANEL_NUMBERS> all{numbers};
    print_panel(all.first<PANEL_BLOCK>(), "Left Panel");
    print_panel(all.last<PANEL_BLOCK>(), "Right Panel");
    return 0;
}
