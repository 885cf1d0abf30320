#include "cli/sequence_args.h"

#include "common/decimal.h"

#include <cstdio>
#include <cstring>

sequence_args parse_sequence_args(int argc, const char* const* argv)
{
    sequence_args args{args_outcome::run, nullptr, nullptr, nullptr, 0};
    if (argc < 4) {
        args.outcome = args_outcome::usage_error;
        return args;
    }
    args.directory = argv[1];
    args.settle_text = argv[2];
    args.display_text = argv[3];
    if (argc == 6) {
        if (std::strcmp(argv[4], "-m") != 0) {
            args.outcome = args_outcome::usage_ok;
            return args;
        }
        args.mode_sel = decimal_u8(argv[5]);
    }
    return args;
}

void print_sequence_usage(const char* program)
{
    std::printf("usage: %s <image directory> <delay nsec before vsync enable> "
                "<image display time nsec> [-m <mode>]\n",
                program);
}
