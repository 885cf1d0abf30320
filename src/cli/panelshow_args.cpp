#include "cli/panelshow_args.h"

#include "common/decimal.h"

#include <cstdio>
#include <cstring>

panelshow_args parse_panelshow_args(int argc, const char* const* argv)
{
    panelshow_args args{args_outcome::run, nullptr, 0, false};
    if (argc < 2) {
        args.outcome = args_outcome::usage_ok;
        return args;
    }
    args.image_path = argv[1];
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "-m") == 0) {
            if (i + 1 >= argc) {
                args.outcome = args_outcome::usage_ok;
                return args;
            }
            args.mode_sel = decimal_u8(argv[++i]);
        } else if (std::strcmp(argv[i], "-v") == 0) {
            args.verbose = true;
        } else {
            args.outcome = args_outcome::usage_error;
            return args;
        }
    }
    return args;
}

void print_panelshow_usage(const char* program)
{
    std::printf("usage: %s <image> [-v (verbose)] [-m <mode_sel>]\n", program);
}
