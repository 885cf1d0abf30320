// panelinfo: prints the manufacturing identification of both panels from the
// line of numbers that panelquery reports.
#include "common/standard_fds.h"
#include "info/panel_info.h"

#include <cstdio>

namespace {

constexpr const char PANELQUERY_PATH[] = "/usr/lib/kestrin-display-tools/panelquery";

void print_panel(std::span<const int32_t, PANEL_BLOCK> block, const char* label)
{
    panel_info info{};
    info.selector = block[PANEL_SELECTOR_POS];
    panel_info_decode(info, block);
    panel_info_print(info, label);
}

} // namespace

int main()
{
    open_standard_descriptors();
    panel_line line{};
    if (FILE* query = popen(PANELQUERY_PATH, "r")) {
        line = read_panel_line(query);
        pclose(query);
    }
    const panel_numbers numbers = parse_panel_numbers(line.data());
    const std::span<const int32_t, PANEL_NUMBERS> all{numbers};
    print_panel(all.first<PANEL_BLOCK>(), "Left Panel");
    print_panel(all.last<PANEL_BLOCK>(), "Right Panel");
    return 0;
}
