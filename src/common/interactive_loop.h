// The loop that panelcolor and paneldefect share: about one pass a millisecond
// that polls one key, lets the program act on it and draw, and ends in order on
// Enter, Escape, a stop signal or a terminal that hung up.
#pragma once

#include "common/key_result.h"

#include <functional>

// First steps of both programs, before the command line is read: the stop
// signals end the loop instead of the process, a reader of stdout that goes away
// cannot kill the program with the panels lit, and stdout is line-buffered so a
// pipe or a file sees each line when it is printed.
void prepare_interactive_program();

// What differs between the two programs.
struct interactive_steps {
    std::function<key_result(int key)> on_key; // acts on one key byte
    std::function<void()> draw;                // status lines, fill and commit of one frame
};

// Runs the loop (the first pass always draws, then lights the panels), then
// prints "exiting... Turning off backlight" and switches the backlight off.
// A stop requested before the loop goes straight to that ending. Returns the
// program's exit status.
int run_interactive(const interactive_steps& steps);
