// panelshow_sequence's command line.
#pragma once

#include "cli/outcomes.h"

#include <cstdint>

struct sequence_args {
    args_outcome outcome;
    const char* directory;
    const char* settle_text;  // "delay nsec before vsync enable"
    const char* display_text; // "image display time nsec"
    uint8_t mode_sel;         // only from exactly five words with "-m" fourth
};

sequence_args parse_sequence_args(int argc, const char* const* argv);
void print_sequence_usage(const char* program);
