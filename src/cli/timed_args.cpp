#include "cli/timed_args.h"

#include "common/decimal.h"

#include <algorithm>
#include <cstring>

timed_args parse_timed_args(int argc, const char* const* argv, FILE* notices)
{
    timed_args args{args_outcome::run, nullptr, 0, 0, 100, 0};
    if (argc < 4) {
        args.outcome = args_outcome::usage_error;
        return args;
    }
    args.image_path = argv[1];
    args.power_down = decimal_i32(argv[3]);
    for (int i = 4; i < argc; i += 2) {
        const char* option = argv[i];
        const bool known = std::strcmp(option, "-b") == 0 || std::strcmp(option, "-m") == 0 ||
                           std::strcmp(option, "-i") == 0;
        if (!known) {
            args.outcome = args_outcome::usage_error;
            return args;
        }
        if (i + 1 >= argc) {
            args.outcome = args_outcome::usage_ok;
            return args;
        }
        const char* value = argv[i + 1];
        if (option[1] == 'b') {
            // Any number above 100 is capped, shown as it was asked for; one below
            // the int range is the lowest int, off like any other level of 0 or less.
            const int64_t asked = decimal_i64(value);
            if (asked > 100) {
                const std::string_view digits = decimal_digits(value);
                std::fprintf(notices, "Capping requested brightness %.*s%% to 100%%\n",
                             static_cast<int>(digits.size()), digits.data());
            }
            args.brightness = static_cast<int32_t>(std::clamp<int64_t>(asked, INT32_MIN, 100));
        } else if (option[1] == 'm') {
            args.mode_sel = decimal_u8(value);
        } else {
            decimal_i64(value); // accepted for compatibility, no effect
        }
    }
    args.display_ns = static_cast<uint64_t>(decimal_i64(argv[2]));
    return args;
}

void print_timed_usage(const char* program)
{
    std::printf("usage: %s <image> <image display time in nsec ( 0 for infinite delay )> "
                "<power down displays after image ( 1=power down)> [-m <mode_sel>] "
                "[-b <brightness (0-100)>]\n",
                program);
}
