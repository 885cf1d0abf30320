#include "cli/panelcolor_args.h"

#include "common/decimal.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

uint8_t mask_value(const char* text)
{
    return static_cast<uint8_t>(std::strtoul(text, nullptr, 0) & 0x7);
}

col_color grey(uint8_t w, uint8_t mask)
{
    return {w, w, w, mask};
}

} // namespace

panelcolor_args parse_panelcolor_args(int argc, const char* const* argv)
{
    panelcolor_args args{.outcome = args_outcome::run,
                         .usage_first = false,
                         .mode_sel = 0,
                         .pattern = {.even = grey(255, CHANNEL_ALL),
                                     .odd = grey(255, CHANNEL_ALL),
                                     .left_enabled = true,
                                     .right_enabled = true}};
    int i = 1;
    while (i < argc && std::strcmp(argv[i], "-m") == 0) {
        if (i + 1 >= argc) {
            args.outcome = args_outcome::usage_ok;
            return args;
        }
        args.mode_sel = decimal_u8(argv[i + 1]);
        i += 2;
    }

    const char* const* v = argv + i;
    col_color& even = args.pattern.even;
    col_color& odd = args.pattern.odd;
    switch (argc - i) {
    case 0:
        args.usage_first = true;
        break;
    case 1:
        even = odd = grey(colour_value(v[0]), CHANNEL_ALL);
        break;
    case 2:
        even = grey(colour_value(v[0]), CHANNEL_ALL);
        odd = grey(colour_value(v[1]), CHANNEL_ALL);
        break;
    case 3:
        even = odd = {colour_value(v[0]), colour_value(v[1]), colour_value(v[2]), CHANNEL_ALL};
        break;
    case 4:
        even = grey(colour_value(v[0]), mask_value(v[2]));
        odd = grey(colour_value(v[1]), mask_value(v[3]));
        break;
    case 6:
    case 8:
        even = {colour_value(v[0]), colour_value(v[1]), colour_value(v[2]), CHANNEL_ALL};
        odd = {colour_value(v[3]), colour_value(v[4]), colour_value(v[5]), CHANNEL_ALL};
        if (argc - i == 8) {
            even.change_mask = mask_value(v[6]);
            odd.change_mask = mask_value(v[7]);
        }
        break;
    default:
        args.outcome = args_outcome::usage_ok;
        break;
    }
    return args;
}
