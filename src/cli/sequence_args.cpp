#include "cli/sequence_args.h"

#include "cli/decimal.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr uint64_t NSEC_PER_SEC = 1000000000;

} // namespace

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

delay_reading read_delay(const char* text)
{
    const int64_t value = decimal_i64(text);
    if (value == 0)
        return {delay_outcome::fallback, {0, DELAY_FALLBACK_NSEC}};
    if (value < 0)
        return {delay_outcome::negative, {0, 0}};
    const auto ns = static_cast<uint64_t>(value);
    return {delay_outcome::ok, {ns / NSEC_PER_SEC, ns % NSEC_PER_SEC}};
}

sequence_delay lit_time(sequence_delay display, uint64_t extra_nsec)
{
    const uint64_t nsec = display.nsec + extra_nsec;
    return {display.sec + nsec / NSEC_PER_SEC, nsec % NSEC_PER_SEC};
}

timespec to_timespec(sequence_delay d)
{
    return {.tv_sec = static_cast<time_t>(d.sec), .tv_nsec = static_cast<long>(d.nsec)};
}
